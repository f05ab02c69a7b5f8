#pragma once
// The gzip sink: text is compressed as it is written, and the compressed bytes
// go on to another sink (the file sink or the in-memory one).
//
// The output is one gzip member with zlib's plain header (no name, no comment,
// modification time 0), so equal texts always give equal bytes. Lines are
// rendered into a 64 KiB input buffer that is deflated whenever a line does not
// fit; the compressed bytes leave through a 64 KiB output buffer as pieces of
// the next sink, which keeps its own flushing rule and its own first error.
#include <zlib.h>

#include <cstddef>
#include <memory>
#include <string_view>

#include "writer/sink.hpp"

namespace mopsel {

// Deflate level 1: on nw04 it compresses the text about 9.3 to 1 and keeps
// writing to a gzip file above 100 MB/s of text (bench/README.md); higher levels
// gain a few percent of size for half the speed or less.
inline constexpr int kGzipLevel = 1;

template <TextSink Out>
class GzipSink {
 public:
  static constexpr size_t kInput = size_t{1} << 16;
  static constexpr size_t kOutput = size_t{1} << 16;

  // Throws std::bad_alloc when zlib cannot allocate its state.
  explicit GzipSink(Out& out);
  GzipSink(const GzipSink&) = delete;
  GzipSink& operator=(const GzipSink&) = delete;
  // Frees the deflate state. Text not yet finished is dropped: after a failure
  // the next sink holds a member without its end.
  ~GzipSink();

  void put(std::string_view piece);

  // Room for a line of at most `bound` bytes, deflating the buffered text first
  // when it does not fit; null for a line longer than the whole buffer (it is
  // then put as one piece) or once the next sink has failed.
  char* line_space(size_t bound) {
    if (bound > kInput - used_) [[unlikely]] {
      if (bound > kInput) return nullptr;
      drain();
    }
    return out_.ok() ? input_.get() + used_ : nullptr;
  }
  void line_done(const char* end) noexcept { used_ = static_cast<size_t>(end - input_.get()); }
  [[nodiscard]] size_t free_space() const noexcept { return out_.ok() ? kInput - used_ : 0; }

  [[nodiscard]] bool ok() const noexcept { return out_.ok(); }

  // Deflates the rest of the text and writes the gzip trailer into the next sink.
  void finish();

 private:
  void drain();
  void deflate_bytes(const char* data, size_t size, int flush);

  Out& out_;
  z_stream stream_{};
  std::unique_ptr<char[]> input_;
  std::unique_ptr<char[]> output_;
  size_t used_ = 0;
};

}  // namespace mopsel
