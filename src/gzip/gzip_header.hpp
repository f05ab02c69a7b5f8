#pragma once
// The header of a gzip member: fixed part, optional extra field, file name, comment and
// header checksum, read from the input buffer and checked; its contents are not kept.
#include <cstdint>

#include "model/result.hpp"
#include "files/input_buffer.hpp"

namespace mopsel {

inline constexpr const char* kInvalidGzipHeader = "invalid gzip header";
inline constexpr const char* kChecksumMismatch =
    "corrupt gzip stream does not have a matching checksum";
inline constexpr const char* kHeaderFieldTooLong = "gzip header field too long";

// The 32-bit little-endian number at `bytes` (the trailer's CRC-32 and ISIZE).
inline uint32_t little_endian_32(const unsigned char* bytes) {
  return uint32_t{bytes[0]} | uint32_t{bytes[1]} << 8 | uint32_t{bytes[2]} << 16 | uint32_t{bytes[3]} << 24;
}

// Longest file name or comment accepted, not counting its terminating zero.
inline constexpr size_t kMaxHeaderField = 65535;

// Consumes one member header, leaving the input at the first byte of the deflate data.
// Fails with a Gzip error ("unexpected end of file", "invalid gzip header", "gzip header
// field too long", the checksum text for FHCRC) or an Os error.
Status read_gzip_header(InputBuffer& in);

}  // namespace mopsel
