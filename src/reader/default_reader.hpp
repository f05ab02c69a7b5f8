#pragma once
// The default reading: one pass of the section state machine over the model text,
// tolerant and silent, that fills a ReaderState. Large COLUMNS, RHS and BOUNDS
// sections go to several threads (reader/parallel/), and a gzip text may be read
// while it is inflated.
#include <optional>
#include <string_view>

#include "gzip/gzip_stream.hpp"
#include "model/result.hpp"
#include "reader/records/reader_state.hpp"

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
