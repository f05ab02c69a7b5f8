#pragma once
// The layout of a fixed-format record: its fields cut from the classic columns
// (text/fixed_fields.hpp) and put where the free-format steps take them, so that
// a fixed-format record is applied by the same steps as a free-format one.
#include <cstdint>
#include <string_view>

#include "reader/text/lines.hpp"

namespace mopsel {

// The record kinds, by how their fields sit in the columns.
enum class FixedLayout : uint8_t { Rows, Columns, SetPairs, Bounds, Quadratic, SosSet, SosMember };

// ROWS: type, name. COLUMNS: column, then (row, value) pairs, or a marker line.
// RHS and RANGES (SetPairs): set name (perhaps empty), then pairs. BOUNDS: type,
// set name, column, value (INDICATORS records too: IF, row, column, value).
// Quadratic sections: column, column, value. SOS: a set header (type in columns 2-3,
// name, priority) or a member (column, weight; the weight in field 3, or in field 4, the
// column of values elsewhere, when field 3 is empty). The count is 0 when a name the
// record needs is missing.
Fields fixed_record(FixedLayout layout, std::string_view line);

}  // namespace mopsel
