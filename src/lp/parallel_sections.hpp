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
// the piece's own, in its order of first appearance (in the objective, where a name is
// rarely met twice, each term makes one and the join finds the repeats). The pieces are
// then joined in text order (join_pieces.hpp), so that the columns come in order of first
// appearance as on one thread; a piece of the objective keeps its terms and constants in
// text order, and they are added up in that order at the end.
//
// A piece that ends where the section ends (a section keyword) is the last one used.
// A piece that fails (a syntax error, a limit, or something a piece cannot read alone:
// a quadratic part, an indicator, a row without a name) sends the section back to one
// thread, which reads it from its start and reports what a one-thread read reports.
//
// Included by read_lp.cpp alone: the parser it drives has internal linkage (lp_parser.hpp).
#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "lp/join_pieces.hpp"
#include "lp/lp_parser.hpp"
#include "platform/helper_threads.hpp"
#include "reader/parallel/parallel_pieces.hpp"

namespace mopsel::lp {
namespace {

struct Piece {
  const char* begin = nullptr;
  const char* end = nullptr;
  bool line_start = true;  // the piece starts a line
  enum class Outcome : uint8_t { Failed, AtEnd, AtKeyword };
  Outcome outcome = Outcome::Failed;
  bool interrupted = false;
  const char* keyword = nullptr;  // where the keyword that ends the section stands
  LpModel model;                  // the piece's rows, objective terms and new columns
};

struct Work : PieceQueue {
  Work(const Parser& reading, bool objective_section) : main(reading), objective(objective_section) {}
  const Parser& main;
  bool objective;  // the pieces are terms of the objective, else rows
  std::atomic<bool> interrupted{false};  // the reading thread's interruption asked to stop
  std::vector<std::unique_ptr<Piece>> pieces;
};

bool is_blank(char c) noexcept { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// Subject To: the start of the first line from `at` on whose first tokens are a row's
// label, or null.
const char* next_label_line(const char* at, const char* end) noexcept {
  while (at < end) {
    const auto* lf = static_cast<const char*>(std::memchr(at, '\n', static_cast<size_t>(end - at)));
    if (lf == nullptr) return nullptr;
    Lexer lexer{lf + 1, end, true, false};
    if (lexer.next().kind == Tok::Name && lexer.next().kind == Tok::Colon) return lf + 1;
    at = lf + 1;
  }
  return nullptr;
}

// The objective: the first '+' or '-' from `at` on that follows a blank and stands
// after no comment mark of its line (a comment runs to the line's end), or null.
const char* next_sign(const char* at, const char* end, const char* floor) noexcept {
  for (const char* p = at; p < end; ++p) {
    if ((*p != '+' && *p != '-') || p == floor || !is_blank(p[-1])) continue;
    const char* line = p;
    while (line > floor && line[-1] != '\n') --line;
    if (std::memchr(line, '\\', static_cast<size_t>(p - line)) == nullptr) return p;
    // A comment: go on from the next line.
    const auto* lf = static_cast<const char*>(std::memchr(p, '\n', static_cast<size_t>(end - p)));
    if (lf == nullptr) return nullptr;
    p = lf;
  }
  return nullptr;
}

// Cuts [begin, end) into pieces of about `size` bytes, each after the first starting
// where a piece's parser may start.
void cut(Work& work, const char* begin, const char* end, bool line_start, size_t size) {
  const char* const floor = begin;
  while (begin < end) {
    const char* stop = nullptr;
    if (static_cast<size_t>(end - begin) > size) {
      stop = work.objective ? next_sign(begin + size, end, floor) : next_label_line(begin + size, end);
    }
    if (stop == nullptr) stop = end;
    auto piece = std::make_unique<Piece>();
    piece->begin = begin;
    piece->end = stop;
    piece->line_start = line_start;
    work.pieces.push_back(std::move(piece));
    // Whether the next piece starts a line: only blanks before it on its line.
    const char* p = stop;
    while (p > floor && (p[-1] == ' ' || p[-1] == '\t' || p[-1] == '\r')) --p;
    line_start = p == floor ? line_start : p[-1] == '\n';
    begin = stop;
  }
}

// What a helper's parser polls: whether the reading thread was asked to stop (the
// caller's own hook is polled by the reading thread alone).
bool stop_requested(void* context, bool) noexcept { return static_cast<std::atomic<bool>*>(context)->load(); }

// Reads a piece, polling `interruption`; `spare` is the column map of the thread's
// previous piece, cleared and used again (the pieces' maps are not needed once they are
// read).
void read_piece(Work& work, Piece& piece, NameMap<ColumnRef>& spare, const Interruption& interruption) {
  using Outcome = Piece::Outcome;
  try {
    ReaderLimits limits = work.main.model.limits;
    // A piece's own columns are numbered below the marks kPieceColumn and kConstantTerm.
    if (limits.max_columns >= kPieceColumn - 1) limits.max_columns = kPieceColumn - 2;
    Parser parser(work.main.text, ReadOptions{}, limits, interruption);
    parser.shared = &work.main.model.column_of;
    parser.term_columns = work.objective;
    clear_names(spare);
    parser.model.column_of = std::move(spare);
    parser.model.column_of.seed = parser.shared->seed;
    parser.model.col_tag = kPieceColumn;
    parser.lexer = Lexer{piece.begin, piece.end, piece.line_start, false};
    bool read = parser.advance();
    if (read && work.objective) {
      double constant = 0.0;  // a piece keeps its constants among its terms
      uint64_t terms = 0;
      read = parser.expression(Parser::Target::Objective, constant, terms) &&
             (parser.cur.kind == Tok::End || parser.section_peek());
    } else if (read) {
      read = parser.constraints();
    }
    if (read) {
      piece.outcome = parser.cur.kind == Tok::End ? Outcome::AtEnd : Outcome::AtKeyword;
      piece.keyword = parser.cur.begin;
    } else {
      piece.interrupted = parser.interrupted;
    }
    spare = std::move(parser.model.column_of);
    piece.model = std::move(parser.model);
  } catch (...) {
    // A shortage of memory, or an internal fault: the one-thread reading meets it
    // again and reports it.
    piece.outcome = Outcome::Failed;
  }
}

// Reads pieces until none is left to take. The reading thread polls the caller's
// interruption and, when it is asked to stop, stops everyone.
void read_pieces(Work& work, bool reading_thread) {
  const Interruption everyone{stop_requested, &work.interrupted};
  const Interruption& interruption = reading_thread ? work.main.interruption : everyone;
  NameMap<ColumnRef> spare;
  for (size_t i; work.take(work.pieces.size(), i);) {
    Piece& piece = *work.pieces[i];
    read_piece(work, piece, spare, interruption);
    if (piece.outcome != Piece::Outcome::AtEnd) work.not_needed_from(i + 1);
    if (piece.interrupted && reading_thread) {
      work.interrupted.store(true);
      work.stop.store(true);  // no piece is taken any more
    }
  }
}

// Appends a piece to the model on this thread, its new columns looked up or made first.
void join_one(LpModel& model, LpModel& piece) {
  std::vector<uint32_t> column(piece.num_col);
  for (uint32_t j = 0; j < piece.num_col; ++j) {
    const std::string_view name = piece.col_text[j];
    const NameKey key = map_key(model.column_of, name);
    ColumnRef* ref = find_column(model, key);
    if (ref == nullptr) ref = add_column(model, name, key);  // the limits were checked
    column[j] = ref->col;
  }
  const auto global = [&column](uint32_t col) { return (col & kPieceColumn) != 0 ? column[col & ~kPieceColumn] : col; };
  for (ObjectiveTerm& term : piece.objective_terms) {
    if (term.col != kConstantTerm) term.col = global(term.col);
  }
  if (model.row_start.empty()) model.row_start.push_back(0);
  const auto base = static_cast<uint32_t>(model.entry_col.size());
  for (uint32_t i = 0; i < piece.num_row; ++i) {
    model.row_names.push_back(piece.row_names[i]);
    model.row_lower.push_back(piece.row_lower[i]);
    model.row_upper.push_back(piece.row_upper[i]);
    model.row_start.push_back(base + piece.row_start[i + 1]);
  }
  model.num_row += piece.num_row;
  const size_t entries = piece.entry_col.size();
  model.entry_col.reserve_more(entries);
  model.entry_value.append(piece.entry_value.data(), entries);
  for (size_t k = 0; k < entries; ++k) model.entry_col.push_back(global(piece.entry_col[k]));
}

// Reads the section from `parser.cur` in pieces and joins them; on Read, the parser
// stands at the token after the section and `used` holds the pieces joined.
ParallelRead read_in_pieces(Parser& parser, bool objective, std::vector<std::unique_ptr<Piece>>& used) {
  using Outcome = Piece::Outcome;
  const ThreadPlan& plan = parser.plan;
  const char* const begin = parser.cur.begin;
  const char* const end = parser.text.data() + parser.text.size();
  if (parser.cur.kind == Tok::End || plan.threads < 2 || static_cast<size_t>(end - begin) < plan.lp_min_bytes) {
    return ParallelRead::OneThread;
  }
  // Asked once before any piece is taken: a caller that stops early stops here, whichever
  // thread takes the pieces.
  if (parser.interruption.requested()) return ParallelRead::Interrupted;
  ThreadLease lease(plan.threads, plan.threads);
  if (lease.helpers() == 0) return ParallelRead::OneThread;
  const size_t threads = lease.helpers() + 1;
  Work work(parser, objective);
  cut(work, begin, end, parser.cur.line_start, piece_bytes(plan, static_cast<size_t>(end - begin), threads));
  if (work.pieces.size() < 2) return ParallelRead::OneThread;

  // Every piece is read before the first is joined: joining makes columns in the map
  // that the pieces' parsers read.
  {
    HelperThreads helpers(work.stop);
    helpers.start(lease.helpers(), [&work] { read_pieces(work, false); });
    read_pieces(work, true);
  }  // the helpers are joined: every piece taken is read

  // The pieces that make the section, their counts checked against the limits.
  const ReaderLimits& limits = parser.model.limits;
  uint64_t rows = parser.model.num_row;
  uint64_t entries = parser.model.entry_col.size();
  uint64_t columns = parser.model.num_col;
  const char* keyword = nullptr;
  for (auto& piece : work.pieces) {
    if (piece->outcome == Outcome::Failed) {
      return piece->interrupted ? ParallelRead::Interrupted : ParallelRead::OneThread;
    }
    rows += piece->model.num_row;
    entries += piece->model.entry_col.size();
    columns += piece->model.num_col;
    used.push_back(std::move(piece));
    if (used.back()->outcome == Outcome::AtKeyword) {
      keyword = used.back()->keyword;
      break;
    }
  }
  if (rows > limits.max_rows || entries > limits.max_entries || columns > limits.max_columns) {
    return ParallelRead::OneThread;  // which limit, and where, is told by the one-thread reading
  }

  // Every thread joins the pieces when the map can make room at once for every column
  // they made: the sum overstates the new columns when many pieces name the same ones,
  // so that room is made only while it takes at most kMapRoomPerByte bytes per byte of
  // the section (or the map is small). Else this thread joins them, making the columns
  // one by one.
  if (map_room(columns) <= most_map_room(static_cast<size_t>(end - begin))) {
    // After the objective, room for the rows' new columns too: the rows' join then moves
    // no name to a larger map.
    bool zero_cost_term = false;
    for (const auto& piece : used) zero_cost_term |= piece->model.zero_cost_term;
    const uint64_t names = objective && keyword != nullptr
                               ? names_after_objective(columns, static_cast<size_t>(keyword - begin),
                                                       static_cast<size_t>(end - keyword), zero_cost_term)
                               : columns;
    reserve_names_on_threads(parser.model.column_of, names, threads);
    std::vector<LpModel*> parts;
    for (auto& piece : used) parts.push_back(&piece->model);
    if (!join_pieces(parser.model, parts, threads)) return ParallelRead::Restart;
  } else {
    for (auto& piece : used) join_one(parser.model, piece->model);
  }
  note_pieces_joined(objective, used.size());
  parser.lexer = Lexer{keyword != nullptr ? keyword : end, end, true, false};
  return parser.advance() ? ParallelRead::Read : ParallelRead::Interrupted;
}

// Reads the section whose first token is `parser.cur` on the threads of `parser.plan`:
// Read (the parser then stands at the token after the section), OneThread (nothing
// changed: read the section on one thread), Restart (the model is spoiled: read the
// text again on one thread) or Interrupted.
ParallelRead read_constraints_in_parallel(Parser& parser) {
  std::vector<std::unique_ptr<Piece>> used;
  return read_in_pieces(parser, false, used);
}

ParallelRead read_objective_in_parallel(Parser& parser) {
  std::vector<std::unique_ptr<Piece>> used;
  const ParallelRead read = read_in_pieces(parser, true, used);
  if (read != ParallelRead::Read) return read;
  // The terms and constants in text order, as one thread adds them up.
  double constant = 0.0;
  for (const auto& piece : used) {
    for (const ObjectiveTerm& term : piece->model.objective_terms) {
      if (term.col == kConstantTerm) {
        constant += term.value;
      } else {
        parser.model.col_cost[term.col] += term.value;
      }
    }
  }
  parser.model.obj_offset += constant;
  return read;
}

bool Parser::subject_to() {
  if (!noting && shared == nullptr) {
    switch (read_constraints_in_parallel(*this)) {
      case ParallelRead::Read: return true;
      case ParallelRead::Interrupted: return interrupted_here();
      case ParallelRead::Restart: return restart_here();
      case ParallelRead::OneThread: break;
    }
  }
  return constraints();
}

ParallelRead Parser::objective_on_threads() {
  if (noting || shared != nullptr) return ParallelRead::OneThread;
  return read_objective_in_parallel(*this);
}

}  // namespace
}  // namespace mopsel::lp
