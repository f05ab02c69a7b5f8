#pragma once
// What the LP reader builds while it reads: columns in order of first appearance
// (a name map from the text's views to their index), the rows with their bounds,
// and the constraint matrix row by row, as LP text gives it. `finish_lp_model`
// turns the rows into the column-wise matrix of a ModelRecord.
//
// A term repeated within a row is summed into the row's first entry for that
// column: each column remembers the position of its latest entry, which is its
// entry in the row being read exactly when that position lies in the row and
// holds the column. The position is kept in the name map's slot beside the
// column index, so that a term touches one slot of the map and no other
// per-column array. Entries that sum to zero are dropped when the row ends.
//
// Quadratic terms go to QuadraticParts at their place in the lower triangle, each
// bracket of the objective one segment of the objective's H and the brackets of a row
// one segment of its H_r; the SOS sets and indicators to the parts the MPS reader
// fills. finish_lp_model assembles them as the MPS reader does.
#include <algorithm>
#include <cstdint>
#include <string_view>
#include <vector>

#include "model/model_record.hpp"
#include "model/name_list.hpp"
#include "model/owned_array.hpp"
#include "reader/names/name_map.hpp"
#include "reader/records/reader_state.hpp"

namespace mopsel::lp {

inline constexpr uint32_t kNoEntry = UINT32_MAX;

// The mark of a column that a piece of a Subject To section read on its own thread
// made (parallel_sections.hpp): its index in the piece's list of new columns, with
// this bit set, until the piece is joined to the model.
inline constexpr uint32_t kPieceColumn = 0x80000000u;

// A term of the objective that a piece read: a column's coefficient, or a constant
// (column kConstantTerm), kept in text order to be added up in that order.
inline constexpr uint32_t kConstantTerm = UINT32_MAX;
struct ObjectiveTerm {
  uint32_t col;
  double value;
};

// What the name map holds for a column: its index and the position of its latest entry.
struct ColumnRef {
  uint32_t col;
  uint32_t entry;
};

struct LpModel {
  // Columns, in order of first appearance.
  NameMap<ColumnRef> column_of;  // keys are views into the text
  NameList col_names;
  OwnedArray<double> col_cost;
  OwnedArray<double> col_lower;
  OwnedArray<double> col_upper;
  OwnedArray<uint8_t> col_integrality;
  uint32_t num_col = 0;
  uint32_t col_tag = 0;  // or'ed into the index of each column made (kPieceColumn in a piece)
  std::vector<std::string_view> col_text;  // a piece's: the names of its columns in the text
  std::vector<ObjectiveTerm> objective_terms;  // a piece's terms of the objective
  // A term of the objective with the coefficient 0: the writer listed every column there
  // (as mopsel's does, to keep their order), so rows bring no new ones.
  bool zero_cost_term = false;

  // Rows, in file order; row i holds the entries [row_start[i], row_start[i + 1]).
  NameList row_names;
  OwnedArray<double> row_lower;
  OwnedArray<double> row_upper;
  OwnedArray<uint32_t> row_start;  // num_row + 1 entries once a row is open
  uint32_t num_row = 0;

  // Entries in row order.
  OwnedArray<uint32_t> entry_col;
  OwnedArray<double> entry_value;

  // The parts beyond a linear program.
  QuadraticParts quadratic;
  size_t row_quadratic_begin = 0;  // the open row's first entry in quadratic.entries
  SosParts sos;
  IndicatorParts indicators;

  std::string_view name;
  std::string_view objective_name = kDefaultObjectiveName;
  double obj_offset = 0.0;
  bool minimize = true;

