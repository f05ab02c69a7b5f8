#include "reader/text/size_hints.hpp"

#include <algorithm>
#include <cstring>

#include "reader/text/keywords.hpp"
#include "reader/text/lines.hpp"
#include "reader/text/utf8.hpp"

namespace mopsel {

OptionalCount parse_count(std::string_view text) noexcept {
  text = trim_unicode(text);
  while (!text.empty() && text.front() == '(') text.remove_prefix(1);
  while (!text.empty() && text.back() == ')') text.remove_suffix(1);
  text = trim_unicode(text);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  if (text.empty()) return {};
  uint64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return {};
    const auto digit = static_cast<uint64_t>(c - '0');
    if (value > (UINT64_MAX - digit) / 10) return {};
    value = value * 10 + digit;
  }
  return {true, value};
}

namespace {

// Position just past `keyword` (upper case) in the upper-cased view of `line`.
size_t find_upper(std::string_view line, std::string_view keyword) noexcept {
  if (line.size() < keyword.size()) return std::string_view::npos;
  for (size_t i = 0; i + keyword.size() <= line.size(); ++i) {
    size_t k = 0;
    while (k < keyword.size() && ascii_upper(line[i + k]) == keyword[k]) ++k;
    if (k == keyword.size()) return i + k;
  }
  return std::string_view::npos;
}

}  // namespace

SizeHints scan_size_hints(std::string_view text) noexcept { return scan_size_hints(text, text.size()); }

SizeHints scan_size_hints(std::string_view text, uint64_t text_length) noexcept {
  constexpr int kHintLines = 20;
  SizeHints hints;
  LineCursor cursor = line_cursor(text);
  std::string_view line;
  for (int i = 0; i < kHintLines && next_line(cursor, line); ++i) {
    if (line.empty() || line.front() != '*') {
      if (trim_unicode_left(line).starts_with("NAME")) break;
      continue;
    }
    uint64_t* target = &hints.rows;
    bool* flag = &hints.has_rows;
    size_t after = find_upper(line, "ROWS:");
    if (after == std::string_view::npos) {
      target = &hints.columns;
      flag = &hints.has_columns;
      after = find_upper(line, "COLUMNS:");
    }
    if (after == std::string_view::npos) {
      target = &hints.nonzeros;
      flag = &hints.has_nonzeros;
      after = find_upper(line, "NONZERO:");
    }
    if (after == std::string_view::npos) continue;
    const OptionalCount count = parse_count(line.substr(after));
    if (count.present) {
      *target = count.value;
      *flag = true;
    }
  }
  const uint64_t length = text_length;
  if (!hints.has_nonzeros) hints.nonzeros = length / 30;
  if (!hints.has_columns) hints.columns = hints.nonzeros / 10;
  if (!hints.has_rows) hints.rows = hints.columns / 4;
  return hints;
}

Reservations capped_reservations(const SizeHints& hints, size_t text_length) noexcept {
  // A hint only sizes reservations, so it is capped by what the text could
  // hold: a matrix entry takes at least 4 bytes (" r 1"); a column or row is
  // given 16 bytes, a generous lower estimate for a line with a name and an
  // entry. Beyond the caps the arrays simply grow.
  const uint64_t length = text_length;
  return {static_cast<size_t>(std::min<uint64_t>(hints.nonzeros, length / 4)),
          static_cast<size_t>(std::min<uint64_t>(hints.columns, length / 16)),
          static_cast<size_t>(std::min<uint64_t>(hints.rows, length / 16))};
}

size_t count_row_lines(std::string_view rest, size_t text_length) noexcept {
  return count_row_lines_so_far(rest, text_length).rows;
}

RowLineCount count_row_lines_so_far(std::string_view rest, size_t text_length, size_t counted) noexcept {
  const size_t cap = text_length / 6;
  const char* p = rest.data();
  const char* const end = p + rest.size();
  auto blank = [](char c) { return c == ' ' || c == '\t'; };
  size_t rows = counted;
  while (p < end && rows < cap) {
    const auto* lf = static_cast<const char*>(std::memchr(p, '\n', static_cast<size_t>(end - p)));
    const char* const stop = lf != nullptr ? lf : end;
    const char first = *p;
    if (first != '\n' && first != '\r' && first != '*' && first != '$') {
      if (!blank(first)) return {rows, false};
      const char* q = p;
      while (q < stop && blank(*q)) ++q;
      if (q == stop || (*q != 'E' && *q != 'G' && *q != 'L' && *q != 'N')) return {rows, false};
      while (q < stop && !blank(*q) && *q != '\r') ++q;
      while (q < stop && blank(*q)) ++q;
      if (q == stop || *q == '\r') return {rows, false};
      ++rows;
    }
    p = stop + 1;
  }
  return {rows, rows < cap};
}

}  // namespace mopsel
