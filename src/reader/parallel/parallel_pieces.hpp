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
#include "reader/text/lines.hpp"
#include "platform/helper_threads.hpp"
#include "platform/reading_threads.hpp"

namespace mopsel {

// What a threaded read of a section did.
enum class ParallelRead : uint8_t {
  Read,         // the pieces are in the state; the cursor stands where they stopped
  OneThread,    // nothing was read: read on one thread from here (too small, no helpers)
  Restart,      // the state is spoiled (a size limit was met): read the text again on one thread
  Interrupted,  // the state's interruption asked to stop
};

// Threads take pieces in order from `next`; the reading thread takes them in order
// as they are done. Usually every piece is cut before the threads start; with text
// still arriving, pieces are cut as their lines arrive (`cut` of them so far, in
// slots reserved up front) until `all_cut`.
struct PieceQueue {
  std::atomic<size_t> next{0};  // the next piece to take
  // Pieces from this index on are not needed: an earlier piece found the section's end.
  std::atomic<size_t> needed{std::numeric_limits<size_t>::max()};
  std::atomic<bool> stop{false};  // everyone stops
  std::atomic<size_t> cut{std::numeric_limits<size_t>::max()};  // pieces ready to take (all, by default)
  std::atomic<bool> all_cut{true};                                 // no more pieces will be cut
  std::mutex lock;
  std::condition_variable finished;  // a piece is done
  std::condition_variable more;      // pieces were cut, or the last of them

  // How many of the `slots` pieces may be taken now.
  [[nodiscard]] size_t available(size_t slots) const noexcept { return std::min(cut.load(), slots); }
  void not_needed_from(size_t index) noexcept {
    size_t seen = needed.load();
    while (index < seen && !needed.compare_exchange_weak(seen, index)) {
    }
  }
  // The next piece to read among the first `count`, or false when none is left. An
  // index is only ever taken when it exists: later pieces may still be cut.
  bool take(size_t count, size_t& index) noexcept {
    size_t i = next.load();
    while (i < count && i < needed.load() && !stop.load()) {
      if (next.compare_exchange_weak(i, i + 1)) {
        index = i;
        return true;
      }
    }
    return false;
  }
  // A helper that found no piece to take among the `slots`: waits a little for more
  // to be cut. False when there is nothing to take and none will come (all cut, not
  // needed, or everyone stops).
  bool wait_for_pieces(size_t slots) {
    std::unique_lock<std::mutex> hold(lock);
    const auto wanted = [&] { return !stop.load() && next.load() < needed.load(); };
    if (!all_cut.load() && wanted()) more.wait_for(hold, std::chrono::milliseconds(2));
    return wanted() && (next.load() < available(slots) || !all_cut.load());
  }
  // Makes `count` pieces takeable (`last`: no more will come) and wakes waiting helpers.
  void publish_cut(size_t count, bool last) {
    {
      const std::lock_guard<std::mutex> hold(lock);
      cut.store(count);
      if (last) all_cut.store(true);
    }
    more.notify_all();
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
// reads pieces itself with `read(index)`, false when interrupted. While pieces are
// still being cut, `cut_more(wait)` cuts those whose lines have arrived, with `wait`
// waiting for text first (it has nothing else to do); false when the text was
// abandoned. Every piece used: Read, with the cursor at its end.
template <class Work, class Read, class Use, class CutMore>
ParallelRead take_pieces_in_order(Work& work, LineCursor& cursor, const Interruption& interruption, Read&& read,
                                  Use&& use, CutMore&& cut_more) {
  for (size_t used = 0;;) {
    if (used == work.available(work.pieces.size())) {
      if (work.all_cut.load()) break;
      if (!cut_more(true)) return ParallelRead::Restart;
      continue;
    }
    auto& piece = *work.pieces[used];
    if (piece.done.load(std::memory_order_acquire)) {
      if (const std::optional<ParallelRead> end = use(piece)) return *end;
      work.pieces[used].reset();
      ++used;
      continue;
    }
    if (interruption.requested()) return ParallelRead::Interrupted;
    if (!work.all_cut.load() && !cut_more(false)) return ParallelRead::Restart;
    // Read a piece too, or wait for the next one to use.
    if (size_t i; work.take(work.available(work.pieces.size()), i)) {
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

// The same for pieces all cut before the threads start.
template <class Work, class Read, class Use>
ParallelRead take_pieces_in_order(Work& work, LineCursor& cursor, const Interruption& interruption, Read&& read,
                                  Use&& use) {
  return take_pieces_in_order(work, cursor, interruption, read, use, [](bool) { return true; });
}

// Pieces per thread of a section's text: enough that a thread that started late or
// ran slow leaves the others little to wait for at the end, and that little is read
// in vain past the section's end. Pieces are at least kPieceMinBytes, so that the
// queue's lock and a piece's fresh storage stay small against its reading (a piece
// of 1 MiB is about 1 ms of work). few-rows-100MB, two threads, reading thread / process
// CPU per read: 16 per thread (3.4 MiB) 47-55 / 90-93 ms, 4 per thread 65-82 / 102-126
// ms, one per thread 90 / 119 ms; pieces of 1 MiB and 256 KiB gained nothing (46-64 /
// 86-112 ms) (bench/README.md, "Round 6: the safety net").
inline constexpr size_t kPiecesPerThread = 16;
inline constexpr size_t kPieceMinBytes = size_t{1} << 20;

// Bytes per piece.
inline size_t piece_bytes(const ThreadPlan& plan, size_t bytes, size_t threads) noexcept {
  return plan.chunk_bytes != 0 ? plan.chunk_bytes : std::max(kPieceMinBytes, bytes / (kPiecesPerThread * threads));
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

// Keeps the storage of an applied piece, emptied, for a piece read later (reuse_spare).
template <class Storage>
void keep_spare(std::mutex& lock, std::vector<Storage>& spare, Storage& from) {
  from.clear();
  const std::lock_guard<std::mutex> hold(lock);
  spare.push_back(std::move(from));
}

// Cuts [begin, end) into pieces of about `size` bytes that start at line starts;
// `Piece` has `begin` and `end`. Without `to_end`, a rest shorter than `size` (or
// without a line end past it) is left uncut; the start of what is left is returned.
template <class Piece>
const char* cut_pieces(std::vector<std::unique_ptr<Piece>>& pieces, const char* begin, const char* end, size_t size,
                       bool to_end = true) {
  while (begin < end) {
    const char* stop = end;
    if (static_cast<size_t>(end - begin) > size) {
      const auto* lf = static_cast<const char*>(std::memchr(begin + size, '\n', static_cast<size_t>(end - begin - size)));
      if (lf != nullptr) stop = lf + 1;
      else if (!to_end) break;
    } else if (!to_end) {
      break;
    }
    auto piece = std::make_unique<Piece>();
    piece->begin = begin;
    piece->end = stop;
    pieces.push_back(std::move(piece));
    begin = stop;
  }
  return begin;
}

}  // namespace mopsel
