#pragma once
// Which BOUNDS lines express a column's bounds: the first matching rule of a
// fixed list decides, and a column needs at most two lines.
#include <cstdint>

#include "model/mps_codes.hpp"

namespace mopsel {

// FR, MI and BV lines carry no value.
inline bool bound_has_value(BoundType type) noexcept {
  return type != BoundType::FR && type != BoundType::MI && type != BoundType::BV;
}

// One BOUNDS line; the writer uses LO, UP, MI, FR, FX, BV, LI and UI.
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
