#include "writer/mps_writer.hpp"

#include <optional>
#include <string>
#include <utility>

#include "platform/text_buffer.hpp"
#include "writer/buffer_sink.hpp"
#include "writer/gzip_sink.hpp"
#include "writer/mps_text.hpp"
#include "writer/name_checks.hpp"
#include "writer/number_format.hpp"
#include "writer/text_output.hpp"

namespace mopsel {
namespace {

Error unwritable(std::string what) { return {ErrorKind::Unwritable, std::move(what) + ": nothing written"}; }

// Free MPS: renders into `sink` (the fixed layout on its own path), or through a gzip
// sink in front of it; a name the text cannot carry is refused first.
struct MpsText {
  static Status check(const ModelRecord& record, const WriteOptions& options) {
    if (std::optional<std::string> name = unwritable_name(record, options.fixed_columns)) return unwritable(*name);
    return Status::success();
  }

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

// Puts finished text into `sink`, or through a gzip sink in front of it.
template <class Sink>
void put_text(std::string_view text, Sink& sink, bool gzip) {
  if (!gzip) {
    sink.put(text);
    return;
  }
  GzipSink<Sink> compressed(sink);
  compressed.put(text);
  if (compressed.ok()) compressed.finish();
}

// Fixed-format text, checked and rendered whole into `text` first: a number that does
// not fit its columns shows only while rendering, and nothing may be written then.
Status render_fixed_columns(const ModelRecord& record, ByteBuffer& text, const WriteOptions& options,
                            const Interruption& interruption) {
  if (Status checked = check_text<MpsText>(record, options); !checked) return checked;
  std::optional<double> too_long;
  bool ok = false;
  {
    BufferSink sink(text, interruption);
    too_long = write_mps_fixed_columns(record, sink, options);
    ok = sink.ok();
  }
  if (!ok) return interrupted();
  if (too_long) {
    char shortest[kMaxNumberChars];
    const std::string value(shortest, format_number_shortest(*too_long, shortest));
    return unwritable("the number " + value + " does not fit the 12 characters of a fixed-format field exactly");
  }
  return Status::success();
}

}  // namespace

Status write_mps_to_buffer(const ModelRecord& record, ByteBuffer& out, const WriteOptions& options,
                           const Interruption& interruption) {
  if (!options.fixed_columns) return write_text_to_buffer<MpsText>(record, out, options, interruption);
  ByteBuffer text;
  if (Status rendered = render_fixed_columns(record, text, options, interruption); !rendered) return rendered;
  BufferSink sink(out, interruption);
  put_text(as_view(text), sink, options.gzip);
  return sink.ok() ? Status::success() : Status(interrupted());
}

Status write_bytes_to_file(std::string_view bytes, std::string_view path, const Interruption& interruption) {
  return write_to_file(path, interruption, [&](FileSink& sink) { sink.put(bytes); });
}

Status write_mps_to_file(const ModelRecord& record, std::string_view path, const WriteOptions& options,
                         const Interruption& interruption) {
  if (!options.fixed_columns) return write_text_to_file<MpsText>(record, path, options, interruption);
  // Every check and the whole text before the file is touched.
  ByteBuffer text;
  if (Status rendered = render_fixed_columns(record, text, options, interruption); !rendered) return rendered;
  return write_to_file(path, interruption, [&](FileSink& sink) {
    put_text(text.empty() ? std::string_view() : as_view(text), sink, options.gzip);
  });
}

}  // namespace mopsel
