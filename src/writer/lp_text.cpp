#include "writer/lp_text.hpp"

#include <algorithm>
#include <atomic>
#include <exception>
#include <bit>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "model/fault.hpp"
#include "platform/reading_threads.hpp"
#include "writer/buffer_sink.hpp"
#include "writer/file_sink.hpp"
#include "writer/gzip_sink.hpp"
#include "writer/number_format.hpp"
#include "writer/row_class.hpp"
#include "writer/text_pieces.hpp"

namespace mopsel {
namespace {

inline char* put(char* at, std::string_view text) noexcept {
  std::memcpy(at, text.data(), text.size());
  return at + text.size();
}

inline bool is_integral(uint8_t kind) noexcept {
  return kind == code(IntegralityKind::INTEGER) || kind == code(IntegralityKind::SEMI_INTEGER);
}

// The least room the writer asks the sink for when the sink's free space is short: the
// free space is taken whole when it holds what is to be written.
inline constexpr size_t kRoom = 512;

// What a term may write past its own end: names are copied 16 bytes at a time.
inline constexpr size_t kOverCopy = 16;

// The room a linear term takes beside its name: a line feed, the sign, a number and a
// blank, and the over-copy.
inline constexpr size_t kTermRoom = 1 + 3 + kMaxNumberChars + 1 + kOverCopy;

// The text goes into rooms the sink offers (its free space, or kRoom bytes or more when
// that is short), with a cursor kept here; when the sink offers none, into a scratch buffer put whole when the
// next room is asked for. release() hands what the cursor holds to the sink: it must
// come before the sink is used directly or ends its text.
// The bits of a double without its sign, and those of 1.
inline constexpr uint64_t kMagnitudeBits = ~(uint64_t{1} << 63);
inline constexpr uint64_t kOneBits = 0x3FF0000000000000u;

// A linear term from `to` on: " + " or " - " of which the first `skip` bytes stay (3, or
// 1 or 2 for the first term of a line: " " or " -"), the magnitude unless 1 (in the
// fixed layout's format when kFixedLayout, else with `digits`), the name (by 16 bytes
// when `over_copy`). Returns the end.
template <bool kFixedLayout>
[[gnu::always_inline]] inline char* put_linear_term(char* to, double coefficient, size_t skip, std::string_view name,
                                                    bool over_copy, int digits) noexcept {
  const uint64_t bits = std::bit_cast<uint64_t>(coefficient);
  // " + " or " - " and a byte after it: '-' is '+' + 2.
  const uint32_t sign = 0x00202B20u + static_cast<uint32_t>(bits >> 63 << 9);
  std::memcpy(to, &sign, 4);
  to += skip;
  if ((bits & kMagnitudeBits) != kOneBits) {
    const double magnitude = std::bit_cast<double>(bits & kMagnitudeBits);
    to = kFixedLayout ? format_number(magnitude, to) : format_number_other(magnitude, digits, to);
    *to++ = ' ';
  }
  const char* const from = name.data();
  if (over_copy) [[likely]] {
    std::memcpy(to, from, kOverCopy);
    for (size_t n = kOverCopy; n < name.size(); n += kOverCopy) std::memcpy(to + n, from + n, kOverCopy);
  } else {
    std::memcpy(to, from, name.size());
  }
  return to + name.size();
}

// A name ending at or before this offset of the name list can be copied by 16 bytes.
inline uint64_t over_copy_end_of(const NameList& names) noexcept {
  return names.bytes.size() >= kOverCopy ? names.bytes.size() - kOverCopy : 0;
}

// The name of column j, and whether it can be copied by 16 bytes.
inline std::string_view name_at(const uint64_t* ends, const char* bytes, uint64_t over_copy_end, size_t j,
                                bool& over_copy) noexcept {
  const uint64_t begin = j == 0 ? 0 : ends[j - 1];
  over_copy = ends[j] <= over_copy_end;
  return std::string_view(bytes + begin, static_cast<size_t>(ends[j] - begin));
}

template <TextSink Sink>
struct LpOut {
  Sink& sink;
  int digits;
  std::string scratch;
  size_t width = 0;  // bytes on the current line so far
  // The room a linear term may take: kTermRoom and the longest column name.
  size_t term_room = kTermRoom;
  char* at = nullptr;   // the next byte of text goes here
  char* end = nullptr;  // the end of the room
  bool in_scratch = false;
  // Threads that render the objective's terms and the rows in pieces (text_pieces.hpp);
  // 1: none.
  size_t threads = 1;
  size_t piece_terms = kLpPieceTerms;

