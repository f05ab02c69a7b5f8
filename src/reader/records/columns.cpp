#include "reader/records/columns.hpp"

#include "model/mps_codes.hpp"
#include "reader/text/numbers.hpp"

namespace mopsel {

void begin_columns(const ReaderState& state, ColumnsScratch& scratch) {
  scratch = ColumnsScratch{};
  scratch.pending_value.assign(state.num_row, 0.0);
  scratch.pending_rows.reserve(state.num_row);
}

RowKeys prepare_row_keys(const ReaderState& state, const Fields& fields) noexcept {
  RowKeys prepared;
  // Pairs (f1, f2) and (f3, f4), each only when both fields are present; a
  // marker line has none.
  const auto& f = fields.at;
  if (is_marker_line(fields)) [[unlikely]] return prepared;
  prepared.pairs = column_pairs(fields);
  for (size_t i = 0; i < prepared.pairs; ++i) {
    prepared.keys[i] = map_key(state.row_index, f[1 + 2 * i]);
    prefetch_name(state.row_index, prepared.keys[i]);
  }
  return prepared;
}

namespace {

// The marker lines and the column change of a data line; false when the line
// is a marker (nothing more to apply) or a size limit is reached (`ok` false).
[[gnu::always_inline]] inline bool open_line_column(ReaderState& state, ColumnsScratch& scratch,
                                                    const Fields& fields, bool& ok) {
  const auto& f = fields.at;
  ok = true;
  if (is_marker_line(fields)) [[unlikely]] {
    if (const int marker = marker_switch(fields); marker >= 0) scratch.integer_marker = static_cast<uint8_t>(marker);
    return false;
  }
  if (!scratch.column_open || !same_name(f[0], scratch.current_column)) {
    // A repeated COLUMNS section closes only what it opened itself.
    if ((scratch.column_open && !close_column(state, scratch)) ||
        !append_column(state, f[0], scratch.integer_marker, scratch.integer_marker)) {
      ok = false;
      return false;
    }
    scratch.column_open = true;
    scratch.current_column = f[0];
    scratch.current_index = state.num_col - 1;
  }
  return true;
}

// One (row, value) pair of the open column, its row already looked up (and known).
[[gnu::always_inline]] inline void apply_pair(ColumnsScratch& scratch, Notices& notices, const int32_t* ref,
                                              std::string_view value_field) {
  column_pair(
      ref, value_field, scratch.pending_cost, notices, [&](uint32_t row) { return scratch.pending_value[row] == 0.0; },
      [&](uint32_t row, double value) {
        scratch.pending_value[row] = value;
        scratch.pending_rows.push_back(row);
      });
}

}  // namespace

bool columns_record(ReaderState& state, ColumnsScratch& scratch, const Fields& fields) {
  // Looks the rows up as it goes, without preparing keys ahead.
  bool ok;
  if (!open_line_column(state, scratch, fields, ok)) return ok;
  const auto& f = fields.at;
  const size_t pairs = column_pairs(fields);
  for (size_t i = 0; i < pairs; ++i) {
    apply_pair(scratch, state.notices, find_key(state.row_index, map_key(state.row_index, f[1 + 2 * i])), f[2 + 2 * i]);
  }
  return true;
}

bool columns_record(ReaderState& state, ColumnsScratch& scratch, const Fields& fields,
                    const RowKeys& prepared) {
  bool ok;
  if (!open_line_column(state, scratch, fields, ok)) return ok;
  for (size_t i = 0; i < prepared.pairs; ++i) {
    apply_pair(scratch, state.notices, find_key(state.row_index, prepared.keys[i]), fields.at[2 + 2 * i]);
  }
  return true;
}

bool hold_columns_record(ReaderState& state, ColumnsScratch& scratch, const Fields& fields,
                         const RowKeys& keys) {
  constexpr size_t kHeld = ColumnsScratch::kHeldLines;
  if (scratch.held_count == kHeld) {
    const size_t i = scratch.held_first;
    scratch.held_first = (i + 1) % kHeld;
    --scratch.held_count;
    if (!columns_record(state, scratch, scratch.held_fields[i], scratch.held_keys[i])) return false;
  }
  const size_t slot = (scratch.held_first + scratch.held_count) % kHeld;
  scratch.held_fields[slot] = fields;
  scratch.held_keys[slot] = keys;
  ++scratch.held_count;
  return true;
}

bool close_column(ReaderState& state, ColumnsScratch& scratch) {
  const uint32_t j = scratch.current_index;
  const size_t n = scratch.pending_rows.size();
  if (n > state.limits.max_entries - state.nnz) [[unlikely]] return false;
  state.col_cost[j] = scratch.pending_cost;
  state.col_start[j] = state.nnz;
  state.entry_row.append(scratch.pending_rows.data(), n);
  state.entry_value.reserve_more(n);
  for (const uint32_t row : scratch.pending_rows) {
    state.entry_value.push_back(scratch.pending_value[row]);
    scratch.pending_value[row] = 0.0;
  }
  state.nnz += static_cast<uint32_t>(n);
  scratch.pending_rows.clear();
  scratch.pending_cost = 0.0;
  scratch.column_open = false;
  return true;
}

bool end_columns(ReaderState& state, ColumnsScratch& scratch) {
  while (scratch.held_count > 0) {
    const size_t i = scratch.held_first;
    scratch.held_first = (i + 1) % ColumnsScratch::kHeldLines;
    --scratch.held_count;
    if (!columns_record(state, scratch, scratch.held_fields[i], scratch.held_keys[i])) return false;
  }
  if (scratch.column_open && !close_column(state, scratch)) return false;
  // col_index takes this section's columns when BOUNDS first looks one up.
  scratch = ColumnsScratch{};
  return true;
}

}  // namespace mopsel
