#pragma once
// Helpers shared by the writer tests: build a record from row and column lists,
// write it to a string, and cut one section out of the text.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "model/model_record.hpp"
#include "writer/mps_writer.hpp"

namespace mopsel::testing {

inline constexpr double kInf = std::numeric_limits<double>::infinity();
inline constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
inline constexpr uint8_t kCont = 0, kInt = 1, kSemiCont = 2, kSemiInt = 3;

struct RowSpec {
  std::string name;
  double lower, upper;
};
struct ColSpec {
  std::string name;
  uint8_t kind;
  double cost, lower, upper;
  std::vector<std::pair<uint32_t, double>> entries;
};

inline ModelRecord make_record(const std::vector<RowSpec>& rows, const std::vector<ColSpec>& cols,
                               std::string objective = "OBJ") {
  ModelRecord r;
  r.objective_name = std::move(objective);
  r.num_row = static_cast<uint32_t>(rows.size());
  r.num_col = static_cast<uint32_t>(cols.size());
  for (const RowSpec& row : rows) {
    r.row_names.push_back(row.name);
    r.row_lower.push_back(row.lower);
    r.row_upper.push_back(row.upper);
  }
  r.a_matrix.start.push_back(0);
  for (const ColSpec& col : cols) {
    r.col_names.push_back(col.name);
    r.col_integrality.push_back(col.kind);
    r.col_cost.push_back(col.cost);
    r.col_lower.push_back(col.lower);
    r.col_upper.push_back(col.upper);
    for (const auto& [row, value] : col.entries) {
      r.a_matrix.index.push_back(row);
      r.a_matrix.value.push_back(value);
    }
    r.a_matrix.start.push_back(static_cast<uint32_t>(r.a_matrix.index.size()));
  }
  return r;
}

inline std::string text_of(const ModelRecord& record, const WriteOptions& options = {}) {
  ByteBuffer out;
  EXPECT_TRUE(write_mps_to_buffer(record, out, options).ok());
  return std::string(as_view(out));
}

// The lines after the line `first` up to, not including, the line `stop`.
inline std::string section(const std::string& text, const std::string& first, const std::string& stop) {
  const size_t begin = text.find(first + "\n");
  const size_t end = text.find(stop + "\n", begin);
  if (begin == std::string::npos || end == std::string::npos) return "<missing " + first + ">";
  return text.substr(begin + first.size() + 1, end - begin - first.size() - 1);
}

}  // namespace mopsel::testing
