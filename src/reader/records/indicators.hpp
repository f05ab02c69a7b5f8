#pragma once
// INDICATORS sections: records "IF row column [value]", the row holding when the
// (binary) column takes the value, 0 or 1 (1 when left out, as SCIP and Gurobi read it).
#include <cstdint>
#include <string_view>

#include "reader/records/reader_state.hpp"
#include "reader/text/lines.hpp"

namespace mopsel {

// An INDICATORS record laid out (fields: IF, row, column, value) and looked up.
struct IndicatorLine {
  bool well_formed = false;  // IF, a row, a known column and a value of 0 or 1 (or none)
  const int32_t* row = nullptr;  // the row map's entry: a row, OBJECTIVE_ROW, EXTRA_N_ROW; null unknown
  uint32_t column = 0;
  bool column_known = false;
  uint8_t value = 1;
  bool value_ok = true;  // the value field, if any, reads as 0 or 1
};

IndicatorLine indicator_line(ReaderState& state, const Fields& fields);

// What an indicator record does: kept, or passed over because its row is not a
// constraint row (unknown, the objective or another N row). False when the record is
// not well formed or the entry limit is reached: the read fails (SCIP and Gurobi refuse
// it).
[[nodiscard]] bool apply_indicator(ReaderState& state, const IndicatorLine& line);

}  // namespace mopsel
