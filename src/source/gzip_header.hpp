#pragma once
// The header of a gzip member: fixed part, optional extra field, file name, comment and
// header checksum, read from the input buffer and checked; its contents are not kept.
#include "model/result.hpp"
#include "source/input_buffer.hpp"

namespace mopsel {

inline constexpr const char* kInvalidGzipHeader = "invalid gzip header";
inline constexpr const char* kChecksumMismatch =
    "corrupt gzip stream does not have a matching checksum";
inline constexpr const char* kHeaderFieldTooLong = "gzip header field too long";

// Longest file name or comment accepted, not counting its terminating zero.
inline constexpr size_t kMaxHeaderField = 65535;

// Consumes one member header, leaving the input at the first byte of the deflate data.
// Fails with a Gzip error ("unexpected end of file", "invalid gzip header", "gzip header
// field too long", the checksum text for FHCRC) or an Os error.
Status read_gzip_header(InputBuffer& in);

}  // namespace mopsel
