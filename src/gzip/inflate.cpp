#include "gzip/inflate.hpp"

#if MOPSEL_ISAL
#include <isa-l/igzip_lib.h>
#else
#include <zlib.h>
#endif

#include <algorithm>
#include <climits>
#include <cstdint>
#include <memory>
#include <new>
#include <string>

#include "model/fault.hpp"
#include "gzip/gzip_header.hpp"
#include "files/posix_file.hpp"
#include "platform/text_buffer.hpp"

namespace mopsel {
namespace {

constexpr size_t kMinInitialText = size_t{64} << 10;
constexpr size_t kMaxInitialText = size_t{64} << 20;
constexpr size_t kExpectedRatio = 4;

// What one call of an inflater did with the input and output it was offered.
struct Step {
  size_t consumed = 0;
  size_t produced = 0;
  bool finished = false;          // the deflate data are done (ISA-L: the trailer checked too)
  const char* failure = nullptr;  // the Gzip message when the data are bad
  bool out_of_memory = false;
};

#if MOPSEL_ISAL

// ISA-L's inflate (its AVX-512 path at least) can return with the upper halves of the
// vector registers in use. Until they are cleared, the SSE code that runs next (the
// reader's, zlib's deflate) pays for every instruction: writing a gzip file after reading
// one ran at half speed. VZEROUPPER clears them; it exists only where AVX does.
inline void clear_upper_vector_state() noexcept {
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
  static const bool has_avx = __builtin_cpu_supports("avx");
  if (has_avx) __asm__ volatile("vzeroupper" ::: "memory");
#endif
}

// ISA-L inflates the deflate data and then reads and checks the trailer itself: with
// ISAL_GZIP_NO_HDR_VER it leaves the input just after the trailer. (In raw mode it would
// stop with up to 8 bytes past the deflate data already in its bit buffer, so a caller
// reading the trailer from the input would miss them.) It keeps its own 32 KiB history,
// so the text buffer may move between calls.
class Inflater {
 public:
  static constexpr const char* kName = "ISA-L";

  // False when there is no memory for the state (about 87 KB, hence on the heap).
  bool start() {
    state_.reset(new (std::nothrow) inflate_state);
    if (!state_) return false;
    isal_inflate_init(state_.get());
    state_->crc_flag = ISAL_GZIP_NO_HDR_VER;
    state_->hist_bits = 0;  // the full 32 KiB window
    return true;
  }

  Step run(const unsigned char* in, size_t in_size, unsigned char* out, size_t room) {
    inflate_state& s = *state_;
    s.next_in = const_cast<uint8_t*>(in);
    s.avail_in = static_cast<uint32_t>(in_size);  // at most kInputBufferSize
    s.next_out = out;
    s.avail_out = static_cast<uint32_t>(room);    // at most a few kPollStride
    const int rc = isal_inflate(&s);
    clear_upper_vector_state();
    Step step{.consumed = in_size - s.avail_in, .produced = room - s.avail_out};
    if (rc == ISAL_INCORRECT_CHECKSUM) step.failure = kChecksumMismatch;
    else if (rc < 0) step.failure = kCorruptDeflate;
    else step.finished = s.block_state == ISAL_BLOCK_FINISH;
    return step;
  }

  // The trailer was checked by run().
  Status finish(InputBuffer&, size_t) { return Status::success(); }

 private:
  std::unique_ptr<inflate_state> state_;
};

#else

// zlib's raw inflate (negative window bits: no wrapper, 2^15 = 32 KiB window), with the
// CRC-32 of the output kept here and the trailer read from the input afterwards.
class Inflater {
 public:
  static constexpr const char* kName = "zlib";

  Inflater() = default;
  Inflater(const Inflater&) = delete;
  Inflater& operator=(const Inflater&) = delete;
  ~Inflater() {
    if (live_) inflateEnd(&stream_);
  }

  bool start() {
    const int init = inflateInit2(&stream_, -15);
    if (init == Z_MEM_ERROR) return false;
    if (init != Z_OK) raise_fault("inflateInit2 failed with code " + std::to_string(init));
    live_ = true;
    crc_ = crc32(0L, Z_NULL, 0);
    return true;
  }

