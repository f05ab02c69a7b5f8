#pragma once
// How the writer expresses a row's bounds in MPS terms: a row type, a
// right-hand side and, for two-sided rows, a range.
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <vector>

#include "model/model_record.hpp"
#include "model/mps_codes.hpp"

namespace mopsel {

// Two finite bounds closer than this (strictly) make an equality row; columns
// with such bounds are fixed.
inline constexpr double kEqualityTolerance = 1e-12;

// Infinities and NaN both mean "no bound".
inline bool is_finite_bound(double value) noexcept { return std::fabs(value) <= DBL_MAX; }

struct RowClass {
  RowType type = RowType::N;
  bool has_range = false;
  double rhs = 0.0;
  double range = 0.0;  // upper - lower as computed; meaningful only with has_range
};

RowClass classify_row(double lower, double upper) noexcept;

// The exact mode's rule: a row reads back as [lower, upper] bit for bit (NaN as
// NaN) whenever MPS text can say so. One infinite side gives an L or G row (a free
// row is an L row with the right-hand side inf), equal bounds an E row, no
// tolerance applies. A two-sided row reads back as
// [rhs - |range|, rhs] (L) or [rhs, rhs + |range|] (G), so it needs a range that
// joins its two bounds exactly in double arithmetic: the difference is tried in
// both directions. Rows read from MPS text always have one (the reader computed
// one bound from the other). Rows without one (about one in twenty pairs of
// arbitrary doubles), and inverted rows (lower > upper), get the usual rule's L
// row with the range upper - lower and read back with another lower bound.
RowClass classify_row_exact(double lower, double upper) noexcept;

// Classifies rows 0..num_row-1 (with the exact mode's rule when `exact`). Faults
// when row_lower or row_upper is shorter than num_row (checked row by row, lower
// first).
std::vector<RowClass> classify_rows(const ModelRecord& record, bool exact = false);

// A free row written as an N row is dropped on reading, and with it the quadratic
// part or indicator that names it: such rows are written as the exact mode writes
// every free row, an L row with the right-hand side inf.
void keep_named_free_rows(const ModelRecord& record, std::vector<RowClass>& rows);

}  // namespace mopsel
