#include "writer/file_sink.hpp"

#include <unistd.h>

#include <cerrno>
#include <string>

#include "files/posix_file.hpp"

namespace mopsel {
namespace {

// write_all's result when the interruption asked to stop.
constexpr int kInterrupted = -2;

}  // namespace

// Writes all of [data, data + size). Returns 0 on success, -1 when the file
// accepted no bytes, kInterrupted, or the errno of the failure. A write cut short
// by a signal asks the interruption and goes on unless it says stop. `written`
// counts the bytes accepted, also on failure.
int FileSink::write_all(const char* data, size_t size, size_t& written) {
  written = 0;
  while (written < size) {
    const ssize_t n = raw_write_(fd_, data + written, size - written);
    if (n > 0) {
      written += static_cast<size_t>(n);
    } else if (n == 0) {
      return -1;
    } else if (errno != EINTR) {
      return errno;
    } else if (interruption_.requested(true)) {
      return kInterrupted;
    }
  }
  unpolled_ += size;
  if (unpolled_ >= kPollStride) {
    unpolled_ = 0;
    if (interruption_.requested()) return kInterrupted;
  }
  return 0;
}

FileSink::FileSink(int fd, RawWrite raw_write, const Interruption& interruption) noexcept
    : fd_(fd), raw_write_(raw_write != nullptr ? raw_write : ::write), interruption_(interruption) {}

FileSink::~FileSink() {
  // After an interruption nothing more is written: the caller asked to stop.
  if (used_ != 0 && !(failed_ && error_->kind == ErrorKind::Interrupted)) flush_buffer(false);
  ::close(fd_);
}

void FileSink::fail(int result, const char* accepted_nothing) {
  failed_ = true;
  if (result == kInterrupted) {
    error_ = interrupted();
  } else {
    error_ = result < 0 ? Error{ErrorKind::Os, accepted_nothing} : os_error(result);
  }
}

bool FileSink::flush_buffer(bool record_error) {
  size_t written = 0;
  const int result = write_all(buffer_, used_, written);
  // Keep only what the file has not taken yet.
  if (written != 0) {
    std::memmove(buffer_, buffer_ + written, used_ - written);
    used_ -= written;
  }
  if (result == 0) return true;
  if (record_error) fail(result, "failed to write the buffered data");
  return false;
}

// This is uncommon: the piece does not fit in the space left.
void FileSink::put_large(std::string_view piece) {
  if (used_ != 0 && !flush_buffer(true)) return;
  if (piece.size() < kCapacity) {
    std::memcpy(buffer_, piece.data(), piece.size());
    used_ = piece.size();
    return;
  }
  size_t written = 0;
  const int result = write_all(piece.data(), piece.size(), written);
  if (result != 0) fail(result, "failed to write whole buffer");
}

Status FileSink::finish() {
  if (!failed_ && used_ != 0) flush_buffer(true);
  if (failed_) return *error_;
  return Status::success();
}

}  // namespace mopsel
