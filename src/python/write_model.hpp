#pragma once
// The private module function `_write_model`, behind mopsel.write: the writer
// with its options, into a file or into bytes.
#include "python/python_c.hpp"

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

}  // namespace mopsel::python
