#pragma once
// Raw deflate data (no zlib or gzip wrapper, 32 KiB window) inflated by zlib straight into
// one growing text buffer, with the count and CRC-32 of the decoded bytes.
#include <cstddef>
#include <cstdint>

#include "model/owned_array.hpp"
#include "model/result.hpp"
#include "source/input_buffer.hpp"

namespace mopsel {

inline constexpr const char* kCorruptDeflate = "corrupt deflate stream";

struct InflateOutcome {
  bool stream_ended = false;  // false: the input ran out before the deflate data did
  uint32_t crc = 0;           // CRC-32 of every byte appended to the text
};

// Inflates the deflate stream that starts at the input's position, appending to `text`.
// On return the input stands just after the stream (its bytes beyond are left unread).
// `expected_size` is a guess used for the first reservation only (0: none). Asks the
// input's interruption every kPollStride bytes of text. Fails with the Gzip error
// "corrupt deflate stream", OutOfMemory, an Os error or Interrupted.
Result<InflateOutcome> inflate_raw(InputBuffer& in, ByteBuffer& text, size_t expected_size);

// The first reservation for the text of `compressed_size` bytes of gzip input: a few
// times the input, within [64 KiB, 64 MiB]. The buffer then grows as needed, so a wrong
// guess costs a regrowth and never a refusal.
size_t initial_text_capacity(size_t compressed_size);

}  // namespace mopsel
