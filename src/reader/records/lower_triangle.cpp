#include "reader/records/lower_triangle.hpp"

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

namespace mopsel {

namespace {

// Sorting beats the two passes over every column below this many columns per entry.
constexpr size_t kColumnsPerEntryToSort = 8;

bool same_value(double a, double b) noexcept { return a == b || (std::isnan(a) && std::isnan(b)); }

// Whether the entries of `ranges` are already the matrix: column by column, rows
// ascending within a column, no place twice, no zero. Writers of one triangle (HiGHS,
// Gurobi, mopsel itself) give them so.
bool in_matrix_order(const LowerEntries& e, std::span<const EntryRange> ranges) noexcept {
  uint64_t last = 0;
  bool first = true;
  for (const EntryRange& range : ranges) {
    for (size_t k = range.begin; k < range.end; ++k) {
      const uint64_t place = (uint64_t{e.col[k]} << 32) | e.row[k];
      if ((!first && place <= last) || e.value[k] == 0.0) return false;
      last = place;
      first = false;
    }
  }
  return true;
}

// lower_triangle of entries in matrix order: the columns counted, the rows and values
// copied (scaled by 1 or 2, which leaves no nonzero value zero).
SparseMatrixRecord copy_in_order(const LowerEntries& e, std::span<const EntryRange> ranges, uint32_t num_col,
                                 double scale) {
  SparseMatrixRecord m;
  m.start.reserve(size_t{num_col} + 1);
  m.start.commit(size_t{num_col} + 1);
  std::fill(m.start.begin(), m.start.end(), 0u);
  for (const EntryRange& range : ranges) {
    for (size_t k = range.begin; k < range.end; ++k) ++m.start[e.col[k] + 1];
    m.index.append(e.row.data() + range.begin, range.end - range.begin);
    for (size_t k = range.begin; k < range.end; ++k) m.value.push_back(e.value[k] * scale);
  }
  for (size_t c = 0; c < num_col; ++c) m.start[c + 1] += m.start[c];
  return m;
}

// lower_triangle, leaving out the diagonal when `skip_diagonal`. Entries already in
// matrix order are copied; otherwise two stable counting passes, by row and then by
// column, put each column's rows in ascending order with the entries of one place
// together in file order, and they are summed.
SparseMatrixRecord compress(const LowerEntries& e, std::span<const EntryRange> ranges, uint32_t num_col,
                            double scale, bool skip_diagonal) {
  if (!skip_diagonal && in_matrix_order(e, ranges)) return copy_in_order(e, ranges, num_col, scale);
  const auto kept = [&](size_t k) { return !skip_diagonal || e.row[k] != e.col[k]; };
  std::vector<size_t> row_start(size_t{num_col} + 1, 0);
  size_t total = 0;
  for (const EntryRange& range : ranges) {
    for (size_t k = range.begin; k < range.end; ++k) {
      if (!kept(k)) continue;
      ++row_start[e.row[k] + 1];
      ++total;
    }
  }
  for (size_t r = 0; r < num_col; ++r) row_start[r + 1] += row_start[r];
  std::vector<uint32_t> by_row_col(total);
  std::vector<double> by_row_value(total);
  {
    std::vector<size_t> next(row_start.begin(), row_start.end() - 1);
    for (const EntryRange& range : ranges) {
      for (size_t k = range.begin; k < range.end; ++k) {
        if (!kept(k)) continue;
        const size_t at = next[e.row[k]]++;
        by_row_col[at] = e.col[k];
        by_row_value[at] = e.value[k];
      }
    }
  }

  SparseMatrixRecord m;
  m.start.reserve(size_t{num_col} + 1);
  m.start.commit(size_t{num_col} + 1);
  std::fill(m.start.begin(), m.start.end(), 0u);
  for (const uint32_t c : by_row_col) ++m.start[c + 1];
  for (size_t c = 0; c < num_col; ++c) m.start[c + 1] += m.start[c];
  m.index.reserve(total);
  m.index.commit(total);
  m.value.reserve(total);
  m.value.commit(total);
  {
    std::vector<uint32_t> next(m.start.begin(), m.start.end() - 1);
    for (uint32_t r = 0; r < num_col; ++r) {
      for (size_t at = row_start[r]; at < row_start[r + 1]; ++at) {
        const uint32_t p = next[by_row_col[at]]++;
        m.index[p] = r;
        m.value[p] = by_row_value[at];
      }
    }
  }

  // Entries of one place stand together: they are summed, and zero sums dropped.
  uint32_t out = 0;
  uint32_t begin = 0;
  for (size_t c = 0; c < num_col; ++c) {
    const uint32_t end = m.start[c + 1];
    m.start[c] = out;
    for (uint32_t p = begin; p < end; ++p) {
      const uint32_t r = m.index[p];
      double sum = m.value[p];
      while (p + 1 < end && m.index[p + 1] == r) sum += m.value[++p];
      sum *= scale;
      if (sum == 0.0) continue;
      m.index[out] = r;
      m.value[out] = sum;
      ++out;
    }
    begin = end;
  }
  m.start[num_col] = out;
  m.index.clear();
  m.index.commit(out);
  m.value.clear();
  m.value.commit(out);
  return m;
}

// The entries of `range` below the diagonal, summed per place (zero sums dropped), as
// (column << 32 | row, value) in column order.
std::vector<std::pair<uint64_t, double>> sorted_places(const LowerEntries& e, EntryRange range) {
  std::vector<std::pair<uint64_t, double>> places;
  places.reserve(range.end - range.begin);
  for (size_t k = range.begin; k < range.end; ++k) {
    if (e.row[k] == e.col[k]) continue;
    places.emplace_back((uint64_t{e.col[k]} << 32) | e.row[k], e.value[k]);
  }
  std::stable_sort(places.begin(), places.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
  size_t out = 0;
  for (size_t p = 0; p < places.size(); ++p) {
    double sum = places[p].second;
    while (p + 1 < places.size() && places[p + 1].first == places[p].first) sum += places[++p].second;
    if (sum != 0.0) places[out++] = {places[p].first, sum};
  }
  places.resize(out);
  return places;
}

LowerPlace place_of(uint64_t key) noexcept {
  return {static_cast<uint32_t>(key), static_cast<uint32_t>(key >> 32)};
}

std::optional<LowerPlace> sorted_halves_differ(const LowerEntries& lower_entries, EntryRange lower,
                                               const LowerEntries& mirrored_entries, EntryRange mirrored) {
  const auto a = sorted_places(lower_entries, lower);
  const auto b = sorted_places(mirrored_entries, mirrored);
  size_t i = 0;
  while (i < a.size() && i < b.size() && a[i].first == b[i].first && same_value(a[i].second, b[i].second)) ++i;
  if (i == a.size() && i == b.size()) return std::nullopt;
  if (i == a.size()) return place_of(b[i].first);
  if (i == b.size()) return place_of(a[i].first);
  return place_of(std::min(a[i].first, b[i].first));
}

}  // namespace

SparseMatrixRecord lower_triangle(const LowerEntries& entries, std::span<const EntryRange> ranges, uint32_t num_col,
                                  double scale) {
  return compress(entries, ranges, num_col, scale, false);
}

std::optional<LowerPlace> halves_differ(const LowerEntries& lower_entries, EntryRange lower,
                                        const LowerEntries& mirrored_entries, EntryRange mirrored,
                                        uint32_t num_col) {
  const size_t count = (lower.end - lower.begin) + (mirrored.end - mirrored.begin);
  if (count * kColumnsPerEntryToSort < num_col) {
    return sorted_halves_differ(lower_entries, lower, mirrored_entries, mirrored);
  }
  const SparseMatrixRecord a = compress(lower_entries, {&lower, 1}, num_col, 1.0, true);
  const SparseMatrixRecord b = compress(mirrored_entries, {&mirrored, 1}, num_col, 1.0, true);
  for (uint32_t c = 0; c < num_col; ++c) {
    uint32_t p = a.start[c];
    uint32_t q = b.start[c];
    const uint32_t p_end = a.start[c + 1];
    const uint32_t q_end = b.start[c + 1];
    while (p < p_end && q < q_end && a.index[p] == b.index[q] && same_value(a.value[p], b.value[q])) {
      ++p;
      ++q;
    }
    if (p == p_end && q == q_end) continue;
    if (p == p_end) return LowerPlace{b.index[q], c};
    if (q == q_end) return LowerPlace{a.index[p], c};
    return LowerPlace{std::min(a.index[p], b.index[q]), c};
  }
  return std::nullopt;
}

}  // namespace mopsel
