#include "reader/text/locate.hpp"

#include <algorithm>
#include <cstring>

namespace mopsel {

TextPosition locate(std::string_view text, uint64_t offset) noexcept {
  if (offset > text.size()) offset = text.size();
  // The end of a text that ends with a line feed is shown as its last line.
  if (offset == text.size() && offset > 0 && text.back() == '\n') --offset;
  const char* const begin = text.data();
  const char* const at = begin + offset;
  uint64_t lineno = 1;
  const char* line_start = begin;
  for (const char* p = begin; p < at;) {
    const auto* lf = static_cast<const char*>(std::memchr(p, '\n', static_cast<size_t>(at - p)));
    if (lf == nullptr) break;
    ++lineno;
    line_start = lf + 1;
    p = lf + 1;
  }
  const char* const text_end = begin + text.size();
  // (An empty text loaded from a file has no storage: memchr must not see its null.)
  const auto* lf =
      at < text_end ? static_cast<const char*>(std::memchr(at, '\n', static_cast<size_t>(text_end - at))) : nullptr;
  const char* line_end = lf != nullptr ? lf : text_end;
  if (line_end != line_start && line_end[-1] == '\r' && lf != nullptr) --line_end;
  return {lineno, std::string_view(line_start, static_cast<size_t>(line_end - line_start))};
}

std::vector<uint64_t> line_numbers(std::string_view text, const std::vector<uint64_t>& offsets) {
  std::vector<size_t> order(offsets.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::sort(order.begin(), order.end(), [&](size_t a, size_t b) { return offsets[a] < offsets[b]; });
  std::vector<uint64_t> lines(offsets.size(), 1);
  uint64_t lineno = 1;
  const char* p = text.data();
  for (const size_t i : order) {
    const char* const at = text.data() + std::min<uint64_t>(offsets[i], text.size());
    while (p < at) {
      const auto* lf = static_cast<const char*>(std::memchr(p, '\n', static_cast<size_t>(at - p)));
      if (lf == nullptr) break;
      ++lineno;
      p = lf + 1;
    }
    lines[i] = lineno;
  }
  return lines;
}

std::string shown_line(std::string_view line, uint64_t column) {
  if (line.size() <= kShownLine) return std::string(line);
  constexpr size_t kWindow = kShownLine - 6;  // room for "..." on both sides
  const size_t around = column > kWindow / 3 ? static_cast<size_t>(column) - kWindow / 3 : 0;
  const size_t start = std::min(around, line.size() - kWindow);
  std::string out = start > 0 ? "..." : "";
  out += line.substr(start, kWindow);
  if (start + kWindow < line.size()) out += "...";
  return out;
}

void attach_location(Error& error, std::string_view text) {
  if (error.offset == kNoOffset) return;
  const TextPosition where = locate(text, error.offset);
  if (error.lineno == 0) error.lineno = where.lineno;
  const uint64_t column = std::min<uint64_t>(error.offset, text.size()) -
                          static_cast<uint64_t>(where.line.data() - text.data());
  error.line = shown_line(where.line, column);
  error.column = column + 1;
}

}  // namespace mopsel
