#include "writer/lp_text.hpp"

#include <bit>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "model/fault.hpp"
#include "writer/buffer_sink.hpp"
#include "writer/file_sink.hpp"
#include "writer/gzip_sink.hpp"
#include "writer/number_format.hpp"
#include "writer/row_class.hpp"

namespace mopsel {
namespace {

inline char* put(char* at, std::string_view text) noexcept {
  std::memcpy(at, text.data(), text.size());
  return at + text.size();
}

inline bool is_integral(uint8_t kind) noexcept {
  return kind == code(IntegralityKind::INTEGER) || kind == code(IntegralityKind::SEMI_INTEGER);
}

// Pieces of text go straight into the room the sink offers, or through a scratch
// buffer when it offers none (a piece is then put whole).
template <TextSink Sink>
struct LpOut {
  Sink& sink;
  int digits;
  std::string scratch;
  size_t width = 0;  // bytes on the current line so far

  char* number(double value, char* at) const noexcept {
    return digits == kFixedLayoutDigits ? format_number(value, at) : format_number_other(value, digits, at);
  }

  template <class Render>
  void piece(size_t bound, Render&& render) {
    if (char* at = sink.line_space(bound)) [[likely]] {
      char* const end = render(at);
      track(at, end);
      sink.line_done(end);
      return;
    }
    if (scratch.size() < bound) scratch.resize(bound);
    char* const begin = scratch.data();
    char* const end = render(begin);
    track(begin, end);
    sink.put({begin, static_cast<size_t>(end - begin)});
  }

  void text(std::string_view words) {
    piece(words.size(), [&](char* at) { return put(at, words); });
  }

  // Line widths: a piece that ends in a line feed starts a new line.
  void track(const char* begin, const char* end) noexcept {
    if (end != begin && end[-1] == '\n') {
      width = 0;
    } else {
      width += static_cast<size_t>(end - begin);
    }
  }

  // One term: " + 2 x" (" - x" for a coefficient of -1, " + x" for 1; no sign before
  // the first term of a positive coefficient). A term that starts past kLpLineWidth
  // starts a new line, which begins with its sign.
  // A quadratic term is the same with `join` and `second` after the name: " ^2", or
  // " * " and the other name.
  void term(double coefficient, std::string_view name, bool first, std::string_view join = "",
            std::string_view second = "") {
    const bool wrap = width >= kLpLineWidth;
    piece(kMaxNumberChars + name.size() + join.size() + second.size() + 8, [&](char* at) {
      if (wrap) at = put(at, "\n");
      const bool negative = std::signbit(coefficient);
      const double magnitude = negative ? -coefficient : coefficient;
      if (first && !wrap) {
        at = put(at, negative ? " -" : " ");
      } else {
        at = put(at, negative ? " - " : " + ");
      }
      if (magnitude != 1.0 || magnitude == 0.0) {
        at = number(magnitude, at);
        *at++ = ' ';
      }
      return put(put(put(at, name), join), second);
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
    piece(kMaxNumberChars + 4, [&](char* at) {
      at = put(at, std::signbit(value) ? " - " : " + ");
      return number(std::signbit(value) ? -value : value, at);
    });
  }

  // " <= 4\n"
  void relation(std::string_view op, double value) {
    piece(op.size() + kMaxNumberChars + 3, [&](char* at) {
      *at++ = ' ';
      at = put(at, op);
      *at++ = ' ';
      at = number(value, at);
      *at++ = '\n';
      return at;
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
  for (uint32_t j = 0; j < record.num_col; ++j) {
    for (size_t k = matrix.start[j]; k < matrix.start[j + 1]; ++k) {
      const uint32_t at = fill[matrix.index[k]]++;
      rows.column[at] = j;
      rows.value[at] = matrix.value[k];
    }
  }
  return rows;
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
  for (uint32_t j = 0; j < record.num_col; ++j) {
    const double cost = record.col_cost[j];
    out.term(cost, record.col_names[j], first);
    first = false;
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
  for (uint32_t k = rows.start[i]; k < rows.start[i + 1]; ++k) {
    if (rows.value[k] == 0.0) continue;
    out.term(rows.value[k], record.col_names[rows.column[k]], first);
    first = false;
  }
  if (!parts.hessian.empty() && parts.hessian[i] != nullptr) {
    out.quadratic(*parts.hessian[i], record.col_names, 0.5, 1.0, first);
    first = false;
  }
  if (first) {
    // LP text has no empty expression: a row without entries holds a zero term.
    if (record.num_col == 0) raise_fault("a row without entries in a model without columns has no LP text");
    out.piece(record.col_names[0].size() + 3, [&](char* at) { return put(put(at, " 0 "), record.col_names[0]); });
  }
}

template <TextSink Sink>
bool write_rows(const ModelRecord& record, bool exact, LpOut<Sink>& out) {
  out.text("Subject To\n");
  const RowTerms rows = row_terms(record);
  const RowParts parts = row_parts(record);
  constexpr double inf = std::numeric_limits<double>::infinity();
  for (uint32_t i = 0; i < record.num_row; ++i) {
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

}  // namespace

template <TextSink Sink>
void write_lp_text(const ModelRecord& record, Sink& sink, const WriteOptions& options) {
  LpOut<Sink> out{sink, options.digits, {}};
  const bool exact = options.exact();
  if (!record.name.empty()) {
    out.piece(record.name.size() + 16, [&](char* at) {
      at = put(at, "\\Problem name: ");
      at = put(at, record.name);
      *at++ = '\n';
      return at;
    });
  }
  if (!write_objective(record, out)) return;
  if (!write_rows(record, exact, out)) return;
  if (!write_bounds(record, exact, out)) return;
  const auto& kinds = record.col_integrality;
  auto binary = [&](uint32_t j) {
    return kinds[j] == code(IntegralityKind::INTEGER) && record.col_lower[j] == 0.0 && record.col_upper[j] == 1.0 &&
           !std::signbit(record.col_lower[j]);
  };
  if (!write_list(record, "Generals\n", [&](uint32_t j) { return is_integral(kinds[j]) && !binary(j); }, out)) return;
  if (!write_list(record, "Binaries\n", binary, out)) return;
  auto semi = [&](uint32_t j) {
    return kinds[j] == code(IntegralityKind::SEMI_CONTINUOUS) || kinds[j] == code(IntegralityKind::SEMI_INTEGER);
  };
  if (!write_list(record, "Semi-Continuous\n", semi, out)) return;
  if (record.sos && !write_sos(*record.sos, record.col_names, out)) return;
  out.text("End\n");
}

template void write_lp_text<BufferSink>(const ModelRecord&, BufferSink&, const WriteOptions&);
template void write_lp_text<FileSink>(const ModelRecord&, FileSink&, const WriteOptions&);
template void write_lp_text<GzipSink<BufferSink>>(const ModelRecord&, GzipSink<BufferSink>&, const WriteOptions&);
template void write_lp_text<GzipSink<FileSink>>(const ModelRecord&, GzipSink<FileSink>&, const WriteOptions&);

}  // namespace mopsel
