#pragma once
// A large objective or Subject To section of LP text read by several threads, into the
// model one thread makes of it.
//
// The section's text is cut into pieces where a piece's parser can start as the
// one-thread parser stands there: in Subject To at lines whose first tokens are a
// row's label (`name:`), in the objective before a '+' or '-' that follows a blank
// (outside a comment). Threads read the pieces with parsers of their own
// (lp_parser.hpp). A column that the text before the section made is looked up in the
// model's map, which no thread changes meanwhile; the other columns a piece names are
// the piece's own, in its order of first appearance. The pieces are then joined in text
// order (join_pieces.hpp), so that the columns come in order of first appearance as on
// one thread; a piece of the objective keeps its terms and constants in text order,
// and they are added up in that order at the end.
//
// A piece that ends where the section ends (a section keyword) is the last one used.
// A piece that fails (a syntax error, a limit, or something a piece cannot read alone:
// a quadratic part, an indicator, a row without a name) sends the section back to one
// thread, which reads it from its start and reports what a one-thread read reports.
#include <cstdint>

#include "lp/lp_parser.hpp"
#include "reader/parallel/parallel_pieces.hpp"

namespace mopsel::lp {

// Reads the section whose first token is `parser.cur` on the threads of `parser.plan`:
// Read (the parser then stands at the token after the section), OneThread (nothing
// changed: read the section on one thread), Restart (the model is spoiled: read the
// text again on one thread) or Interrupted.
ParallelRead read_constraints_in_parallel(Parser& parser);
ParallelRead read_objective_in_parallel(Parser& parser);

// Pieces of each kind joined into models since the process started (tests check that a
// text took the threaded path).
struct PiecesJoined {
  uint64_t objective = 0;
  uint64_t constraints = 0;
};
PiecesJoined lp_pieces_joined() noexcept;

}  // namespace mopsel::lp
