#include "reader/records/reader_state.hpp"

#include <limits>

namespace mopsel {

bool append_column(ReaderState& state, std::string_view name, uint8_t integrality,
                   uint8_t default_binary) {
  if (state.num_col >= state.limits.max_columns) [[unlikely]] return false;
  state.col_names.push_back(name);
  state.col_cost.push_back(0.0);
  state.col_start.push_back(state.nnz);
  state.col_lower.push_back(0.0);
  state.col_upper.push_back(std::numeric_limits<double>::infinity());
  state.col_integrality.push_back(integrality);
  state.col_default_binary.push_back(default_binary);
  ++state.num_col;
  return true;
}

void reserve_from_hints(const SizeHints& hints, size_t text_length, ReaderState& state) {
  const Reservations r = capped_reservations(hints, text_length);
  state.entry_row.reserve(r.entries);
  state.entry_value.reserve(r.entries);
  state.col_names.ends.reserve(r.columns);
  state.col_cost.reserve(r.columns);
  state.col_lower.reserve(r.columns);
  state.col_upper.reserve(r.columns);
  state.col_integrality.reserve(r.columns);
  state.col_default_binary.reserve(r.columns);
  state.col_start.reserve(r.columns + 1);
  state.row_names.ends.reserve(r.rows);
  state.row_lower.reserve(r.rows);
  state.row_upper.reserve(r.rows);
  state.row_types.reserve(r.rows);
}

void reserve_rows(ReaderState& state, size_t rows) {
  const size_t total = state.num_row + rows;
  state.row_names.ends.reserve(total);
  state.row_names.bytes.reserve(state.row_names.bytes.size() + rows * 16);
  state.row_lower.reserve(total);
  state.row_upper.reserve(total);
  state.row_types.reserve(total);
}

void apply_binary_default(ReaderState& state) noexcept {
  for (uint32_t j = 0; j < state.num_col; ++j) {
    if (state.col_default_binary[j] != 0) {
      state.col_lower[j] = 0.0;
      state.col_upper[j] = 1.0;
    }
  }
}

}  // namespace mopsel
