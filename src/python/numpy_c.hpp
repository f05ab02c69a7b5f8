#pragma once
// NumPy's C headers, configured alike in every file of the binding.
//
// The function table (`MOPSEL_ARRAY_API`) is defined in numpy_api.cpp and filled
// by `ensure_numpy_api`, never by NumPy's own import_array: the table is taken
// from the capsule of the module that matches the running NumPy's major version.
// The build uses NumPy 2 headers; targeting the 1.21 feature level keeps the
// binary usable with every NumPy from 1.21 on (2.x headers are ABI compatible
// with 1.x for that subset).
#include "python/python_c.hpp"

#define PY_ARRAY_UNIQUE_SYMBOL MOPSEL_ARRAY_API
#ifndef MOPSEL_NUMPY_API_DEFINITION
#define NO_IMPORT_ARRAY
#endif
#ifndef NPY_NO_DEPRECATED_API
#define NPY_NO_DEPRECATED_API NPY_1_21_API_VERSION
#endif
#define NPY_TARGET_VERSION NPY_1_21_API_VERSION
#include <numpy/arrayobject.h>

#include <source_location>

namespace mopsel::python {

// Makes NumPy's C interface usable: the first call imports numpy, picks the
// capsule "_ARRAY_API" of "numpy._core.multiarray" (NumPy 2 and later) or
// "numpy.core.multiarray" (NumPy 1) by the major version of numpy.__version__,
// and checks ABI version and byte order; later calls return at once. An
// exception raised while importing (Ctrl-C during the import, a broken NumPy)
// returns false with that exception set, for the caller to raise as it is; any
// other failure is an internal fault "Failed to access NumPy array API capsule:
// ...". Needs the lock.
[[nodiscard]] bool import_numpy_api(std::source_location where = std::source_location::current());

// import_numpy_api where NumPy is known to be loaded already (a Model exists):
// every failure is an internal fault.
void ensure_numpy_api(std::source_location where = std::source_location::current());

}  // namespace mopsel::python
