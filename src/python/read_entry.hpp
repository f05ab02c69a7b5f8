#pragma once
// The private module function `_read`, behind mopsel.read and mopsel.check: the
// reader with its options, on a file or on bytes, with its failures and findings
// returned as data for the package to raise or list.
#include "python/python_c.hpp"

namespace mopsel::python {

// _read(path, text, gzip, format, strict, collect, limit)
//
// Exactly one of `path` (bytes: the operating-system path, used as given; the file
// is gzip-expanded when `gzip` is true, whatever its name) and `text` (bytes of MPS
// text) is given, the other is None. `format` is 0 free, 1 fixed, 2 automatic;
// `strict`, `collect` truth values; `limit` the most findings kept per code.
// Returns (model, failure, findings):
//  - reading (collect false): (Model, None, None), or (None, failure, None);
//  - collecting: (None, None, findings), or (None, failure, None) when the file
//    cannot be loaded.
// failure: (code, reason, lineno or None, line or None, errno, message), where code
// is a finding name ("no-endata", "compressed-data", ...) or "os-error" (errno set).
// findings: (listed, omitted): listed holds (lineno or None, severity, code,
// message) in file order, omitted (code, severity, count) for codes past `limit`.
// A file that cannot be allocated raises MemoryError. The lock is released while
// loading and reading.
extern PyMethodDef kReadMethod;

}  // namespace mopsel::python
