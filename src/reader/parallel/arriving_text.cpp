#include "reader/parallel/arriving_text.hpp"

#include <algorithm>
#include <cstring>

#include "reader/text/size_hints.hpp"

namespace mopsel {

bool wait_for_more(TextWindow& w) {
  const Arrival arrival = w.text.next(w.ready);
  if (arrival.state == ArrivalState::Abandoned) return false;
  w.ready = arrival.ready;
  w.complete = arrival.state == ArrivalState::Complete;
  if (w.complete) w.length = w.ready;
  return true;
}

const char* whole_lines_end(const TextWindow& w, const char* from) noexcept {
  const char* const ready = w.text.data + w.ready;
  if (w.complete) return ready;
  const void* lf = ::memrchr(from, '\n', static_cast<size_t>(ready - from));
  return lf != nullptr ? static_cast<const char*>(lf) + 1 : from;
}

bool extend_window(SectionReader& r, TextWindow& w, LineCursor& cursor) {
  while (!w.complete) {
    if (!wait_for_more(w)) {
      start_over(r);
      return false;
    }
    const char* const end = whole_lines_end(w, cursor.end);
    if (end > cursor.end) {
      cursor.end = end;
      r.text_end = end;
      return true;
    }
  }
  return false;
}

std::optional<ArrivedLines> arrived_lines(SectionReader& r, TextWindow& w, LineCursor& cursor, bool wait) {
  if (!w.complete) {
    if (wait) {
      if (!wait_for_more(w)) {
        start_over(r);
        return std::nullopt;
      }
    } else {
      const Arrival arrival = w.text.now();
      if (arrival.state == ArrivalState::Abandoned) {
        start_over(r);
        return std::nullopt;
      }
      w.ready = std::max(w.ready, arrival.ready);
      w.complete = arrival.state == ArrivalState::Complete;
      if (w.complete) w.length = w.ready;
    }
  }
  cursor.end = whole_lines_end(w, cursor.end);
  r.text_end = cursor.end;
  return ArrivedLines{cursor.end, w.text.data + w.length, w.complete};
}

void size_row_map_arriving(SectionReader& r, TextWindow& w, LineCursor& cursor) {
  // The rows are counted as they come, up to the line that ends them.
  size_t rows = 0;
  const char* from = cursor.pos;
  for (;;) {
    const std::string_view more(from, static_cast<size_t>(cursor.end - from));
    const RowLineCount count = count_row_lines_so_far(more, w.length, rows);
    rows = count.rows;
    from = cursor.end;
    if (!count.open || !extend_window(r, w, cursor)) break;
  }
  NameMap<int32_t>& map = r.state.row_index;
  if (r.section != Section::Failed) reserve_names(map, map.count + rows + 1);
}

}  // namespace mopsel
