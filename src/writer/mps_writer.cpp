#include "writer/mps_writer.hpp"

#include <fcntl.h>

#include <new>

#include "source/posix_file.hpp"
#include "writer/buffer_sink.hpp"
#include "writer/file_sink.hpp"
#include "writer/mps_text.hpp"
#include "writer/text_size.hpp"

namespace mopsel {

Status write_mps_to_buffer(const ModelRecord& record, ByteBuffer& out) {
  // One allocation for the whole text on usual models: growing a buffer of many
  // megabytes by doubling copies it each time.
  // It is only a hint: when that much cannot be had, the buffer grows as needed.
  try {
    out.reserve(out.size() + estimate_text_size(record));
  } catch (const std::bad_alloc&) {
  }
  BufferSink sink(out);
  write_mps(record, sink);
  return Status::success();
}

Status write_mps_to_file(const ModelRecord& record, std::string_view path) {
  Result<int> fd = open_path(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC);
  if (!fd) return fd.error();
  // On an internal fault the sink's destructor still writes out the buffered
  // text and closes the file, so the file keeps everything produced so far.
  FileSink sink(fd.value());
  write_mps(record, sink);
  return sink.finish();
}

}  // namespace mopsel
