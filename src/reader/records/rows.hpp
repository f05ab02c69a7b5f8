#pragma once
// ROWS records: the row type a record's type field names, and the bounds a new row
// of each type starts with (before RHS and RANGES give it its own).
#include <limits>
#include <optional>
#include <string_view>

#include "model/mps_codes.hpp"

namespace mopsel {

// The type a ROWS type field names: only its first byte counts, upper case only
// (EQ reads as E, e reads as nothing); nothing for any other byte.
[[nodiscard]] inline std::optional<RowType> row_type_of(std::string_view field) noexcept {
  switch (field.front()) {
    case 'E': return RowType::E;
    case 'G': return RowType::G;
    case 'L': return RowType::L;
    case 'N': return RowType::N;
    default: return std::nullopt;
  }
}

struct RowBounds {
  double lower;
  double upper;
};

// The bounds a constraint row of `type` starts with: an E row [0, 0], a G row
// [0, +inf], an L row [-inf, 0], and an N row kept as a row (free_rows="keep")
// none.
[[nodiscard]] inline constexpr RowBounds initial_row_bounds(RowType type) noexcept {
  constexpr double inf = std::numeric_limits<double>::infinity();
  switch (type) {
    case RowType::G: return {0.0, inf};
    case RowType::L: return {-inf, 0.0};
    case RowType::N: return {-inf, inf};
    default: return {0.0, 0.0};
  }
}

}  // namespace mopsel