  char* number(double value, char* to) const noexcept {
    return digits == kFixedLayoutDigits ? format_number(value, to) : format_number_other(value, digits, to);
  }

  // At least `bound` bytes of room at `at`.
  void room(size_t bound) {
    if (static_cast<size_t>(end - at) < bound) [[unlikely]] refill(bound);
  }

  [[gnu::noinline]] void refill(size_t bound) {
    release();
    const size_t wanted = bound > kRoom ? bound : kRoom;
    size_t size = sink.free_space();
    if (size < bound) size = wanted;
    char* granted = sink.line_space(size);
    if (granted == nullptr && wanted != bound) {
      granted = sink.line_space(bound);
      size = bound;
    }
    if (granted == nullptr) {
      if (scratch.size() < bound) scratch.resize(bound);
      granted = scratch.data();
      size = bound;
      in_scratch = true;
    }
    at = granted;
    end = granted + size;
  }

  void release() {
    if (in_scratch) {
      sink.put({scratch.data(), static_cast<size_t>(at - scratch.data())});
      in_scratch = false;
    } else if (at != nullptr) {
      sink.line_done(at);
    }
    at = end = nullptr;
  }

  // `render(char*)` writes at most `bound` bytes and returns the end.
  template <class Render>
  void piece(size_t bound, Render&& render) {
    room(bound);
    char* const stop = render(at);
    track(at, stop);
    at = stop;
  }

  void text(std::string_view words) {
    piece(words.size(), [&](char* to) { return put(to, words); });
  }

  // Line widths: a piece that ends in a line feed starts a new line.
  void track(const char* begin, const char* stop) noexcept {
    if (stop != begin && stop[-1] == '\n') {
      width = 0;
    } else {
      width += static_cast<size_t>(stop - begin);
    }
  }

  // Linear terms, " + 2 x" each (" - x" for a coefficient of -1, " + x" for 1; no sign
  // before the first term of a positive coefficient): the k-th has the coefficient
  // value[k] and names the column column_of(k); with `skip_zeros` a zero coefficient
  // is no term. A term that starts past kLpLineWidth starts a new line, which begins
  // with its sign; the width counted for the new line is then kMaxNumberChars + the
  // name + 4, as for a quadratic term. `first` says whether the next term is the first
  // of its expression, and is kept up to date.
  // The hot loop of the writer. The terms go in runs, as many as the room holds at
  // `term_room` bytes each (the longest name's term), so that a term asks for no room;
  // the cursor and the arrays are kept in locals, which the bytes stored cannot alias;
  // the line's width is kept as the address where the line would have begun, so that a
  // term adds nothing to it; a name is copied by 16 bytes while those stay within the
  // bytes of the name list.
  template <class ColumnOf>
  void linear_terms(const double* value, size_t count, ColumnOf&& column_of, const NameList& names,
                    bool skip_zeros, bool& first) {
    if (digits == kFixedLayoutDigits) {
      linear_terms_in<true>(value, count, column_of, names, skip_zeros, first);
    } else {
      linear_terms_in<false>(value, count, column_of, names, skip_zeros, first);
    }
  }

