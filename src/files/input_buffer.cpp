#include "files/input_buffer.hpp"

#include <algorithm>
#include <cstring>
#include <new>

#include "model/fault.hpp"
#include "files/posix_file.hpp"

namespace mopsel {

Result<InputBuffer> make_input_buffer(int fd, const Interruption& interruption) {
  InputBuffer in;
  in.fd = fd;
  in.interruption = interruption;
  // Value-initialised, so the buffer starts zero-filled.
  in.bytes.reset(new (std::nothrow) unsigned char[kInputBufferSize]());
  if (!in.bytes) return out_of_memory();
  return in;
}

Result<size_t> refill(InputBuffer& in) {
  if (in.pos != in.end) raise_fault("input buffer refilled while it still holds bytes");
  Result<size_t> got =
      read_some(in.fd, reinterpret_cast<char*>(in.bytes.get()), kInputBufferSize, in.interruption);
  if (!got) return got;
  in.pos = 0;
  in.end = got.value();
  return got;
}

Result<size_t> buffer_ahead(InputBuffer& in, size_t count) {
  while (in.available() < count) {
    std::memmove(in.bytes.get(), in.bytes.get() + in.pos, in.available());
    in.end -= in.pos;
    in.pos = 0;
    Result<size_t> got = read_some(in.fd, reinterpret_cast<char*>(in.bytes.get()) + in.end,
                                   kInputBufferSize - in.end, in.interruption);
    if (!got) return got.error();
    if (got.value() == 0) break;
    in.end += got.value();
  }
  return in.available();
}

Status require_byte(InputBuffer& in) {
  if (in.pos < in.end) return Status::success();
  Result<size_t> got = refill(in);
  if (!got) return got.error();
  if (got.value() == 0) return Error{ErrorKind::Gzip, kUnexpectedEnd};
  return Status::success();
}

Status take_bytes(InputBuffer& in, unsigned char* out, size_t count) {
  while (count > 0) {
    if (Status status = require_byte(in); !status) return status;
    const size_t n = std::min(count, in.available());
    std::memcpy(out, in.bytes.get() + in.pos, n);
    in.pos += n;
    out += n;
    count -= n;
  }
  return Status::success();
}

}  // namespace mopsel
