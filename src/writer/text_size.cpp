#include "writer/text_size.hpp"

#include <algorithm>

namespace mopsel {

size_t estimate_text_size(const ModelRecord& record) noexcept {
  // Thirteen-digit numbers take 16 to 20 characters; 18 is a middle value.
  constexpr size_t kNumber = 18;
  const size_t rows = record.row_names.size();
  const size_t cols = record.col_names.size();
  const size_t row_bytes = record.row_names.bytes.size();
  const size_t col_bytes = record.col_names.bytes.size();
  const size_t objective = record.objective_name.empty() ? 3 : record.objective_name.size();
  // A few very long names must not inflate the estimate for every entry.
  constexpr size_t kLongName = 64;
  const size_t average_row = std::min(rows == 0 ? objective : row_bytes / rows + 1, kLongName);
  const size_t average_col = std::min(cols == 0 ? 0 : col_bytes / cols + 1, kLongName);
  const size_t entries = record.a_matrix.value.size() + cols;  // coefficients and costs

  size_t size = 256 + record.name.size() + objective;
  size += 5 * rows + row_bytes;                                 // ROWS
  size += entries * (4 + average_row + kNumber);                // "  {row}  {value}"
  size += (entries / 2 + cols) * (5 + average_col);             // "    {col}" and "\n" per line
  size += rows * (11 + average_row + kNumber);                  // RHS (and a share of RANGES)
  size += cols * (12 + average_col + kNumber / 2);              // BOUNDS, about one line in two
  return size;
}

}  // namespace mopsel