  template <bool kFixedLayout, class ColumnOf>
  void linear_terms_in(const double* value, size_t count, ColumnOf& column_of, const NameList& names,
                       bool skip_zeros, bool& first) {
    const uint64_t* const ends = names.ends.data();
    const char* const bytes = names.bytes.data();
    // A name ending at or before this offset can be copied by 16 bytes.
    const uint64_t over_copy_end = over_copy_end_of(names);
    const size_t bound = term_room;
    const int format = digits;
    char* to = at;
    // A term that starts at or past this address starts a new line.
    uintptr_t wrap_at = address(to) - width + kLpLineWidth;
    // The name of column j, and whether it can be copied by 16 bytes.
    auto name_of = [ends, bytes, over_copy_end](size_t j, bool& over_copy) {
      return name_at(ends, bytes, over_copy_end, j, over_copy);
    };
    // A term that starts a new line: the line feed, then the term with its sign; the
    // new line counts kMaxNumberChars + the name + 4 bytes.
    auto put_wrapped = [format](char* to, double coefficient, std::string_view name, bool over_copy,
                                uintptr_t& wrap_at) {
      *to++ = '\n';
      to = put_linear_term<kFixedLayout>(to, coefficient, 3, name, over_copy, format);
      wrap_at = address(to) - (kMaxNumberChars + name.size() + 4) + kLpLineWidth;
      return to;
    };
    bool over_copy = false;
    size_t k = 0;
    while (k < count) {
      size_t fits = static_cast<size_t>(end - to) / bound;
      if (fits == 0) {
        const uintptr_t line = address(to) + kLpLineWidth - wrap_at;
        at = to;
        refill(bound);
        to = at;
        wrap_at = address(to) - line + kLpLineWidth;
        fits = static_cast<size_t>(end - to) / bound;
      }
      const size_t run_end = count - k < fits ? count : k + fits;
      if (first) {
        while (k < run_end && skip_zeros && value[k] == 0.0) ++k;
        if (k == run_end) continue;
        const double coefficient = value[k];
        const std::string_view name = name_of(column_of(k), over_copy);
        if (address(to) >= wrap_at) {
          to = put_wrapped(to, coefficient, name, over_copy, wrap_at);
        } else {
          const size_t skip = 1 + static_cast<size_t>(std::signbit(coefficient));
          to = put_linear_term<kFixedLayout>(to, coefficient, skip, name, over_copy, format);
        }
        first = false;
        ++k;
      }
      for (; k < run_end; ++k) {
        const double coefficient = value[k];
        if (skip_zeros && (std::bit_cast<uint64_t>(coefficient) & kMagnitudeBits) == 0) continue;
        const std::string_view name = name_of(column_of(k), over_copy);
        if (address(to) >= wrap_at) [[unlikely]] {
          to = put_wrapped(to, coefficient, name, over_copy, wrap_at);
        } else {
          to = put_linear_term<kFixedLayout>(to, coefficient, 3, name, over_copy, format);
        }
      }
    }
    at = to;
    width = address(to) + kLpLineWidth - wrap_at;
  }

  static uintptr_t address(const char* p) noexcept { return reinterpret_cast<uintptr_t>(p); }

  // Text rendered elsewhere, then a line feed when `line_feed`; the width is the caller's.
  void splice(const char* from, size_t size, bool line_feed) {
    room(size + 1);
    std::memcpy(at, from, size);
    at += size;
    if (line_feed) *at++ = '\n';
  }

  // A piece of whole lines rendered elsewhere, put as it is.
  void put_lines(std::string_view lines) {
    release();
    sink.put(lines);
    width = 0;
  }

  // A quadratic term: " + 2 x ^2" or " - x * y" (`join` " ^2", or " * " and the other
  // name as `second`), laid out and wrapped as a linear term.
  void term(double coefficient, std::string_view name, bool first, std::string_view join = "",
            std::string_view second = "") {
    const bool wrap = width >= kLpLineWidth;
    piece(kMaxNumberChars + name.size() + join.size() + second.size() + 8, [&](char* to) {
      if (wrap) to = put(to, "\n");
      const bool negative = std::signbit(coefficient);
      const double magnitude = negative ? -coefficient : coefficient;
      if (first && !wrap) {
        to = put(to, negative ? " -" : " ");
      } else {
        to = put(to, negative ? " - " : " + ");
      }
      if (magnitude != 1.0 || magnitude == 0.0) {
        to = number(magnitude, to);
        *to++ = ' ';
      }
      return put(put(put(to, name), join), second);
    });
    if (wrap) width = kMaxNumberChars + name.size() + 4;  // roughly: the new line holds this term
  }

  // A quadratic part, " [ x ^2 + 2 x * y ]" (" + [" after other terms), from the lower
  // triangle `h`: a square's coefficient is H's diagonal times `diagonal`, a product's
  // the entry below the diagonal times `product` (the objective's bracket is halved,
  // `[ ... ] / 2`: 1 and 2; a row's is not: 1/2 and 1).
  void quadratic(const SparseMatrixRecord& h, const NameList& names, double diagonal, double product, bool first) {
    text(first ? " [" : " + [");
    bool inner_first = true;
    for (uint32_t j = 0; j + 1 < h.start.size(); ++j) {
      for (uint32_t k = h.start[j]; k < h.start[j + 1]; ++k) {
        const uint32_t i = h.index[k];
        if (i == j) {
          term(h.value[k] * diagonal, names[j], inner_first, " ^2");
        } else {
          term(h.value[k] * product, names[j], inner_first, " * ", names[i]);
        }
        inner_first = false;
      }
    }
    text(" ]");
  }

  // A constant term: " + 7".
  void constant(double value) {
    piece(kMaxNumberChars + 4, [&](char* to) {
      to = put(to, std::signbit(value) ? " - " : " + ");
      return number(std::signbit(value) ? -value : value, to);
    });
  }

