#pragma once
// Quadratic sections: QUADOBJ, QMATRIX, QSECTION and QCMATRIX. Each record names two
// columns and a value; where the value goes depends on the section:
//  - QUADOBJ, and QSECTION of the objective row: one triangle of the objective's H
//    (c'x + 1/2 x'Hx); each entry adds to its place, so an entry given in both
//    triangles counts twice (the three peers read it so);
//  - QMATRIX, and QCMATRIX of the objective row: both halves of H, which must agree;
//  - QSECTION of a constraint row: one triangle of H_r (a_r'x + 1/2 x'H_r x);
//  - QCMATRIX of a constraint row: both halves of Q in x'Qx, so H_r = 2Q.
// Entries at the same place add up; names of unknown columns make new columns (as in
// BOUNDS); a zero value (or a malformed one) adds nothing.
#include <cstdint>
#include <optional>
#include <string_view>

#include "model/finding_code.hpp"
#include "model/model_record.hpp"
#include "reader/records/lower_triangle.hpp"
#include "reader/records/reader_state.hpp"
#include "reader/text/keywords.hpp"
#include "reader/text/lines.hpp"

namespace mopsel {

// Each row's H_r holds num_col + 1 column starts, so a text could ask for memory
// quadratic in its size (many QCMATRIX sections, many columns). The rows' starts may take
// this many per byte of text (64 bytes of memory per byte; the rest of a model takes at
// most about 16), or up to kRowHessianStartsFloor (256 MiB) whatever the text; beyond
// that the read fails rather than exhaust the machine.
inline constexpr uint64_t kRowHessianStartsPerByte = 16;
inline constexpr uint64_t kRowHessianStartsFloor = uint64_t{1} << 26;

// The quadratic section being read.
struct QuadraticScratch {
  HeaderKind header = HeaderKind::QuadObj;  // QuadObj, QMatrix, QSection or QcMatrix
  std::string_view header_word;             // the keyword as written
  std::string_view row_name;                // QSECTION and QCMATRIX: the row it names
  const char* records_begin = nullptr;      // the text after the header line
  bool open = false;                        // a section was begun and not yet ended
  bool keep = false;                        // the entries go to a segment (not an extra N row's)
  QuadraticKind kind = QuadraticKind::OneTriangle;
  // The column of the last first name, and of the last second name: lines of one
  // column follow each other, and the second names of a column usually ascend.
  std::string_view first_name;
  uint32_t first_column = 0;
  uint32_t second_column = 0;
};

// What a quadratic section header opens, before its records: its kind and whose H
// it adds to, from the header and the row it names. The finding that ends the read
// when the header cannot be read so (an unknown or missing row, a second section for
// a row), or None; the section then keeps nothing.
FindingCode begin_quadratic(ReaderState& state, QuadraticScratch& scratch);

// Where the two names of a record are, from the field positions: columns of fields 0
// and 1 (the first looked up with the scratch's memo), made when unknown; false when
// the column limit is reached.
[[nodiscard]] bool quadratic_columns(ReaderState& state, QuadraticScratch& scratch, std::string_view first,
                                     std::string_view second, uint32_t& a, uint32_t& b);

// Adds the value `value` given for the columns (a, b) to the open section. False when
// the entry limit is reached.
[[nodiscard]] bool add_quadratic_entry(ReaderState& state, const QuadraticScratch& scratch, uint32_t a, uint32_t b,
                                       double value);

// One record (fields: column, column, value). A record without a value adds nothing.
// False when a size limit is reached.
[[nodiscard]] bool quadratic_record(ReaderState& state, QuadraticScratch& scratch, const Fields& fields);

// Closes the open section. For a full one (QMATRIX, QCMATRIX) the place where its two
// halves differ, if they do.
std::optional<LowerPlace> end_quadratic(ReaderState& state, QuadraticScratch& scratch);

// The section names the place (`place`) of a record with the columns (a, b).
[[nodiscard]] inline bool names_place(uint32_t a, uint32_t b, LowerPlace place) noexcept {
  return (a == place.col && b == place.row) || (a == place.row && b == place.col);
}

// The objective's H and every row's H_r from the state's sections, for the record.
void assemble_quadratic(ReaderState& state, ModelRecord& record);

// The same from `parts` alone (every column below `num_col`), which is left empty.
void assemble_quadratic(QuadraticParts& parts, uint32_t num_col, ModelRecord& record);

// Whether the rows' H_r of `parts` would take more column starts than a text of
// `text_size` bytes can warrant (see kRowHessianStartsPerByte).
[[nodiscard]] bool row_hessians_too_large(const QuadraticParts& parts, uint32_t num_col, uint64_t text_size) noexcept;

}  // namespace mopsel
