#pragma once
// Which BOUNDS lines express a column's bounds: the first matching rule of a
// fixed list decides, and a column needs at most two lines.
#include <cstdint>

#include "model/mps_codes.hpp"

namespace mopsel {

// One BOUNDS line; the writer uses LO, UP, MI, FR, FX, BV, LI and UI, and SC and SI
// in the exact mode.
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

// The exact mode's lines, from which the reader rebuilds the bounds bit for bit
// (NaN as NaN) and the integrality kind: no tolerance, a lower bound line unless
// the bound is +0.0 (the default; integral columns always get one, or their marker
// block would make them binary), an upper bound line unless +inf. Semi-continuous
// and semi-integer columns end with an SC or SI line, which sets the upper bound
// and the kind and leaves the lower bound to the line before it.
BoundLines column_bound_lines_exact(double lower, double upper, uint8_t kind) noexcept;

}  // namespace mopsel
