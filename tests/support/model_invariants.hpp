#pragma once
// Checks the structural invariants every valid ModelRecord meets (the reader
// always produces one; the writer relies on them). Returns a description of the
// first broken invariant, or an empty string when the record is sound.
//
//   EXPECT_EQ(check_record_invariants(record), "");
#include <cstdint>
#include <string>
#include <vector>

#include "model/model_record.hpp"

namespace mopsel {

// A lower triangle of num_col columns: starts from 0 to nnz, rows ascending within a
// column and at least the column, below num_col, no zero value; some entry at all.
inline std::string check_lower_triangle(const SparseMatrixRecord& h, size_t num_col, const std::string& what) {
  if (h.start.size() != num_col + 1) return what + ": " + std::to_string(h.start.size()) + " starts";
  if (h.start[0] != 0 || h.start[num_col] != h.index.size() || h.index.size() != h.value.size()) {
    return what + ": starts do not span index and value";
  }
  if (h.value.empty()) return what + " is present without entries";
  for (size_t j = 0; j < num_col; ++j) {
    if (h.start[j + 1] < h.start[j]) return what + ": start decreases at column " + std::to_string(j);
    for (size_t k = h.start[j]; k < h.start[j + 1]; ++k) {
      if (h.index[k] < j || h.index[k] >= num_col) return what + ": row " + std::to_string(h.index[k]) + " in column " + std::to_string(j);
      if (k > h.start[j] && h.index[k] <= h.index[k - 1]) return what + ": rows do not ascend in column " + std::to_string(j);
      if (h.value[k] == 0.0) return what + ": value[" + std::to_string(k) + "] is zero";
    }
  }
  return {};
}

// The parts beyond a linear program: each absent or with something in it.
inline std::string check_extra_invariants(const ModelRecord& record) {
  const size_t num_col = record.num_col;
  if (record.hessian) {
    if (std::string e = check_lower_triangle(*record.hessian, num_col, "hessian"); !e.empty()) return e;
  }
  for (size_t i = 0; i < record.row_hessians.size(); ++i) {
    const RowHessianRecord& row = record.row_hessians[i];
    if (row.row >= record.num_row) return "row_hessians: row " + std::to_string(row.row);
    if (i > 0 && row.row <= record.row_hessians[i - 1].row) return "row_hessians: rows do not ascend";
    if (std::string e = check_lower_triangle(row.matrix, num_col, "row_hessians"); !e.empty()) return e;
  }
  if (record.sos) {
    const SosRecord& sos = *record.sos;
    const size_t sets = sos.type.size();
    if (sets == 0) return "sos is present without sets";
    if (sos.priority.size() != sets || sos.names.size() != sets || sos.start.size() != sets + 1) return "sos lengths";
    if (sos.start[0] != 0 || sos.start[sets] != sos.index.size() || sos.weight.size() != sos.index.size()) {
      return "sos starts do not span index and weight";
    }
    for (size_t k = 0; k < sets; ++k) {
      if (sos.type[k] != 1 && sos.type[k] != 2) return "sos type " + std::to_string(sos.type[k]);
      if (sos.start[k + 1] < sos.start[k]) return "sos start decreases";
    }
    for (const uint32_t column : sos.index) {
      if (column >= num_col) return "sos index " + std::to_string(column);
    }
  }
  if (record.indicators) {
    const IndicatorRecord& ind = *record.indicators;
    if (ind.row.empty()) return "indicators are present without entries";
    if (ind.column.size() != ind.row.size() || ind.value.size() != ind.row.size()) return "indicator lengths";
    for (size_t k = 0; k < ind.row.size(); ++k) {
      if (ind.row[k] >= record.num_row || ind.column[k] >= num_col || ind.value[k] > 1) return "indicator " + std::to_string(k);
    }
  }
  return {};
}

inline std::string check_record_invariants(const ModelRecord& record) {
  const size_t num_row = record.num_row;
  const size_t num_col = record.num_col;
  auto wrong_length = [](const char* field, size_t got, size_t want) {
    return std::string(field) + " has " + std::to_string(got) + " entries, expected " +
           std::to_string(want);
  };

  // 1. Per-column and per-row lengths.
  if (record.col_cost.size() != num_col) return wrong_length("col_cost", record.col_cost.size(), num_col);
  if (record.col_lower.size() != num_col) return wrong_length("col_lower", record.col_lower.size(), num_col);
  if (record.col_upper.size() != num_col) return wrong_length("col_upper", record.col_upper.size(), num_col);
  if (record.col_names.size() != num_col) return wrong_length("col_names", record.col_names.size(), num_col);
  if (record.col_integrality.size() != num_col) {
    return wrong_length("col_integrality", record.col_integrality.size(), num_col);
  }
  if (record.row_lower.size() != num_row) return wrong_length("row_lower", record.row_lower.size(), num_row);
  if (record.row_upper.size() != num_row) return wrong_length("row_upper", record.row_upper.size(), num_row);
  if (record.row_names.size() != num_row) return wrong_length("row_names", record.row_names.size(), num_row);

  // 2. Column starts: num_col + 1 entries, from 0, non-decreasing, closing at nnz.
  const auto& m = record.a_matrix;
  if (m.start.size() != num_col + 1) return wrong_length("start", m.start.size(), num_col + 1);
  if (m.start[0] != 0) return "start[0] is " + std::to_string(m.start[0]) + ", expected 0";
  for (size_t j = 0; j < num_col; ++j) {
    if (m.start[j + 1] < m.start[j]) {
      return "start decreases at column " + std::to_string(j) + ": " + std::to_string(m.start[j]) +
             " then " + std::to_string(m.start[j + 1]);
    }
  }
  const size_t nnz = m.start[num_col];
  if (m.index.size() != nnz) return wrong_length("index", m.index.size(), nnz);
  if (m.value.size() != nnz) return wrong_length("value", m.value.size(), nnz);

  // 3-5. Row indices in range, no row twice in a column, no zero value.
  std::vector<size_t> last_seen_in(num_row, SIZE_MAX);
  for (size_t j = 0; j < num_col; ++j) {
    for (size_t k = m.start[j]; k < m.start[j + 1]; ++k) {
      const uint32_t row = m.index[k];
      if (row >= num_row) {
        return "index[" + std::to_string(k) + "] is " + std::to_string(row) + ", not below num_row " +
               std::to_string(num_row);
      }
      if (last_seen_in[row] == j) {
        return "row " + std::to_string(row) + " occurs twice in column " + std::to_string(j);
      }
      last_seen_in[row] = j;
      if (m.value[k] == 0.0) return "value[" + std::to_string(k) + "] is zero";
    }
  }

  // 6. Integrality codes.
  for (size_t j = 0; j < num_col; ++j) {
    if (record.col_integrality[j] > 3) {
      return "col_integrality[" + std::to_string(j) + "] is " +
             std::to_string(record.col_integrality[j]) + ", not a code 0..3";
    }
  }
  return check_extra_invariants(record);
}

}  // namespace mopsel
