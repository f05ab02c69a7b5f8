#include "writer/gzip_sink.hpp"

#include <algorithm>
#include <climits>
#include <new>
#include <string>

#include "model/fault.hpp"
#include "writer/buffer_sink.hpp"
#include "writer/file_sink.hpp"

namespace mopsel {
namespace {

// windowBits 15 + 16 asks zlib for the gzip wrapper; memLevel 8 is its default.
constexpr int kGzipWindowBits = 15 + 16;
constexpr int kMemLevel = 8;

}  // namespace

template <TextSink Out>
GzipSink<Out>::GzipSink(Out& out) : out_(out), input_(new char[kInput]), output_(new char[kOutput]) {
  const int status =
      deflateInit2(&stream_, kGzipLevel, Z_DEFLATED, kGzipWindowBits, kMemLevel, Z_DEFAULT_STRATEGY);
  if (status == Z_MEM_ERROR) throw std::bad_alloc();
  if (status != Z_OK) raise_fault("deflateInit2 failed with status " + std::to_string(status));
}

template <TextSink Out>
GzipSink<Out>::~GzipSink() {
  deflateEnd(&stream_);
}

template <TextSink Out>
void GzipSink<Out>::put(std::string_view piece) {
  if (piece.size() > kInput - used_) [[unlikely]] {
    drain();
    if (piece.size() > kInput) {
      deflate_bytes(piece.data(), piece.size(), Z_NO_FLUSH);
      return;
    }
  }
  std::copy(piece.begin(), piece.end(), input_.get() + used_);
  used_ += piece.size();
}

template <TextSink Out>
void GzipSink<Out>::drain() {
  deflate_bytes(input_.get(), used_, Z_NO_FLUSH);
  used_ = 0;
}

template <TextSink Out>
void GzipSink<Out>::finish() {
  deflate_bytes(input_.get(), used_, Z_FINISH);
  used_ = 0;
}

// zlib's usual loop: deflate until it takes all the input (and, when finishing,
// until it has written the trailer), handing each full output buffer on. zlib
// counts input in 32-bit units, so very large pieces go in slices.
template <TextSink Out>
void GzipSink<Out>::deflate_bytes(const char* data, size_t size, int flush) {
  do {
    const size_t slice = std::min<size_t>(size, UINT_MAX);
    const bool last = slice == size;
    stream_.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data));
    stream_.avail_in = static_cast<uInt>(slice);
    const int mode = last ? flush : Z_NO_FLUSH;
    int status = Z_OK;
    do {
      stream_.next_out = reinterpret_cast<Bytef*>(output_.get());
      stream_.avail_out = static_cast<uInt>(kOutput);
      status = deflate(&stream_, mode);
      if (status == Z_STREAM_ERROR) raise_fault("deflate failed");
      const size_t produced = kOutput - stream_.avail_out;
      if (produced != 0 && out_.ok()) out_.put({output_.get(), produced});
    } while (stream_.avail_out == 0 || (mode == Z_FINISH && status != Z_STREAM_END));
    data += slice;
    size -= slice;
  } while (size != 0);
}

template class GzipSink<BufferSink>;
template class GzipSink<FileSink>;
static_assert(TextSink<GzipSink<BufferSink>> && TextSink<GzipSink<FileSink>>);

}  // namespace mopsel
