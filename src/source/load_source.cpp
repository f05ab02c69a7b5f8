#include "source/load_source.hpp"

#include <string>
#include <utility>

#include "gzip/gzip_member.hpp"
#include "files/posix_file.hpp"

namespace mopsel {
namespace {

// A Load error with `prefix` before the inner message, keeping the inner details;
// an interruption stays what it is.
Error load_error(std::string_view prefix, const Error& inner) {
  if (inner.kind == ErrorKind::Interrupted) return inner;
  Error error{ErrorKind::Load, std::string(prefix) + inner.message};
  error.reason = inner.message;
  error.os_error = inner.os_error;
  if (inner.kind == ErrorKind::Gzip) error.cause = FindingCode::CompressedData;
  return error;
}

}  // namespace

bool names_gzip(std::string_view path) noexcept { return path.ends_with(".gz"); }

Result<ByteBuffer> load_source(std::string_view path, const Interruption& interruption) {
  return load_source(path, names_gzip(path), interruption);
}

Result<ByteBuffer> load_source(std::string_view path, bool gzip, const Interruption& interruption) {
  Result<OpenFile> opened = open_for_reading(path, interruption);
  if (!opened) return load_error("Cannot open file: ", opened.error());
  // The file is closed when `file` goes away, after success and failure alike.
  const OpenFile file = std::move(opened.value());

  Result<ByteBuffer> text = gzip ? decode_gzip_members(file.fd, interruption)
                                 : read_to_end(file.fd, remaining_size_hint(file.fd), interruption);
  if (!text) return load_error("Read error: ", text.error());
  return text;
}

Result<ByteBuffer> load_gzip_streamed(std::string_view path, const Interruption& interruption,
                                      const ArrivingTextReader& reader, bool& streamed) {
  streamed = false;
  Result<OpenFile> opened = open_for_reading(path, interruption);
  if (!opened) return load_error("Cannot open file: ", opened.error());
  const OpenFile file = std::move(opened.value());
  Result<ByteBuffer> text = decode_gzip_streamed(file.fd, interruption, reader, streamed);
  if (!text) return load_error("Read error: ", text.error());
  return text;
}

}  // namespace mopsel
