#pragma once
// The in-memory sink: text is appended to a growable byte buffer. It cannot
// fail short of std::bad_alloc, except that it stops (ok() false) when the
// interruption, asked every kPollStride bytes of text, says so.
#include <cstddef>
#include <string_view>

#include "model/interrupt.hpp"
#include "model/owned_array.hpp"
#include "writer/sink.hpp"

namespace mopsel {

class BufferSink {
 public:
  explicit BufferSink(ByteBuffer& out, const Interruption& interruption = {}) noexcept
      : out_(out), interruption_(interruption), next_poll_(out.size() + kPollStride) {
    sync();
  }
  BufferSink(const BufferSink&) = delete;
  BufferSink& operator=(const BufferSink&) = delete;
  // Counts the lines written so far into the buffer, also when rendering ends
  // with an exception: the text produced stays in the buffer.
  ~BufferSink() { settle(); }

  // A piece past the next poll point asks the interruption, as running out of room does
  // (the LP writer puts pieces of many lines rendered by other threads).
  void put(std::string_view piece) {
    settle();
    out_.append(piece.data(), piece.size());
    if (out_.size() >= next_poll_) poll();
    sync();
  }

  // Room for a line of at most `bound` bytes at the end of the text; the line
  // written there counts once line_done is given its end. Never null.
  char* line_space(size_t bound) {
    if (static_cast<size_t>(limit_ - cursor_) < bound) [[unlikely]]
      grow(bound);
    return cursor_;
  }
  void line_done(char* end) noexcept { cursor_ = end; }
  // Up to the next poll point.
  [[nodiscard]] size_t free_space() const noexcept { return static_cast<size_t>(limit_ - cursor_); }

  [[nodiscard]] bool ok() const noexcept { return !interrupted_; }

 private:
  // The buffer's size lags behind the lines written through line_space until
  // settled; `cursor_` is the true end of the text, `limit_` the end of the room
  // or the next poll point, whichever comes first, so that reaching a poll point
  // costs nothing more than running out of room.
  void settle() { out_.commit(static_cast<size_t>(cursor_ - (out_.data() + out_.size()))); }
  void sync() noexcept {
    cursor_ = out_.data() + out_.size();
    limit_ = out_.data() + (next_poll_ < out_.capacity() ? next_poll_ : out_.capacity());
  }
  void poll() noexcept {
    next_poll_ = out_.size() + kPollStride;
    if (interruption_.requested()) interrupted_ = true;
  }
  // At a poll point asks the interruption; then doubles the capacity (at least
  // 64 KiB), or more when `bound` needs it, if the room is short.
  void grow(size_t bound) {
    settle();
    if (out_.size() >= next_poll_) poll();
    if (out_.capacity() - out_.size() < bound) {
      size_t wanted = out_.capacity() < (size_t{1} << 16) ? (size_t{1} << 16) : 2 * out_.capacity();
      if (wanted - out_.size() < bound) wanted = out_.size() + bound;
      out_.reserve(wanted);
    }
    sync();
    // A line longer than the stretch to the next poll point still gets its room.
    if (static_cast<size_t>(limit_ - cursor_) < bound) limit_ = cursor_ + bound;
  }

  ByteBuffer& out_;
  Interruption interruption_;
  size_t next_poll_;
  bool interrupted_ = false;
  char* cursor_ = nullptr;
  char* limit_ = nullptr;
};

static_assert(TextSink<BufferSink>);

}  // namespace mopsel
