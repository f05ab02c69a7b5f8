#pragma once
// Ctrl-C during a long call: the interruption hook the module hands the core.
//
// Python runs signal handlers only in the main thread, between bytecodes; a call
// that stays in native code for seconds would hold a KeyboardInterrupt back until
// it returns, and a blocking system call would swallow it. The hook runs the
// handlers (PyErr_CheckSignals) when the core polls: at once after a system call
// was interrupted by a signal and on the first poll, otherwise at most every
// 50 ms. When the lock was
// released around the core's work, it is taken back just for that. An exception a
// handler raises is kept, the core is told to stop, and the call raises it.
#include <chrono>

#include "model/interrupt.hpp"
#include "model/result.hpp"
#include "python/python_c.hpp"

namespace mopsel::python {

class SignalWatch {
 public:
  // Needs the lock. `lock_released`: the core will run inside a ReleasedLock.
  explicit SignalWatch(bool lock_released) noexcept;
  SignalWatch(const SignalWatch&) = delete;
  SignalWatch& operator=(const SignalWatch&) = delete;
  // Drops an exception that was never raised. Needs the lock.
  ~SignalWatch();

  // The hook for the core; valid while this object lives.
  [[nodiscard]] Interruption interruption() noexcept { return {&SignalWatch::poll, this}; }

  // When a handler raised during the call: sets that exception as the current
  // Python error and returns true. Needs the lock.
  bool raise_caught() noexcept;

 private:
  static bool poll(void* context, bool signalled) noexcept;

  bool lock_released_;
  bool main_thread_;
  std::chrono::steady_clock::time_point next_check_;
  PyObject* type_ = nullptr;  // the caught exception, owned
  PyObject* value_ = nullptr;
  PyObject* traceback_ = nullptr;
};

// Sets the exception of a call that ended with `status`: a signal handler's
// exception first, then the core's error. True when one was set. Needs the lock.
bool set_call_exception(const Status& status, SignalWatch& watch) noexcept;

}  // namespace mopsel::python
