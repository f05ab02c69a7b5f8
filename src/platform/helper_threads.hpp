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

// Runs `run(t)` for every t in [0, count): t >= 1 on helper threads, as many as the
// system starts, the rest and t = 0 on the calling thread; returns when all are done.
template <class Run>
void run_on_threads(size_t count, const Run& run) {
  std::atomic<bool> stop{false};
  HelperThreads others(stop);
  size_t t = 1;
  for (; t < count; ++t) {
    others.start(1, [&run, t] { run(t); });
    if (others.threads.size() < t) break;
  }
  for (; t < count; ++t) run(t);
  run(0);
}

}  // namespace mopsel
