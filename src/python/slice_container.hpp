#pragma once
// NumPy arrays over native buffers, without copying.
//
// A `PySliceContainer` owns one malloc'ed buffer and is the base object of the
// array made over it; when the last array or view over the buffer goes away, the
// container's deallocation frees it with std::free.
#include <cstdint>

#include "model/owned_array.hpp"
#include "python/python_c.hpp"

namespace mopsel::python {

// New reference to a one-dimensional, C-contiguous, aligned, writeable array of
// `values.size()` elements (dtype float64, uint32, int32 or uint8 by T) over the buffer of
// `values`, which is taken over and left empty. OWNDATA is false; the base is a
// PySliceContainer. Raises InternalFault (the buffer is then freed) when the
// container or the array cannot be made. Needs the lock.
PyObject* array_from_buffer(OwnedArray<double>&& values);
PyObject* array_from_buffer(OwnedArray<uint32_t>&& values);
PyObject* array_from_buffer(OwnedArray<int32_t>&& values);
PyObject* array_from_buffer(OwnedArray<uint8_t>&& values);

// Borrowed reference to the PySliceContainer type, created on first use; null
// with an error set when it cannot be created. Needs the lock.
PyTypeObject* slice_container_type() noexcept;

}  // namespace mopsel::python
