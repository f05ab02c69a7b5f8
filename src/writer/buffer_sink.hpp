#pragma once
// The in-memory sink: text is appended to a growable byte buffer. It cannot
// fail short of std::bad_alloc.
#include <cstddef>
#include <string_view>

#include "model/owned_array.hpp"

namespace mopsel {

struct BufferSink {
  ByteBuffer& out;

  void put(std::string_view piece) { out.append(piece.data(), piece.size()); }

  // Room for a line of at most `bound` bytes at the end of the text; the line
  // written there counts once line_done is given its end. Never null.
  char* line_space(size_t bound) {
    if (out.capacity() - out.size() < bound) [[unlikely]]
      grow(bound);
    return out.data() + out.size();
  }
  void line_done(const char* end) { out.commit(static_cast<size_t>(end - (out.data() + out.size()))); }

  static constexpr bool ok() noexcept { return true; }

 private:
  // Doubles the capacity (at least 64 KiB), or more when `bound` needs it.
  void grow(size_t bound) {
    size_t wanted = out.capacity() < (size_t{1} << 16) ? (size_t{1} << 16) : 2 * out.capacity();
    if (wanted - out.size() < bound) wanted = out.size() + bound;
    out.reserve(wanted);
  }
};

}  // namespace mopsel
