#include "python/signal_watch.hpp"

#include "python/errors.hpp"

#include <sys/syscall.h>
#include <unistd.h>

namespace mopsel::python {
namespace {

// Regular polls run the handlers at most this often: taking the lock back can wait
// for another thread's switch interval (5 ms), so polling every millisecond of work
// would slow a call down whenever another thread runs Python.
constexpr std::chrono::milliseconds kCheckInterval{50};

// Python's main thread, where alone signal handlers run, is the process's first
// thread (the one whose thread id is the process id) unless Python was started
// from another thread by an embedding program; elsewhere the hook does nothing.
bool in_main_thread() noexcept { return ::syscall(SYS_gettid) == ::getpid(); }

}  // namespace

SignalWatch::SignalWatch(bool lock_released) noexcept
    : lock_released_(lock_released),
      main_thread_(in_main_thread()),
      next_check_() {}  // the first poll checks at once: a signal may have come before the call

SignalWatch::~SignalWatch() {
  Py_XDECREF(type_);
  Py_XDECREF(value_);
  Py_XDECREF(traceback_);
}

bool SignalWatch::raise_caught() noexcept {
  if (type_ == nullptr) return false;
  PyErr_Restore(type_, value_, traceback_);  // steals the three references
  type_ = value_ = traceback_ = nullptr;
  return true;
}

bool SignalWatch::poll(void* context, bool signalled) noexcept {
  auto* self = static_cast<SignalWatch*>(context);
  if (self->type_ != nullptr) return true;  // once told to stop, the call stays stopped
  if (!self->main_thread_) return false;
  const auto now = std::chrono::steady_clock::now();
  if (!signalled && now < self->next_check_) return false;
  self->next_check_ = now + kCheckInterval;
  PyGILState_STATE state{};
  if (self->lock_released_) state = PyGILState_Ensure();
  if (PyErr_CheckSignals() != 0) PyErr_Fetch(&self->type_, &self->value_, &self->traceback_);
  if (self->lock_released_) PyGILState_Release(state);
  return self->type_ != nullptr;
}

bool set_call_exception(const Status& status, SignalWatch& watch) noexcept {
  if (watch.raise_caught()) return true;
  if (status) return false;
  set_exception(status.error());
  return true;
}

}  // namespace mopsel::python
