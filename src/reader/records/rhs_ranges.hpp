#pragma once
// RHS and RANGES records: where their (row, value) pairs start, and what each pair
// does to its row. In free format a record's layout (whether it carries a set
// name) is guessed from the names it holds; in fixed format the columns give it.
#include <cstdint>
#include <string_view>
#include <vector>

#include "model/mps_codes.hpp"
#include "reader/records/notices.hpp"
#include "reader/records/reader_state.hpp"
#include "reader/text/lines.hpp"
#include "reader/text/numbers.hpp"

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

// Calls `use(ref, value_field)` for each (row, value) pair from field `first` on
// whose row name is in `rows` (ref: a row, OBJECTIVE_ROW or EXTRA_N_ROW); a pair
// naming an unknown row is skipped after `unknown(k)` (k: the row name's field), a
// trailing row name without a value too.
template <class Unknown, class Use>
[[gnu::always_inline]] inline void for_each_known_pair(const NameMap<int32_t>& rows, const Fields& fields,
                                                       size_t first, Unknown&& unknown, Use&& use) {
  for (size_t k = first; k + 1 < fields.count; k += 2) {
    const int32_t* ref = find_name(rows, fields.at[k]);
    if (ref != nullptr) [[likely]] {
      use(*ref, fields.at[k + 1]);
    } else {
      unknown(k);
    }
  }
}

// What an RHS section has given so far: within one section the first value for
// a row (and for the objective) is kept. Each RHS section starts afresh.
struct RhsScratch {
  std::vector<uint8_t> seen;  // one flag per constraint row
  bool objective_seen = false;
};

inline void begin_rhs(const ReaderState& state, RhsScratch& scratch) {
  scratch.seen.assign(state.num_row, 0);
  scratch.objective_seen = false;
}

// One RHS value for the row map's entry `ref` (a row, OBJECTIVE_ROW or EXTRA_N_ROW):
// the objective's gives the offset, negated; an E row takes it on both sides, a G
// row as its lower bound, an L row as its upper bound.
[[gnu::always_inline]] inline void apply_rhs_value(ReaderState& state, RhsScratch& scratch, int32_t ref,
                                                   double value) {
  if (ref == OBJECTIVE_ROW) {
    if (!scratch.objective_seen) {
      state.obj_offset = -value;
      scratch.objective_seen = true;
    }
    return;
  }
  if (ref < 0) return;  // an extra N row
  const auto row = static_cast<uint32_t>(ref);
  if (scratch.seen[row] != 0) return;  // the first value in a section wins
  scratch.seen[row] = 1;
  switch (static_cast<RowType>(state.row_types[row])) {
    case RowType::E:
      state.row_lower[row] = value;
      state.row_upper[row] = value;
      break;
    case RowType::G: state.row_lower[row] = value; break;
    case RowType::L: state.row_upper[row] = value; break;
    case RowType::N: break;  // an N row kept as a row has no right-hand side
  }
}

// The (row, value) pairs of an RHS record from field `first` on; unknown rows are skipped.
[[gnu::always_inline]] inline void apply_rhs_pairs(ReaderState& state, RhsScratch& scratch, const Fields& fields,
                                                   size_t first) {
  Notices& notices = state.notices;
  for_each_known_pair(
      state.row_index, fields, first, [&](size_t) { notices.recheck = true; },
      [&](int32_t ref, std::string_view value) { apply_rhs_value(state, scratch, ref, set_value(notices, value)); });
}

// Turns one-sided and equality rows into two-sided rows. Never fails; unknown
// rows and N rows are skipped.
void apply_range(ReaderState& state, const Fields& fields) noexcept;

// The (row, value) pairs of a RANGES record from field `first` on.
void apply_range_pairs(ReaderState& state, const Fields& fields, size_t first) noexcept;

}  // namespace mopsel
