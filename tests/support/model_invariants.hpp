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
  return {};
}

}  // namespace mopsel
