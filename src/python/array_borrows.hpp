#pragma once
// The process-wide registry of array borrows.
//
// Native code that reads or writes the data of NumPy arrays announces it here:
// any number of shared (read) borrows of a memory range may coexist, an exclusive
// (write) borrow stands alone. A borrow is keyed by the byte range the array's
// data spans, so two arrays viewing the same memory conflict with each other.
//
// The registry is published as the module attribute `_ARRAY_BORROWS` of
// mopsel._mopsel, a capsule named "mopsel._mopsel._ARRAY_BORROWS" holding a
// pointer to the `MopselArrayBorrows` table below, so that other native code in
// the process can share it (PyCapsule_Import("mopsel._mopsel._ARRAY_BORROWS", 0)).
// The functions take a plain address range and need no Python object and no
// interpreter lock; the registry has its own mutex.
#include <cstddef>
#include <cstdint>

#include "python/python_c.hpp"

extern "C" {

// Results of the acquire and release functions.
enum {
  MOPSEL_BORROW_GRANTED = 0,   // borrow taken / released
  MOPSEL_BORROW_REFUSED = 1,   // a conflicting borrow of overlapping memory is held
  MOPSEL_BORROW_INVALID = -1,  // release of a borrow not held, or out of memory
};

struct MopselArrayBorrows {
  uint32_t version;  // 1
  uint32_t reserved; // 0
  void* state;       // pass to every function
  // Shared borrow of [begin, begin + length); refused while an exclusive borrow
  // overlaps it. A zero length is taken as one byte at `begin`.
  int (*acquire_shared)(void* state, const void* begin, size_t length);
  // Exclusive borrow of [begin, begin + length); refused while any borrow overlaps it.
  int (*acquire_exclusive)(void* state, const void* begin, size_t length);
  // Gives back one borrow taken with exactly this range and kind (exclusive: 0 or 1).
  int (*release)(void* state, const void* begin, size_t length, int exclusive);
};

}  // extern "C"

namespace mopsel::python {

inline constexpr const char* kArrayBorrowsCapsule = "mopsel._mopsel._ARRAY_BORROWS";

// The registry of this process (static storage, never fails).
const MopselArrayBorrows& array_borrows() noexcept;

// New reference to a capsule over `array_borrows()`, or null with an error set.
PyObject* array_borrows_capsule() noexcept;

}  // namespace mopsel::python
