#pragma once
// The pieces of an objective or Subject To section read by threads
// (parallel_sections.hpp), joined to the model by several threads, into the model one
// thread makes of the section.
//
// A piece's new columns are those the model's map did not hold when the section began,
// in the piece's order of first appearance. Every thread enters the new columns of
// whole pieces into the map at once (room for all of them made first), each name with
// its piece and place; a name that another piece entered too is noted. The notes then
// leave each name with its first piece, the one text order meets first. The model's
// columns follow in order of first appearance: piece by piece, the names a piece
// entered first, in its order; every piece's columns get their indexes, and the rows,
// entries, names and objective terms are copied or renumbered in their places, piece by
// piece on every thread.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "lp/lp_model.hpp"

namespace mopsel::lp {

// Makes room in the map for `names` names in all, with up to `threads` threads: the
// names it holds enter the larger table from every thread (on large models the table's
// fresh pages and its cache misses are most of a join's time). Throws std::bad_alloc.
void reserve_names_on_threads(NameMap<ColumnRef>& map, size_t names, size_t threads);

// Joins the rows and new columns of `pieces` (in text order) to `model` with up to
// `threads` threads. False when the map could not take the names (it is then spoiled:
// the caller reads the text again on one thread). The model's map must have room for
// its columns and every piece's new ones; the limits must have been checked. Throws
// std::bad_alloc (the model is then spoiled too).
bool join_pieces(LpModel& model, const std::vector<LpModel*>& pieces, size_t threads);

// Pieces of each kind joined into models since the process started (tests check that a
// text took the threaded path), and their count kept.
struct PiecesJoined {
  uint64_t objective = 0;
  uint64_t constraints = 0;
};
PiecesJoined lp_pieces_joined() noexcept;
void note_pieces_joined(bool objective, size_t count) noexcept;

}  // namespace mopsel::lp
