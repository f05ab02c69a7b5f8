#include "writer/row_class.hpp"

#include "model/fault.hpp"

namespace mopsel {

RowClass classify_row(double lower, double upper) noexcept {
  const bool has_lower = is_finite_bound(lower);
  const bool has_upper = is_finite_bound(upper);
  if (!has_lower) {
    if (!has_upper) return {RowType::N, false, 0.0, 0.0};
    return {RowType::L, false, upper, 0.0};
  }
  if (!has_upper) return {RowType::G, false, lower, 0.0};
  if (std::fabs(upper - lower) < kEqualityTolerance) return {RowType::E, false, lower, 0.0};
  // Written as an L row with its range; the difference is kept as computed,
  // negative when lower exceeds upper and infinite when it overflows.
  return {RowType::L, true, upper, upper - lower};
}

std::vector<RowClass> classify_rows(const ModelRecord& record) {
  std::vector<RowClass> rows;
  rows.reserve(record.num_row);
  for (size_t i = 0; i < record.num_row; ++i) {
    check_index(record.row_lower.size(), i);
    check_index(record.row_upper.size(), i);
    rows.push_back(classify_row(record.row_lower[i], record.row_upper[i]));
  }
  return rows;
}

}  // namespace mopsel
