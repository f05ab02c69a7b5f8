#include "writer/bound_rules.hpp"

#include <cmath>

#include "writer/row_class.hpp"

namespace mopsel {

BoundLines column_bound_lines(double lower, double upper, bool integral) noexcept {
  BoundLines out;
  auto add = [&out](BoundType type, double value) { out.line[out.count++] = {type, value}; };
  const bool has_lower = is_finite_bound(lower);
  const bool has_upper = is_finite_bound(upper);

  if (integral && lower == 0.0 && upper == 1.0) {
    add(BoundType::BV, 0.0);
  } else if (!has_lower && !has_upper) {
    add(BoundType::FR, 0.0);
  } else if (!has_lower) {
    add(BoundType::MI, 0.0);
    add(integral ? BoundType::UI : BoundType::UP, upper);
  } else if (has_upper && std::fabs(upper - lower) < kEqualityTolerance) {
    add(BoundType::FX, lower);
  } else if (integral) {
    add(BoundType::LI, lower);
    if (has_upper) add(BoundType::UI, upper);
  } else {
    // Lower bound 0 is the MPS default for a continuous column.
    if (lower != 0.0) add(BoundType::LO, lower);
    if (has_upper) add(BoundType::UP, upper);
  }
  return out;
}

}  // namespace mopsel
