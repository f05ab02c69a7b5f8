#pragma once
// Decoding gzip data as gzip -d does: one member after another (header, raw deflate
// body, CRC-32 and ISIZE trailer), their texts joined. Zero bytes between members are
// padding; whatever follows the last member that does not start another one is
// neither read nor checked.
#include "model/interrupt.hpp"
#include "model/owned_array.hpp"
#include "model/result.hpp"

namespace mopsel {

// The joined text of the members read from `fd` (positioned at the start of the
// first), or a Gzip error ("unexpected end of file", "invalid gzip header", "gzip
// header field too long", "corrupt gzip stream does not have a matching checksum",
// "corrupt deflate stream") in any member, OutOfMemory, an Os error or Interrupted.
Result<ByteBuffer> decode_gzip_members(int fd, const Interruption& interruption = {});

}  // namespace mopsel
