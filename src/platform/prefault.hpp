#pragma once
// First touch of reserved memory on a spare core.
//
// A fresh process pays a page fault (about 2 µs here) for every 4 KiB of the
// arrays a read fills: for a 26 MB model some 3,400 faults, a quarter of the
// read. When a read runs on one thread and a helper is free, the helper asks the
// kernel to map the reserved room ahead of the reading thread, so that its
// writes find the pages present. Mapping a page changes no byte in it: the
// reading thread may write the same pages at the same time.
#include <atomic>
#include <cstddef>
#include <thread>
#include <vector>

#include "platform/reading_threads.hpp"

namespace mopsel {

struct MemoryRange {
  const void* data = nullptr;
  size_t bytes = 0;
};

// Maps the whole pages inside `range` at once. False when the system cannot populate memory.
bool populate_range(const MemoryRange& range);

// Maps `ranges` (whole pages inside each only) a slice of each at a time, until
// done or `stop` is set. False when the system cannot populate memory.
bool populate_ranges(const std::vector<MemoryRange>& ranges, const std::atomic<bool>& stop);

// While it lives, a leased helper maps `ranges` (room reserved and not yet
// written) a slice of each at a time, so that all of them are mapped from their
// start on early. Nothing happens when no helper is free or the system cannot
// populate memory. The ranges must stay allocated until the object is gone: it
// stops the helper (after its current slice) and joins it.
struct BackgroundPrefault {
  BackgroundPrefault(std::vector<MemoryRange> ranges, const ThreadPlan& plan);
  ~BackgroundPrefault();
  BackgroundPrefault(const BackgroundPrefault&) = delete;
  BackgroundPrefault& operator=(const BackgroundPrefault&) = delete;

  std::vector<MemoryRange> ranges;
  ThreadLease lease;
  std::atomic<bool> stop{false};
  std::thread helper;
};

}  // namespace mopsel
