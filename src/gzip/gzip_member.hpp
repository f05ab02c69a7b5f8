#pragma once
// Decoding gzip data as gzip -d does: one member after another (header, raw deflate
// body, CRC-32 and ISIZE trailer), their texts joined. Zero bytes between members are
// padding; whatever follows the last member that does not start another one is
// neither read nor checked.
#include "model/interrupt.hpp"
#include "model/owned_array.hpp"
#include "model/result.hpp"
#include "gzip/inflate.hpp"
#include "files/input_buffer.hpp"

namespace mopsel {

// The joined text of the members read from `fd` (positioned at the start of the
// first), or a Gzip error ("unexpected end of file", "invalid gzip header", "gzip
// header field too long", "corrupt gzip stream does not have a matching checksum",
// "corrupt deflate stream") in any member, OutOfMemory, an Os error or Interrupted.
Result<ByteBuffer> decode_gzip_members(int fd, const Interruption& interruption = {});

// The text length stored in the last four bytes of the `compressed_size` bytes from
// `fd`'s position (the ISIZE of the last member), or 0 when it cannot be the length of
// their text. Right for a single member of less than 4 GiB: a guess, never a promise.
size_t stored_text_size(int fd, size_t compressed_size);

// Inflates the body of the member whose header was just read, then every member that
// follows (as decode_gzip_members), appending to `text`; `expected_size` and
// `progress` as inflate_member_body's.
Status decode_members(InputBuffer& in, ByteBuffer& text, size_t expected_size,
                      const InflateProgress* progress = nullptr);

}  // namespace mopsel
