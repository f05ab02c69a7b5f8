#include "reader/records/quadratic.hpp"

#include <algorithm>
#include <vector>

#include "reader/records/named_column.hpp"
#include "reader/records/notices.hpp"
#include "reader/text/numbers.hpp"

namespace mopsel {

namespace {

// Whether `target` (OBJECTIVE_ROW or a row) already has its H from a QSECTION or QCMATRIX
// section, or the section opened by `header` may not join what it has: two named
// sections of one H, or a named one besides QUADOBJ/QMATRIX, fail the read (SCIP
// and Gurobi refuse both); several QUADOBJ and QMATRIX sections add up.
bool repeats_target(QuadraticParts& parts, HeaderKind header, int32_t target, uint32_t num_row) {
  const bool named = header == HeaderKind::QSection || header == HeaderKind::QcMatrix;
  if (target == OBJECTIVE_ROW) {
    const bool repeated = parts.objective_named || (named && parts.objective);
    parts.objective = true;
    parts.objective_named = parts.objective_named || named;
    return repeated;
  }
  const auto row = static_cast<uint32_t>(target);
  if (parts.row_named.size() < num_row) parts.row_named.resize(num_row, 0);
  const bool repeated = parts.row_named[row] != 0;
  parts.row_named[row] = 1;
  return repeated;
}

}  // namespace

FindingCode begin_quadratic(ReaderState& state, QuadraticScratch& scratch) {
  scratch.open = true;
  scratch.keep = false;
  scratch.first_name = {};
  int32_t target = OBJECTIVE_ROW;
  switch (scratch.header) {
    case HeaderKind::QuadObj: scratch.kind = QuadraticKind::OneTriangle; break;
    case HeaderKind::QMatrix: scratch.kind = QuadraticKind::Full; break;
    default: {
      const int32_t* ref = scratch.row_name.empty() ? nullptr : find_name(state.row_index, scratch.row_name);
      if (ref == nullptr) return FindingCode::UnknownQuadraticRow;
      if (*ref == EXTRA_N_ROW) return FindingCode::None;  // read, and kept nowhere
      target = *ref;
      if (scratch.header == HeaderKind::QSection) {
        scratch.kind = QuadraticKind::OneTriangle;
      } else {
        // QCMATRIX of the objective row reads as QMATRIX (HiGHS and Gurobi read it so).
        scratch.kind = target == OBJECTIVE_ROW ? QuadraticKind::Full : QuadraticKind::FullDoubled;
      }
    }
  }
  if (repeats_target(state.quadratic, scratch.header, target, state.num_row)) {
    return FindingCode::RepeatedQuadraticRow;
  }
  scratch.keep = true;
  QuadraticSegment segment;
  segment.target = target;
  segment.kind = scratch.kind;
  segment.entries = {state.quadratic.entries.size(), state.quadratic.entries.size()};
  segment.mirrored = {state.quadratic.mirrored.size(), state.quadratic.mirrored.size()};
  state.quadratic.segments.push_back(segment);
  return FindingCode::None;
}

namespace {

// The columns of a record's two names: the first from the memo of the last line's
// first name (the lines of one column follow each other) or near the last one, the
// second the first itself (a diagonal entry) or near the last second name plus one
// (a column's second names usually ascend).
[[gnu::always_inline]] inline bool columns_of(ReaderState& state, QuadraticScratch& scratch, std::string_view first,
                                              std::string_view second, uint32_t& a, uint32_t& b) {
  if (scratch.first_name.empty() || !same_name(first, scratch.first_name)) [[unlikely]] {
    if (!find_or_make_column(state, first, scratch.first_column, scratch.first_column)) return false;
    scratch.first_name = first;
  }
  a = scratch.first_column;
  if (same_name(second, first)) {
    b = a;
  } else if (!find_or_make_column(state, second, scratch.second_column + 1, b)) {
    return false;
  }
  scratch.second_column = b;
  return true;
}

[[gnu::always_inline]] inline bool add_entry(ReaderState& state, const QuadraticScratch& scratch, uint32_t a,
                                             uint32_t b, double value) {
  if (value == 0.0 || !scratch.keep) return true;
  QuadraticParts& parts = state.quadratic;
  if (parts.entries.size() + parts.mirrored.size() >= state.limits.max_entries) [[unlikely]] return false;
  // The first name is the column, the second the row: (a, b) with b > a lies below
  // the diagonal.
  if (b >= a) [[likely]] {
    parts.entries.push(b, a, value);
  } else if (scratch.kind == QuadraticKind::OneTriangle) {
    parts.entries.push(a, b, value);
  } else {
    parts.mirrored.push(a, b, value);
  }
  return true;
}

}  // namespace

bool quadratic_columns(ReaderState& state, QuadraticScratch& scratch, std::string_view first,
                       std::string_view second, uint32_t& a, uint32_t& b) {
  return columns_of(state, scratch, first, second, a, b);
}

bool add_quadratic_entry(ReaderState& state, const QuadraticScratch& scratch, uint32_t a, uint32_t b, double value) {
  return add_entry(state, scratch, a, b, value);
}

bool quadratic_record(ReaderState& state, QuadraticScratch& scratch, const Fields& fields) {
  if (fields.count < 3) [[unlikely]] return true;
  uint32_t a = 0;
  uint32_t b = 0;
  if (!columns_of(state, scratch, fields.at[0], fields.at[1], a, b)) [[unlikely]] return false;
  return add_entry(state, scratch, a, b, set_value(state.notices, fields.at[2]));
}

std::optional<LowerPlace> end_quadratic(ReaderState& state, QuadraticScratch& scratch) {
  if (!scratch.open) return std::nullopt;
  scratch.open = false;
  if (!scratch.keep) return std::nullopt;
  QuadraticParts& parts = state.quadratic;
  QuadraticSegment& segment = parts.segments.back();
  segment.entries.end = parts.entries.size();
  segment.mirrored.end = parts.mirrored.size();
  if (segment.kind == QuadraticKind::OneTriangle) return std::nullopt;
  return halves_differ(parts.entries, segment.entries, parts.mirrored, segment.mirrored, state.num_col);
}

void assemble_quadratic(QuadraticParts& parts, uint32_t num_col, ModelRecord& record) {
  // The mirrored halves were checked; only the entries that make H are needed.
  parts.mirrored = LowerEntries{};
  std::vector<EntryRange> objective;
  for (const QuadraticSegment& segment : parts.segments) {
    if (segment.target == OBJECTIVE_ROW) objective.push_back(segment.entries);
  }
  // A quadratic part whose entries all add up to zero (or that has none) is no part.
  if (!objective.empty()) {
    SparseMatrixRecord h = lower_triangle(parts.entries, objective, num_col);
    if (!h.value.empty()) record.hessian = std::move(h);
  }
  for (const QuadraticSegment& segment : parts.segments) {
    if (segment.target == OBJECTIVE_ROW) continue;
    const double scale = segment.kind == QuadraticKind::FullDoubled ? 2.0 : 1.0;
    SparseMatrixRecord h = lower_triangle(parts.entries, {&segment.entries, 1}, num_col, scale);
    if (!h.value.empty()) record.row_hessians.push_back({static_cast<uint32_t>(segment.target), std::move(h)});
  }
  std::sort(record.row_hessians.begin(), record.row_hessians.end(),
            [](const RowHessianRecord& x, const RowHessianRecord& y) { return x.row < y.row; });
  parts = QuadraticParts{};
}

void assemble_quadratic(ReaderState& state, ModelRecord& record) {
  assemble_quadratic(state.quadratic, state.num_col, record);
}

bool row_hessians_too_large(const QuadraticParts& parts, uint32_t num_col, uint64_t text_size) noexcept {
  uint64_t rows = 0;
  for (const QuadraticSegment& segment : parts.segments) rows += segment.target >= 0 ? 1 : 0;
  const uint64_t starts = rows * (uint64_t{num_col} + 1);
  return starts > kRowHessianStartsFloor && starts / kRowHessianStartsPerByte > text_size;
}

}  // namespace mopsel
