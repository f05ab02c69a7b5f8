#pragma once
// The body of one gzip member (raw deflate data with a 32 KiB window, then the CRC-32 and
// ISIZE trailer) inflated straight into one growing text buffer and checked: by ISA-L's
// inflate when the build found it (about three times zlib's speed, the CRC included),
// otherwise by zlib.
#include <cstddef>

#include "model/owned_array.hpp"
#include "model/result.hpp"
#include "files/input_buffer.hpp"

namespace mopsel {

inline constexpr const char* kCorruptDeflate = "corrupt deflate stream";

// Told of the text as it grows, for a reader on another thread (gzip_stream.hpp).
struct InflateProgress {
  size_t piece_bytes;  // the most text inflated between two calls of `published`
  // The text now holds `size` bytes (all members so far), every one final.
  void (*published)(void* context, size_t size) noexcept;
  // The text is full: called before its buffer grows (and moves); returns when it may.
  void (*before_growth)(void* context) noexcept;
  void* context;
};

// Which library inflates in this build: "ISA-L" or "zlib".
const char* inflater_name() noexcept;

// Inflates the deflate data that starts at the input's position, appending to `text`,
// then checks the trailer's CRC-32 and length (modulo 2^32) against the bytes appended.
// On success the input stands just after the trailer (its bytes beyond are left unread).
// `expected_size` is a guess used for the first reservation only (0: none). Asks the
// input's interruption every kPollStride bytes of text. Fails with the Gzip errors
// "corrupt deflate stream", "unexpected end of file" (the input ends inside the data or
// the trailer) or "corrupt gzip stream does not have a matching checksum"; with
// OutOfMemory, an Os error or Interrupted. With `progress`, tells it of the text as it
// grows.
Status inflate_member_body(InputBuffer& in, ByteBuffer& text, size_t expected_size,
                           const InflateProgress* progress = nullptr);

// The first reservation for the text of `compressed_size` bytes of gzip input: a few
// times the input, within [64 KiB, 64 MiB]. The buffer then grows as needed, so a wrong
// guess costs a regrowth and never a refusal.
size_t initial_text_capacity(size_t compressed_size);

}  // namespace mopsel