  Step run(const unsigned char* in, size_t in_size, unsigned char* out, size_t room) {
    stream_.next_in = const_cast<Bytef*>(in);
    stream_.avail_in = static_cast<uInt>(in_size);
    stream_.next_out = out;
    stream_.avail_out = static_cast<uInt>(room);
    const int rc = inflate(&stream_, Z_NO_FLUSH);
    Step step{.consumed = in_size - stream_.avail_in, .produced = room - stream_.avail_out};
    crc_ = crc32_z(crc_, out, step.produced);
    if (rc == Z_STREAM_END) step.finished = true;
    else if (rc == Z_MEM_ERROR) step.out_of_memory = true;
    else if (rc != Z_OK && rc != Z_BUF_ERROR) step.failure = kCorruptDeflate;
    return step;
  }

  // Reads the trailer that follows the deflate data: CRC-32 then ISIZE (the length
  // modulo 2^32), both little-endian.
  Status finish(InputBuffer& in, size_t member_size) {
    unsigned char trailer[8];
    if (Status status = take_bytes(in, trailer, sizeof trailer); !status) return status;
    if (little_endian_32(trailer) != static_cast<uint32_t>(crc_) ||
        little_endian_32(trailer + 4) != static_cast<uint32_t>(member_size)) {
      return Error{ErrorKind::Gzip, kChecksumMismatch};
    }
    return Status::success();
  }

 private:
  z_stream stream_{};
  bool live_ = false;
  uLong crc_ = 0;
};

#endif

}  // namespace

const char* inflater_name() noexcept { return Inflater::kName; }

size_t initial_text_capacity(size_t compressed_size) {
  const size_t guess =
      compressed_size > kMaxInitialText / kExpectedRatio ? kMaxInitialText : compressed_size * kExpectedRatio;
  return std::clamp(guess, kMinInitialText, kMaxInitialText);
}

Status inflate_member_body(InputBuffer& in, ByteBuffer& text, size_t expected_size,
                           const InflateProgress* progress) {
  Inflater inflater;
  if (!inflater.start()) return out_of_memory();
  const size_t start = text.size();
  size_t next_poll = start + kPollStride;
  try {
    // The guess may be far off (a length read from the file): when that much cannot be
    // had, the text grows as it comes instead.
    try {
      if (expected_size > 0 && text.capacity() == 0) reserve_text(text, expected_size);
      else if (expected_size > 0) text.reserve(start + expected_size);
    } catch (const std::bad_alloc&) {
    }
    for (;;) {
      if (text.size() >= next_poll) {
        if (in.interruption.requested()) return interrupted();
        next_poll = text.size() + kPollStride;
      }
      if (in.available() == 0) {
        Result<size_t> got = refill(in);
        if (!got) return got.error();
        if (got.value() == 0) return Error{ErrorKind::Gzip, kUnexpectedEnd};
      }
      if (text.size() == text.capacity()) {
        if (progress != nullptr) progress->before_growth(progress->context);
        text.reserve(grown_capacity(text.capacity()));
      }

      // A few polls' worth of text per call, so that highly compressed input
      // does not hold the poll off for long; a reader waiting for the text gets
      // it in smaller pieces.
      const size_t most = progress != nullptr ? progress->piece_bytes : 8 * kPollStride;
      const size_t room = std::min<size_t>(text.capacity() - text.size(), most);
      const Step step = inflater.run(in.bytes.get() + in.pos, in.available(),
                                     reinterpret_cast<unsigned char*>(text.data() + text.size()), room);
      text.commit(step.produced);
      in.pos += step.consumed;
      if (progress != nullptr && step.produced > 0) progress->published(progress->context, text.size());
      if (step.failure != nullptr) return Error{ErrorKind::Gzip, step.failure};
      if (step.out_of_memory) return out_of_memory();
      if (step.finished) break;
      // Offered input and output room, both inflaters always move forward; a call that
      // does not would loop for ever.
      if (step.produced == 0 && step.consumed == 0) {
        raise_fault("inflate made no progress with input and output available");
      }
    }
  } catch (const std::bad_alloc&) {
    return out_of_memory();
  }
  return inflater.finish(in, text.size() - start);
}

}  // namespace mopsel
