#pragma once
// COLUMNS records: columns with their integer markers, objective coefficients
// and matrix entries, gathered column by column.
//
// A column's entries are collected in a dense per-row array plus the list of
// rows in first-touch order, so a duplicate is found in constant time and
// closing a column costs only its own entries (no sorting, no per-entry
// allocation).
#include <cstdint>
#include <string_view>
#include <vector>

#include "reader/text/lines.hpp"
#include "model/mps_codes.hpp"
#include "reader/records/notices.hpp"
#include "reader/records/reader_state.hpp"
#include "reader/text/numbers.hpp"

namespace mopsel {

// The layout of a COLUMNS record: a marker line ("NAME 'MARKER' 'INTORG'"), or a
// column name followed by up to two (row, value) pairs in fields 1 to 4.
[[nodiscard]] inline bool is_marker_line(const Fields& fields) noexcept {
  return fields.count >= 3 && fields.at[1] == kMarker;
}

// What a marker line does: 1 opens integer columns, 0 closes them, -1 neither (an
// unknown marker word is passed over).
[[nodiscard]] inline int marker_switch(const Fields& fields) noexcept {
  if (fields.at[2] == kIntegerStart) return 1;
  if (fields.at[2] == kIntegerEnd) return 0;
  return -1;
}

// The complete (row, value) pairs of a record that is not a marker line: (f1, f2)
// and (f3, f4), each only when both fields are present.
[[nodiscard]] inline size_t column_pairs(const Fields& fields) noexcept {
  return fields.count >= 5 ? 2 : (fields.count >= 3 ? 1 : 0);
}

// One (row, value) pair of the open column, its row looked up (`ref`, null when
// unknown), as every reader keeps it: zeros (also malformed numbers) are dropped and
// NaN is kept; the first nonzero value per row wins, `claim(row)` answering whether the
// row is still free in the column (and taking it), `keep(row, value)` storing it; the
// first nonzero objective coefficient becomes the cost; extra N rows are passed over.
// What is dropped is counted in `notices`; an unknown row only marks it for a careful
// reading (a call there would cost the usual lines their registers).
template <class Claim, class Keep>
[[gnu::always_inline]] inline void column_pair(const int32_t* ref, std::string_view value_field, double& cost,
                                               Notices& notices, Claim&& claim, Keep&& keep) {
  if (ref == nullptr) [[unlikely]] {
    notices.recheck = true;
    return;
  }
  const double value = parse_number(value_field);
  if (value == 0.0) [[unlikely]] {
    note_zero_value(notices, value_field);
    return;
  }
  const int32_t row = *ref;
  if (row >= 0) {
    if (claim(static_cast<uint32_t>(row))) [[likely]] {
      keep(static_cast<uint32_t>(row), value);
    } else {
      note(notices, Notice::DuplicateEntry, value_field);
    }
  } else if (row == OBJECTIVE_ROW) {
    if (cost == 0.0) [[likely]] {
      cost = value;
    } else {
      note(notices, Notice::DuplicateEntry, value_field);
    }
  }
}

// The keys of a data line's row names, prepared (and their map slots asked
// for) before the line is applied.
struct RowKeys {
  size_t pairs = 0;  // complete (row, value) pairs among fields 1 to 4
  NameKey keys[2];
};

// Row maps of this many slots or more are beyond the caches: COLUMNS lines then
// ask for their row slots a few lines before they are applied.
inline constexpr size_t kLookaheadSlots = size_t{1} << 16;

// Lives for one COLUMNS section; every section starts afresh.
struct ColumnsScratch {
  std::string_view current_column;
  bool column_open = false;  // a column opened in this section awaits its close
  uint32_t current_index = 0;
  double pending_cost = 0.0;
  uint8_t integer_marker = 0;
  std::vector<double> pending_value;   // per constraint row, 0.0 when untouched
  std::vector<uint32_t> pending_rows;  // rows of the open column, first-touch order
  // With many rows the section reader splits a line a few lines before it
  // applies it, so that the line's row slots are fetched meanwhile; the held
  // lines wait here in file order.
  static constexpr size_t kHeldLines = 3;
  Fields held_fields[kHeldLines];
  RowKeys held_keys[kHeldLines];
  size_t held_first = 0;
  size_t held_count = 0;
};

void begin_columns(const ReaderState& state, ColumnsScratch& scratch);

// Computes the row keys of a data line and prefetches their slots; changes nothing.
RowKeys prepare_row_keys(const ReaderState& state, const Fields& fields) noexcept;

// Applies one data line with its prepared keys (at most the first five fields
// are used). False when a size limit is reached and the read must fail.
[[nodiscard]] bool columns_record(ReaderState& state, ColumnsScratch& scratch, const Fields& fields,
                                  const RowKeys& keys);

// The same for a line given as its fields.
[[nodiscard]] bool columns_record(ReaderState& state, ColumnsScratch& scratch, const Fields& fields);

// Holds a split line for later; when the queue is full, first applies the
// oldest held line. False when a size limit is reached.
[[nodiscard]] bool hold_columns_record(ReaderState& state, ColumnsScratch& scratch, const Fields& fields,
                                       const RowKeys& keys);

// Moves the open column's cost and entries into the state. False when the entry
// limit is reached.
[[nodiscard]] bool close_column(ReaderState& state, ColumnsScratch& scratch);

// Applies the held lines and closes the open column.
[[nodiscard]] bool end_columns(ReaderState& state, ColumnsScratch& scratch);

}  // namespace mopsel
