#pragma once
// The file sink: a file created or truncated at a path, written through an
// 8192-byte buffer with POSIX write(2).
//
// Flushing rule: a piece is copied into the buffer; when it does not fit in the
// space left, the buffer is written out first; a piece at least as large as the
// whole buffer then goes straight to the file. The first failing write is kept
// as the sink's error and every later piece is dropped, so the caller sees one
// error and the file holds the text up to that failure. The interruption is asked
// every kPollStride bytes written and whenever a signal interrupts a write (a
// FIFO whose reader stalls blocks there); when it says stop, the sink fails
// with Interrupted.
#include <sys/types.h>

#include <cstddef>
#include <cstring>
#include <optional>
#include <string_view>

#include "model/interrupt.hpp"
#include "model/result.hpp"
#include "writer/sink.hpp"

namespace mopsel {

// The system call that moves bytes to the file; tests substitute their own.
using RawWrite = ssize_t (*)(int fd, const void* data, size_t size);

class FileSink {
 public:
  static constexpr size_t kCapacity = 8192;

  // Takes ownership of `fd`.
  explicit FileSink(int fd, RawWrite raw_write = nullptr, const Interruption& interruption = {}) noexcept;
  FileSink(const FileSink&) = delete;
  FileSink& operator=(const FileSink&) = delete;
  // Writes out whatever is still buffered as far as the file accepts it (no
  // error is reported from here) and closes the file; the file is kept.
  ~FileSink();

  void put(std::string_view piece) {
    if (failed_) [[unlikely]]
      return;
    if (piece.size() > kCapacity - used_) [[unlikely]] {
      put_large(piece);
      return;
    }
    std::memcpy(buffer_ + used_, piece.data(), piece.size());
    used_ += piece.size();
  }

  // Room in the buffer for a line of at most `bound` bytes, or null when the
  // bound does not fit in the space left (or the sink has failed). A line
  // written there and ended with line_done has the same effect as putting it
  // as one piece: it fits, so it is simply buffered. Callers put lines that get
  // no room as one piece.
  char* line_space(size_t bound) noexcept {
    return !failed_ && bound <= kCapacity - used_ ? buffer_ + used_ : nullptr;
  }
  void line_done(const char* end) noexcept { used_ = static_cast<size_t>(end - buffer_); }
  [[nodiscard]] size_t free_space() const noexcept { return failed_ ? 0 : kCapacity - used_; }

  [[nodiscard]] bool ok() const noexcept { return !failed_; }

  // Writes out the buffer after the last piece. Returns the first error of the
  // sink (an Os error), whether it happened here or earlier. Failures of close
  // are not reported.
  Status finish();

 private:
  void put_large(std::string_view piece);
  // Writes the buffered bytes; removes from the buffer what was written, even on failure.
  bool flush_buffer(bool record_error);
  // Keeps the error of a write that returned `result` (write_all's value, not 0).
  void fail(int result, const char* accepted_nothing);
  // Writes all of [data, data + size); see write_all in file_sink.cpp.
  int write_all(const char* data, size_t size, size_t& written);

  int fd_;
  RawWrite raw_write_;
  Interruption interruption_;
  size_t unpolled_ = 0;  // bytes written since the interruption was last asked
  size_t used_ = 0;
  bool failed_ = false;
  std::optional<Error> error_;
  char buffer_[kCapacity];
};

static_assert(TextSink<FileSink>);

}  // namespace mopsel
