#pragma once
// The one in-memory form of an optimisation model: produced by the reader,
// exposed to Python as a Model, consumed by the writer.
//
// Invariants of a valid record (the reader always produces one):
//  1. col_cost, col_lower, col_upper, col_names, col_integrality have num_col
//     entries; row_lower, row_upper, row_names have num_row entries.
//  2. a_matrix.start has num_col + 1 entries, starts at 0, never decreases and
//     ends at the length of index and value.
//  3. every index entry is below num_row;
//  4. no row occurs twice within a column (entries are in first-touch order);
//  5. no value equals 0.0 (NaN may occur);
//  6. every integrality code is 0..3.
// Infinite bounds are IEEE infinities; no finite value stands for infinity.
//
// The parts beyond a linear program are absent when the text gives none (a section
// without entries, or whose entries add up to zero, gives none), so a linear model is
// the record it always was:
//  - hessian: H of the objective c'x + 1/2 x'Hx + offset, its lower triangle
//    column by column (num_col columns; in each column the rows ascend, are at
//    least the column and occur once; no value equals 0.0);
//  - row_hessians: for rows whose activity is a_r'x + 1/2 x'H_r x, H_r laid out as
//    the hessian, sorted by row, each row once;
//  - sos: special ordered sets, set k holding positions [start[k], start[k+1]) of
//    index (columns) and weight, type 1 or 2;
//  - indicators: row[k] holds when column[k] equals value[k] (0 or 1).
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "model/name_list.hpp"
#include "model/owned_array.hpp"

namespace mopsel {

enum class IntegralityKind : uint8_t {
  CONTINUOUS = 0,
  INTEGER = 1,
  SEMI_CONTINUOUS = 2,
  SEMI_INTEGER = 3,
};

inline constexpr uint8_t code(IntegralityKind kind) noexcept {
  return static_cast<uint8_t>(kind);
}

// Column-wise compressed matrix; column j holds positions [start[j], start[j+1]).
struct SparseMatrixRecord {
  OwnedArray<uint32_t> start;
  OwnedArray<uint32_t> index;
  OwnedArray<double> value;
};

// A row's quadratic part: H_r of a_r'x + 1/2 x'H_r x.
struct RowHessianRecord {
  uint32_t row = 0;
  SparseMatrixRecord matrix;
};

// Special ordered sets: at most one (type 1) or two adjacent (type 2) columns of a
// set are nonzero, adjacency in the order the set lists them.
struct SosRecord {
  OwnedArray<uint8_t> type;      // per set: 1 or 2
  OwnedArray<int32_t> priority;  // per set
  OwnedArray<uint32_t> start;    // sets + 1 positions into index and weight
  OwnedArray<uint32_t> index;    // columns
  OwnedArray<double> weight;
  NameList names;                // per set
};

// Indicator constraints: row[k] holds when column[k] equals value[k].
struct IndicatorRecord {
  OwnedArray<uint32_t> row;
  OwnedArray<uint32_t> column;
  OwnedArray<uint8_t> value;  // 0 or 1
};

struct ModelRecord {
  std::string name;
  uint32_t num_row = 0;
  uint32_t num_col = 0;
  bool obj_sense_minimize = true;
  double obj_offset = 0.0;
  OwnedArray<double> col_cost;
  OwnedArray<double> col_lower;
  OwnedArray<double> col_upper;
  OwnedArray<double> row_lower;
  OwnedArray<double> row_upper;
  SparseMatrixRecord a_matrix;
  std::string objective_name = "Objective";
  NameList row_names;
  NameList col_names;
  OwnedArray<uint8_t> col_integrality;  // IntegralityKind codes
  std::optional<SparseMatrixRecord> hessian;
  std::vector<RowHessianRecord> row_hessians;
  std::optional<SosRecord> sos;
  std::optional<IndicatorRecord> indicators;
};

}  // namespace mopsel
