#include "writer/record_checks.hpp"

#include <string>
#include <string_view>
#include <utility>

#include "model/fault.hpp"

namespace mopsel {
namespace {

// The positions [begin, end) of a column: inside `index`, then inside `value`,
// then for a non-zero coefficient its row inside the row names.
[[gnu::always_inline]] inline void check_positions(const ModelRecord& record, size_t begin, size_t end) {
  const SparseMatrixRecord& matrix = record.a_matrix;
  const size_t rows = record.row_names.size();
  if (end <= matrix.index.size() && end <= matrix.value.size()) {
    // The usual case: only the rows need looking at.
    for (size_t k = begin; k < end; ++k) {
      if (matrix.index[k] >= rows && matrix.value[k] != 0.0) [[unlikely]]
        check_index(rows, matrix.index[k]);
    }
    return;
  }
  for (size_t k = begin; k < end; ++k) {
    check_index(matrix.index.size(), k);
    check_index(matrix.value.size(), k);
    if (matrix.value[k] != 0.0) check_index(rows, matrix.index[k]);
  }
}

// True when every per-row and per-column sequence is long enough, so that only
// the matrix positions can fail.
bool lengths_suffice(const ModelRecord& record) {
  const size_t n = record.num_row;
  const size_t m = record.num_col;
  return record.row_lower.size() >= n && record.row_upper.size() >= n && record.row_names.size() >= n &&
         record.col_integrality.size() >= m && record.col_names.size() >= m && record.col_cost.size() >= m &&
         (m == 0 || record.a_matrix.start.size() > m) && record.col_lower.size() >= m &&
         record.col_upper.size() >= m;
}

// A lower triangle of `columns` columns whose rows are columns too: its starts, its
// positions inside index and value, and its rows inside the column names.
void check_lower(const SparseMatrixRecord& h, size_t columns, size_t names) {
  check_index(h.start.size(), columns);
  for (size_t j = 0; j < columns; ++j) {
    for (size_t k = h.start[j]; k < h.start[j + 1]; ++k) {
      check_index(h.index.size(), k);
      check_index(h.value.size(), k);
      check_index(names, h.index[k]);
    }
  }
}

// The parts beyond a linear program, in the order they are written.
void check_extra_parts(const ModelRecord& record) {
  const size_t columns = record.col_names.size();
  if (record.sos) {
    const SosRecord& sos = *record.sos;
    const size_t sets = sos.type.size();
    if (sets > 0) {
      check_index(sos.priority.size(), sets - 1);
      check_index(sos.names.size(), sets - 1);
    }
    check_index(sos.start.size(), sets);
    for (size_t k = 0; k < sets; ++k) {
      for (size_t p = sos.start[k]; p < sos.start[k + 1]; ++p) {
        check_index(sos.index.size(), p);
        check_index(sos.weight.size(), p);
        check_index(columns, sos.index[p]);
      }
    }
  }
  if (record.hessian) check_lower(*record.hessian, record.num_col, columns);
  for (const RowHessianRecord& row : record.row_hessians) {
    check_index(record.row_names.size(), row.row);
    check_lower(row.matrix, record.num_col, columns);
  }
  if (record.indicators) {
    const IndicatorRecord& indicators = *record.indicators;
    for (size_t k = 0; k < indicators.row.size(); ++k) {
      check_index(indicators.column.size(), k);
      check_index(indicators.value.size(), k);
      check_index(record.row_names.size(), indicators.row[k]);
      check_index(columns, indicators.column[k]);
    }
  }
}

}  // namespace

void check_writable(const ModelRecord& record) {
  const OwnedArray<uint32_t>& start = record.a_matrix.start;
  if (lengths_suffice(record)) [[likely]] {
    for (size_t j = 0; j < record.num_col; ++j) check_positions(record, start[j], start[j + 1]);
    check_extra_parts(record);
    return;
  }
  // This is uncommon: some sequence is short. Every check in the writer's order,
  // so that the first one to fail is the one the writer would have met.
  for (size_t i = 0; i < record.num_row; ++i) {
    check_index(record.row_lower.size(), i);
    check_index(record.row_upper.size(), i);
  }
  for (size_t i = 0; i < record.num_row; ++i) check_index(record.row_names.size(), i);
  for (size_t j = 0; j < record.num_col; ++j) {
    check_index(record.col_integrality.size(), j);
    check_index(record.col_names.size(), j);
    check_index(record.col_cost.size(), j);
    check_index(start.size(), j);
    check_index(start.size(), j + 1);
    check_positions(record, start[j], start[j + 1]);
  }
  for (size_t j = 0; j < record.num_col; ++j) {
    check_index(record.col_lower.size(), j);
    check_index(record.col_upper.size(), j);
  }
  check_extra_parts(record);
}

namespace {

std::string count_said(size_t count, std::string_view one, std::string_view many) {
  return std::to_string(count) + " " + std::string(count == 1 ? one : many);
}

// "{array} has N entries, but the model has M {things}" when `size` < `needed`.
std::optional<std::string> too_short(std::string_view array, size_t size, size_t needed, size_t count,
                                     std::string_view things) {
  if (size >= needed) return std::nullopt;
  std::string said = std::string(array) + " has " + count_said(size, "entry", "entries") + ", but the model has " +
                     std::to_string(count) + " " + std::string(things);
  if (needed != count) said += " (" + std::to_string(needed) + " needed)";
  return said;
}

std::string column_said(const ModelRecord& record, size_t j) {
  return "column '" + std::string(record.col_names[j]) + "'";
}

}  // namespace

std::optional<std::string> inconsistency(const ModelRecord& record) {
  const size_t n = record.num_row;
  const size_t m = record.num_col;
  const SparseMatrixRecord& matrix = record.a_matrix;
  const struct {
    std::string_view array;
    size_t size, needed, count;
    std::string_view things;
  } lengths[] = {
      {"row_lower", record.row_lower.size(), n, n, "rows"},
      {"row_upper", record.row_upper.size(), n, n, "rows"},
      {"row_names", record.row_names.size(), n, n, "rows"},
      {"col_names", record.col_names.size(), m, m, "columns"},
      {"col_integrality", record.col_integrality.size(), m, m, "columns"},
      {"col_cost", record.col_cost.size(), m, m, "columns"},
      {"col_lower", record.col_lower.size(), m, m, "columns"},
      {"col_upper", record.col_upper.size(), m, m, "columns"},
      {"a_matrix.start", matrix.start.size(), m == 0 ? 0 : m + 1, m, "columns"},
  };
  for (const auto& length : lengths) {
    if (auto said = too_short(length.array, length.size, length.needed, length.count, length.things)) return said;
  }
  for (size_t j = 0; j < m; ++j) {
    const size_t begin = matrix.start[j];
    const size_t end = matrix.start[j + 1];
    if (begin >= end) continue;  // no entries: nothing is written
    for (const auto& [array, size] : {std::pair<std::string_view, size_t>{"a_matrix.index", matrix.index.size()},
                                      {"a_matrix.value", matrix.value.size()}}) {
      if (end > size) {
        return column_said(record, j) + ": its entries end at position " + std::to_string(end) + ", but " +
               std::string(array) + " has " + count_said(size, "entry", "entries");
      }
    }
    for (size_t k = begin; k < end; ++k) {
      if (matrix.index[k] >= n && matrix.value[k] != 0.0) {
        return column_said(record, j) + ", entry " + std::to_string(k) + ": row " + std::to_string(matrix.index[k]) +
               ", but the model has " + count_said(n, "row", "rows");
      }
    }
  }
  return std::nullopt;
}

}  // namespace mopsel
