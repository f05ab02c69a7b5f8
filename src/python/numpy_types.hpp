#pragma once
// The NumPy dtypes of the element types the module exchanges with NumPy, and the
// element count of an array: shared by the making of arrays over record buffers
// and the taking of a record out of a Model.
#include <cstddef>
#include <cstdint>

#include "python/numpy_c.hpp"

namespace mopsel::python {

// Element<T>::number is the NumPy type number of T, Element<T>::name its dtype name.
template <class T>
struct Element;
template <>
struct Element<double> {
  static constexpr int number = NPY_DOUBLE;
  static constexpr const char* name = "float64";
};
template <>
struct Element<uint32_t> {
  static constexpr int number = NPY_UINT;
  static constexpr const char* name = "uint32";
};
template <>
struct Element<int32_t> {
  static constexpr int number = NPY_INT;
  static constexpr const char* name = "int32";
};
template <>
struct Element<uint8_t> {
  static constexpr int number = NPY_UBYTE;
  static constexpr const char* name = "uint8";
};
static_assert(sizeof(unsigned int) == sizeof(uint32_t), "NPY_UINT must be 32 bits wide");
static_assert(sizeof(int) == sizeof(int32_t), "NPY_INT must be 32 bits wide");

// The number of elements of an array as it is now (the product of its dimensions;
// 1 for a zero-dimensional array), or 0 for anything that is not an array.
inline size_t element_count(PyObject* object) noexcept {
  if (object == nullptr || !PyArray_Check(object)) return 0;
  auto* array = reinterpret_cast<PyArrayObject*>(object);
  size_t count = 1;
  const npy_intp* dims = PyArray_DIMS(array);
  for (int d = 0; d < PyArray_NDIM(array); ++d) count *= static_cast<size_t>(dims[d]);
  return count;
}

}  // namespace mopsel::python
