#pragma once
// Entries of quadratic sections, given in any order and perhaps more than once, made
// into the lower triangle of a symmetric matrix in the record's column-wise form.
#include <cstdint>
#include <optional>
#include <span>

#include "model/model_record.hpp"
#include "reader/records/reader_state.hpp"

namespace mopsel {

// The entries of `ranges` as a matrix of `num_col` columns, each value times `scale`:
// in each column the rows ascend; entries at the same place add up (in file order,
// then scaled); a sum of 0.0 leaves no entry (NaN stays). Every entry's column and
// row must be below `num_col`. Throws std::bad_alloc.
SparseMatrixRecord lower_triangle(const LowerEntries& entries, std::span<const EntryRange> ranges, uint32_t num_col,
                                  double scale = 1.0);

// A place in the lower triangle.
struct LowerPlace {
  uint32_t row;
  uint32_t col;
};

// Whether the entries of `lower` below the diagonal (its diagonal is passed over) and
// the entries of `mirrored`, each summed per place as lower_triangle sums them, are
// the same matrix (NaN equals NaN). Nothing when they are; else the first place, in
// column order, where they differ. Sorts when the entries are few against the columns,
// so that many small sections of a large model cost no pass over every column.
std::optional<LowerPlace> halves_differ(const LowerEntries& lower_entries, EntryRange lower,
                                        const LowerEntries& mirrored_entries, EntryRange mirrored,
                                        uint32_t num_col);

}  // namespace mopsel
