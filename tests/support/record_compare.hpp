#pragma once
// Records compared field by field: their arrays as vectors, bit-exact values, and the
// first field in which two records differ.
#include <bit>
#include <cstdint>
#include <string>
#include <vector>

#include "model/model_record.hpp"

namespace mopsel::testing {

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

inline bool same_matrix(const SparseMatrixRecord& a, const SparseMatrixRecord& b) {
  return values_of(a.start) == values_of(b.start) && values_of(a.index) == values_of(b.index) &&
         bits_of(a.value) == bits_of(b.value);
}

// The parts beyond a linear program: the first that differs, or empty.
inline std::string extra_parts_difference(const ModelRecord& a, const ModelRecord& b) {
  if (a.hessian.has_value() != b.hessian.has_value() || (a.hessian && !same_matrix(*a.hessian, *b.hessian))) {
    return "hessian";
  }
  if (a.row_hessians.size() != b.row_hessians.size()) return "row_hessians";
  for (size_t i = 0; i < a.row_hessians.size(); ++i) {
    if (a.row_hessians[i].row != b.row_hessians[i].row ||
        !same_matrix(a.row_hessians[i].matrix, b.row_hessians[i].matrix)) {
      return "row_hessians";
    }
  }
  if (a.sos.has_value() != b.sos.has_value()) return "sos";
  if (a.sos && (values_of(a.sos->type) != values_of(b.sos->type) ||
                values_of(a.sos->priority) != values_of(b.sos->priority) ||
                values_of(a.sos->start) != values_of(b.sos->start) || values_of(a.sos->index) != values_of(b.sos->index) ||
                bits_of(a.sos->weight) != bits_of(b.sos->weight) || names_of(a.sos->names) != names_of(b.sos->names))) {
    return "sos";
  }
  if (a.indicators.has_value() != b.indicators.has_value()) return "indicators";
  if (a.indicators && (values_of(a.indicators->row) != values_of(b.indicators->row) ||
                       values_of(a.indicators->column) != values_of(b.indicators->column) ||
                       values_of(a.indicators->value) != values_of(b.indicators->value))) {
    return "indicators";
  }
  return {};
}

// Description of the first difference between two records, or empty.
inline std::string record_difference(const ModelRecord& a, const ModelRecord& b) {
  if (a.name != b.name) return "name";
  if (a.num_row != b.num_row || a.num_col != b.num_col) return "counts";
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
  return extra_parts_difference(a, b);
}

}  // namespace mopsel::testing
