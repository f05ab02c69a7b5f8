#pragma once
// How many threads a read may use, and the process-wide count of those in use.
//
// A read whose COLUMNS section is large splits it across threads
// (parallel_columns.hpp), and so does loading a large plain file (parallel_read.hpp). By default a process uses as many threads as it may
// run on (its CPU affinity); the environment variable MOPSEL_THREADS sets
// another number (1 keeps every read on one thread). Reads running at the same
// time share that number: a read takes helper threads only while the process's
// readers hold fewer than it, so that several Python threads each reading a
// large file do not start more threads than there are cores.
#include <cstddef>
#include <optional>

namespace mopsel {

struct ThreadPlan {
  unsigned threads = 1;          // threads a process's readers may use together
  size_t min_bytes = 32u << 20;  // COLUMNS text (to the end of the text) that is worth splitting
  size_t chunk_bytes = 0;        // bytes per piece of work; 0: chosen from the text and threads
  size_t load_min_bytes = 64u << 20;  // size of a plain file from which its parts are read by threads
  size_t load_part_bytes = 0;         // bytes per part of such a load; 0: chosen from the size
};

// The plan of the next read: the one fixed for tests, else MOPSEL_THREADS or the
// number of CPUs the process may run on, with the default sizes.
ThreadPlan reading_thread_plan() noexcept;

// For tests only: later reads use `plan` (a low min_bytes sends small texts through
// the threaded path); nothing returns to the default.
void use_thread_plan_for_tests(std::optional<ThreadPlan> plan) noexcept;

// The threads a process's readers use at present (tests check that it drops back).
unsigned reading_threads_in_use() noexcept;

// Threads taken from the process's count for one read: the reading thread itself
// and up to `wanted` - 1 helpers, as many as the count leaves. Given back when the
// lease ends.
class ThreadLease {
 public:
  ThreadLease(unsigned wanted, unsigned total) noexcept;
  ~ThreadLease();
  ThreadLease(const ThreadLease&) = delete;
  ThreadLease& operator=(const ThreadLease&) = delete;
  [[nodiscard]] unsigned helpers() const noexcept { return helpers_; }
  // Takes more helpers, up to `wanted` - 1 in all, as many as the count leaves now.
  void grow(unsigned wanted, unsigned total) noexcept;

 private:
  unsigned helpers_ = 0;
};

// The thread count MOPSEL_THREADS asks for: a whole number from 1 to 1024, or
// nothing when it is unset or not such a number.
std::optional<unsigned> parse_thread_count(const char* text) noexcept;

}  // namespace mopsel
