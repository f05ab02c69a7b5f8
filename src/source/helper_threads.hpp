#pragma once
// Helper threads that are told to stop and joined however their owner leaves the
// scope (a return, a failure, an exception), so that none outlives the data it reads.
#include <atomic>
#include <cstddef>
#include <system_error>
#include <thread>
#include <vector>

namespace mopsel {

struct HelperThreads {
  explicit HelperThreads(std::atomic<bool>& stop_flag) noexcept : stop(stop_flag) {}
  ~HelperThreads() {
    stop.store(true);
    for (std::thread& t : threads) t.join();
  }
  HelperThreads(const HelperThreads&) = delete;
  HelperThreads& operator=(const HelperThreads&) = delete;

  // Starts up to `count` more threads running `run()`; fewer when the system refuses
  // (the owner then does more of the work itself). Whether all of them started.
  template <class Run>
  bool start(size_t count, const Run& run) {
    for (size_t t = 0; t < count; ++t) {
      try {
        threads.emplace_back(run);
      } catch (const std::system_error&) {
        return false;
      }
    }
    return true;
  }

  std::atomic<bool>& stop;
  std::vector<std::thread> threads;
};

}  // namespace mopsel
