#include "writer/row_class.hpp"

#include <bit>
#include <limits>

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

namespace {

// Equal bit for bit, or both NaN (the text keeps no NaN payload or sign).
bool same_value(double a, double b) noexcept {
  return std::bit_cast<uint64_t>(a) == std::bit_cast<uint64_t>(b) || (std::isnan(a) && std::isnan(b));
}

}  // namespace

RowClass classify_row_exact(double lower, double upper) noexcept {
  constexpr double kInf = std::numeric_limits<double>::infinity();
  // A free row too: as an N row it would be dropped on reading, as an L row with
  // the right-hand side inf it stays, with its coefficients.
  if (lower == -kInf) return {RowType::L, false, upper, 0.0};
  if (upper == kInf) return {RowType::G, false, lower, 0.0};
  if (same_value(lower, upper)) return {RowType::E, false, lower, 0.0};
  // Neighbours of the difference were tried too and never joined a pair the
  // difference itself does not (none of 200,000 random pairs).
  const double range = std::fabs(upper - lower);
  if (same_value(upper - range, lower)) return {RowType::L, true, upper, range};
  if (same_value(lower + range, upper)) return {RowType::G, true, lower, range};
  return {RowType::L, true, upper, upper - lower};
}

void keep_named_free_rows(const ModelRecord& record, std::vector<RowClass>& rows) {
  constexpr double kInf = std::numeric_limits<double>::infinity();
  const auto keep = [&rows](uint32_t row) {
    if (row < rows.size() && rows[row].type == RowType::N) rows[row] = {RowType::L, false, kInf, 0.0};
  };
  for (const RowHessianRecord& h : record.row_hessians) keep(h.row);
  if (record.indicators) {
    for (const uint32_t row : record.indicators->row) keep(row);
  }
}

std::vector<RowClass> classify_rows(const ModelRecord& record, bool exact) {
  std::vector<RowClass> rows;
  rows.reserve(record.num_row);
  for (size_t i = 0; i < record.num_row; ++i) {
    check_index(record.row_lower.size(), i);
    check_index(record.row_upper.size(), i);
    const double lower = record.row_lower[i], upper = record.row_upper[i];
    rows.push_back(exact ? classify_row_exact(lower, upper) : classify_row(lower, upper));
  }
  return rows;
}

}  // namespace mopsel
