#include "gzip/gzip_member.hpp"

#include <unistd.h>

#include <cstdint>

#include "gzip/gzip_header.hpp"
#include "gzip/inflate.hpp"
#include "files/input_buffer.hpp"
#include "files/posix_file.hpp"

namespace mopsel {
namespace {

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

size_t stored_text_size(int fd, size_t compressed_size) {
  // Deflate expands a byte at most 1032-fold.
  constexpr size_t kMaxRatio = 1032;
  unsigned char last[4];
  const off_t offset = ::lseek(fd, 0, SEEK_CUR);
  // 18 bytes: the smallest member (header, empty deflate data, trailer).
  if (compressed_size >= 18 && offset >= 0 &&
      ::pread(fd, last, 4, offset + static_cast<off_t>(compressed_size - 4)) == 4) {
    const size_t stored = little_endian_32(last);
    if (stored > 0 && stored / kMaxRatio <= compressed_size) return stored;
  }
  return 0;
}

Status decode_members(InputBuffer& in, ByteBuffer& text, size_t expected_size, const InflateProgress* progress) {
  for (;;) {
    if (Status status = inflate_member_body(in, text, expected_size, progress); !status) return status;
    expected_size = 0;
    Result<bool> more = another_member(in);
    if (!more) return more.error();
    if (!more.value()) return Status::success();
    if (Status status = read_gzip_header(in); !status) return status;
  }
}

Result<ByteBuffer> decode_gzip_members(int fd, const Interruption& interruption) {
  const size_t compressed_size = remaining_size_hint(fd);
  Result<InputBuffer> made = make_input_buffer(fd, interruption);
  if (!made) return made.error();
  InputBuffer& in = made.value();

  // Room for the text: the stored length when it is plausible, since that is the
  // ISIZE of a single member, the usual file; otherwise a few times the compressed
  // size. Several members, 4 GiB of text or more, or bytes after the last member make
  // the stored length wrong: the buffer then grows, or keeps untouched room.
  const size_t stored = stored_text_size(fd, compressed_size);
  ByteBuffer text;
  if (Status status = read_gzip_header(in); !status) return status.error();
  if (Status status = decode_members(in, text, stored > 0 ? stored : initial_text_capacity(compressed_size));
      !status) {
    return status.error();
  }
  return text;
}

}  // namespace mopsel
