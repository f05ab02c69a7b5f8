#include "files/parallel_read.hpp"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <vector>

#include "platform/helper_threads.hpp"
#include "platform/text_buffer.hpp"

namespace mopsel {
namespace {

struct Work {
  int fd = -1;
  off_t offset = 0;
  char* into = nullptr;
  size_t bytes = 0;
  size_t part = 0;
  size_t parts = 0;
  std::vector<size_t> got;  // bytes read into each part, written by the thread that read it
  std::atomic<size_t> next{0};
  std::atomic<bool> stop{false};
  bool interrupted = false;  // set by the reading thread only
  std::mutex lock;
  std::condition_variable helper_done;
  unsigned helpers_running = 0;  // guarded by `lock`
};

// Reads part `i` in reads of at most kPollStride bytes. A read that fails or finds
// the end of the file stops every thread: the one-thread loop takes over there.
// `interruption` is given on the reading thread only.
void read_part(Work& work, size_t i, const Interruption* interruption) {
  const size_t begin = i * work.part;
  const size_t length = std::min(work.part, work.bytes - begin);
  size_t done = 0;
  while (done < length && !work.stop.load(std::memory_order_relaxed)) {
    if (interruption != nullptr && interruption->requested()) {
      work.interrupted = true;
      work.stop.store(true);
      break;
    }
    const size_t want = std::min(length - done, kPollStride);
    const ssize_t got = ::pread(work.fd, work.into + begin + done, want, work.offset + static_cast<off_t>(begin + done));
    if (got > 0) {
      done += static_cast<size_t>(got);
      continue;
    }
    if (got < 0 && errno == EINTR) {
      if (interruption != nullptr && interruption->requested(true)) {
        work.interrupted = true;
        work.stop.store(true);
        break;
      }
      continue;
    }
    work.stop.store(true);  // an error or an early end: left to the one-thread loop
    break;
  }
  work.got[i] = done;
}

// Takes parts in order until none is left or the work stops.
void read_parts(Work& work, const Interruption* interruption) {
  while (!work.stop.load(std::memory_order_relaxed)) {
    const size_t i = work.next.fetch_add(1);
    if (i >= work.parts) return;
    read_part(work, i, interruption);
  }
}

void helper(Work& work) {
  read_parts(work, nullptr);
  const std::lock_guard<std::mutex> hold(work.lock);
  --work.helpers_running;
  work.helper_done.notify_one();
}

}  // namespace

// Parts of whole huge pages, kLoadPartsPerThread per thread or more, so that a thread
// that started late or ran slow does not leave the others waiting long at the end,
// and at least kLoadPartMinBytes, so that the queue and a thread's wake-up stay small
// against a part's reading (8 MiB take about 1.7 ms: one thread loads few-rows-1GB
// in 205-228 ms of CPU, bench/README.md "Loading large plain files in parts"). Other
// sizes, 2 to 512 MiB, measured no different: the first touch of the fresh text
// buffer, 0.24-0.64 s of CPU per GiB from one load to the next on this VM, hides them.
constexpr size_t kLoadPartsPerThread = 8;
constexpr size_t kLoadPartMinBytes = size_t{8} << 20;

ParallelReadResult read_in_parallel(int fd, off_t offset, char* into, size_t bytes, const ThreadPlan& plan,
                                    const Interruption& interruption) {
  if (plan.threads < 2 || bytes == 0 || bytes < plan.load_min_bytes) return {};
  // Asked once before any part is taken: the helpers may read every part before the
  // reading thread takes one, and an interruption already due would then go unseen
  // by this load.
  if (interruption.requested()) return {.prefix = 0, .interrupted = true};
  ThreadLease lease(plan.threads, plan.threads);
  if (lease.helpers() == 0) return {};
  const size_t threads = lease.helpers() + 1;
  size_t part = plan.load_part_bytes;
  if (part == 0) {
    part = std::max(kLoadPartMinBytes, bytes / (kLoadPartsPerThread * threads));
    part = (part + kHugePage - 1) / kHugePage * kHugePage;
  }
  Work work;
  work.fd = fd;
  work.offset = offset;
  work.into = into;
  work.bytes = bytes;
  work.part = part;
  work.parts = (bytes + part - 1) / part;
  work.got.assign(work.parts, 0);
  HelperThreads helpers(work.stop);
  for (size_t t = 0; t < lease.helpers(); ++t) {
    {
      const std::lock_guard<std::mutex> hold(work.lock);
      ++work.helpers_running;
    }
    if (!helpers.start(1, [&work] { helper(work); })) {
      const std::lock_guard<std::mutex> hold(work.lock);
      --work.helpers_running;
      break;  // fewer helpers: the reading thread reads more parts
    }
  }
  read_parts(work, &interruption);
  // Wait for the helpers' last parts, still answering an interruption.
  std::unique_lock<std::mutex> hold(work.lock);
  while (work.helpers_running > 0) {
    if (!work.interrupted && interruption.requested()) {
      work.interrupted = true;
      work.stop.store(true);
    }
    work.helper_done.wait_for(hold, std::chrono::milliseconds(1));
  }
  hold.unlock();
  ParallelReadResult result;
  result.interrupted = work.interrupted;
  for (size_t i = 0; i < work.parts; ++i) {
    result.prefix += work.got[i];
    if (work.got[i] < std::min(part, bytes - i * part)) break;
  }
  return result;
}

}  // namespace mopsel
