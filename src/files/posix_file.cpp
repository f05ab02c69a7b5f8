#include "files/posix_file.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <new>
#include <utility>

#include "files/parallel_read.hpp"
#include "platform/reading_threads.hpp"
#include "platform/text_buffer.hpp"

namespace mopsel {
namespace {

// strerror_r comes in two flavours: GNU returns the text, XSI fills the buffer.
[[maybe_unused]] const char* strerror_text(const char* gnu_result, const char*) { return gnu_result; }
[[maybe_unused]] const char* strerror_text(int xsi_result, const char* buffer) {
  return xsi_result == 0 ? buffer : "Unknown error";
}

// One read(2) copies at most this much: a copy of a gigabyte from the page cache
// alone would take longer than an interrupt may wait.
constexpr size_t kMaxReadRequest = kPollStride;

constexpr size_t kMinGrowth = size_t{64} << 10;
constexpr size_t kMaxGrowth = size_t{1} << 30;

}  // namespace

std::string os_error_text(int error_number) {
  char buffer[256] = {};
  std::string message(strerror_text(strerror_r(error_number, buffer, sizeof buffer), buffer));
  message += " (os error ";
  message += std::to_string(error_number);
  message += ')';
  return message;
}

Error os_error(int error_number) {
  Error error{ErrorKind::Os, os_error_text(error_number)};
  error.os_error = error_number;
  return error;
}

Result<int> open_path(std::string_view path, int flags, const Interruption& interruption) {
  if (path.find('\0') != std::string_view::npos) return Error{ErrorKind::Os, std::string(kNulInPath)};
  const std::string terminated(path);
  for (;;) {
    const int fd = ::open(terminated.c_str(), flags, 0666);
    if (fd >= 0) return fd;
    if (errno != EINTR) return os_error(errno);
    if (interruption.requested(true)) return interrupted();
  }
}

OpenFile::OpenFile(OpenFile&& other) noexcept : fd(std::exchange(other.fd, -1)) {}

OpenFile& OpenFile::operator=(OpenFile&& other) noexcept {
  if (this != &other) {
    if (fd >= 0) ::close(fd);
    fd = std::exchange(other.fd, -1);
  }
  return *this;
}

OpenFile::~OpenFile() {
  // Not retried on EINTR: on Linux the descriptor is released even then.
  if (fd >= 0) ::close(fd);
}

Result<OpenFile> open_for_reading(std::string_view path, const Interruption& interruption) {
  Result<int> fd = open_path(path, O_RDONLY | O_CLOEXEC, interruption);
  if (!fd) return fd.error();
  return OpenFile(fd.value());
}

size_t remaining_size_hint(int fd) {
  struct stat info {};
  if (::fstat(fd, &info) != 0 || info.st_size <= 0) return 0;
  const off_t offset = ::lseek(fd, 0, SEEK_CUR);
  if (offset < 0 || offset >= info.st_size) return 0;
  const auto remaining = static_cast<uintmax_t>(info.st_size - offset);
  return remaining > SIZE_MAX ? SIZE_MAX : static_cast<size_t>(remaining);
}

Result<size_t> read_some(int fd, char* into, size_t room, const Interruption& interruption) {
  room = std::min(room, kMaxReadRequest);
  for (;;) {
    const ssize_t got = ::read(fd, into, room);
    if (got >= 0) return static_cast<size_t>(got);
    if (errno != EINTR) return os_error(errno);
    if (interruption.requested(true)) return interrupted();
  }
}

size_t grown_capacity(size_t current) {
  const size_t step = std::clamp(current, kMinGrowth, kMaxGrowth);
  if (current > SIZE_MAX - step) throw std::bad_alloc();
  return current + step;
}

Result<ByteBuffer> read_to_end(int fd, size_t size_hint, const Interruption& interruption) {
  try {
    ByteBuffer text;
    if (size_hint > 0) reserve_text(text, size_hint);
    if (const ThreadPlan plan = reading_thread_plan(); plan.threads > 1 && size_hint >= plan.load_min_bytes) {
      // A large file: its start is read by several threads, the rest below as usual.
      const off_t offset = ::lseek(fd, 0, SEEK_CUR);
      if (offset >= 0) {
        const ParallelReadResult start = read_in_parallel(fd, offset, text.data(), size_hint, plan, interruption);
        if (start.interrupted) return interrupted();
        text.commit(start.prefix);
        if (start.prefix > 0 && ::lseek(fd, offset + static_cast<off_t>(start.prefix), SEEK_SET) < 0) {
          return os_error(errno);
        }
      }
    }
    for (;;) {
      if (interruption.requested()) return interrupted();
      if (text.size() == text.capacity()) {
        // Full: normally the end of a file whose size was known, so a small probe read
        // finds the end without regrowing. Otherwise the size was unknown or the file
        // grew, and the probe's bytes start the next stretch.
        char probe[4096];
        Result<size_t> got = read_some(fd, probe, sizeof probe, interruption);
        if (!got) return got.error();
        if (got.value() == 0) return text;
        text.reserve(grown_capacity(text.capacity()));
        text.append(probe, got.value());
        continue;
      }
      Result<size_t> got =
          read_some(fd, text.data() + text.size(), text.capacity() - text.size(), interruption);
      if (!got) return got.error();
      // A file that shrank since its size was taken just ends early.
      if (got.value() == 0) return text;
      text.commit(got.value());
    }
  } catch (const std::bad_alloc&) {
    return out_of_memory();
  }
}

}  // namespace mopsel
