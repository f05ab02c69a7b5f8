#pragma once
// POSIX file access: the text of an error number, opening a path (shared by the loader
// and the file writer), and the loader's reads, retried after signals.
#include <cstddef>
#include <string>
#include <string_view>

#include "model/interrupt.hpp"
#include "model/owned_array.hpp"
#include "model/result.hpp"

namespace mopsel {

inline constexpr std::string_view kNulInPath = "file name contained an unexpected NUL byte";

// The C library's description of an error number followed by the number, for
// example "No such file or directory (os error 2)".
std::string os_error_text(int error_number);

// An Os error with os_error_text(error_number), carrying the number.
Error os_error(int error_number);

// Opens `path` (its bytes used as given) with the open(2) `flags` and, when the file is
// created, mode 0666 before the umask. An open interrupted by a signal (a FIFO waiting
// for its other end blocks here) asks `interruption` and is retried unless it says
// stop. Returns the descriptor, or an Os error: kNulInPath for a path holding a NUL
// byte (no system call can take it), otherwise the system's error text; or Interrupted.
Result<int> open_path(std::string_view path, int flags, const Interruption& interruption = {});

// An open file descriptor that is closed when its owner goes away. A failed close is not
// reported: the file was only read.
struct OpenFile {
  int fd = -1;

  OpenFile() = default;
  explicit OpenFile(int descriptor) noexcept : fd(descriptor) {}
  OpenFile(const OpenFile&) = delete;
  OpenFile& operator=(const OpenFile&) = delete;
  OpenFile(OpenFile&& other) noexcept;
  OpenFile& operator=(OpenFile&& other) noexcept;
  ~OpenFile();
};

// Opens `path` read-only and close-on-exec; fails as open_path.
Result<OpenFile> open_for_reading(std::string_view path, const Interruption& interruption = {});

// Bytes between the current offset and the end of the file as the system reports them;
// 0 when that is unknown (pipes, devices, a failed query) or the offset is past the end.
size_t remaining_size_hint(int fd);

// One read(2) of at most `room` bytes (and at most kPollStride) into `into`. A read
// interrupted by a signal asks `interruption` and is retried unless it says stop.
// Returns the count read (0 at end of file), an Os error or Interrupted.
Result<size_t> read_some(int fd, char* into, size_t room, const Interruption& interruption = {});

// Reads everything left in `fd` into one buffer reserved for `size_hint` bytes, growing it
// when the file turns out longer (size unknown, or it grew since the size was taken),
// polling `interruption` between reads. With a `size_hint` of reading_thread_plan()'s
// load_min_bytes or more, that much is read by several threads first (parallel_read.hpp).
// Fails with OutOfMemory when a reservation fails, with an Os error, or with Interrupted.
Result<ByteBuffer> read_to_end(int fd, size_t size_hint, const Interruption& interruption = {});

// The capacity to grow a full buffer of `current` bytes to: doubling, at least 64 KiB
// more, and at most 1 GiB more at a time so that a large text does not overshoot by as
// much again. Throws std::bad_alloc when the size would overflow.
size_t grown_capacity(size_t current);

}  // namespace mopsel
