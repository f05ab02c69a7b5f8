#pragma once
// Slots shared by the binding's classes, which Python code can never construct.
#include "python/python_c.hpp"

namespace mopsel::python {

// tp_new of every class: raises TypeError "No constructor defined for {__name__}"
// ("<unknown>" when the name cannot be read). Instances are made natively only.
PyObject* refuse_construction(PyTypeObject* type, PyObject* args, PyObject* kwargs) noexcept;

// Last step of a tp_dealloc: frees the instance with the type's tp_free and drops
// the reference every instance of a heap type holds on its type.
void free_instance(PyObject* self) noexcept;

// New instance of `type` from its tp_alloc slot (CPython's generic allocation
// when it has none), zero-filled; null with an error set on failure.
PyObject* allocate_instance(PyTypeObject* type) noexcept;

}  // namespace mopsel::python
