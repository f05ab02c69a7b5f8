#include "reader/text/fixed_fields.hpp"

namespace mopsel {

namespace {

std::string_view trim_separators(std::string_view text) noexcept {
  size_t begin = 0;
  size_t end = text.size();
  while (begin < end && is_field_separator(text[begin])) ++begin;
  while (end > begin && is_field_separator(text[end - 1])) --end;
  return text.substr(begin, end - begin);
}

}  // namespace

FixedRecord fixed_fields(std::string_view line) noexcept {
  FixedRecord out;
  for (size_t i = 0; i < kFixedFieldCount; ++i) {
    const FixedSpan span = kFixedSpans[i];
    if (span.begin >= line.size()) {
      out[i] = line.substr(line.size(), 0);
      continue;
    }
    out[i] = trim_separators(line.substr(span.begin, span.end - span.begin));
  }
  return out;
}

size_t fixed_gap_position(std::string_view line) noexcept {
  size_t column = 0;
  for (const FixedSpan span : kFixedSpans) {
    for (; column < span.begin && column < line.size(); ++column) {
      if (!is_field_separator(line[column])) return column;
    }
    column = span.end;
  }
  return std::string_view::npos;
}

}  // namespace mopsel
