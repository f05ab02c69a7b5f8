#pragma once
// The reader's intermediate arrays and name maps, filled in one pass over the
// text and turned into a ModelRecord by finish_model.
//
// Row and column names are copied out of the text once, as they are read,
// straight into the lists the record keeps; the row map's long keys and the
// model and objective names stay views into the text until finish_model.
// Unlike a plain append-at-the-end layout, every column gets its cost and start
// slot when it is created (by COLUMNS or by BOUNDS), so col_cost and col_start
// always have num_col entries and stay aligned with the columns whatever order
// the sections come in.
#include <cstdint>
#include <limits>
#include <string_view>

#include "model/interrupt.hpp"
#include "model/mps_codes.hpp"
#include "model/name_list.hpp"
#include "model/owned_array.hpp"
#include "model/result.hpp"
#include "reader/names/column_index.hpp"
#include "reader/names/name_map.hpp"
#include "reader/text/size_hints.hpp"

namespace mopsel {

// The reader's one failure message, whatever went wrong.
inline constexpr const char* kParseFailure = "Failed to parse MPS file";

inline Error parse_failure() { return {ErrorKind::Parse, kParseFailure}; }

// Row references in row_index besides constraint rows (0 and up).
inline constexpr int32_t OBJECTIVE_ROW = -1;
inline constexpr int32_t EXTRA_N_ROW = -2;

inline constexpr std::string_view kArtificialObjective = "artificial_empty_objective";
inline constexpr std::string_view kDefaultObjectiveName = "Objective";

// Row references are signed 32-bit, columns and entries unsigned 32-bit; a text
// that needs more fails instead of wrapping. Tests lower these to reach them.
struct ReaderLimits {
  uint64_t max_rows = std::numeric_limits<int32_t>::max();
  uint64_t max_columns = std::numeric_limits<uint32_t>::max();
  uint64_t max_entries = std::numeric_limits<uint32_t>::max();
};

struct ReaderState {
  // Per row (constraint rows only, in ROWS order).
  OwnedArray<double> row_lower;
  OwnedArray<double> row_upper;
  NameList row_names;  // copied from the text as the rows are read
  OwnedArray<uint8_t> row_types;  // RowType L, G or E

  // Per column (in order of creation).
  OwnedArray<double> col_lower;
  OwnedArray<double> col_upper;
  NameList col_names;  // copied from the text as the columns are made
  OwnedArray<double> col_cost;
  OwnedArray<uint8_t> col_integrality;
  OwnedArray<uint8_t> col_default_binary;  // 1: bounds [0, 1] at ENDATA
  OwnedArray<uint32_t> col_start;          // position of the column's first entry

  // Per entry, grouped by column.
  OwnedArray<uint32_t> entry_row;
  OwnedArray<double> entry_value;  // never 0.0

  std::string_view name;
  std::string_view objective_name = kDefaultObjectiveName;
  NameMap<int32_t> row_index;   // constraint row, OBJECTIVE_ROW or EXTRA_N_ROW
  ColumnIndex col_index;        // brought up to date by BOUNDS lookups
  double obj_offset = 0.0;
  uint32_t num_row = 0;
  uint32_t num_col = 0;
  uint32_t nnz = 0;
  uint8_t obj_sense_minimize = 1;

  ReaderLimits limits;
  Interruption interruption;  // asked every kPollStride bytes of text

  // Lookup shortcuts; they never change a result.
  MissMemo row_miss;         // first field of RHS and RANGES records
  MissMemo col_miss;         // second field of BOUNDS records
  uint32_t last_bound_column = 0;  // column of the previous BOUNDS record
};

// Appends a column with bounds [0, +inf], cost 0.0 and an empty range of
// entries starting at nnz. False when the column limit is reached.
[[nodiscard]] bool append_column(ReaderState& state, std::string_view name, uint8_t integrality,
                                 uint8_t default_binary);

// Gives every column still flagged as default-binary the bounds [0, 1].
void apply_binary_default(ReaderState& state) noexcept;

// Reserves capacity (never length) in the per-entry, per-column and per-row
// arrays from the capped hints.
void reserve_from_hints(const SizeHints& hints, size_t text_length, ReaderState& state);

// Reserves capacity in the per-row arrays for `rows` more rows (names of 16 bytes
// on average).
void reserve_rows(ReaderState& state, size_t rows);

}  // namespace mopsel
