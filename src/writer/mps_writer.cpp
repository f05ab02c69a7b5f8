#include "writer/mps_writer.hpp"

#include "writer/gzip_sink.hpp"
#include "writer/mps_text.hpp"
#include "writer/text_output.hpp"

namespace mopsel {
namespace {

// Renders into `sink` (the fixed layout on its own path), or through a gzip sink
// in front of it.
struct MpsText {
  template <class Sink>
  static void render(const ModelRecord& record, Sink& sink, const WriteOptions& options) {
    if (!options.gzip) {
      if (options.digits == kFixedLayoutDigits) write_mps(record, sink);
      else write_mps_with_options(record, sink, options);
      return;
    }
    GzipSink<Sink> compressed(sink);
    write_mps_with_options(record, compressed, options);
    if (compressed.ok()) compressed.finish();
  }
};

}  // namespace

Status write_mps_to_buffer(const ModelRecord& record, ByteBuffer& out, const WriteOptions& options,
                           const Interruption& interruption) {
  return write_text_to_buffer<MpsText>(record, out, options, interruption);
}

Status write_mps_to_file(const ModelRecord& record, std::string_view path, const WriteOptions& options,
                         const Interruption& interruption) {
  return write_text_to_file<MpsText>(record, path, options, interruption);
}

}  // namespace mopsel
