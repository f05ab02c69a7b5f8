#pragma once
// The columns the records of the quadratic sections and SOS name: looked up near where
// the last record's column was, and made when unknown, as a BOUNDS record makes them
// (HiGHS writes columns that only its QUADOBJ section names, and reads them so).
#include <cstdint>
#include <string_view>

#include "reader/records/reader_state.hpp"

namespace mopsel {

// The column called `name`, trying the column `hint` and the one after it first;
// made (continuous, bounds [0, +inf]) when unknown. False when the column limit is
// reached.
[[nodiscard]] bool find_or_make_column(ReaderState& state, std::string_view name, uint32_t hint, uint32_t& column);

}  // namespace mopsel
