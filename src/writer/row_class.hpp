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

// Classifies rows 0..num_row-1. Faults when row_lower or row_upper is shorter
// than num_row (checked row by row, lower first).
std::vector<RowClass> classify_rows(const ModelRecord& record);

}  // namespace mopsel
