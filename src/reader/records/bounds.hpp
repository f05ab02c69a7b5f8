#pragma once
// BOUNDS records: the layout of a record (type, column, value), the column it
// names, and what it does to that column (the rows of kBoundRules).
#include <cstdint>
#include <string_view>

#include "model/mps_codes.hpp"
#include "reader/records/notices.hpp"
#include "reader/records/reader_state.hpp"
#include "reader/text/lines.hpp"
#include "reader/text/numbers.hpp"

namespace mopsel {

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

// The column named `name` in a column map that is up to date, as BOUNDS records
// name them: they usually follow the column order, so column `last` and the one
// after it are tried first while every entered column has a name of its own (a
// name match there is then the map's answer); and they usually name one set,
// whose name is no column, so the last name not found is answered by `missed`.
// The threaded reader calls it on a map nobody changes meanwhile.
[[nodiscard, gnu::always_inline]] inline bool find_column_near(const ColumnIndex& index, const NameList& names, uint32_t num_col,
                                           uint32_t last, MissMemo& missed, std::string_view name,
                                           uint32_t& column) noexcept {
  if (missed.count == index.count && same_name(missed.name, name)) return false;
  if (entered_names_distinct(index)) {
    for (uint32_t j = last; j < num_col && j <= last + 1; ++j) {
      if (same_name(names[j], name)) {
        column = j;
        return true;
      }
    }
  }
  if (find_column_index(index, names, name, column)) return true;
  missed = {name, index.count};
  return false;
}

// The same with the reader's own map, brought up to date first (BOUNDS may name
// columns that an earlier record created).
[[nodiscard]] bool find_bound_column(ReaderState& state, std::string_view name, uint32_t& column);

// The layout with the reader's own lookup.
BoundRecord bound_layout(ReaderState& state, const Fields& fields);

// The value a record of `type` sets: its value field read as a number, 0 without one
// (a value of 0 is looked at as a malformed number in `notices`).
inline double bound_value(const BoundRecord& record, BoundType type, Notices& notices) noexcept {
  if (!bound_takes_value(type) || !record.has_value) return 0.0;
  const double value = parse_number(record.value);
  if (value == 0.0) [[unlikely]] note_zero_value(notices, record.value);
  return value;
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
