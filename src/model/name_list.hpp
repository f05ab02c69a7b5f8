#pragma once
// A sequence of names stored back to back in one byte buffer.
//
// Models can have millions of names; one blob plus an offset table costs two
// allocations instead of one per name, and copying the list is two block copies.
#include <cstdint>
#include <string_view>

#include "model/owned_array.hpp"

namespace mopsel {

struct NameList {
  ByteBuffer bytes;            // all names, concatenated
  OwnedArray<uint64_t> ends;   // ends[i] is the offset just past name i

  [[nodiscard]] size_t size() const noexcept { return ends.size(); }

  [[nodiscard]] std::string_view operator[](size_t i) const noexcept {
    const uint64_t begin = i == 0 ? 0 : ends[i - 1];
    return {bytes.data() + begin, static_cast<size_t>(ends[i] - begin)};
  }

  void push_back(std::string_view name) {
    bytes.append(name.data(), name.size());
    ends.push_back(bytes.size());
  }
};

}  // namespace mopsel
