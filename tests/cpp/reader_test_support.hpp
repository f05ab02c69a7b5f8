#pragma once
// Small helpers shared by the reader tests: read a text that must succeed
// (checking the record invariants on the way), turn record arrays into vectors
// for whole-sequence comparisons, and compare two records bit for bit.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include "model/model_record.hpp"
#include "model_invariants.hpp"
#include "reader/read_mps.hpp"

namespace mopsel::testing {

inline constexpr double kInf = std::numeric_limits<double>::infinity();

// Reads `text`; a failed read or a broken invariant fails the calling test.
inline ModelRecord read_valid(std::string_view text) {
  Result<ModelRecord> result = read_mps(text);
  if (!result.ok()) {
    ADD_FAILURE() << "read failed: " << result.error() << "\n--- text ---\n" << text;
    return ModelRecord{};
  }
  EXPECT_EQ(check_record_invariants(result.value()), "") << "--- text ---\n" << text;
  return std::move(result).value();
}

// The error text of a read that must fail (empty when it succeeded).
inline std::string read_error(std::string_view text) {
  Result<ModelRecord> result = read_mps(text);
  if (result.ok()) return {};
  return result.error();
}

inline std::vector<std::string> names_of(const NameList& names) {
  std::vector<std::string> out;
  for (size_t i = 0; i < names.size(); ++i) out.emplace_back(names[i]);
  return out;
}

template <class T>
std::vector<T> values_of(const OwnedArray<T>& array) {
  return std::vector<T>(array.begin(), array.end());
}

inline std::vector<int> codes_of(const OwnedArray<uint8_t>& array) {
  return std::vector<int>(array.begin(), array.end());
}

// Bit patterns, so that -0.0 differs from 0.0 and NaN equals itself.
inline std::vector<uint64_t> bits_of(const OwnedArray<double>& array) {
  std::vector<uint64_t> out;
  for (double v : array) out.push_back(std::bit_cast<uint64_t>(v));
  return out;
}

// Description of the first difference between two records, or empty.
inline std::string record_difference(const ModelRecord& a, const ModelRecord& b) {
  if (a.name != b.name) return "name";
  if (a.num_row != b.num_row) return "num_row";
  if (a.num_col != b.num_col) return "num_col";
  if (a.obj_sense_minimize != b.obj_sense_minimize) return "obj_sense_minimize";
  if (std::bit_cast<uint64_t>(a.obj_offset) != std::bit_cast<uint64_t>(b.obj_offset)) return "obj_offset";
  if (bits_of(a.col_cost) != bits_of(b.col_cost)) return "col_cost";
  if (bits_of(a.col_lower) != bits_of(b.col_lower)) return "col_lower";
  if (bits_of(a.col_upper) != bits_of(b.col_upper)) return "col_upper";
  if (bits_of(a.row_lower) != bits_of(b.row_lower)) return "row_lower";
  if (bits_of(a.row_upper) != bits_of(b.row_upper)) return "row_upper";
  if (values_of(a.a_matrix.start) != values_of(b.a_matrix.start)) return "start";
  if (values_of(a.a_matrix.index) != values_of(b.a_matrix.index)) return "index";
  if (bits_of(a.a_matrix.value) != bits_of(b.a_matrix.value)) return "value";
  if (a.objective_name != b.objective_name) return "objective_name";
  if (names_of(a.row_names) != names_of(b.row_names)) return "row_names";
  if (names_of(a.col_names) != names_of(b.col_names)) return "col_names";
  if (codes_of(a.col_integrality) != codes_of(b.col_integrality)) return "col_integrality";
  return {};
}

// Joins lines with LF, each line terminated.
inline std::string lines(std::initializer_list<std::string_view> list) {
  std::string text;
  for (std::string_view line : list) {
    text += line;
    text += '\n';
  }
  return text;
}

}  // namespace mopsel::testing
