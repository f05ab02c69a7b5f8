#pragma once
// The in-memory sink: text is appended to a growable byte buffer. It cannot
// fail short of std::bad_alloc.
#include <string_view>

#include "model/owned_array.hpp"

namespace mopsel {

struct BufferSink {
  ByteBuffer& out;

  void put(std::string_view piece) { out.append(piece.data(), piece.size()); }
  static constexpr bool ok() noexcept { return true; }
};

}  // namespace mopsel
