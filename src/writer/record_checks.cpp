#include "writer/record_checks.hpp"

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

}  // namespace

void check_writable(const ModelRecord& record) {
  const OwnedArray<uint32_t>& start = record.a_matrix.start;
  if (lengths_suffice(record)) [[likely]] {
    for (size_t j = 0; j < record.num_col; ++j) check_positions(record, start[j], start[j + 1]);
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
}

}  // namespace mopsel
