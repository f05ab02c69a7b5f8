#include "platform/prefault.hpp"

#include <unistd.h>

#if defined(__linux__)
#include <sys/mman.h>
#endif

#include <cerrno>
#include <cstdint>
#include <system_error>
#include <utility>

namespace mopsel {
namespace {

// Slices per range: the reading thread fills its arrays at about the same pace
// through the text, so each round maps the next slice of every one.
constexpr size_t kRounds = 32;
constexpr uintptr_t kCallBytes = uintptr_t{2} << 20;

}  // namespace

bool populate_range(const MemoryRange& range) {
#if defined(MADV_POPULATE_WRITE)
  const auto page = static_cast<uintptr_t>(::sysconf(_SC_PAGESIZE));
  const auto begin = reinterpret_cast<uintptr_t>(range.data);
  const uintptr_t first = (begin + page - 1) / page * page;
  const uintptr_t last = (begin + range.bytes) / page * page;
  // At most kCallBytes a call, as below.
  for (uintptr_t at = first; at < last; at += kCallBytes) {
    const uintptr_t bytes = last - at < kCallBytes ? last - at : kCallBytes;
    if (::madvise(reinterpret_cast<void*>(at), bytes, MADV_POPULATE_WRITE) != 0 && errno == EINVAL) return false;
  }
  return true;
#else
  (void)range;
  return false;
#endif
}

bool populate_ranges(const std::vector<MemoryRange>& ranges, const std::atomic<bool>& stop) {
#if defined(MADV_POPULATE_WRITE)
  const auto page = static_cast<uintptr_t>(::sysconf(_SC_PAGESIZE));
  for (size_t round = 0; round < kRounds; ++round) {
    for (const MemoryRange& range : ranges) {
      if (stop.load(std::memory_order_relaxed)) return true;
      // Whole pages inside the range only: the pages at its ends may hold other data,
      // which mapping would not change, but they are not this range's to ask for.
      const auto begin = reinterpret_cast<uintptr_t>(range.data);
      const uintptr_t first_page = (begin + page - 1) / page;
      const uintptr_t end_page = (begin + range.bytes) / page;
      if (first_page >= end_page) continue;
      const uintptr_t pages = end_page - first_page;
      const uintptr_t first = (first_page + pages * round / kRounds) * page;
      const uintptr_t last = (first_page + pages * (round + 1) / kRounds) * page;
      // At most kCallBytes a call: each call holds the process's memory map for reading,
      // and the reading thread's allocations (a growing array moved by mremap) wait
      // for it.
      for (uintptr_t at = first; at < last; at += kCallBytes) {
        if (at != first && stop.load(std::memory_order_relaxed)) return true;
        const uintptr_t bytes = last - at < kCallBytes ? last - at : kCallBytes;
        if (::madvise(reinterpret_cast<void*>(at), bytes, MADV_POPULATE_WRITE) != 0 && errno == EINVAL) {
          return false;  // a kernel without MADV_POPULATE_WRITE (before Linux 5.14)
        }
      }
    }
  }
  return true;
#else
  (void)ranges;
  (void)stop;
  return false;
#endif
}

BackgroundPrefault::BackgroundPrefault(std::vector<MemoryRange> to_map, const ThreadPlan& plan)
    : ranges(std::move(to_map)), lease(plan.threads, plan.threads) {
  if (lease.helpers() == 0 || ranges.empty()) return;
  try {
    helper = std::thread([this] { (void)populate_ranges(ranges, stop); });
  } catch (const std::system_error&) {
    // No thread: the reading thread takes its page faults itself.
  }
}

BackgroundPrefault::~BackgroundPrefault() {
  stop.store(true);
  if (helper.joinable()) helper.join();
}

}  // namespace mopsel
