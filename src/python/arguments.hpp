#pragma once
// Argument handling of the module functions, with CPython-style error texts.
#include <cstdint>
#include <span>

#include "python/python_c.hpp"

namespace mopsel::python {

// Binds the positional tuple `args` and the keyword dict `kwargs` (may be null)
// to `parameters`: the first `positional` of them positional-or-
// keyword (all by default), the rest keyword-only. On success values[i] is a
// borrowed reference for parameters[i]; otherwise TypeError is set ("{f}() takes
// ...", "got multiple values ...", "got an unexpected keyword argument ...",
// "missing ... required positional ..." or "... keyword-only ...") and false is
// returned. Only the first `required` parameters must be given (all by default); the
// values of the others that are not given stay null.
bool bind_arguments(const char* function, std::span<const char* const> parameters, PyObject* args,
                    PyObject* kwargs, std::span<PyObject*> values,
                    size_t positional = std::dynamic_extent, size_t required = std::dynamic_extent) noexcept;

// New reference to the strict UTF-8 encoding (bytes) of a `str` argument. Null
// with TypeError "argument '{parameter}': '{type}' object cannot be converted to
// 'PyString'" for anything but a str, or with Python's UnicodeEncodeError.
PyObject* utf8_argument(PyObject* value, const char* parameter) noexcept;

// True when `value` is an instance of `type` (or of a subtype); otherwise sets
// TypeError "argument '{parameter}': '{type}' object cannot be converted to '{target}'".
bool instance_argument(PyObject* value, PyTypeObject* type, const char* target,
                       const char* parameter) noexcept;

}  // namespace mopsel::python
