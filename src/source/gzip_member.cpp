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

// Decodes the member that starts at the input's position, appending its text.
Status decode_member(InputBuffer& in, ByteBuffer& text, size_t expected_size) {
  if (Status status = read_gzip_header(in); !status) return status;
  const size_t start = text.size();
  Result<InflateOutcome> inflated = inflate_raw(in, text, expected_size);
  if (!inflated) return inflated.error();
  if (!inflated.value().stream_ended) return Error{ErrorKind::Gzip, kUnexpectedEnd};

  // CRC-32 then ISIZE (length modulo 2^32), both little-endian.
  unsigned char trailer[8];
  if (Status status = take_bytes(in, trailer, sizeof trailer); !status) return status;
  if (little_endian_32(trailer) != inflated.value().crc ||
      little_endian_32(trailer + 4) != static_cast<uint32_t>(text.size() - start)) {
    return Error{ErrorKind::Gzip, kChecksumMismatch};
  }
  return Status::success();
}

// Skips zero padding after a member; true when another member starts there (its
// two magic bytes), false at the end of the file or before any other bytes.
Result<bool> another_member(InputBuffer& in) {
  for (;;) {
    Result<size_t> ahead = buffer_ahead(in, 2);
    if (!ahead) return ahead.error();
    if (ahead.value() == 0) return false;
    const unsigned char* bytes = in.bytes.get();
    if (bytes[in.pos] != 0) return ahead.value() >= 2 && bytes[in.pos] == 0x1F && bytes[in.pos + 1] == 0x8B;
    while (in.pos < in.end && bytes[in.pos] == 0) ++in.pos;
  }
}

}  // namespace

Result<ByteBuffer> decode_gzip_members(int fd, const Interruption& interruption) {
  const size_t compressed_size = remaining_size_hint(fd);
  Result<InputBuffer> made = make_input_buffer(fd, interruption);
  if (!made) return made.error();
  InputBuffer& in = made.value();

  ByteBuffer text;
  if (Status status = decode_member(in, text, initial_text_capacity(compressed_size)); !status) {
    return status.error();
  }
  for (;;) {
    Result<bool> more = another_member(in);
    if (!more) return more.error();
    if (!more.value()) return text;
    if (Status status = decode_member(in, text, 0); !status) return status.error();
  }
}

}  // namespace mopsel
