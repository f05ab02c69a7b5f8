#include "source/gzip_member.hpp"

#include <cstdint>

#include "source/gzip_header.hpp"
#include "source/inflate.hpp"
#include "source/input_buffer.hpp"
#include "source/posix_file.hpp"

namespace mopsel {
namespace {

uint32_t little_endian_32(const unsigned char* bytes) {
  return uint32_t{bytes[0]} | uint32_t{bytes[1]} << 8 | uint32_t{bytes[2]} << 16 |
         uint32_t{bytes[3]} << 24;
}

}  // namespace

Result<ByteBuffer> decode_gzip_member(int fd) {
  const size_t compressed_size = remaining_size_hint(fd);
  Result<InputBuffer> made = make_input_buffer(fd);
  if (!made) return made.error();
  InputBuffer& in = made.value();

  if (Status status = read_gzip_header(in); !status) return status.error();

  ByteBuffer text;
  Result<InflateOutcome> inflated = inflate_raw(in, text, initial_text_capacity(compressed_size));
  if (!inflated) return inflated.error();
  if (!inflated.value().stream_ended) return Error{ErrorKind::Gzip, kUnexpectedEnd};

  // CRC-32 then ISIZE (length modulo 2^32), both little-endian.
  unsigned char trailer[8];
  if (Status status = take_bytes(in, trailer, sizeof trailer); !status) return status.error();
  if (little_endian_32(trailer) != inflated.value().crc ||
      little_endian_32(trailer + 4) != static_cast<uint32_t>(text.size())) {
    return Error{ErrorKind::Gzip, kChecksumMismatch};
  }
  return text;
}

}  // namespace mopsel
