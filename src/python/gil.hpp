#pragma once
// Releasing the interpreter lock around pure C++ work.
#include "python/python_c.hpp"

namespace mopsel::python {

// Releases the interpreter lock for its lifetime. The destructor takes it back,
// also while an exception (an internal fault, std::bad_alloc) unwinds the scope,
// so every exception reaches the Python boundary with the lock held. Inside the
// scope no Python object and no PyMem_* allocator may be touched.
class ReleasedLock {
 public:
  ReleasedLock() noexcept : state_(PyEval_SaveThread()) {}
  ReleasedLock(const ReleasedLock&) = delete;
  ReleasedLock& operator=(const ReleasedLock&) = delete;
  ~ReleasedLock() { PyEval_RestoreThread(state_); }

 private:
  PyThreadState* state_;
};

}  // namespace mopsel::python
