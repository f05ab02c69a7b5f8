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

// Where the (row, value) pairs of a free-format RHS or RANGES record start: 0 when
// the first field names a row, 1 when it is the set name. A row name still counts
// as the set name when reading it as a row puts a name where a number belongs
// while the record read with a set name is all names and numbers: with a row
// called RHS, "RHS R1 5" sets R1.
[[nodiscard]] size_t set_record_start(ReaderState& state, const Fields& fields) noexcept;

// Whether the fields read as an RHS or RANGES record with at least one (row,
// number) pair, with or without a set name.
[[nodiscard]] bool is_set_record(ReaderState& state, const Fields& fields) noexcept;

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
// name when field 1 names a known column, else with one. A known column in the
// set-name position gives way as a row name does in set_record_start: with
// columns BND and X, "UP BND X 4" bounds X.
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
