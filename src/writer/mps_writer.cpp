#include "writer/mps_writer.hpp"

#include <new>

#include "files/output_file.hpp"
#include "platform/text_buffer.hpp"
#include "writer/buffer_sink.hpp"
#include "writer/file_sink.hpp"
#include "writer/gzip_sink.hpp"
#include "writer/mps_text.hpp"
#include "writer/record_checks.hpp"
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
  check_writable(record);
  // One allocation for the whole text on usual models: growing a buffer of many
  // megabytes by doubling copies it each time. Compressed text takes about a
  // tenth. It is only a hint: when that much cannot be had, the buffer grows as needed.
  // A fresh buffer is reserved the way the loader's is, so that first touching a large
  // text costs little (text_buffer.hpp).
  try {
    const size_t estimate = estimate_text_size(record);
    const size_t wanted = options.gzip ? estimate / 8 : estimate;
    if (out.capacity() == 0) reserve_text(out, wanted);
    else out.reserve(out.size() + wanted);
  } catch (const std::bad_alloc&) {
  }
  BufferSink sink(out, interruption);
  render(record, sink, options);
  if (!sink.ok()) return interrupted();
  return Status::success();
}

Status write_mps_to_file(const ModelRecord& record, std::string_view path, const WriteOptions& options,
                         const Interruption& interruption) {
  // Every check before the file is touched: an inconsistent record leaves it as it was.
  check_writable(record);
  Result<OutputFile> output = OutputFile::open(path, interruption);
  if (!output) return output.error();
  Status written;
  {
    FileSink sink(output.value().release_descriptor(), nullptr, interruption);
    render(record, sink, options);
    written = sink.finish();
  }  // closed here; on failure the output's destructor removes a temporary
  if (!written) return written;
  return output.value().commit();
}

}  // namespace mopsel
