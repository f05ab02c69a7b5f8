#pragma once
// CPython's C headers as every file of the binding includes them: the limited
// API only (the build defines Py_LIMITED_API), sizes as Py_ssize_t.
#ifndef Py_LIMITED_API
#error "the binding is built against CPython's limited API only (define Py_LIMITED_API)"
#endif
#define PY_SSIZE_T_CLEAN
#include <Python.h>
#include <structmember.h>

#include <utility>

namespace mopsel::python {

// Owns one strong reference; the destructor drops it. Needs the interpreter lock
// whenever it holds a non-null reference.
class PyRef {
 public:
  PyRef() = default;
  // Takes over `owned` (a new reference, or null).
  explicit PyRef(PyObject* owned) noexcept : object_(owned) {}
  PyRef(const PyRef&) = delete;
  PyRef& operator=(const PyRef&) = delete;
  PyRef(PyRef&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
  PyRef& operator=(PyRef&& other) noexcept {
    if (this != &other) reset(std::exchange(other.object_, nullptr));
    return *this;
  }
  ~PyRef() { Py_XDECREF(object_); }

  [[nodiscard]] PyObject* get() const noexcept { return object_; }
  explicit operator bool() const noexcept { return object_ != nullptr; }
  // Returns the reference to the caller, who now owns it.
  [[nodiscard]] PyObject* release() noexcept { return std::exchange(object_, nullptr); }
  void reset(PyObject* owned = nullptr) noexcept {
    PyObject* old = std::exchange(object_, owned);
    Py_XDECREF(old);
  }

 private:
  PyObject* object_ = nullptr;
};

// New reference to None (Py_NewRef is not in the 3.9 limited API).
inline PyObject* new_none() noexcept {
  Py_INCREF(Py_None);
  return Py_None;
}

}  // namespace mopsel::python
