#pragma once
// What the threaded readers of COLUMNS and BOUNDS share: the text cut into pieces
// at line starts and the queue the threads take pieces from.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "model/interrupt.hpp"
#include "reader/lines.hpp"
#include "source/helper_threads.hpp"
#include "source/reading_threads.hpp"

namespace mopsel {

// What a threaded read of a section did.
enum class ParallelRead : uint8_t {
  Read,         // the pieces are in the state; the cursor stands where they stopped
  OneThread,    // nothing was read: read on one thread from here (too small, no helpers)
  Restart,      // the state is spoiled (a size limit was met): read the text again on one thread
  Interrupted,  // the state's interruption asked to stop
};

// Threads take pieces in order from `next`; the reading thread takes them in order
// as they are done.
struct PieceQueue {
  std::atomic<size_t> next{0};  // the next piece to take
  // Pieces from this index on are not needed: an earlier piece found the section's end.
  std::atomic<size_t> needed{std::numeric_limits<size_t>::max()};
  std::atomic<bool> stop{false};  // everyone stops
  std::mutex lock;
  std::condition_variable finished;

  void not_needed_from(size_t index) noexcept {
    size_t seen = needed.load();
    while (index < seen && !needed.compare_exchange_weak(seen, index)) {
    }
  }
  // The next piece to read, or false when none is left.
  bool take(size_t count, size_t& index) noexcept {
    index = next.fetch_add(1);
    return index < count && index < needed.load() && !stop.load();
  }
};

// Marks a piece read and wakes the reading thread if it waits for it. The piece
// may be used and freed at once: the caller must not touch it afterwards.
template <class Queue, class Piece>
void mark_done(Queue& queue, Piece& piece) {
  {
    const std::lock_guard<std::mutex> hold(queue.lock);
    piece.done.store(true, std::memory_order_release);
  }
  queue.finished.notify_all();
}

// The reading thread's part: takes the pieces of `work` in order as they are done
// and hands each to `use`, which returns nothing to go on with the next piece (the
// piece is then freed) or how the read ends. While the next piece is not done it
// reads pieces itself with `read(index)`, false when interrupted. Every piece used:
// Read, with the cursor at its end.
template <class Work, class Read, class Use>
ParallelRead take_pieces_in_order(Work& work, LineCursor& cursor, const Interruption& interruption, Read&& read,
                                  Use&& use) {
  for (size_t used = 0; used < work.pieces.size();) {
    auto& piece = *work.pieces[used];
    if (piece.done.load(std::memory_order_acquire)) {
      if (const std::optional<ParallelRead> end = use(piece)) return *end;
      work.pieces[used].reset();
      ++used;
      continue;
    }
    if (interruption.requested()) return ParallelRead::Interrupted;
    // Read a piece too, or wait for the next one to use.
    if (size_t i; work.take(work.pieces.size(), i)) {
      if (!read(i)) return ParallelRead::Interrupted;
      continue;
    }
    std::unique_lock<std::mutex> hold(work.lock);
    work.finished.wait_for(hold, std::chrono::milliseconds(2),
                           [&] { return piece.done.load(std::memory_order_acquire); });
  }
  cursor.pos = cursor.end;
  return ParallelRead::Read;
}

// Bytes per piece: enough pieces that the threads stay busy to the end, and that
// little is read in vain past the section's end.
inline size_t piece_bytes(const ThreadPlan& plan, size_t bytes, size_t threads) noexcept {
  return plan.chunk_bytes != 0 ? plan.chunk_bytes : std::max<size_t>(size_t{1} << 20, bytes / (16 * threads));
}

// Hands `into` the storage of a piece already applied, when there is one: filling
// reused arrays costs less than the first touch of fresh ones.
template <class Storage>
void reuse_spare(std::mutex& lock, std::vector<Storage>& spare, Storage& into) {
  const std::lock_guard<std::mutex> hold(lock);
  if (spare.empty()) return;
  into = std::move(spare.back());
  spare.pop_back();
}

// Cuts [begin, end) into pieces of about `size` bytes that start at line starts;
// `Piece` has `begin` and `end`.
template <class Piece>
void cut_pieces(std::vector<std::unique_ptr<Piece>>& pieces, const char* begin, const char* end, size_t size) {
  while (begin < end) {
    const char* stop = end;
    if (static_cast<size_t>(end - begin) > size) {
      const auto* lf = static_cast<const char*>(std::memchr(begin + size, '\n', static_cast<size_t>(end - begin - size)));
      if (lf != nullptr) stop = lf + 1;
    }
    auto piece = std::make_unique<Piece>();
    piece->begin = begin;
    piece->end = stop;
    pieces.push_back(std::move(piece));
    begin = stop;
  }
}

}  // namespace mopsel
