#pragma once
// RANGES and BOUNDS records, applied at once and in file order to the reader state.
// In free format a record's layout (whether it carries a set name) is guessed from
// the names it holds; in fixed format the columns give it, so each record kind has a
// step that takes the layout as given.
#include <cstdint>
#include <string_view>

#include "reader/lines.hpp"
#include "reader/reader_state.hpp"

namespace mopsel {

// Turns one-sided and equality rows into two-sided rows. Never fails; unknown
// rows and N rows are skipped.
void apply_range(ReaderState& state, const Fields& fields) noexcept;

// The (row, value) pairs of a RANGES record from field `first` on.
void apply_range_pairs(ReaderState& state, const Fields& fields, size_t first) noexcept;

// A BOUNDS record laid out: the type, the column (looked up: `known`, `column`) and
// the value field, when there is one.
struct BoundRecord {
  std::string_view type;
  std::string_view column_name;
  std::string_view value;
  bool has_value = false;
  bool known = false;
  uint32_t column;  // valid when known
};

// The layout of a free-format BOUNDS record of two fields or more: without a set
// name when field 1 names a known column, else with one.
BoundRecord bound_layout(ReaderState& state, const Fields& fields);

// Looks `record.column_name` up (filling `known` and `column`), for a layout given by
// position.
void find_bound_column(ReaderState& state, BoundRecord& record);

// Applies a laid-out record, creating the column when it is unknown. False when the
// bound type is unknown (or the column limit is reached): the read must fail.
[[nodiscard]] bool apply_bound_record(ReaderState& state, const BoundRecord& record);

// Sets bounds and integrality of a column, creating the column when it is
// unknown. False when the bound type is unknown (or the column limit is
// reached): the read must fail.
[[nodiscard]] bool apply_bound(ReaderState& state, const Fields& fields);

}  // namespace mopsel
