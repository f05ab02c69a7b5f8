#pragma once
// POSIX file access for the loader: opening read-only, the size still to read, reads
// retried after signals.
#include <cstddef>
#include <string>
#include <string_view>

#include "model/os_error.hpp"
#include "model/owned_array.hpp"
#include "model/result.hpp"

namespace mopsel {

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

// Opens `path` (bytes used unchanged) read-only and close-on-exec, retrying when a signal
// interrupts. Fails with "file name contained an unexpected NUL byte" or an OS error text.
Result<OpenFile> open_for_reading(std::string_view path);

// Bytes between the current offset and the end of the file as the system reports them;
// 0 when that is unknown (pipes, devices, a failed query) or the offset is past the end.
size_t remaining_size_hint(int fd);

// One read(2) of at most `room` bytes into `into`, retried when a signal interrupts.
// Returns the count read (0 at end of file) or an OS error text.
Result<size_t> read_some(int fd, char* into, size_t room);

// Reads everything left in `fd` into one buffer reserved for `size_hint` bytes, growing it
// when the file turns out longer (size unknown, or it grew since the size was taken).
// Fails with "out of memory" when a reservation fails, or with an OS error text.
Result<ByteBuffer> read_to_end(int fd, size_t size_hint);

// The capacity to grow a full buffer of `current` bytes to: doubling, at least 64 KiB
// more, and at most 1 GiB more at a time so that a large text does not overshoot by as
// much again. Throws std::bad_alloc when the size would overflow.
size_t grown_capacity(size_t current);

}  // namespace mopsel