  // " <= 4\n"
  void relation(std::string_view op, double value) {
    piece(op.size() + kMaxNumberChars + 3, [&](char* to) {
      *to++ = ' ';
      to = put(to, op);
      *to++ = ' ';
      to = number(value, to);
      *to++ = '\n';
      return to;
    });
  }
};

// The terms of row `row` are gathered from the column-wise matrix: positions of
// each row's entries, in column order, built once by counting.
struct RowTerms {
  OwnedArray<uint32_t> start;  // num_row + 1
  OwnedArray<uint32_t> column;
  OwnedArray<double> value;
};

RowTerms row_terms(const ModelRecord& record) {
  const SparseMatrixRecord& matrix = record.a_matrix;
  const size_t nnz = matrix.start[record.num_col];
  RowTerms rows;
  rows.start.reserve(size_t{record.num_row} + 1);
  for (uint32_t i = 0; i <= record.num_row; ++i) rows.start.push_back(0);
  for (size_t k = 0; k < nnz; ++k) ++rows.start[matrix.index[k] + 1];
  for (uint32_t i = 0; i < record.num_row; ++i) rows.start[i + 1] += rows.start[i];
  OwnedArray<uint32_t> fill;
  fill.reserve(record.num_row);
  fill.append(rows.start.data(), record.num_row);
  rows.column.reserve(nnz);
  rows.value.reserve(nnz);
  rows.column.commit(nnz);
  rows.value.commit(nnz);
  // Through local pointers: the stores into the columns' array could otherwise alias
  // the matrix's starts, reloaded for every entry.
  const uint32_t* const start = matrix.start.data();
  const uint32_t* const index = matrix.index.data();
  const double* const value = matrix.value.data();
  uint32_t* const next = fill.data();
  uint32_t* const column = rows.column.data();
  double* const row_value = rows.value.data();
  size_t k = start[0];
  for (uint32_t j = 0; j < record.num_col; ++j) {
    for (const size_t stop = start[j + 1]; k < stop; ++k) {
      const uint32_t at = next[index[k]]++;
      column[at] = j;
      row_value[at] = value[k];
    }
  }
  return rows;
}

// The objective's terms of columns `first` to `first + count - 1`, each " + c x" or
// " - c x", without line breaks, and where each ends.
template <bool kFixedLayout>
void objective_piece(const ModelRecord& record, size_t first, size_t count, int digits, TextPiece& piece) {
  const NameList& names = record.col_names;
  const uint64_t* const ends = names.ends.data();
  const char* const bytes = names.bytes.data();
  const uint64_t over_copy_end = over_copy_end_of(names);
  const double* const cost = record.col_cost.data();
  // A term takes at most kTermRoom bytes beside its name (first >= 1).
  piece.text.reserve(count * kTermRoom + static_cast<size_t>(ends[first + count - 1] - ends[first - 1]));
  piece.ends.resize(count);
  uint32_t* const term_end = piece.ends.data();
  char* const base = piece.text.data();
  char* to = base;
  for (size_t k = 0; k < count; ++k) {
    bool over_copy = false;
    const std::string_view name = name_at(ends, bytes, over_copy_end, first + k, over_copy);
    to = put_linear_term<kFixedLayout>(to, cost[first + k], 3, name, over_copy, digits);
    term_end[k] = static_cast<uint32_t>(to - base);
  }
  piece.text.commit(static_cast<size_t>(to - base));
}

// The objective's terms with several threads: the first term here, the others in
// pieces of out.piece_terms rendered without line breaks. Where the lines break
// depends only on the terms' lengths and names (a term that starts at or past
// kLpLineWidth starts a new line, counted as kMaxNumberChars + its name + 4 bytes), so
// the breaks are found here in order as the pieces are handed over, and the text
// between them copied. Returns whether the sink is still ok.
template <TextSink Sink>
bool objective_in_pieces(const ModelRecord& record, LpOut<Sink>& out, bool& first) {
  out.linear_terms(record.col_cost.data(), 1, [](size_t) { return size_t{0}; }, record.col_names, false, first);
  const size_t rest = record.num_col - 1;
  const size_t per_piece = out.piece_terms;
  const int digits = out.digits;
  const auto render = [&](TextPiece& piece) {
    const size_t from = 1 + piece.number * per_piece;
    const size_t count = std::min(per_piece, record.num_col - from);
    if (digits == kFixedLayoutDigits) {
      objective_piece<true>(record, from, count, digits, piece);
    } else {
      objective_piece<false>(record, from, count, digits, piece);
    }
  };
  const uint64_t* const name_ends = record.col_names.ends.data();
  const auto hand = [&](const TextPiece& piece) {
    const char* const text = piece.text.data();
    size_t column = 1 + piece.number * per_piece;
    size_t width = out.width;
    size_t copied = 0;  // the text before this offset is in the sink
    size_t begin = 0;   // where the term starts
    for (const uint32_t end : piece.ends) {
      if (width >= kLpLineWidth) {
        out.splice(text + copied, begin - copied, true);
        copied = begin;
        width = kMaxNumberChars + static_cast<size_t>(name_ends[column] - name_ends[column - 1]) + 4;
      } else {
        width += end - begin;
      }
      begin = end;
      ++column;
    }
    out.splice(text + copied, begin - copied, false);
    out.width = width;
    return out.sink.ok();
  };
  render_in_pieces((rest + per_piece - 1) / per_piece, out.threads, out.threads * kLpPiecesAheadPerThread, render,
                   hand);
  return out.sink.ok();
}

template <TextSink Sink>
bool write_objective(const ModelRecord& record, LpOut<Sink>& out) {
  out.text(record.obj_sense_minimize ? "Minimize\n" : "Maximize\n");
  const std::string_view label = record.objective_name.empty() ? std::string_view("obj") : record.objective_name;
  out.piece(label.size() + 3, [&](char* at) {
    *at++ = ' ';
    at = put(at, label);
    return put(at, ":");
  });
  // Every column, zero costs too: readers number columns by first appearance, so the
  // objective listing them all in order keeps their order.
  bool first = true;
  if (out.threads > 1 && record.num_col > 1) {
    if (!objective_in_pieces(record, out, first)) return false;
  }
  // In stretches, so that a failed sink stops the writing soon.
  constexpr uint32_t kStretch = 4096;
  for (uint32_t j = first ? 0 : record.num_col; j < record.num_col; j += kStretch) {
    const uint32_t count = std::min(kStretch, record.num_col - j);
    out.linear_terms(record.col_cost.data() + j, count, [j](size_t k) { return j + k; }, record.col_names, false, first);
    if (!out.sink.ok()) return false;
  }
  if (record.hessian && !record.hessian->value.empty()) {
    out.quadratic(*record.hessian, record.col_names, 1.0, 2.0, first);
    out.text(" / 2");
  }
  if (record.obj_offset != 0.0) out.constant(record.obj_offset);
  out.text("\n");
  return out.sink.ok();
}

// What a row holds beyond its linear terms: its H_r and its indicator, per row.
struct RowParts {
  std::vector<const SparseMatrixRecord*> hessian;  // empty when no row has one
  std::vector<int64_t> indicator;                  // the indicator's position; empty when none
};

RowParts row_parts(const ModelRecord& record) {
  RowParts parts;
  if (!record.row_hessians.empty()) {
    parts.hessian.assign(record.num_row, nullptr);
    for (const RowHessianRecord& r : record.row_hessians) {
      if (!r.matrix.value.empty()) parts.hessian[r.row] = &r.matrix;
    }
  }
  if (record.indicators) {
    parts.indicator.assign(record.num_row, -1);
    for (size_t k = 0; k < record.indicators->row.size(); ++k) {
      parts.indicator[record.indicators->row[k]] = static_cast<int64_t>(k);
    }
  }
  return parts;
}

// " name: terms" of a row (" name: b = 1 -> terms" for an indicator's row, and its
// quadratic part after the terms); the caller ends it with its relation.
template <TextSink Sink>
void row_head(const ModelRecord& record, const RowTerms& rows, const RowParts& parts, uint32_t i,
              std::string_view suffix, LpOut<Sink>& out) {
  const std::string_view name = record.row_names[i];
  out.piece(name.size() + suffix.size() + 3, [&](char* at) {
    *at++ = ' ';
    at = put(at, name);
    at = put(at, suffix);
    return put(at, ":");
  });
  if (!parts.indicator.empty() && parts.indicator[i] >= 0) {
    const size_t k = static_cast<size_t>(parts.indicator[i]);
    const std::string_view variable = record.col_names[record.indicators->column[k]];
    out.piece(variable.size() + 10, [&](char* at) {
      *at++ = ' ';
      at = put(at, variable);
      return put(at, record.indicators->value[k] != 0 ? " = 1 ->" : " = 0 ->");
    });
  }
  bool first = true;
  const uint32_t* const column = rows.column.data() + rows.start[i];
  out.linear_terms(rows.value.data() + rows.start[i], rows.start[i + 1] - rows.start[i],
                   [column](size_t k) { return column[k]; }, record.col_names, true, first);
  if (!parts.hessian.empty() && parts.hessian[i] != nullptr) {
    out.quadratic(*parts.hessian[i], record.col_names, 0.5, 1.0, first);
    first = false;
  }
  if (first) {
    // LP text has no empty expression: a row without entries holds a zero term.
    if (record.num_col == 0) {
      out.release();
      raise_fault("a row without entries in a model without columns has no LP text");
    }
    out.piece(record.col_names[0].size() + 3, [&](char* at) { return put(put(at, " 0 "), record.col_names[0]); });
  }
}

// Row i with its relation (two rows for a row bounded on both sides).
template <TextSink Sink>
void write_row(const ModelRecord& record, const RowTerms& rows, const RowParts& parts, uint32_t i, bool exact,
               LpOut<Sink>& out) {
  constexpr double inf = std::numeric_limits<double>::infinity();
  {
    const double lower = record.row_lower[i];
    const double upper = record.row_upper[i];
    // A bound that binds: finite, or the infinity that makes the row infeasible (a lower
    // bound of +inf, an upper bound of -inf), written as `>= inf` and `<= -inf` so that it
    // reads back as it was. NaN is no bound.
    const bool has_lower = lower > -inf;
    const bool has_upper = upper < inf;
    // Equal bounds make an equality row; the fixed layout, as the MPS writer does,
    // takes bounds closer than kEqualityTolerance for equal.
    const bool equal = is_finite_bound(lower) && is_finite_bound(upper) &&
                       (exact ? std::bit_cast<uint64_t>(lower) == std::bit_cast<uint64_t>(upper)
                              : std::fabs(upper - lower) < kEqualityTolerance);
    if (equal) {
      row_head(record, rows, parts, i, "", out);
      out.relation("=", lower);
    } else if (has_lower && has_upper) {
      row_head(record, rows, parts, i, "_lo", out);
      out.relation(">=", lower);
      row_head(record, rows, parts, i, "_up", out);
      out.relation("<=", upper);
    } else if (has_lower) {
      row_head(record, rows, parts, i, "", out);
      out.relation(">=", lower);
    } else {
      // An upper bound, or none: a free row is kept as "<= inf".
      row_head(record, rows, parts, i, "", out);
      out.relation("<=", has_upper ? upper : inf);
    }
  }
}

// A row's head and relation weigh about as much as two terms.
inline constexpr size_t kRowTerms = 2;

// The rows where the pieces of the rows start, and num_row last: a piece holds about
// `piece_terms` terms.
std::vector<uint32_t> row_cuts(const RowTerms& rows, uint32_t num_row, size_t piece_terms) {
  std::vector<uint32_t> cuts{0};
  size_t terms = 0;
  for (uint32_t i = 0; i < num_row; ++i) {
    terms += rows.start[i + 1] - rows.start[i] + kRowTerms;
    if (terms >= piece_terms) {
      cuts.push_back(i + 1);
      terms = 0;
    }
  }
  if (cuts.back() != num_row) cuts.push_back(num_row);
  return cuts;
}

template <TextSink Sink>
bool write_rows(const ModelRecord& record, const RowTerms& rows, bool exact, LpOut<Sink>& out) {
  out.text("Subject To\n");
  const RowParts parts = row_parts(record);
  // In pieces of whole rows when there are threads for them: a row starts a line, so a
  // piece is rendered as if it were the first. (A row of no terms in a model of no
  // columns fails, on one thread.)
  if (out.threads > 1 && record.num_row > 1 && record.num_col > 0) {
    const std::vector<uint32_t> cuts = row_cuts(rows, record.num_row, out.piece_terms);
    const auto render = [&](TextPiece& piece) {
      BufferSink sink(piece.text);
      LpOut<BufferSink> piece_out{sink, out.digits, {}};
      piece_out.term_room = out.term_room;
      for (uint32_t i = cuts[piece.number]; i < cuts[piece.number + 1]; ++i) {
        write_row(record, rows, parts, i, exact, piece_out);
      }
      piece_out.release();
    };
    const auto hand = [&](const TextPiece& piece) {
      out.put_lines(as_view(piece.text));
      return out.sink.ok();
    };
    render_in_pieces(cuts.size() - 1, out.threads, out.threads * kLpPiecesAheadPerThread, render, hand);
    return out.sink.ok();
  }
  for (uint32_t i = 0; i < record.num_row; ++i) {
    write_row(record, rows, parts, i, exact, out);
    if (!out.sink.ok()) return false;
  }
  return true;
}

template <TextSink Sink>
bool write_bounds(const ModelRecord& record, bool exact, LpOut<Sink>& out) {
  out.text("Bounds\n");
  for (uint32_t j = 0; j < record.num_col; ++j) {
    double lower = record.col_lower[j];
    double upper = record.col_upper[j];
    const uint8_t kind = record.col_integrality[j];
    // NaN is no bound.
    if (lower != lower) lower = -std::numeric_limits<double>::infinity();
    if (upper != upper) upper = std::numeric_limits<double>::infinity();
    const bool binary = kind == code(IntegralityKind::INTEGER) && lower == 0.0 && upper == 1.0 &&
                        !std::signbit(lower);
    if (binary) continue;  // the Binaries section says it
    const bool default_lower = lower == 0.0 && !(exact && std::signbit(lower));
    const bool default_upper = upper == std::numeric_limits<double>::infinity();
    if (default_lower && default_upper) continue;
    const std::string_view name = record.col_names[j];
    const bool no_lower = lower == -std::numeric_limits<double>::infinity();
    out.piece(name.size() + 2 * kMaxNumberChars + 16, [&](char* at) {
      *at++ = ' ';
      const bool equal =
          exact ? std::bit_cast<uint64_t>(lower) == std::bit_cast<uint64_t>(upper) && is_finite_bound(lower)
                : is_finite_bound(lower) && is_finite_bound(upper) && std::fabs(upper - lower) < kEqualityTolerance;
      if (no_lower && default_upper) {
        at = put(at, name);
        at = put(at, " free");
      } else if (equal) {
        at = put(at, name);
        at = put(at, " = ");
        at = out.number(lower, at);
      } else if (default_upper) {
        at = put(at, name);
        at = put(at, " >= ");
        at = out.number(lower, at);
      } else if (default_lower) {
        at = put(at, name);
        at = put(at, " <= ");
        at = out.number(upper, at);
      } else {
        at = out.number(lower, at);
        at = put(at, " <= ");
        at = put(at, name);
        at = put(at, " <= ");
        at = out.number(upper, at);
      }
      *at++ = '\n';
      return at;
    });
    if (!out.sink.ok()) return false;
  }
  return true;
}

// A section listing the columns `wanted` picks, a few names per line.
template <TextSink Sink, class Wanted>
bool write_list(const ModelRecord& record, std::string_view header, Wanted&& wanted, LpOut<Sink>& out) {
  bool any = false;
  for (uint32_t j = 0; j < record.num_col; ++j) {
    if (!wanted(j)) continue;
    if (!any) out.text(header);
    any = true;
    const std::string_view name = record.col_names[j];
    const bool wrap = out.width >= kLpLineWidth;
    out.piece(name.size() + 2, [&](char* at) {
      if (wrap) at = put(at, "\n");
      *at++ = ' ';
      return put(at, name);
    });
    if (wrap) out.width = name.size() + 1;
    if (!out.sink.ok()) return false;
  }
  if (any) out.text("\n");
  return out.sink.ok();
}

// " name: S1:: x:1 y:2" per set (a set without a name without its label).
template <TextSink Sink>
bool write_sos(const SosRecord& sos, const NameList& names, LpOut<Sink>& out) {
  out.text("SOS\n");
  for (size_t s = 0; s + 1 < sos.start.size(); ++s) {
    const std::string_view name = sos.names[s];
    out.piece(name.size() + 8, [&](char* at) {
      if (!name.empty()) {
        *at++ = ' ';
        at = put(put(at, name), ":");
      }
      return put(at, sos.type[s] == 2 ? " S2::" : " S1::");
    });
    for (uint32_t k = sos.start[s]; k < sos.start[s + 1]; ++k) {
      const std::string_view member = names[sos.index[k]];
      const bool wrap = out.width >= kLpLineWidth;
      out.piece(member.size() + kMaxNumberChars + 4, [&](char* at) {
        if (wrap) at = put(at, "\n");
        *at++ = ' ';
        at = put(put(at, member), ":");
        return out.number(sos.weight[k], at);
      });
      if (wrap) out.width = member.size() + kMaxNumberChars + 2;
    }
    out.text("\n");
    if (!out.sink.ok()) return false;
  }
  return true;
}

size_t longest_name(const NameList& names) {
  uint64_t longest = 0;
  uint64_t begin = 0;
  for (size_t j = 0; j < names.size(); ++j) {
    longest = std::max(longest, names.ends[j] - begin);
    begin = names.ends[j];
  }
  return static_cast<size_t>(longest);
}

// The objective, and the rows' terms gathered in `rows`: with threads, a helper gathers
// them meanwhile (on many-rows-1GB the gathering of 21 M entries weighs about as much
// as rendering the objective's 7.2 M terms), and the objective has the other threads.
template <TextSink Sink>
bool write_objective_gathering_rows(const ModelRecord& record, LpOut<Sink>& out, RowTerms& rows) {
  if (out.threads == 1 || record.num_row == 0) {
    if (!write_objective(record, out)) return false;
    rows = row_terms(record);
    return true;
  }
  std::exception_ptr failed;
  bool gathered = false;
  bool written = false;
  {
    std::atomic<bool> unused_stop{false};
    HelperThreads helper(unused_stop);
    gathered = helper.start(1, [&] {
      try {
        rows = row_terms(record);
      } catch (...) {
        failed = std::current_exception();
      }
    });
    const size_t threads = out.threads;
    if (gathered) out.threads = threads - 1;
    written = write_objective(record, out);
    out.threads = threads;
  }  // the helper is joined here
  if (failed) std::rethrow_exception(failed);
  if (!written) return false;
  if (!gathered) rows = row_terms(record);
  return true;
}

template <TextSink Sink>
void write_sections(const ModelRecord& record, const WriteOptions& options, LpOut<Sink>& out) {
  const bool exact = options.exact();
  if (!record.name.empty()) {
    out.piece(record.name.size() + 16, [&](char* at) {
      at = put(at, "\\Problem name: ");
      at = put(at, record.name);
      *at++ = '\n';
      return at;
    });
  }
  RowTerms rows;
  if (!write_objective_gathering_rows(record, out, rows)) return;
  if (!write_rows(record, rows, exact, out)) return;
  if (!write_bounds(record, exact, out)) return;
  // The lists each column is in, found in one pass: Generals, Binaries, Semi-Continuous.
  constexpr uint8_t kGeneral = 1, kBinary = 2, kSemi = 4;
  std::vector<uint8_t> lists(record.num_col);
  for (uint32_t j = 0; j < record.num_col; ++j) {
    const uint8_t kind = record.col_integrality[j];
    const bool binary = kind == code(IntegralityKind::INTEGER) && record.col_lower[j] == 0.0 &&
                        record.col_upper[j] == 1.0 && !std::signbit(record.col_lower[j]);
    const bool semi = kind == code(IntegralityKind::SEMI_CONTINUOUS) || kind == code(IntegralityKind::SEMI_INTEGER);
    lists[j] = static_cast<uint8_t>((is_integral(kind) && !binary ? kGeneral : 0) | (binary ? kBinary : 0) |
                                    (semi ? kSemi : 0));
  }
  auto in = [&](uint8_t list) { return [&lists, list](uint32_t j) { return (lists[j] & list) != 0; }; };
  if (!write_list(record, "Generals\n", in(kGeneral), out)) return;
  if (!write_list(record, "Binaries\n", in(kBinary), out)) return;
  if (!write_list(record, "Semi-Continuous\n", in(kSemi), out)) return;
  if (record.sos && !write_sos(*record.sos, record.col_names, out)) return;
  out.text("End\n");
}

std::mutex g_test_plan_lock;
std::optional<LpTextPlan> g_test_plan;

}  // namespace

LpTextPlan lp_text_plan() noexcept {
  {
    const std::lock_guard<std::mutex> hold(g_test_plan_lock);
    if (g_test_plan) return *g_test_plan;
  }
  LpTextPlan plan;
  plan.threads = reading_thread_plan().threads;
  return plan;
}

void use_lp_text_plan_for_tests(std::optional<LpTextPlan> plan) noexcept {
  const std::lock_guard<std::mutex> hold(g_test_plan_lock);
  g_test_plan = plan;
}

template <TextSink Sink>
void write_lp_text(const ModelRecord& record, Sink& sink, const WriteOptions& options) {
  LpOut<Sink> out{sink, options.digits, {}};
  out.term_room = kTermRoom + longest_name(record.col_names);
  const LpTextPlan plan = lp_text_plan();
  std::optional<ThreadLease> lease;
  if (plan.threads > 1 && record.num_col + record.a_matrix.value.size() >= plan.min_terms) {
    lease.emplace(plan.threads, plan.threads);
    out.threads = lease->helpers() + 1;
    out.piece_terms = std::max<size_t>(plan.piece_terms, 1);
  }
  write_sections(record, options, out);
  out.release();
}

template void write_lp_text<BufferSink>(const ModelRecord&, BufferSink&, const WriteOptions&);
template void write_lp_text<FileSink>(const ModelRecord&, FileSink&, const WriteOptions&);
template void write_lp_text<GzipSink<BufferSink>>(const ModelRecord&, GzipSink<BufferSink>&, const WriteOptions&);
template void write_lp_text<GzipSink<FileSink>>(const ModelRecord&, GzipSink<FileSink>&, const WriteOptions&);

}  // namespace mopsel
