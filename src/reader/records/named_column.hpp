#pragma once
// The columns the records of the quadratic sections and SOS name: looked up near where
// the last record's column was, and made when unknown, as a BOUNDS record makes them
// (HiGHS writes columns that only its QUADOBJ section names, and reads them so).
#include <cstdint>
#include <string_view>

#include "model/model_record.hpp"
#include "reader/records/bounds.hpp"
#include "reader/records/reader_state.hpp"

namespace mopsel {

// A column unknown to the map: made (continuous, bounds [0, +inf]). False when the
// column limit is reached.
[[nodiscard]] bool make_named_column(ReaderState& state, std::string_view name, uint32_t& column);

// The column called `name`, trying the column `hint` and the one after it first;
// made when unknown. False when the column limit is reached. Inline: the quadratic
// sections look up two names per record.
[[nodiscard]] [[gnu::always_inline]] inline bool find_or_make_column(ReaderState& state, std::string_view name,
                                                                     uint32_t hint, uint32_t& column) {
  sync_columns(state.col_index, state.col_names);
  if (find_column_near(state.col_index, state.col_names, state.num_col, hint, state.col_miss, name, column)) [[likely]] {
    return true;
  }
  return make_named_column(state, name, column);
}

}  // namespace mopsel
