#pragma once
// Which BOUNDS lines express a column's bounds: the first matching rule of a
// fixed list decides, and a column needs at most two lines.
#include <cstdint>
#include <string_view>

namespace mopsel {

enum class BoundType : uint8_t { LO, UP, MI, FR, FX, BV, LI, UI };

// The start of a bound line up to the vector name, e.g. " UP ".
std::string_view bound_type_text(BoundType type) noexcept;

// FR, MI and BV lines carry no value.
inline bool bound_has_value(BoundType type) noexcept {
  return type != BoundType::FR && type != BoundType::MI && type != BoundType::BV;
}

struct BoundLine {
  BoundType type = BoundType::LO;
  double value = 0.0;  // unused when the type carries no value
};

struct BoundLines {
  uint8_t count = 0;
  BoundLine line[2];
};

// `integral` is true for INTEGER and SEMI_INTEGER columns.
BoundLines column_bound_lines(double lower, double upper, bool integral) noexcept;

}  // namespace mopsel
