#include "gzip/gzip_header.hpp"

#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace mopsel {
namespace {

// Flag bits of the FLG byte; bit 0 (FTEXT) is only a hint and needs nothing.
constexpr unsigned kFlagHeaderCrc = 0x02;
constexpr unsigned kFlagExtra = 0x04;
constexpr unsigned kFlagName = 0x08;
constexpr unsigned kFlagComment = 0x10;
constexpr unsigned kReservedFlags = 0xE0;

// Reads header bytes while keeping the CRC-32 of all of them for FHCRC.
struct HeaderReader {
  InputBuffer& in;
  uLong crc = crc32(0L, Z_NULL, 0);

  void account(const unsigned char* bytes, size_t count) {
    crc = crc32_z(crc, bytes, count);
  }

  Status take(unsigned char* out, size_t count) {
    const unsigned char* start = out;
    Status status = take_bytes(in, out, count);
    if (status) account(start, count);
    return status;
  }

  Status skip(size_t count) {
    while (count > 0) {
      if (Status status = require_byte(in); !status) return status;
      const size_t n = std::min(count, in.available());
      account(in.bytes.get() + in.pos, n);
      in.pos += n;
      count -= n;
    }
    return Status::success();
  }

  // Skips a zero-terminated field of at most kMaxHeaderField bytes before its zero.
  // The field is never stored, so its length costs no memory.
  Status skip_terminated() {
    size_t length = 0;
    for (;;) {
      if (Status status = require_byte(in); !status) return status;
      const unsigned char* start = in.bytes.get() + in.pos;
      const size_t available = in.available();
      const auto* zero = static_cast<const unsigned char*>(std::memchr(start, 0, available));
      const size_t before_zero = zero ? static_cast<size_t>(zero - start) : available;
      if (before_zero > kMaxHeaderField - length) return Error{ErrorKind::Gzip, kHeaderFieldTooLong};
      length += before_zero;
      const size_t consumed = zero ? before_zero + 1 : available;
      account(start, consumed);
      in.pos += consumed;
      if (zero) return Status::success();
    }
  }
};

}  // namespace

Status read_gzip_header(InputBuffer& in) {
  HeaderReader header{in};
  // ID1 ID2 CM FLG MTIME(4) XFL OS
  unsigned char fixed[10];
  if (Status status = header.take(fixed, sizeof fixed); !status) return status;
  if (fixed[0] != 0x1F || fixed[1] != 0x8B || fixed[2] != 8) {
    return Error{ErrorKind::Gzip, kInvalidGzipHeader};
  }
  const unsigned flags = fixed[3];
  if (flags & kReservedFlags) return Error{ErrorKind::Gzip, kInvalidGzipHeader};

  if (flags & kFlagExtra) {
    unsigned char length[2];
    if (Status status = header.take(length, 2); !status) return status;
    if (Status status = header.skip(size_t{length[0]} | size_t{length[1]} << 8); !status) {
      return status;
    }
  }
  if (flags & kFlagName) {
    if (Status status = header.skip_terminated(); !status) return status;
  }
  if (flags & kFlagComment) {
    if (Status status = header.skip_terminated(); !status) return status;
  }
  if (flags & kFlagHeaderCrc) {
    const uLong expected = header.crc & 0xFFFF;
    unsigned char stored[2];
    if (Status status = take_bytes(in, stored, 2); !status) return status;
    if ((unsigned{stored[0]} | unsigned{stored[1]} << 8) != expected) {
      return Error{ErrorKind::Gzip, kChecksumMismatch};
    }
  }
  return Status::success();
}

}  // namespace mopsel
