#pragma once
// The private module function `_write_model`, behind mopsel.write: the writer
// with its options, into a file or into bytes.
#include <optional>

#include "python/python_c.hpp"
#include "writer/write_options.hpp"

namespace mopsel::python {

// _write_model(model, *, path, digits, gzip)
//
// All required; all but `model` keyword-only. `path` a str: the file is written through the same path writer as write_file
// (with digits 13 and gzip false it writes the same bytes) and None is returned;
// None: the text (compressed with gzip) is returned as bytes. `digits` is 0 (the
// exact mode) or 1 to 17; `gzip` a truth value. Failures as write_file's:
// argument errors are TypeError or ValueError, creating or writing the file
// OSError. Releases the lock while rendering.
extern PyMethodDef kWriteModelMethod;

// _write_lp(model, *, path, digits, gzip): the same, writing LP text (lp_writer.hpp);
// a model whose names LP text cannot hold raises ValueError naming the first of
// them, before anything is written.
extern PyMethodDef kWriteLpMethod;

// The body of _write_model, and of _write_lp when `lp` (LP text; a model whose
// names LP text cannot hold raises ValueError before anything is written).
// `function` names the function in argument errors.
PyObject* write_call(const char* function, PyObject* args, PyObject* kwargs, bool lp) noexcept;

// The options from `digits` (0 for the exact mode, or 1 to 17) and `gzip` (a truth
// value); none with ValueError or TypeError set.
std::optional<WriteOptions> write_options_argument(PyObject* digits, PyObject* gzip);

}  // namespace mopsel::python
