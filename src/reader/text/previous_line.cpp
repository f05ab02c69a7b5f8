#include "reader/text/previous_line.hpp"

#include "reader/text/lines.hpp"

namespace mopsel {

bool follows_indented_line(const char* text_begin, const char* line_start) noexcept {
  const char* end = line_start;  // the end of the line before, past its line feed
  while (end > text_begin) {
    const char* stop = end[-1] == '\n' ? end - 1 : end;  // without its line feed
    const char* start = stop;
    while (start > text_begin && start[-1] != '\n') --start;
    if (stop > start && stop[-1] == '\r') --stop;
    const std::string_view line(start, static_cast<size_t>(stop - start));
    end = start;
    if (line.empty() || is_comment_line(line)) continue;
    bool blank = true;
    for (const char byte : line) blank = blank && is_field_separator(byte);
    if (blank) continue;
    return line.front() == ' ' || line.front() == '\t';
  }
  return false;
}

}  // namespace mopsel
