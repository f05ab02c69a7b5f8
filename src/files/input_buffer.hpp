#pragma once
// Buffered reading of compressed input: one zero-filled 32 KiB buffer, refilled from the
// file when used up. The gzip header parser, inflate and the trailer check all take their
// bytes from it, so nothing is read twice and nothing past the first member is needed.
#include <cstddef>
#include <memory>

#include "model/interrupt.hpp"
#include "model/result.hpp"

namespace mopsel {

inline constexpr size_t kInputBufferSize = 32768;

struct InputBuffer {
  int fd = -1;
  Interruption interruption;  // asked between reads
  std::unique_ptr<unsigned char[]> bytes;
  size_t pos = 0;  // next unused byte
  size_t end = 0;  // one past the last byte read from the file

  [[nodiscard]] size_t available() const noexcept { return end - pos; }
};

// An input buffer over `fd`. Fails with OutOfMemory when the buffer cannot be had.
Result<InputBuffer> make_input_buffer(int fd, const Interruption& interruption = {});

// Reads the next stretch of the file once every buffered byte has been used (pos == end).
// Returns the number of new bytes, 0 at end of file, an Os error or Interrupted.
Result<size_t> refill(InputBuffer& in);

// Makes `count` (at most kInputBufferSize) unused bytes available at once, moving the
// unused ones to the front and reading more; fewer only at the end of the file.
// Returns how many are available.
Result<size_t> buffer_ahead(InputBuffer& in, size_t count);

// Makes at least one byte available, failing at the end with the Gzip error
// "unexpected end of file" (the input buffer only ever holds compressed data).
Status require_byte(InputBuffer& in);

// Copies the next `count` bytes to `out`, across refills.
Status take_bytes(InputBuffer& in, unsigned char* out, size_t count);

inline constexpr const char* kUnexpectedEnd = "unexpected end of file";

}  // namespace mopsel
