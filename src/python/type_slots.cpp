#include "python/type_slots.hpp"

namespace mopsel::python {

PyObject* refuse_construction(PyTypeObject* type, PyObject*, PyObject*) noexcept {
  PyRef name(PyObject_GetAttrString(reinterpret_cast<PyObject*>(type), "__name__"));
  if (name && PyUnicode_Check(name.get())) {
    PyErr_Format(PyExc_TypeError, "No constructor defined for %U", name.get());
  } else {
    PyErr_Clear();
    PyErr_SetString(PyExc_TypeError, "No constructor defined for <unknown>");
  }
  return nullptr;
}

void free_instance(PyObject* self) noexcept {
  PyTypeObject* type = Py_TYPE(self);
  auto release = reinterpret_cast<freefunc>(PyType_GetSlot(type, Py_tp_free));
  if (release != nullptr) {
    release(self);
  } else {
    PyObject_Free(self);
  }
  Py_DECREF(reinterpret_cast<PyObject*>(type));
}

PyObject* allocate_instance(PyTypeObject* type) noexcept {
  auto alloc = reinterpret_cast<allocfunc>(PyType_GetSlot(type, Py_tp_alloc));
  if (alloc == nullptr) alloc = PyType_GenericAlloc;
  return alloc(type, 0);
}

}  // namespace mopsel::python
