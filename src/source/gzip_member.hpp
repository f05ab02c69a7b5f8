#pragma once
// Decoding of the first gzip member of a file: header, raw deflate body, CRC-32 and ISIZE
// trailer. Whatever follows the first member's trailer is neither read nor checked.
#include "model/owned_array.hpp"
#include "model/result.hpp"

namespace mopsel {

// The decoded text of the first member read from `fd` (positioned at its start), or a
// Gzip error ("unexpected end of file", "invalid gzip header", "gzip header field too
// long", "corrupt gzip stream does not have a matching checksum", "corrupt deflate
// stream"), OutOfMemory or an Os error.
Result<ByteBuffer> decode_gzip_member(int fd);

}  // namespace mopsel
