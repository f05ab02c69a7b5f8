#pragma once
// Text rendered in pieces by several threads and handed to the sink in order. A piece
// is rendered into its own buffer, independently of the others; the calling thread
// hands the pieces over one after the other and renders pieces itself while the next
// one to hand is not ready. At most `ahead` pieces are rendered and not yet handed,
// so that the memory held stays a few pieces whatever the size of the text.
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <mutex>
#include <vector>

#include "model/owned_array.hpp"
#include "platform/helper_threads.hpp"

namespace mopsel {

struct TextPiece {
  size_t number = 0;           // which piece
  ByteBuffer text;
  std::vector<uint32_t> ends;  // where each term ends in `text`, for renderers that keep them
};

// Renders pieces 0 .. count - 1 with render(piece), its `number` set, on up to
// `threads` threads (this one included), and hands each to hand(piece) on this thread
// in order; stops after a hand that returns false. An exception that render throws
// (on any thread) is thrown here when its piece's turn comes.
template <class Render, class Hand>
void render_in_pieces(size_t count, size_t threads, size_t ahead, const Render& render, const Hand& hand) {
  if (ahead < threads) ahead = threads;
  struct Slot {
    TextPiece piece;
    bool ready = false;
    std::exception_ptr error;
  };
  std::vector<Slot> slots(ahead);
  std::mutex lock;
  std::condition_variable changed;
  size_t next = 0;    // the next piece to render
  size_t handed = 0;  // pieces handed so far: piece p's slot is free once p - ahead was handed
  bool stop = false;
  const auto render_into = [&](size_t p) {
    Slot& slot = slots[p % ahead];
    slot.piece.number = p;
    slot.piece.text.clear();
    slot.piece.ends.clear();
    try {
      render(slot.piece);
    } catch (...) {
      slot.error = std::current_exception();
    }
    {
      const std::lock_guard<std::mutex> hold(lock);
      slot.ready = true;
    }
    changed.notify_all();
  };
  const auto help = [&] {
    for (;;) {
      size_t p = 0;
      {
        std::unique_lock<std::mutex> hold(lock);
        changed.wait(hold, [&] { return stop || next >= count || next < handed + ahead; });
        if (stop || next >= count) return;
        p = next++;
      }
      render_into(p);
    }
  };
  std::atomic<bool> unused_stop{false};
  HelperThreads helpers(unused_stop);
  // Declared after the helpers, so that they are told to stop before they are joined
  // however this function is left.
  struct StopOnExit {
    std::mutex& lock;
    std::condition_variable& changed;
    bool& stop;
    ~StopOnExit() {
      {
        const std::lock_guard<std::mutex> hold(lock);
        stop = true;
      }
      changed.notify_all();
    }
  } stop_on_exit{lock, changed, stop};
  if (threads > 1 && count > 1) helpers.start(threads - 1, help);
  for (size_t h = 0; h < count; ++h) {
    Slot& slot = slots[h % ahead];
    for (;;) {
      std::unique_lock<std::mutex> hold(lock);
      if (slot.ready) break;
      if (next < count && next < handed + ahead) {
        const size_t p = next++;
        hold.unlock();
        render_into(p);
        continue;
      }
      changed.wait(hold, [&] { return slot.ready; });
      break;
    }
    if (slot.error) std::rethrow_exception(slot.error);
    const bool go_on = hand(static_cast<const TextPiece&>(slot.piece));
    {
      const std::lock_guard<std::mutex> hold(lock);
      slot.ready = false;
      ++handed;
    }
    changed.notify_all();
    if (!go_on) return;
  }
}

}  // namespace mopsel
