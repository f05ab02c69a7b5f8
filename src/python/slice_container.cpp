#include "python/slice_container.hpp"

#include <cstdlib>

#include "python/errors.hpp"
#include "python/numpy_c.hpp"
#include "python/numpy_types.hpp"
#include "python/type_slots.hpp"

namespace mopsel::python {
namespace {

using DropBuffer = void (*)(void* data, size_t length, size_t capacity) noexcept;

struct SliceContainerObject {
  PyObject_HEAD
  void* data;
  size_t length;    // elements
  size_t capacity;  // elements
  DropBuffer drop;
};

// The buffers come from OwnedArray, which allocates with malloc/realloc.
void free_buffer(void* data, size_t, size_t) noexcept { std::free(data); }

void slice_container_dealloc(PyObject* self) noexcept {
  auto* container = reinterpret_cast<SliceContainerObject*>(self);
  if (container->drop != nullptr) container->drop(container->data, container->length, container->capacity);
  container->data = nullptr;
  free_instance(self);
}

PyType_Slot g_slots[] = {
    {Py_tp_doc, const_cast<char*>("Stores a native buffer on the Python heap so that NumPy arrays can use it without copying.")},
    {Py_tp_new, reinterpret_cast<void*>(refuse_construction)},
    {Py_tp_dealloc, reinterpret_cast<void*>(slice_container_dealloc)},
    {0, nullptr},
};

// A name without a module part makes CPython 3.11+ warn (DeprecationWarning) on
// creation, so the class reports the extension module as its module.
PyType_Spec g_spec = {"mopsel._mopsel.PySliceContainer", sizeof(SliceContainerObject), 0, Py_TPFLAGS_DEFAULT, g_slots};

PyTypeObject* g_type = nullptr;  // created once under the lock, never released

template <class T>
PyObject* make_array(OwnedArray<T>&& values) {
  ensure_numpy_api();
  const size_t length = values.size();
  // NumPy allocates a buffer of its own for a null data pointer; an empty record
  // sequence may have none, so it gets a one-element buffer here. The arrays of
  // an empty model thus also have a data pointer, which writing requires.
  if (values.data() == nullptr) values.reserve(1);

  PyTypeObject* type = slice_container_type();
  PyRef container(type == nullptr ? nullptr : allocate_instance(type));
  if (!container) fault_from_python_error("Failed to create slice container");
  auto* slice = reinterpret_cast<SliceContainerObject*>(container.get());
  slice->length = length;
  slice->capacity = values.capacity();
  slice->data = values.release();
  slice->drop = free_buffer;
  // From here on the container owns the buffer: dropping it frees the buffer.

  PyArray_Descr* descr = PyArray_DescrFromType(Element<T>::number);
  if (descr == nullptr) fault_from_python_error("NumPy gave no array descriptor");
  npy_intp dims[1] = {static_cast<npy_intp>(length)};
  npy_intp strides[1] = {static_cast<npy_intp>(sizeof(T))};
  // Steals `descr`, also when it fails.
  PyRef array(PyArray_NewFromDescr(&PyArray_Type, descr, 1, dims, strides, slice->data,
                                   NPY_ARRAY_WRITEABLE, nullptr));
  if (!array) fault_from_python_error("NumPy could not make an array over a native buffer");
  // Steals the container, also when it fails.
  if (PyArray_SetBaseObject(reinterpret_cast<PyArrayObject*>(array.get()), container.release()) != 0) {
    fault_from_python_error("NumPy could not set the base of an array");
  }
  return array.release();
}

}  // namespace

PyTypeObject* slice_container_type() noexcept {
  if (g_type == nullptr) g_type = reinterpret_cast<PyTypeObject*>(PyType_FromSpec(&g_spec));
  return g_type;
}

PyObject* array_from_buffer(OwnedArray<double>&& values) { return make_array(std::move(values)); }
PyObject* array_from_buffer(OwnedArray<uint32_t>&& values) { return make_array(std::move(values)); }
PyObject* array_from_buffer(OwnedArray<int32_t>&& values) { return make_array(std::move(values)); }
PyObject* array_from_buffer(OwnedArray<uint8_t>&& values) { return make_array(std::move(values)); }

}  // namespace mopsel::python
