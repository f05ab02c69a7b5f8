#include "lp/lp_model.hpp"

#include <algorithm>
#include <charconv>
#include <limits>
#include <string>

#include "reader/records/assemble.hpp"
#include "reader/records/quadratic.hpp"

namespace mopsel::lp {

ColumnRef* add_column(LpModel& model, std::string_view name, const NameKey& key) {
  if (model.num_col >= model.limits.max_columns) [[unlikely]] return nullptr;
  const uint32_t col = model.num_col++ | model.col_tag;
  ColumnRef& ref = assign_name(model.column_of, name, ColumnRef{col, kNoEntry}, &key);
  if (model.col_tag != 0) {
    // A piece's column: the join takes its name from the text and gives it the model's
    // cost, bounds and type.
    model.col_text.push_back(name);
    return &ref;
  }
  model.col_names.push_back(name);
  model.col_cost.push_back(0.0);
  model.col_lower.push_back(0.0);
  model.col_upper.push_back(std::numeric_limits<double>::infinity());
  model.col_integrality.push_back(code(IntegralityKind::CONTINUOUS));
  return &ref;
}

void end_objective_quadratic(LpModel& model, size_t begin) {
  const size_t end = model.quadratic.entries.size();
  if (end == begin) return;
  model.quadratic.segments.push_back({OBJECTIVE_ROW, QuadraticKind::OneTriangle, {begin, end}, {}});
}

void double_quadratic_entries(LpModel& model, size_t begin) noexcept {
  OwnedArray<double>& value = model.quadratic.entries.value;
  for (size_t k = begin; k < value.size(); ++k) value[k] *= 2.0;
}

// Rows up to this many terms are searched pair by pair, longer ones sorted: a row of
// 16 terms takes at most 120 comparisons, about what sorting them costs.
constexpr uint32_t kPairwiseRepeatsMax = 16;

void sum_repeated_terms(LpModel& model) {
  const uint32_t begin = model.row_start[model.num_row];
  const auto end = static_cast<uint32_t>(model.entry_col.size());
  if (end - begin < 2) return;
  uint32_t* col = model.entry_col.data();
  double* value = model.entry_value.data();
  if (end - begin <= kPairwiseRepeatsMax) {
    for (uint32_t k = begin + 1; k < end; ++k) {
      for (uint32_t first = begin; first < k; ++first) {
        if (col[first] != col[k]) continue;
        value[first] += value[k];
        value[k] = 0.0;
        break;
      }
    }
    return;
  }
  std::vector<uint64_t>& order = model.repeats;  // (column, position), sorted
  order.clear();
  for (uint32_t k = begin; k < end; ++k) order.push_back((uint64_t{col[k]} << 32) | k);
  std::sort(order.begin(), order.end());
  for (size_t i = 0; i < order.size();) {
    const auto first = static_cast<uint32_t>(order[i]);
    size_t j = i + 1;
    for (; j < order.size() && (order[j] >> 32) == (order[i] >> 32); ++j) {
      const auto k = static_cast<uint32_t>(order[j]);
      value[first] += value[k];
      value[k] = 0.0;
    }
    i = j;
  }
}

bool close_row(LpModel& model, std::string_view name, double lower, double upper) {
  if (model.num_row >= model.limits.max_rows) [[unlikely]] return false;
  const uint32_t begin = model.row_start[model.num_row];
  uint32_t kept = begin;
  const uint32_t end = static_cast<uint32_t>(model.entry_col.size());
  for (uint32_t k = begin; k < end; ++k) {
    if (model.entry_value[k] == 0.0) continue;  // a coefficient of 0, or terms that cancel
    model.entry_col[kept] = model.entry_col[k];
    model.entry_value[kept] = model.entry_value[k];
    ++kept;
  }
  if (kept != end) {
    model.entry_col.truncate(kept);
    model.entry_value.truncate(kept);
  }
  if (name.empty()) {
    // Rows without a name are called R0, R1, ... by their position, as Gurobi names them.
    char made[16] = {'R'};
    const auto written = std::to_chars(made + 1, made + sizeof made, model.num_row);
    model.row_names.push_back({made, static_cast<size_t>(written.ptr - made)});
  } else {
    model.row_names.push_back(name);
  }
  // The row's brackets hold 1/2 x'H_r x: doubled at the end.
  const size_t quadratic_end = model.quadratic.entries.size();
  if (quadratic_end > model.row_quadratic_begin) {
    model.quadratic.segments.push_back({static_cast<int32_t>(model.num_row), QuadraticKind::FullDoubled,
                                        {model.row_quadratic_begin, quadratic_end}, {}});
  }
  model.row_lower.push_back(lower);
  model.row_upper.push_back(upper);
  model.row_start.push_back(kept);
  ++model.num_row;
  return true;
}

ModelRecord finish_lp_model(LpModel&& model) {
  open_row(model);  // a text without rows still has row_start[0]
  const uint32_t num_col = model.num_col;
  const size_t nnz = model.entry_col.size();
  model.column_of = NameMap<ColumnRef>{};

  // Counting sort of the entries by column; rows stay ascending within a column.
  OwnedArray<uint32_t> start;
  start.reserve(size_t{num_col} + 1);
  for (uint32_t j = 0; j <= num_col; ++j) start.push_back(0);
  for (size_t k = 0; k < nnz; ++k) ++start[model.entry_col[k] + 1];
  for (uint32_t j = 0; j < num_col; ++j) start[j + 1] += start[j];
  OwnedArray<uint32_t> fill;  // the next free position per column
  fill.append(start.data(), num_col);
  OwnedArray<uint32_t> index;
  OwnedArray<double> value;
  index.reserve(nnz);
  value.reserve(nnz);
  index.commit(nnz);
  value.commit(nnz);
  for (uint32_t i = 0; i < model.num_row; ++i) {
    for (uint32_t k = model.row_start[i]; k < model.row_start[i + 1]; ++k) {
      const uint32_t at = fill[model.entry_col[k]]++;
      index[at] = i;
      value[at] = model.entry_value[k];
    }
  }

  ModelRecord record;
  record.name = std::string(model.name);
  record.objective_name = std::string(model.objective_name);
  record.num_row = model.num_row;
  record.num_col = num_col;
  record.obj_sense_minimize = model.minimize;
  record.obj_offset = model.obj_offset;
  record.col_cost = std::move(model.col_cost);
  record.col_lower = std::move(model.col_lower);
  record.col_upper = std::move(model.col_upper);
  record.row_lower = std::move(model.row_lower);
  record.row_upper = std::move(model.row_upper);
  record.col_integrality = std::move(model.col_integrality);
  record.row_names = std::move(model.row_names);
  record.col_names = std::move(model.col_names);
  record.a_matrix.start = std::move(start);
  record.a_matrix.index = std::move(index);
  record.a_matrix.value = std::move(value);
  assemble_quadratic(model.quadratic, num_col, record);
  assemble_sos_and_indicators(model.sos, model.indicators, record);
  model = LpModel{};
  return record;
}

}  // namespace mopsel::lp
