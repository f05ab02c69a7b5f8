#pragma once
// The rendering of the text, line by line, shared by the two units that
// instantiate it: mps_text.cpp, the fixed layout (write_str and write_file, the
// hot path), and mps_text_options.cpp, the other number formats, the exact mode
// and gzip output. Apart, the fixed layout's unit compiles as it did before the
// options existed: in one unit with them, GCC inlined less in the entry lines and
// writing nw04 took 15% more instructions. The code has internal linkage (an
// unnamed namespace), as it had in one .cpp file: each unit keeps its own copy,
// and with external linkage GCC inlined differently again (2.6% more).
#include <bit>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "model/fault.hpp"
#include "model/model_record.hpp"
#include "model/mps_codes.hpp"
#include "writer/bound_rules.hpp"
#include "writer/number_format.hpp"
#include "writer/row_class.hpp"
#include "writer/set_names.hpp"
#include "writer/sink.hpp"
#include "writer/write_options.hpp"

namespace mopsel::mps_text_detail {
namespace {

// The number format of the fixed layout (13 digits, inline).
struct FixedLayout {
  static constexpr bool kOptions = false;
  static constexpr bool kFixedColumns = false;
  static char* number(double value, int, char* at) noexcept { return format_number(value, at); }
};

// The number format WriteOptions::digits chooses, and the exact mode with digits 0.
struct WithOptions {
  static constexpr bool kOptions = true;
  static constexpr bool kFixedColumns = false;
  static char* number(double value, int digits, char* at) noexcept {
    return digits == kFixedLayoutDigits ? format_number(value, at) : format_number_other(value, digits, at);
  }
};

// Fixed-format MPS: every name and number in its columns (names padded to the 8 bytes
// of a field, numbers in at most 12 characters); null for a number the exact mode
// cannot fit.
struct FixedColumns {
  static constexpr bool kOptions = true;
  static constexpr bool kFixedColumns = true;
  static char* number(double value, int digits, char* at) noexcept {
    return format_number_in_field(value, digits, at);
  }
};

// The widths of the fields a fixed-format line pads to.
inline constexpr size_t kFixedNameWidth = 8;

// Copies a name. Most names are short: those are moved with two overlapping
// loads and stores of 8, 4 or 2 bytes, touching only [text, text + size) and
// [at, at + size), instead of a call to memcpy.
inline char* put_text(char* at, std::string_view text) noexcept {
  const char* from = text.data();
  const size_t size = text.size();
  if (size >= 8 && size <= 16) {
    uint64_t head, tail;
    std::memcpy(&head, from, 8);
    std::memcpy(&tail, from + size - 8, 8);
    std::memcpy(at, &head, 8);
    std::memcpy(at + size - 8, &tail, 8);
  } else if (size >= 4 && size < 8) {
    uint32_t head, tail;
    std::memcpy(&head, from, 4);
    std::memcpy(&tail, from + size - 4, 4);
    std::memcpy(at, &head, 4);
    std::memcpy(at + size - 4, &tail, 4);
  } else if (size >= 2 && size < 4) {
    uint16_t head, tail;
    std::memcpy(&head, from, 2);
    std::memcpy(&tail, from + size - 2, 2);
    std::memcpy(at, &head, 2);
    std::memcpy(at + size - 2, &tail, 2);
  } else if (size == 1) {
    at[0] = from[0];
  } else {
    std::memcpy(at, from, size);
  }
  return at + size;
}

template <size_t N>
inline char* put_literal(char* at, const char (&text)[N]) noexcept {
  std::memcpy(at, text, N - 1);
  return at + (N - 1);
}

// Every line is rendered whole, straight into the room the sink offers for it
// (the tail of the byte buffer, or the file sink's buffer when the line's upper
// bound fits in its free space). Otherwise the line is rendered into a scratch
// buffer and handed to the sink as one piece, so for the sink a line is always
// exactly one piece either way.
template <TextSink Sink, class Format>
struct LineOut {
  static constexpr bool kFixedColumns = Format::kFixedColumns;

