#pragma once
// Text still arriving (gzip_stream.hpp), as the section reader sees it: a window of
// whole lines that grows as the inflater hands on more text. The default reader
// reads a gzip text this way while it is inflated; large COLUMNS sections are cut
// into pieces as their lines arrive (parallel_columns.hpp).
#include <cstddef>
#include <optional>

#include "gzip/gzip_stream.hpp"
#include "reader/grammar/section_reader.hpp"
#include "reader/text/lines.hpp"

namespace mopsel {

struct TextWindow {
  const ArrivingText& text;
  size_t length;      // the text's length once complete; until then the room reserved
  size_t ready = 0;   // bytes that have arrived
  bool complete = false;
};

// Waits for more text; false when it was abandoned.
bool wait_for_more(TextWindow& w);

// The end of the whole lines that have arrived (of all the text once it is complete),
// not before `from`.
const char* whole_lines_end(const TextWindow& w, const char* from) noexcept;

// Moves the cursor's end (and r.text_end) on over the whole lines that arrive next,
// waiting for them. False at the end of the text, or when it was abandoned: the read
// then starts over (r.restart set).
bool extend_window(SectionReader& r, TextWindow& w, LineCursor& cursor);

// Text still arriving, as far as its whole lines have come.
struct ArrivedLines {
  const char* end = nullptr;           // the end of the whole lines that have arrived
  const char* expected_end = nullptr;  // where the text ends once complete (its length as stored until then)
  bool complete = false;               // the text has all arrived: `end` is its end
};

// Moves the cursor's end (and r.text_end) on over the whole lines of arriving text
// that have come; with `wait`, waits until more text has come or the text is complete.
// Nothing when the text was abandoned: the read then starts over (r.restart set).
std::optional<ArrivedLines> arrived_lines(SectionReader& r, TextWindow& w, LineCursor& cursor, bool wait);

// Sizes the row map for the ROWS records that follow a ROWS header (at the cursor),
// once they have all arrived.
void size_row_map_arriving(SectionReader& r, TextWindow& w, LineCursor& cursor);

}  // namespace mopsel
