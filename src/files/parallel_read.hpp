#pragma once
// Reading the start of a large plain file with several threads.
//
// Each thread preads whole parts of the file into the text buffer and so is the
// first to touch that part of it: the page faults of a fresh buffer, most of the
// cost of loading a gigabyte, are taken on every core at once. This only fills a
// prefix of the buffer; whatever is unusual (the file ends early, a read fails,
// the file is longer than its size said) is left to the one-thread loop, which
// continues from the end of that prefix and so meets it exactly as it would have
// alone: same bytes, same errors, same messages.
#include <cstddef>
#include <sys/types.h>

#include "model/interrupt.hpp"
#include "platform/reading_threads.hpp"

namespace mopsel {

struct ParallelReadResult {
  size_t prefix = 0;         // bytes read without a gap from `offset` on
  bool interrupted = false;  // `interruption` asked to stop
};

// Reads up to `bytes` bytes of `fd` from `offset` on into `into` (room for `bytes`)
// with the reading thread and the helpers a ThreadLease gives under `plan`, in
// parts of plan.load_part_bytes (or a size chosen from `bytes`). The file offset
// is not moved. Nothing is read when `bytes` is below plan.load_min_bytes or no
// helper is free. Only the reading thread polls `interruption`: once before any part
// is taken, then before each read of at most kPollStride bytes and while it waits for
// the helpers, which stop after their current read.
ParallelReadResult read_in_parallel(int fd, off_t offset, char* into, size_t bytes, const ThreadPlan& plan,
                                    const Interruption& interruption);

}  // namespace mopsel
