#pragma once
// A large COLUMNS section read by several threads, with the same result as the
// one-thread reader.
//
// The text from the line after the COLUMNS header on is cut into pieces at line
// starts. Threads take the pieces in order and read each on its own: its
// columns (names, cost, integer marker or "as before the piece"), and their
// entries, with the first nonzero value per row kept as the one-thread reader
// keeps it. A piece stops at the first line that could end the section (a
// line in the first column whose first word is a section keyword); the pieces
// after it are not needed. The reading thread appends the pieces to the state
// in order: a piece's first column continues the open column when it has the
// same name, and its last column stays open for the next piece or the lines
// after it. Then the one-thread reader goes on from where the last piece stopped.
#include "platform/reading_threads.hpp"
#include "reader/grammar/section_reader.hpp"
#include "reader/parallel/arriving_text.hpp"
#include "reader/parallel/parallel_pieces.hpp"
#include "reader/text/lines.hpp"

namespace mopsel {

// Called right after the COLUMNS header; `cursor` stands at the next line.
ParallelRead read_columns_in_parallel(SectionReader& r, LineCursor& cursor, const ThreadPlan& plan);

// The same for text still arriving (the window `w`; gzip_stream.hpp): pieces are cut as
// their lines arrive and the reading thread reads them in order as they come. Helpers
// join when a lease gives threads: at the start when the process has cores to spare,
// else once the text is complete (the inflater then has given its thread back).
// Restart: the text was abandoned (r.restart is set) or a size limit may be met: the
// read is made again once the text is whole.
ParallelRead read_columns_arriving(SectionReader& r, TextWindow& w, LineCursor& cursor, const ThreadPlan& plan);

}  // namespace mopsel