  Sink& sink;
  int digits;           // WriteOptions::digits
  std::string scratch;  // lines the sink has no room for at the moment
  // Fixed columns: the first number that did not fit its field (the text is then not used).
  bool number_too_long = false;
  double too_long = 0.0;

  char* number(double value, char* at) noexcept {
    if constexpr (kFixedColumns) {
      if (char* end = Format::number(value, digits, at)) return end;
      if (!number_too_long) too_long = value;
      number_too_long = true;
      return format_number_shortest(value, at);
    } else {
      return Format::number(value, digits, at);
    }
  }

  // A name that a later field follows: padded to its field in fixed columns.
  static char* name(char* at, std::string_view text) noexcept {
    char* end = put_text(at, text);
    if constexpr (kFixedColumns) {
      while (static_cast<size_t>(end - at) < kFixedNameWidth) *end++ = ' ';
    }
    return end;
  }

  // A number that a later field follows: padded to its field in fixed columns.
  char* padded_number(double value, char* at) noexcept {
    char* end = number(value, at);
    if constexpr (kFixedColumns) {
      while (static_cast<size_t>(end - at) < kFixedNumberWidth) *end++ = ' ';
    }
    return end;
  }

  // `render(char*)` writes at most `bound` bytes and returns the end.
  template <class Render>
  void line(size_t bound, Render&& render) {
    if (char* at = sink.line_space(bound)) [[likely]] {
      sink.line_done(render(at));
      return;
    }
    if (scratch.size() < bound) scratch.resize(bound);
    char* const begin = scratch.data();
    sink.put({begin, static_cast<size_t>(render(begin) - begin)});
  }
};

inline bool is_integral(uint8_t code) noexcept {
  return code == static_cast<uint8_t>(IntegralityKind::INTEGER) ||
         code == static_cast<uint8_t>(IntegralityKind::SEMI_INTEGER);
}

// "    M{:07}  'MARKER'                 'INTORG'" (or 'INTEND'): 'MARKER' and the
// keyword stand in the fixed-format fields 3 and 5, where fixed columns take the name
// MARKER, which fits field 2 whatever the count.
template <class Out>
void put_marker(Out& out, uint32_t counter, bool opening) {
  constexpr char kGap[] = "                 ";
  out.line(5 + 10 + 2 + kMarker.size() + sizeof kGap + kIntegerStart.size() + 1, [&](char* at) {
    if constexpr (Out::kFixedColumns) {
      at = put_literal(at, "    MARKER    ");
    } else {
      char digits[16];
      char* const end = digits + sizeof digits;
      char* p = end;
      do {
        *--p = static_cast<char>('0' + counter % 10);
        counter /= 10;
      } while (end - p < 7 || counter != 0);  // zero-padded to at least seven digits
      at = put_literal(at, "    M");
      at = put_text(at, {p, static_cast<size_t>(end - p)});
      at = put_literal(at, "  ");
    }
    at = put_text(at, kMarker);
    at = put_literal(at, kGap);
    at = put_text(at, opening ? kIntegerStart : kIntegerEnd);
    *at++ = '\n';
    return at;
  });
}

// "    {col}  {row}  {value}" for one pair, followed by a second pair when `two` (in
// fixed columns, a third blank puts the second row name in column 40).
template <class Out>
void put_entry_line(Out& out, std::string_view column, std::string_view row1, double value1,
                    std::string_view row2, double value2, bool two) {
  const size_t bound = 4 + column.size() + 2 + row1.size() + 2 + kMaxNumberChars + 1 +
                       (two ? 3 + row2.size() + 2 + kMaxNumberChars : 0) + (Out::kFixedColumns ? 3 * 8 : 0);
  out.line(bound, [&](char* at) {
    at = put_literal(at, "    ");
    at = out.name(at, column);
    at = put_literal(at, "  ");
    at = out.name(at, row1);
    at = put_literal(at, "  ");
    if (!two) {
      at = out.number(value1, at);
    } else {
      at = out.padded_number(value1, at);
      if constexpr (Out::kFixedColumns) *at++ = ' ';
      at = put_literal(at, "  ");
      at = out.name(at, row2);
      at = put_literal(at, "  ");
      at = out.number(value2, at);
    }
    *at++ = '\n';
    return at;
  });
}

template <class Out>
bool write_rows(const ModelRecord& record, const std::vector<RowClass>& rows, std::string_view objective,
                Out& out) {
  out.sink.put("ROWS\n");
  out.line(4 + objective.size() + 1, [&](char* at) {
    at = put_literal(at, " N  ");
    at = put_text(at, objective);
    *at++ = '\n';
    return at;
  });
  for (size_t i = 0; i < rows.size(); ++i) {
    check_index(record.row_names.size(), i);
    const std::string_view name = record.row_names[i];
    const char letter = row_type_letter(rows[i].type);
    out.line(4 + name.size() + 1, [&](char* at) {
      at[0] = ' ';
      at[1] = letter;
      at[2] = ' ';
      at[3] = ' ';
      at = put_text(at + 4, name);
      *at++ = '\n';
      return at;
    });
    if (!out.sink.ok()) return false;
  }
  return true;
}

template <class Out>
bool write_columns(const ModelRecord& record, std::string_view objective, Out& out) {
  const SparseMatrixRecord& matrix = record.a_matrix;
  uint32_t marker = 0;
  bool in_integral_run = false;

  out.sink.put("COLUMNS\n");
  for (size_t j = 0; j < record.num_col; ++j) {
    check_index(record.col_integrality.size(), j);
    const bool integral = is_integral(record.col_integrality[j]);
    if (integral != in_integral_run) {
      put_marker(out, ++marker, integral);
      in_integral_run = integral;
      if (!out.sink.ok()) return false;
    }
    check_index(record.col_names.size(), j);
    check_index(record.col_cost.size(), j);
    check_index(matrix.start.size(), j);
    check_index(matrix.start.size(), j + 1);
    const std::string_view column = record.col_names[j];
    // The positions and their rows were checked before any text (record_checks.hpp).
    const size_t begin = matrix.start[j];
    const size_t end = matrix.start[j + 1];

    // The entries (the cost first, unless zero; then the non-zero coefficients
    // in storage order) go out two per line as they come; `held` is the first
    // entry of a line whose second has not come yet.
    std::string_view held_row;
    double held_value = 0.0;
    bool holding = false;
    bool any = false;
    auto take = [&](std::string_view row, double value) {
      if (holding) {
        put_entry_line(out, column, held_row, held_value, row, value, true);
      } else {
        held_row = row;
        held_value = value;
      }
      holding = !holding;
    };
    const double cost = record.col_cost[j];
    if (cost != 0.0) {  // NaN is kept
      take(objective, cost);
      any = true;
    }
    for (size_t k = begin; k < end; ++k) {
      const double value = matrix.value[k];
      if (value == 0.0) continue;
      take(record.row_names[matrix.index[k]], value);
      any = true;
    }
    if (holding) {
      put_entry_line(out, column, held_row, held_value, {}, 0.0, false);
    } else if (!any) {
      // Every column appears in the section, even one without any entry.
      out.line(4 + column.size() + 2 + objective.size() + 21 + 16, [&](char* at) {
        at = put_literal(at, "    ");
        at = out.name(at, column);
        at = put_literal(at, "  ");
        at = out.name(at, objective);
        if constexpr (Out::kFixedColumns) return put_literal(at, "  0\n");
        return put_literal(at, "  0.000000000000e+00\n");
      });
    }
    if (!out.sink.ok()) return false;
  }
  if (in_integral_run) put_marker(out, ++marker, false);
  return out.sink.ok();
}

// "    {set}  {row}  {value}"
template <class Out>
void put_set_line(Out& out, std::string_view set, std::string_view row, double value) {
  out.line(4 + set.size() + 2 + row.size() + 2 + kMaxNumberChars + 1 + 16, [&](char* at) {
    at = put_literal(at, "    ");
    at = out.name(at, set);
    at = put_literal(at, "  ");
    at = out.name(at, row);
    at = put_literal(at, "  ");
    at = out.number(value, at);
    *at++ = '\n';
    return at;
  });
}

// Whether a right-hand side needs a line: not when it is zero, the value the
// reader assumes; in the exact mode only +0.0 goes without one, so that -0.0
// keeps its sign.
inline bool rhs_written(double rhs, bool exact) noexcept {
  return exact ? std::bit_cast<uint64_t>(rhs) != 0 : rhs != 0.0;  // NaN is written
}

template <class Out>
bool write_rhs_and_ranges(const ModelRecord& record, const std::vector<RowClass>& rows,
                          std::string_view objective, const SetNames& sets, bool exact, Out& out) {
  out.sink.put("RHS\n");
  if (rhs_written(record.obj_offset, exact)) {
    // The objective row's right-hand side is the negated constant term.
    put_set_line(out, sets.rhs, objective, -record.obj_offset);
    if (!out.sink.ok()) return false;
  }
  bool any_range = false;
  for (size_t i = 0; i < rows.size(); ++i) {
    any_range |= rows[i].has_range;
    if (!rhs_written(rows[i].rhs, exact)) continue;
    check_index(record.row_names.size(), i);
    put_set_line(out, sets.rhs, record.row_names[i], rows[i].rhs);
    if (!out.sink.ok()) return false;
  }
  if (!any_range) return true;
  out.sink.put("RANGES\n");
  for (size_t i = 0; i < rows.size(); ++i) {
    if (!rows[i].has_range) continue;
    check_index(record.row_names.size(), i);
    put_set_line(out, sets.range, record.row_names[i], rows[i].range);
    if (!out.sink.ok()) return false;
  }
  return true;
}

template <class Out>
bool write_bounds(const ModelRecord& record, std::string_view bound_set, bool exact, Out& out) {
  out.sink.put("BOUNDS\n");
  for (size_t j = 0; j < record.num_col; ++j) {
    check_index(record.col_lower.size(), j);
    check_index(record.col_upper.size(), j);
    check_index(record.col_integrality.size(), j);
    const uint8_t kind = record.col_integrality[j];
    const BoundLines lines =
        exact ? column_bound_lines_exact(record.col_lower[j], record.col_upper[j], kind)
              : column_bound_lines(record.col_lower[j], record.col_upper[j], is_integral(kind));
    if (lines.count == 0) continue;
    check_index(record.col_names.size(), j);
    const std::string_view column = record.col_names[j];
    for (uint8_t n = 0; n < lines.count; ++n) {
      const BoundLine& bound = lines.line[n];
      out.line(4 + bound_set.size() + 2 + column.size() + 2 + kMaxNumberChars + 1 + 16, [&](char* at) {
        *at++ = ' ';
        at = put_text(at, bound_type_code(bound.type));  // " UP "
        *at++ = ' ';
        at = out.name(at, bound_set);
        at = put_literal(at, "  ");
        at = put_text(at, column);
        if (bound_takes_value(bound.type)) {
          if constexpr (Out::kFixedColumns) {
            for (size_t n = column.size(); n < kFixedNameWidth; ++n) *at++ = ' ';
          }
          at = put_literal(at, "  ");
          at = out.number(bound.value, at);
        }
        *at++ = '\n';
        return at;
      });
    }
    if (!out.sink.ok()) return false;
  }
  return true;
}

// ---------------------------------------------------------------------------
// The sections beyond a linear program, after BOUNDS in the order the peers write
// them: SOS, QUADOBJ, QCMATRIX (QSECTION), INDICATORS.

// "    {column}  {weight}": an SOS member.
template <class Out>
void put_member_line(Out& out, std::string_view column, double weight) {
  out.line(4 + column.size() + 2 + kMaxNumberChars + 1 + kFixedNameWidth, [&](char* at) {
    at = put_literal(at, "    ");
    at = out.name(at, column);
    at = put_literal(at, "  ");
    at = out.number(weight, at);
    *at++ = '\n';
    return at;
  });
}

// "{keyword}  {name}" (or the keyword alone), a header line.
template <class Out>
void put_header(Out& out, std::string_view keyword, std::string_view name) {
  out.line(keyword.size() + 2 + name.size() + 1, [&](char* at) {
    at = put_text(at, keyword);
    if (!name.empty()) {
      at = put_literal(at, "  ");
      at = put_text(at, name);
    }
    *at++ = '\n';
    return at;
  });
}

template <class Out>
bool write_sos(const ModelRecord& record, Out& out) {
  const SosRecord& sos = *record.sos;
  out.sink.put("SOS\n");
  for (size_t k = 0; k < sos.type.size(); ++k) {
    // A set without a name is written with a made-up one when it has a priority,
    // which would otherwise stand where the name belongs.
    std::string_view name = sos.names[k];
    std::string made_up;
    if (name.empty() && sos.priority[k] != 0) {
      made_up = "SOS" + std::to_string(k + 1);
      name = made_up;
    }
    out.line(4 + name.size() + 2 + 12 + 1 + kFixedNameWidth, [&](char* at) {
      at = put_literal(at, " S");
      *at++ = sos.type[k] == 2 ? '2' : '1';
      if (!name.empty()) {
        *at++ = ' ';
        at = sos.priority[k] != 0 ? out.name(at, name) : put_text(at, name);
      }
      if (sos.priority[k] != 0) {
        const std::string priority = std::to_string(sos.priority[k]);
        at = put_literal(at, "  ");
        at = put_text(at, priority);
      }
      *at++ = '\n';
      return at;
    });
    for (size_t p = sos.start[k]; p < sos.start[k + 1]; ++p) {
      put_member_line(out, record.col_names[sos.index[p]], sos.weight[p]);
    }
    if (!out.sink.ok()) return false;
  }
  return out.sink.ok();
}

// The lower triangle `h`, one line per entry: "    {column}  {row}  {value}", laid out
// as a right-hand-side line is.
template <class Out>
bool write_lower_entries(const ModelRecord& record, const SparseMatrixRecord& h, Out& out) {
  for (size_t j = 0; j < record.num_col; ++j) {
    for (size_t k = h.start[j]; k < h.start[j + 1]; ++k) {
      if (h.value[k] == 0.0) continue;
      put_set_line(out, record.col_names[j], record.col_names[h.index[k]], h.value[k]);
    }
    if (!out.sink.ok()) return false;
  }
  return true;
}

// Whether every entry of `h` halves exactly (only subnormal values lose a bit).
inline bool halves_exactly(const SparseMatrixRecord& h) noexcept {
  for (const double v : h.value) {
    if (2.0 * (v * 0.5) != v && !std::isnan(v)) return false;
  }
  return true;
}

// A row's H_r as QCMATRIX: both halves of Q = H_r / 2. In the exact mode a row whose Q
// would lose a bit (a subnormal value) is written as QSECTION, one triangle of H_r.
template <class Out>
bool write_row_hessian(const ModelRecord& record, const RowHessianRecord& row, bool exact, Out& out) {
  const SparseMatrixRecord& h = row.matrix;
  const std::string_view name = record.row_names[row.row];
  if (exact && !halves_exactly(h)) {
    put_header(out, "QSECTION", name);
    return write_lower_entries(record, h, out);
  }
  put_header(out, "QCMATRIX", name);
  for (size_t j = 0; j < record.num_col; ++j) {
    for (size_t k = h.start[j]; k < h.start[j + 1]; ++k) {
      if (h.value[k] == 0.0) continue;
      const double q = h.value[k] * 0.5;
      const std::string_view column = record.col_names[j];
      const std::string_view other = record.col_names[h.index[k]];
      put_set_line(out, column, other, q);
      if (h.index[k] != j) put_set_line(out, other, column, q);
    }
    if (!out.sink.ok()) return false;
  }
  return true;
}

template <class Out>
bool write_indicators(const ModelRecord& record, Out& out) {
  const IndicatorRecord& indicators = *record.indicators;
  out.sink.put("INDICATORS\n");
  for (size_t k = 0; k < indicators.row.size(); ++k) {
    const std::string_view row = record.row_names[indicators.row[k]];
    const std::string_view column = record.col_names[indicators.column[k]];
    out.line(4 + row.size() + 2 + column.size() + 4 + 2 * kFixedNameWidth, [&](char* at) {
      at = put_literal(at, " IF ");
      at = out.name(at, row);
      at = put_literal(at, "  ");
      at = out.name(at, column);
      at = put_literal(at, "  ");
      *at++ = indicators.value[k] != 0 ? '1' : '0';
      *at++ = '\n';
      return at;
    });
    if (!out.sink.ok()) return false;
  }
  return true;
}

// Kept out of line: models without these parts render as they always did.
// Whether a lower triangle has an entry the reader would keep (a nonzero value).
inline bool any_entry(const SparseMatrixRecord& h) noexcept {
  for (const double v : h.value) {
    if (v != 0.0) return true;
  }
  return false;
}

// Each section only when it has something to say: reading gives no part for an empty one.
template <class Out>
[[gnu::noinline]] bool write_extra_sections(const ModelRecord& record, bool exact, Out& out) {
  if (record.sos && !record.sos->type.empty() && !write_sos(record, out)) return false;
  if (record.hessian && any_entry(*record.hessian)) {
    out.sink.put("QUADOBJ\n");
    if (!write_lower_entries(record, *record.hessian, out)) return false;
  }
  for (const RowHessianRecord& row : record.row_hessians) {
    if (any_entry(row.matrix) && !write_row_hessian(record, row, exact, out)) return false;
  }
  if (record.indicators && !record.indicators->row.empty() && !write_indicators(record, out)) return false;
  return true;
}

inline bool has_extra_sections(const ModelRecord& record) noexcept {
  return record.sos || record.hessian || !record.row_hessians.empty() || record.indicators;
}

// The whole text, in one forward pass. In fixed columns, the first number that did not
// fit its field in the exact mode (the text is then not to be used).
template <class Format, TextSink Sink>
std::optional<double> render(const ModelRecord& record, Sink& sink, const WriteOptions& options) {
  const std::string_view objective =
      record.objective_name.empty() ? std::string_view("OBJ") : std::string_view(record.objective_name);
  const bool exact = Format::kOptions && options.exact();
  LineOut<Sink, Format> out{sink, options.digits, {}};

  out.line(14 + record.name.size() + 1, [&](char* at) {
    at = put_literal(at, "NAME          ");
    at = put_text(at, record.name);
    *at++ = '\n';
    return at;
  });
  if (!record.obj_sense_minimize) {
    sink.put("OBJSENSE\n");
    sink.put("    MAX\n");
  }
  const auto outcome = [&]() -> std::optional<double> {
    if (out.number_too_long) return out.too_long;
    return std::nullopt;
  };
  if (!sink.ok()) return outcome();

  std::vector<RowClass> rows = classify_rows(record, exact);
  const bool extra = has_extra_sections(record);
  if (extra) keep_named_free_rows(record, rows);
  if (!write_rows(record, rows, objective, out)) return outcome();
  if (!write_columns(record, objective, out)) return outcome();
  const SetNames sets = choose_set_names(record, objective);
  if (!write_rhs_and_ranges(record, rows, objective, sets, exact, out)) return outcome();
  if (!write_bounds(record, sets.bound, exact, out)) return outcome();
  if (extra && !write_extra_sections(record, exact, out)) return outcome();
  sink.put("ENDATA\n");
  return outcome();
}

}  // namespace
}  // namespace mopsel::mps_text_detail
