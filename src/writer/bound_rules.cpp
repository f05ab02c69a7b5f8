#include "writer/bound_rules.hpp"

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>

#include "model/model_record.hpp"
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

BoundLines column_bound_lines_exact(double lower, double upper, uint8_t kind) noexcept {
  BoundLines out;
  auto add = [&out](BoundType type, double value) { out.line[out.count++] = {type, value}; };
  constexpr double kInf = std::numeric_limits<double>::infinity();
  const bool default_lower = std::bit_cast<uint64_t>(lower) == 0;  // +0.0, not -0.0
  const bool integral = kind == code(IntegralityKind::INTEGER) || kind == code(IntegralityKind::SEMI_INTEGER);

  if (kind == code(IntegralityKind::SEMI_CONTINUOUS) || kind == code(IntegralityKind::SEMI_INTEGER)) {
    if (lower == -kInf) add(BoundType::MI, 0.0);
    else if (!default_lower) add(BoundType::LO, lower);
    add(integral ? BoundType::SI : BoundType::SC, upper);
  } else if (integral && default_lower && upper == 1.0) {
    add(BoundType::BV, 0.0);
  } else if (lower == -kInf) {
    add(upper == kInf ? BoundType::FR : BoundType::MI, 0.0);
    if (upper != kInf) add(integral ? BoundType::UI : BoundType::UP, upper);
  } else if (std::bit_cast<uint64_t>(lower) == std::bit_cast<uint64_t>(upper) ||
             (std::isnan(lower) && std::isnan(upper))) {
    add(BoundType::FX, lower);
  } else {
    if (integral || !default_lower) add(integral ? BoundType::LI : BoundType::LO, lower);
    if (upper != kInf) add(integral ? BoundType::UI : BoundType::UP, upper);
  }
  return out;
}

}  // namespace mopsel
