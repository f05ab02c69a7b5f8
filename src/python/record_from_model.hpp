#pragma once
// Takes a private ModelRecord out of a Python Model, so that the writer can run
// on it without the interpreter lock while Python code goes on.
#include <optional>

#include "model/model_record.hpp"
#include "python/python_c.hpp"

namespace mopsel::python {

// `model` must be an instance of Model (the caller checks). Copies the native
// values and the nine arrays while holding shared borrows of the arrays in the
// process-wide borrow registry, checking that each array is C- or
// Fortran-contiguous with a data pointer (TypeError "The given array is not
// contiguous"), still has the dtype it was made with (TypeError "The given array
// does not have dtype {float64|uint32|uint8}"), and that every integrality code is
// 0..3 (ValueError "invalid integrality code: {} (expected 0..=3)"). Returns the
// record, or none with that Python exception set. An array held under an
// exclusive borrow raises InternalFault "AlreadyBorrowed". Needs the lock.
std::optional<ModelRecord> record_from_model(PyObject* model);

}  // namespace mopsel::python
