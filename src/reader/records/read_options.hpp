#pragma once
// How a text is to be read, beyond the default (free format, tolerant, silent).
#include <cstddef>
#include <cstdint>

namespace mopsel {

// Free: fields are separated by blanks. Fixed: fields sit in the classic columns
// 2-3, 5-12, 15-22, 25-36, 40-47 and 50-61, so names may hold blanks. Auto: free,
// unless a record shows that the text needs fixed columns (careful_lines.hpp gives
// the rule); then the whole text is read as fixed.
enum class Format : uint8_t { Free, Fixed, Auto };

struct ReadOptions {
  Format format = Format::Free;
  // Fail at the first finding that the default reading passes over silently.
  bool strict = false;
  // Collect every finding (at most `limit` of each code) instead of reading a model;
  // reading goes on past failures where it can.
  bool collect = false;
  size_t limit = 100;

  [[nodiscard]] bool is_default() const noexcept { return format == Format::Free && !strict && !collect; }
};

}  // namespace mopsel
