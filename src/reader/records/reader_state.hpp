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
#include <vector>

#include "model/interrupt.hpp"
#include "model/mps_codes.hpp"
#include "model/name_list.hpp"
#include "model/owned_array.hpp"
#include "model/result.hpp"
#include "reader/names/column_index.hpp"
#include "reader/names/name_map.hpp"
#include "reader/records/notices.hpp"
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

// How the entries of a quadratic section make its H.
enum class QuadraticKind : uint8_t {
  OneTriangle,  // QUADOBJ, QSECTION: each entry adds to its place in the lower triangle
  Full,         // QMATRIX (QCMATRIX of the objective): both equal halves of H given
  FullDoubled,  // QCMATRIX of a row: both equal halves of Q in x'Qx given, H = 2Q
};

// Entries of quadratic sections at their place in the lower triangle (row >= col),
// in file order.
struct LowerEntries {
  OwnedArray<uint32_t> row;
  OwnedArray<uint32_t> col;
  OwnedArray<double> value;

  [[nodiscard]] size_t size() const noexcept { return value.size(); }
  void push(uint32_t r, uint32_t c, double v) {
    row.push_back(r);
    col.push_back(c);
    value.push_back(v);
  }
};

// Positions [begin, end) of a LowerEntries.
struct EntryRange {
  size_t begin = 0;
  size_t end = 0;
};

// One quadratic section: whose H it adds to, and where its entries lie.
struct QuadraticSegment {
  int32_t target = OBJECTIVE_ROW;  // or a constraint row
  QuadraticKind kind = QuadraticKind::OneTriangle;
  EntryRange entries;   // in QuadraticParts::entries
  EntryRange mirrored;  // in QuadraticParts::mirrored (full kinds)
};

struct QuadraticParts {
  // What makes each H: every entry of a one-triangle section, the diagonal and the
  // entries below it of a full one.
  LowerEntries entries;
  // Full sections: the entries given above the diagonal, at their mirror place; they
  // must equal the entries below it.
  LowerEntries mirrored;
  std::vector<QuadraticSegment> segments;  // the kept sections, in file order
  bool objective = false;                  // a section gave the objective's H
  bool objective_named = false;            // ... through QSECTION or QCMATRIX
  std::vector<uint8_t> row_named;          // per row: 1 once a section gave its H_r
};

// SOS sections: the sets in file order (the record's arrays; start without its
// closing entry until finish_model).
struct SosParts {
  OwnedArray<uint8_t> type;
  OwnedArray<int32_t> priority;
  OwnedArray<uint32_t> start;
  OwnedArray<uint32_t> index;
  OwnedArray<double> weight;
  NameList names;
};

// INDICATORS sections, in file order.
struct IndicatorParts {
  OwnedArray<uint32_t> row;
  OwnedArray<uint32_t> column;
  OwnedArray<uint8_t> value;
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

  // The parts beyond a linear program.
  QuadraticParts quadratic;
  SosParts sos;
  IndicatorParts indicators;

  ReaderLimits limits;
  Interruption interruption;  // asked every kPollStride bytes of text
  // N rows besides the objective become rows without bounds (their entries kept)
  // instead of being dropped.
  bool keep_free_rows = false;
  Notices notices;  // what the reading passed over or guessed

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
