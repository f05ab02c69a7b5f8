#pragma once
// The two destinations of a written text, shared by the MPS and LP writers: a
// growing buffer, or a file replaced whole once the text is complete. `Text` is a
// format: a struct whose static `render(record, sink, options)` writes the text
// into any sink, gzip included (options.gzip is for it to apply), and whose static
// `check(record, options)`, when it has one, refuses a record before anything is written.
#include <new>
#include <string_view>

#include "files/output_file.hpp"
#include "model/interrupt.hpp"
#include "model/model_record.hpp"
#include "model/owned_array.hpp"
#include "model/result.hpp"
#include "platform/text_buffer.hpp"
#include "writer/buffer_sink.hpp"
#include "writer/file_sink.hpp"
#include "writer/record_checks.hpp"
#include "writer/text_size.hpp"
#include "writer/write_options.hpp"

namespace mopsel {

// check_writable, then the format's own check.
template <class Text>
Status check_text(const ModelRecord& record, const WriteOptions& options) {
  check_writable(record);
  if constexpr (requires { Text::check(record, options); }) return Text::check(record, options);
  return Status::success();
}

// Opens the output for `path`, has `fill(sink)` write the text through the file's
// buffer, and puts the file in place once it is all written.
template <class Fill>
Status write_to_file(std::string_view path, const Interruption& interruption, Fill&& fill) {
  Result<OutputFile> output = OutputFile::open(path, interruption);
  if (!output) return output.error();
  Status written;
  {
    FileSink sink(output.value().release_descriptor(), nullptr, interruption);
    fill(sink);
    written = sink.finish();
  }  // closed here; on failure the output's destructor removes a temporary
  if (!written) return written;
  return output.value().commit();
}

template <class Text>
Status write_text_to_buffer(const ModelRecord& record, ByteBuffer& out, const WriteOptions& options,
                            const Interruption& interruption) {
  if (Status checked = check_text<Text>(record, options); !checked) return checked;
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
  Text::render(record, sink, options);
  if (!sink.ok()) return interrupted();
  return Status::success();
}

template <class Text>
Status write_text_to_file(const ModelRecord& record, std::string_view path, const WriteOptions& options,
                          const Interruption& interruption) {
  // Every check before the file is touched: an inconsistent record leaves it as it was.
  if (Status checked = check_text<Text>(record, options); !checked) return checked;
  return write_to_file(path, interruption, [&](FileSink& sink) { Text::render(record, sink, options); });
}

}  // namespace mopsel
