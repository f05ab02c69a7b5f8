#pragma once
// The private module functions `_write_model`, `_write_lp` and `_write_bytes`, behind
// mopsel.write: the writers with their options, into a file or into bytes, and
// compressed bytes made in Python into a file.
#include <optional>

#include "python/python_c.hpp"
#include "writer/write_options.hpp"

namespace mopsel::python {

// _write_model(model, *, path, digits, gzip, format)
//
// All required; all but `model` keyword-only. `path` a str: the file is written
// through the same path writer as write_file (with digits 13, gzip false and format 0
// it writes the same bytes) and None is returned; None: the text (compressed with
// gzip) is returned as bytes. `digits` is 0 (the exact mode) or 1 to 17; `gzip` a
// truth value; `format` 0 free, 1 fixed columns, 2 automatic (free unless a name
// needs fixed columns). Arrays edited into an impossible state raise ValueError
// naming the column and entry, names the text cannot carry ValueError; creating or
// writing the file raises the OSError subclass of its error number, with `path` as
// filename. Releases the lock while rendering.
extern PyMethodDef kWriteModelMethod;

// _write_lp(model, *, path, digits, gzip): the same, writing LP text (lp_writer.hpp);
// a model whose names LP text cannot hold raises ValueError naming the first of
// them, before anything is written.
extern PyMethodDef kWriteLpMethod;

// _write_bytes(path, data)
//
// Writes the bytes `data` to the file `path` (a str) as write_file writes its text:
// a regular file is replaced whole once complete. Failures as _write_model's.
extern PyMethodDef kWriteBytesMethod;

// The body of _write_model, and of _write_lp when `lp` (LP text; a model whose
// names LP text cannot hold raises ValueError before anything is written; no
// `format` parameter). `function` names the function in argument errors.
PyObject* write_call(const char* function, PyObject* args, PyObject* kwargs, bool lp) noexcept;

// The options from `digits` (0 for the exact mode, or 1 to 17) and `gzip` (a truth
// value); none with ValueError or TypeError set.
std::optional<WriteOptions> write_options_argument(PyObject* digits, PyObject* gzip);

}  // namespace mopsel::python
