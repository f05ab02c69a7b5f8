#include "source/load_source.hpp"

#include <string>
#include <utility>

#include "source/gzip_member.hpp"
#include "source/posix_file.hpp"

namespace mopsel {
namespace {

// The format comes from the name alone, case-sensitively: "x.GZ" is read as plain bytes.
bool names_gzip(std::string_view path) {
  return path.size() >= 3 && path.substr(path.size() - 3) == ".gz";
}

}  // namespace

Result<ByteBuffer> load_source(std::string_view path) {
  Result<OpenFile> opened = open_for_reading(path);
  if (!opened) return Error{ErrorKind::Load, "Cannot open file: " + opened.error().message};
  // The file is closed when `file` goes away, after success and failure alike.
  const OpenFile file = std::move(opened.value());

  Result<ByteBuffer> text =
      names_gzip(path) ? decode_gzip_member(file.fd) : read_to_end(file.fd, remaining_size_hint(file.fd));
  if (!text) return Error{ErrorKind::Load, "Read error: " + text.error().message};
  return text;
}

}  // namespace mopsel
