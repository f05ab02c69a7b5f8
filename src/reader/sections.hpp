#pragma once
// The section reader: one pass over the model text, a state machine over the
// MPS sections that fills a ReaderState.
//
// How a header is told from other lines depends on where the reader is:
//  - Outside any section, in OBJSENSE, ROWS and skipped sections, the line is
//    classified with classify_line; any kind but Data is a header, a blank-only
//    line included. Indentation does not matter.
//  - In the record sections COLUMNS, RHS, RANGES and BOUNDS, a line whose first
//    byte, as read, is a space or tab is always a record; otherwise the first
//    field is looked up as a keyword, and a section keyword only counts when it
//    stands alone (NAME, OBJSENSE and skipped-section keywords may carry more
//    fields). In RHS the word RHS is never a header.
//  - Either way, RHS, RANGES and BOUNDS in the first column may carry the name
//    of their set ("RHS RIGHT"): in a record section when the line cannot be a
//    well-formed record there, elsewhere when one word that is not a number
//    follows.
#include <optional>
#include <string_view>

#include "model/result.hpp"
#include "reader/reader_state.hpp"
#include "source/gzip_stream.hpp"

namespace mopsel {

// Reads every section up to ENDATA (and applies the binary default there).
// Fails with parse_failure() when the text ends before ENDATA, on an
// unknown row type in ROWS, an unknown bound type in BOUNDS, or when a size
// limit of the state is exceeded; with Interrupted when the state's
// interruption asks to stop. On failure the state is to be discarded.
Status read_sections(std::string_view text, ReaderState& state);

// Reads text while it arrives (gzip_stream.hpp) as read_sections reads it whole, on
// one thread: the size hints once the first lines have come, then the whole lines
// that have arrived, waiting at their end for more; the end of the text counts only
// when it has all come. The state needs no reservations (they are made here from the
// hints and the expected length). Nothing when the text was abandoned: the state is
// then to be discarded. On success the state's views point into the text.
std::optional<Status> read_sections_arriving(const ArrivingText& text, ReaderState& state);

}  // namespace mopsel