  ReaderLimits limits;
  std::vector<uint64_t> repeats;  // scratch of sum_repeated_terms
};

// The room the column map may take at once for columns not met yet, per byte of text
// still to read, and the room it may always take (a map of 1 MiB costs little to make).
// many-rows-1GB as HiGHS writes it: 7.2 M columns, half of them new in Subject To, 384 MB
// of slots for 345 MB of section.
inline constexpr size_t kMapRoomPerByte = 2;
inline constexpr size_t kSmallMapRoom = size_t{1} << 20;

// Bytes of slots of a column map that holds `names` names.
inline size_t map_room(uint64_t names) noexcept { return slots_for(names) * sizeof(NameMap<ColumnRef>::Slot); }

// The room the column map may take with `text_bytes` of text to read.
inline size_t most_map_room(size_t text_bytes) noexcept {
  return std::max(kMapRoomPerByte * text_bytes, kSmallMapRoom);
}

// The names the column map makes room for when an objective of `objective_bytes` that
// made `columns` columns ends with `rest_bytes` of text after it: twice its columns when
// at least as much text follows (writers leave the columns of cost 0 out of the
// objective, so rows often bring about as many new ones, and lookups of names the map
// lacks are short in a map at most 30% full) and that room is allowed, else its columns.
// An objective with a term of cost 0 (`zero_cost_term`) lists every column: its columns.
inline uint64_t names_after_objective(uint64_t columns, size_t objective_bytes, size_t rest_bytes,
                                      bool zero_cost_term) noexcept {
  const bool rows_follow = rest_bytes >= objective_bytes && !zero_cost_term;
  return rows_follow && map_room(2 * columns) <= most_map_room(objective_bytes + rest_bytes) ? 2 * columns : columns;
}

// The column of a prepared key, or null. Good until the next column is made.
[[gnu::always_inline]] inline ColumnRef* find_column(LpModel& model, const NameKey& key) noexcept {
  return find_key_mutable(model.column_of, key);
}

// Makes the column `name` (bounds [0, +inf], continuous, cost 0) of a prepared key
// that the map does not hold (a piece's column: only its name and place). Null when the
// column limit is reached.
ColumnRef* add_column(LpModel& model, std::string_view name, const NameKey& key);

// Opens a row: its entries are the ones added from now on.
inline void open_row(LpModel& model) {
  if (model.row_start.empty()) model.row_start.push_back(0);
  model.row_quadratic_begin = model.quadratic.entries.size();
}

// Adds `value` at the place of the columns (a, b) in the lower triangle, to the
// objective's H or the open row's, as H itself holds it (the reader halves the
// coefficient of a product of two columns; a row's entries are doubled at the end).
// False when the entry limit is reached.
[[nodiscard]] inline bool add_quadratic(LpModel& model, uint32_t a, uint32_t b, double value) {
  LowerEntries& entries = model.quadratic.entries;
  if (entries.size() >= model.limits.max_entries) [[unlikely]] return false;
  entries.push(a > b ? a : b, a > b ? b : a, value);
  return true;
}

// Ends a quadratic part of the objective begun at entry `begin`.
void end_objective_quadratic(LpModel& model, size_t begin);

// Doubles the quadratic entries from `begin` on (an objective's bracket without `/ 2`).
void double_quadratic_entries(LpModel& model, size_t begin) noexcept;

// Adds `value` times column `ref` to the open row. False when the entry limit is reached.
[[gnu::always_inline]] inline bool add_entry(LpModel& model, ColumnRef& ref, double value) {
  const uint32_t row_begin = model.row_start[model.num_row];
  const uint32_t nnz = static_cast<uint32_t>(model.entry_col.size());
  const uint32_t at = ref.entry;
  if (at >= row_begin && at < nnz && model.entry_col[at] == ref.col) [[unlikely]] {
    model.entry_value[at] += value;
    return true;
  }
  if (nnz >= model.limits.max_entries) [[unlikely]] return false;
  ref.entry = nnz;
  model.entry_col.push_back(ref.col);
  model.entry_value.push_back(value);
  return true;
}

// Adds `value` times column `col` to the open row without looking for an earlier term
// of the column (a piece's rows: sum_repeated_terms does that when the row closes).
// False when the entry limit is reached.
[[gnu::always_inline]] inline bool push_entry(LpModel& model, uint32_t col, double value) {
  if (model.entry_col.size() >= model.limits.max_entries) [[unlikely]] return false;
  model.entry_col.push_back(col);
  model.entry_value.push_back(value);
  return true;
}

// Sums the repeated terms of the open row into the first term of their column, in
// text order, and leaves 0 in the later ones, which close_row then drops: the row
// push_entry filled becomes what add_entry would have made of the same terms.
void sum_repeated_terms(LpModel& model);

// True when the open row already holds an entry for `ref` (for the repeated-term finding).
inline bool row_has(const LpModel& model, const ColumnRef& ref) noexcept {
  const uint32_t at = ref.entry;
  return at >= model.row_start[model.num_row] && at < model.entry_col.size() && model.entry_col[at] == ref.col;
}

// Closes the open row with its name and bounds; entries that summed to zero are
// dropped. False when the row limit is reached.
bool close_row(LpModel& model, std::string_view name, double lower, double upper);

// The record: the rows turned into the column-wise matrix (within a column, rows
// ascending), names and arrays moved. The model is left empty.
ModelRecord finish_lp_model(LpModel&& model);

}  // namespace mopsel::lp
