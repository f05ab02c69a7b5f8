#include "writer/mps_writer.hpp"

#include <fcntl.h>

#include <new>

#include "source/posix_file.hpp"
#include "writer/buffer_sink.hpp"
#include "writer/file_sink.hpp"
#include "writer/gzip_sink.hpp"
#include "writer/mps_text.hpp"
#include "writer/text_size.hpp"

namespace mopsel {
namespace {

// Renders into `sink` (the fixed layout on its own path), or through a gzip sink
// in front of it.
template <class Sink>
void render(const ModelRecord& record, Sink& sink, const WriteOptions& options) {
  if (!options.gzip) {
    if (options.digits == kFixedLayoutDigits) write_mps(record, sink);
    else write_mps_with_options(record, sink, options);
    return;
  }
  GzipSink<Sink> compressed(sink);
  write_mps_with_options(record, compressed, options);
  if (compressed.ok()) compressed.finish();
}

}  // namespace

Status write_mps_to_buffer(const ModelRecord& record, ByteBuffer& out, const WriteOptions& options,
                           const Interruption& interruption) {
  // One allocation for the whole text on usual models: growing a buffer of many
  // megabytes by doubling copies it each time. Compressed text takes about a
  // tenth. It is only a hint: when that much cannot be had, the buffer grows as needed.
  try {
    const size_t estimate = estimate_text_size(record);
    out.reserve(out.size() + (options.gzip ? estimate / 8 : estimate));
  } catch (const std::bad_alloc&) {
  }
  BufferSink sink(out, interruption);
  render(record, sink, options);
  if (!sink.ok()) return interrupted();
  return Status::success();
}

Status write_mps_to_file(const ModelRecord& record, std::string_view path, const WriteOptions& options,
                         const Interruption& interruption) {
  Result<int> fd = open_path(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, interruption);
  if (!fd) return fd.error();
  // On an internal fault the sink's destructor still writes out the buffered
  // text and closes the file, so the file keeps everything produced so far.
  FileSink sink(fd.value(), nullptr, interruption);
  render(record, sink, options);
  return sink.finish();
}

}  // namespace mopsel
