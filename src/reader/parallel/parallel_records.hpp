#pragma once
// A large RHS, BOUNDS or quadratic section read by several threads, with the same
// result as the one-thread reader.
//
// Their records change nothing another record of the section looks up (RHS sets
// row values, BOUNDS column bounds, a quadratic record adds an entry), so threads
// can lay them out in pieces: the
// text from the line after the header on is cut into pieces at line starts,
// threads take the pieces in order and lay each record out as the one-thread
// reader does (names looked up in maps nobody changes meanwhile, values
// converted). The reading thread then applies the pieces in file order, so that
// the rules of order hold as on one thread (the first value per row in an RHS
// section, the last bound of a column).
//
// For BOUNDS and quadratic sections the column map is brought up to date first (by
// several threads when it has millions of columns to enter, even for a short BOUNDS
// section), or, for BOUNDS, when the text left is short against the columns, built
// for the names it uses (named_columns.hpp).
//
// A piece stops at the first line it cannot settle without the state the lines
// before it leave: a line in the first column whose first word is a section
// keyword (perhaps a header); in BOUNDS and quadratic sections, a record naming an
// unknown column (the record creates it, and a later record may then read its name
// as a column), in BOUNDS one with an unknown bound type (the read fails there). The
// one-thread reader goes on from that line.
#include "platform/reading_threads.hpp"
#include "reader/grammar/section_reader.hpp"
#include "reader/parallel/parallel_pieces.hpp"
#include "reader/text/lines.hpp"

namespace mopsel {

// Called right after an RHS, BOUNDS or quadratic section header, the latter begun
// (r.section says which); `cursor`
// stands at the next line; `text_whole`: the cursor's end is the text's end. Read: the records of the lines up to the cursor are
// applied; OneThread: no line was read; Interrupted: the state's interruption
// asked to stop (Restart is never given).
ParallelRead read_records_in_parallel(SectionReader& r, LineCursor& cursor, bool text_whole, const ThreadPlan& plan);

}  // namespace mopsel
