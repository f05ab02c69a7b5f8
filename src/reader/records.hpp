#pragma once
// RANGES and BOUNDS records, applied at once and in file order to the reader state.
// In free format a record's layout (whether it carries a set name) is guessed from
// the names it holds; in fixed format the columns give it, so each record kind has a
// step that takes the layout as given.
#include <cstdint>
#include <string_view>

#include "model/mps_codes.hpp"
#include "reader/lines.hpp"
#include "reader/numbers.hpp"
#include "reader/reader_state.hpp"

namespace mopsel {

// True when the fields from `first` on hold at least one complete (name, value)
// pair and every value of a complete pair is a number.
[[nodiscard]] bool pairs_are_numbers(const Fields& fields, size_t first) noexcept;

// Where the (row, value) pairs of a free-format RHS or RANGES record start: 0 when
// the first field names a row, 1 when it is the set name. A row name still counts
// as the set name when reading it as a row puts a name where a number belongs
// while the record read with a set name is all names and numbers: with a row
// called RHS, "RHS R1 5" sets R1. `names_a_row()` says whether field 0 names a row.
template <class NamesARow>
[[nodiscard]] size_t set_record_start_with(const Fields& fields, NamesARow&& names_a_row) noexcept {
  if (fields.count == 0 || !names_a_row()) return 1;
  // This is uncommon: a set name that is also a row name, e.g. "RHS".
  if (fields.count >= 3 && !pairs_are_numbers(fields, 0) && pairs_are_numbers(fields, 1)) [[unlikely]]
    return 1;
  return 0;
}

// The same with the reader's row map and its memo of the last name not found.
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

// Whether "TYPE SET COLUMN [VALUE]" reads as a well-formed record: the value
// a bound type uses is a number, and one it does not use is absent or a number.
[[nodiscard]] bool set_name_reading_fits(const Fields& fields) noexcept;

// The layout of a free-format BOUNDS record of two fields or more: without a set
// name when field 1 names a known column, else with one. A known column in the
// set-name position gives way as a row name does in set_record_start: with
// columns BND and X, "UP BND X 4" bounds X. `find(name, column)` looks a column
// up (true when known); the threaded reader looks up in a map it does not change.
template <class Find>
[[gnu::always_inline]] inline BoundRecord bound_layout_with(const Fields& fields, Find&& find) {
  const auto& f = fields.at;
  const size_t n = fields.count;
  BoundRecord record;
  record.type = f[0];
  record.column_name = f[1];
  if (n >= 3) {
    record.known = find(f[1], record.column);
    // This is uncommon: a set name that is also a column name, e.g. "BND".
    if (record.known && !is_mps_number(f[2]) && set_name_reading_fits(fields)) [[unlikely]]
      record.known = false;
    if (record.known) {
      record.value = f[2];
      record.has_value = true;
    } else {
      // f[1] names the bound vector, which is ignored.
      record.column_name = f[2];
      record.known = find(record.column_name, record.column);
      if (n >= 4) {
        record.value = f[3];
        record.has_value = true;
      }
    }
  }
  if (n == 2) record.known = find(record.column_name, record.column);
  return record;
}

// The same with the reader's own lookup (which enters new columns into the map first).
BoundRecord bound_layout(ReaderState& state, const Fields& fields);

// Whether a bound type takes its value from the record.
constexpr bool bound_takes_value(BoundType type) noexcept {
  return type != BoundType::FR && type != BoundType::MI && type != BoundType::PL && type != BoundType::BV;
}

// The value a record of `type` sets: its value field read as a number, 0 without one.
inline double bound_value(const BoundRecord& record, BoundType type) noexcept {
  return bound_takes_value(type) && record.has_value ? parse_number(record.value) : 0.0;
}

// Sets bounds and integrality of an existing column `j` as a record of `type` with
// value `value` does (the value counts only for types that take one).
void set_column_bound(ReaderState& state, uint32_t j, BoundType type, double value) noexcept;

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
