#include "reader/records/rhs_ranges.hpp"

#include <cmath>

#include "model/mps_codes.hpp"
#include "reader/text/numbers.hpp"

namespace mopsel {

bool pairs_are_numbers(const Fields& fields, size_t first) noexcept {
  if (first + 1 >= fields.count) return false;
  for (size_t k = first + 1; k < fields.count; k += 2) {
    if (!is_mps_number(fields.at[k])) return false;
  }
  return true;
}

namespace {

bool names_a_row(ReaderState& state, const Fields& fields) noexcept {
  return fields.count > 0 && find_name_memo(state.row_index, state.row_miss, fields.at[0]) != nullptr;
}

}  // namespace

size_t set_record_start(ReaderState& state, const Fields& fields) noexcept {
  return set_record_start_with(fields, [&] { return names_a_row(state, fields); });
}

bool is_set_record(ReaderState& state, const Fields& fields) noexcept {
  return (names_a_row(state, fields) && pairs_are_numbers(fields, 0)) || pairs_are_numbers(fields, 1);
}

void apply_range(ReaderState& state, const Fields& fields) noexcept {
  apply_range_pairs(state, fields, set_record_start(state, fields));
}

void apply_range_pairs(ReaderState& state, const Fields& fields, size_t first) noexcept {
  Notices& notices = state.notices;
  const auto unknown = [&](size_t) { notices.recheck = true; };
  for_each_known_pair(state.row_index, fields, first, unknown, [&](int32_t ref, std::string_view value) {
    const double range = set_value(notices, value);
    if (ref < 0) return;  // an N row: no effect
    const auto r = static_cast<uint32_t>(ref);
    const double size = std::fabs(range);
    switch (static_cast<RowType>(state.row_types[r])) {
      case RowType::L: state.row_lower[r] = state.row_upper[r] - size; break;
      case RowType::G: state.row_upper[r] = state.row_lower[r] + size; break;
      case RowType::E:
        // NaN and -0.0 take the second branch.
        if (range < 0) {
          state.row_lower[r] = state.row_upper[r] - size;
        } else {
          state.row_upper[r] = state.row_lower[r] + size;
        }
        break;
      case RowType::N: break;  // an N row kept as a row has no range
    }
  });
}

}  // namespace mopsel
