#pragma once
// Stopping a long operation from outside: the caller hands the core a hook that
// the core polls every kPollStride bytes of text it loads, reads or writes, and
// whenever a system call returns early because a signal arrived. When the hook
// answers true the operation releases what it holds and fails with an
// Interrupted error. The core knows nothing of what stands behind the hook
// (the Python module runs the interpreter's signal handlers there).
#include <cstddef>

#include "model/result.hpp"

namespace mopsel {

struct Interruption {
  // True: stop. `signalled` is true right after a system call was interrupted by
  // a signal, false on the regular polls, which the hook may answer from a clock.
  bool (*poll)(void* context, bool signalled) noexcept = nullptr;
  void* context = nullptr;

  [[nodiscard]] bool requested(bool signalled = false) const noexcept {
    return poll != nullptr && poll(context, signalled);
  }
};

// Bytes of work between two polls: about a millisecond of reading or writing.
inline constexpr size_t kPollStride = size_t{1} << 20;

inline Error interrupted() { return {ErrorKind::Interrupted, "interrupted"}; }

}  // namespace mopsel
