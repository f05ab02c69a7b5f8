#pragma once
// The private module functions `_read` and `_check`, behind mopsel.read and
// mopsel.check: the reader with its options, on a file or on bytes, raising the
// package's exceptions itself.
#include "python/python_c.hpp"

namespace mopsel::python {

// _read(*, path, text, name, gzip, format, strict, sets, repeated, free_rows)
//     -> (Model, notices)
//
// All keyword-only and required. Exactly one of `path` (bytes: the operating-system
// path, used as given; the file is gzip-expanded when `gzip` is true, whatever its
// name) and `text` (bytes of MPS text) is given, the other is None. `name` (str or
// None) is what failures name as their file. `format` is 0 free, 1 fixed, 2
// automatic; `strict` and `gzip` truth values; `sets` "all" or "first", `repeated`
// "last" or "first", `free_rows` "drop" or "keep". notices: a list of (code, count,
// lineno, first) for what the read passed over or guessed (a finding code, how many,
// the line and text of the first). A text that cannot be read raises
// mopsel.MpsError(reason, path=name, lineno, line, code), where code is a finding
// name ("no-endata", "compressed-data", ...) or "read-error"; a file that cannot be
// loaded raises the OSError subclass of its errno with `name` as filename, and one
// that cannot be held in memory MemoryError. The lock is released while loading and
// reading.
extern PyMethodDef kReadMethod;

// _check(*, path, text, name, gzip, format, limit) -> (listed, omitted)
//
// The same source arguments; reads once and collects every finding, at most `limit`
// per code. listed holds (lineno or None, severity, code, message) in file order,
// omitted (code, severity, count) for the codes past `limit`. Problems of the text
// are findings; a file that cannot be loaded raises as _read does.
extern PyMethodDef kCheckMethod;

// _read_lp(*, path, text, name, gzip, strict) -> Model
// _check_lp(*, path, text, name, gzip, limit) -> (listed, omitted)
//
// The same for LP text (no format): a text that cannot be read raises
// mopsel.LpError(reason, path=name, lineno, column, line, code).
extern PyMethodDef kReadLpMethod;
extern PyMethodDef kCheckLpMethod;

}  // namespace mopsel::python
