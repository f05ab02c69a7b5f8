#include "source/inflate.hpp"

#include <zlib.h>

#include <algorithm>
#include <climits>
#include <new>

#include "model/fault.hpp"
#include "source/posix_file.hpp"

namespace mopsel {
namespace {

// Releases zlib's inflate state on every way out.
struct InflateStream {
  z_stream stream{};
  bool live = false;
  ~InflateStream() {
    if (live) inflateEnd(&stream);
  }
};

constexpr size_t kMinInitialText = size_t{64} << 10;
constexpr size_t kMaxInitialText = size_t{64} << 20;
constexpr size_t kExpectedRatio = 4;

}  // namespace

size_t initial_text_capacity(size_t compressed_size) {
  const size_t guess =
      compressed_size > kMaxInitialText / kExpectedRatio ? kMaxInitialText : compressed_size * kExpectedRatio;
  return std::clamp(guess, kMinInitialText, kMaxInitialText);
}

Result<InflateOutcome> inflate_raw(InputBuffer& in, ByteBuffer& text, size_t expected_size) {
  InflateStream z;
  // Negative window bits: raw deflate, 2^15 = 32 KiB window.
  const int init = inflateInit2(&z.stream, -15);
  if (init == Z_MEM_ERROR) return out_of_memory();
  if (init != Z_OK) raise_fault("inflateInit2 failed with code " + std::to_string(init));
  z.live = true;

  InflateOutcome outcome;
  uLong crc = crc32(0L, Z_NULL, 0);
  size_t next_poll = text.size() + kPollStride;
  try {
    if (expected_size > 0) text.reserve(text.size() + expected_size);
    for (;;) {
      if (text.size() >= next_poll) {
        if (in.interruption.requested()) return interrupted();
        next_poll = text.size() + kPollStride;
      }
      if (in.available() == 0) {
        Result<size_t> got = refill(in);
        if (!got) return got.error();
        // The input ends inside the deflate data; the caller reports the early end.
        if (got.value() == 0) break;
      }
      if (text.size() == text.capacity()) text.reserve(grown_capacity(text.capacity()));

      // A few polls' worth of text per call, so that highly compressed input
      // does not hold the poll off for long.
      const size_t room = std::min<size_t>(text.capacity() - text.size(), 8 * kPollStride);
      unsigned char* out = reinterpret_cast<unsigned char*>(text.data() + text.size());
      const size_t in_before = in.available();
      z.stream.next_in = in.bytes.get() + in.pos;
      z.stream.avail_in = static_cast<uInt>(in_before);  // at most kInputBufferSize
      z.stream.next_out = out;
      z.stream.avail_out = static_cast<uInt>(room);

      const int rc = inflate(&z.stream, Z_NO_FLUSH);

      const size_t produced = room - z.stream.avail_out;
      const size_t consumed = in_before - z.stream.avail_in;
      crc = crc32_z(crc, out, produced);
      text.commit(produced);
      in.pos += consumed;

      if (rc == Z_STREAM_END) {
        outcome.stream_ended = true;
        break;
      }
      if (rc == Z_MEM_ERROR) return out_of_memory();
      if (rc != Z_OK && rc != Z_BUF_ERROR) return Error{ErrorKind::Gzip, kCorruptDeflate};
      // With input and output room both offered, zlib always moves forward; a call that
      // does not would loop for ever.
      if (produced == 0 && consumed == 0 && z.stream.avail_in != 0 && z.stream.avail_out != 0) {
        raise_fault("inflate made no progress with input and output available");
      }
    }
  } catch (const std::bad_alloc&) {
    return out_of_memory();
  }
  outcome.crc = static_cast<uint32_t>(crc);
  return outcome;
}

}  // namespace mopsel
