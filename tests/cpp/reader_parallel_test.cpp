// Reading a large COLUMNS or BOUNDS section with several threads gives what one thread gives:
// the same record bit for bit, or the same failure (cause, offset, line), and the same
// counts of what the reading passed over (each with the place of its first), on the
// real models and on texts made to put piece boundaries everywhere that matters;
// an interruption still stops the read; the process-wide thread count holds.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "reader/default_reader.hpp"
#include "reader/parallel/parallel_pieces.hpp"
#include "reader/read_mps.hpp"
#include "reader/text/size_hints.hpp"
#include "platform/reading_threads.hpp"
#include "reader_test_support.hpp"
#include "source/load_source.hpp"

namespace mopsel {
namespace {
using namespace mopsel::testing;

// Sets the plan of later reads for the life of the object.
struct PlanScope {
  explicit PlanScope(ThreadPlan plan) { use_thread_plan_for_tests(plan); }
  ~PlanScope() { use_thread_plan_for_tests(std::nullopt); }
};

// The plain one-thread reader: every size that takes another path out of reach.
ThreadPlan one_thread() { return plan_taking_no_path(); }
ThreadPlan threaded(unsigned threads, size_t piece_bytes) { return plan_taking_every_path(threads, piece_bytes); }

// Each threaded path of the reader taken alone, every other size out of reach: the
// ROWS names entered by threads, the column map of the names used, the map of every
// column built by threads (which the map of the names used otherwise takes over).
std::vector<ThreadPlan> each_path_alone(unsigned threads) {
  std::vector<ThreadPlan> plans(3, plan_taking_no_path());
  plans[0].shared_rows_min = 0;
  plans[1].named_columns_min = 0;
  plans[1].named_columns_per_byte = 0;
  plans[2].shared_map_min = 0;
  for (ThreadPlan& plan : plans) plan.threads = threads;
  return plans;
}

Result<ModelRecord> read_with(const ThreadPlan& plan, std::string_view text, const ReaderLimits& limits = {}) {
  PlanScope scope(plan);
  return read_mps_with_limits(text, limits);
}

// What the default reader counted in `text` with `plan` (notices.hpp): each count with
// the offset of its first, the names of skipped sections, and the mark for a careful reading.
std::string counted(const ThreadPlan& plan, std::string_view text, const ReaderLimits& limits) {
  PlanScope scope(plan);
  ReaderState state;
  state.limits = limits;
  reserve_from_hints(scan_size_hints(text), text.size(), state);
  (void)read_sections(text, state);
  std::string out;
  for (size_t i = 0; i < kNoticeCount; ++i) {
    const NoticeTally& tally = state.notices.tally[i];
    if (tally.count == 0) continue;
    out += std::string(finding_name(kNoticeCodes[i])) + " " + std::to_string(tally.count) + " from " +
           std::to_string(tally.first.data() - text.data()) + "; ";
  }
  for (const std::string_view name : state.notices.skipped) out += std::string(name) + "; ";
  return out + (state.notices.recheck ? "recheck" : "");
}

// Reads `text` on one thread and with every plan of `plans`; all must agree.
void expect_same_with_threads(std::string_view text, const std::vector<ThreadPlan>& plans,
                              const ReaderLimits& limits = {}) {
  const Result<ModelRecord> one = read_with(one_thread(), text, limits);
  const std::string one_counted = counted(one_thread(), text, limits);
  for (const ThreadPlan& plan : plans) {
    SCOPED_TRACE("threads " + std::to_string(plan.threads) + ", pieces of " + std::to_string(plan.chunk_bytes));
    EXPECT_EQ(outcome_difference(one, read_with(plan, text, limits)), "");
    EXPECT_EQ(counted(plan, text, limits), one_counted);
  }
  EXPECT_EQ(reading_threads_in_use(), 0u);
}

// Piece sizes past 48 bytes are taken every kCutStep bytes. Under the sanitizers every
// read's threads cost several times as much, so they take fewer: under ThreadSanitizer,
// run alone, SizeLimitsMetInPiecesFailAsOnOneThread took 9.5 s with every 7th size and
// 4.3 s with every 29th (1.8 s in the plain build, which takes every 7th).
#ifdef MOPSEL_TESTS_SANITIZED
constexpr size_t kCutStep = 29;
#else
constexpr size_t kCutStep = 7;
#endif

// Every piece size from one byte (a piece per line) to past the whole section, so that
// the pieces start at every line.
std::vector<ThreadPlan> every_cut(size_t text_size) {
  // One thread with the tests' sizes: no pieces, but the column map of the names used.
  std::vector<ThreadPlan> plans = {threaded(1, 0)};
  for (const unsigned threads : {2u, 3u}) {
    for (const ThreadPlan& plan : each_path_alone(threads)) plans.push_back(plan);
  }
  for (size_t bytes = 1; bytes <= text_size + 1; bytes += bytes < 48 ? 1 : kCutStep) {
    plans.push_back(threaded(2 + static_cast<unsigned>(bytes % 3), bytes));
  }
  return plans;
}

struct Case {
  const char* what;
  std::string text;
};

const ReaderLimits kNoLimits{};

std::vector<Case> cases() {
  const std::string rows = "NAME t\nROWS\n N obj\n L r1\n G r2\n E r3\n N extra\nCOLUMNS\n";
  return {
      {"a column across many lines: duplicates, zeros, malformed values, second costs, NaN",
       rows + "    x r1 1 obj 0\n    x r1 2 r2 0\n    x obj 3 r2 1,5\n    x obj 4 r2 5\n    x r3 nan r3 6\n"
              "    x extra 7 nope 8\n    x r1 9\n    y r2 -1\n    y r2 -2 obj 1e400\nRHS\n    rhs r1 4\nENDATA\n"},
      {"markers before, inside and across columns",
       rows + "    a r1 1\n    m 'MARKER' 'INTORG'\n    a r2 1\n    b r1 1\n    b r2 2\n    m2 'MARKER' 'INTEND'\n"
              "    c r1 1\n    m3 'MARKER' 'INTORG'\n    m4 'MARKER' 'OTHER'\n    d r3 1\n    e r3 2\n"
              "BOUNDS\n UP BND d 5\nENDATA\n"},
      {"names that come back, one-field lines, records in the first column, comments and blank lines",
       rows + "    x1 r1 1\n    x2 r1 2\n* comment\n\n    x1 r2 3\n    x1\n$ also a comment\nx3 r1 1 r2 2\n"
              "   \t\n    x3 r3 4\nROWS2 r1 5\n    x4 r1 1 r2\nENDATA\n"},
      {"CRLF line ends and no final line feed",
       "ROWS\r\n N obj\r\n L r1\r\nCOLUMNS\r\n    x r1 1\r\n    x obj 2\r\n    y r1 3\r\nRHS\r\n    rhs r1 4\r\nENDATA"},
      {"a header that names its set, a second COLUMNS section",
       rows + "    x r1 1\n    y r2 2\nRHS RIGHT\n    RIGHT r1 1\nCOLUMNS\n    y r1 7\n    z r2 1\nENDATA\n"},
      {"the section keyword as a column name with a number, then the header alone",
       rows + "    x r1 1\nRANGES r1 2\n    y r2 3\nRANGES\n    rng r1 4\nENDATA\n"},
      {"the text ends inside COLUMNS", rows + "    x r1 1\n    x r2 2\n    y r3 3\n"},
      {"lines in the first column that name no section, where the records are indented",
       rows + "    x r1 1\n    x r2 2\nRHSS\n    y r1 1\n* note\n\nXYZ r2 3\nW r3 1\n    y r3 1\nENDATA\n"},
      {"an unknown bound type after COLUMNS", rows + "    x r1 1\n    y r2 2\nBOUNDS\n XX BND x 1\nENDATA\n"},
      {"no ROWS at all", "COLUMNS\n    x r1 1\n    y r2 2\nENDATA\n"},
      // ROWS names entered by threads: distinct names (short, 16 bytes, long, several
      // N rows), then every way a name repeats, which the threads leave to file order.
      {"ROWS: distinct names of every length and several N rows, each looked up",
       "ROWS\n L a\n N obj\n G sixteen_bytes_16\n E a_row_name_longer_than_16\n N n2\n L r5\n N n3\nCOLUMNS\n"
       "    x a 1 sixteen_bytes_16 2\n    x a_row_name_longer_than_16 3 n2 4\n    y obj 1 r5 2\n    y n3 5 none 1\n"
       "RHS\n    rhs a_row_name_longer_than_16 1 obj 2 r5 3\nENDATA\n"},
      {"ROWS: a constraint row named twice, far apart",
       "ROWS\n N obj\n L r0\n L r1\n L r2\n L r3\n L r4\n L r5\n L r6\n G r0\n E r8\nCOLUMNS\n"
       "    x r0 1 r8 2\n    y r6 1\nRHS\n    rhs r0 5\nENDATA\n"},
      {"ROWS: an N row and a constraint row of one name, both orders, and two N rows of one name",
       "ROWS\n N obj\n L extra\n N extra\n N obj2\n G obj2\n N n\n N n\n E e\nCOLUMNS\n"
       "    x extra 1 obj2 2\n    x n 3 e 4\nRHS\n    rhs extra 1 obj2 2 obj 3\nENDATA\n"},
      {"ROWS: a long name twice", "ROWS\n N obj\n L a_row_name_longer_than_16\n G b\n E a_row_name_longer_than_16\n"
                                   "COLUMNS\n    x a_row_name_longer_than_16 1 b 2\nENDATA\n"},
      {"ROWS: a second ROWS section", rows + "    x r1 1\nROWS\n L r9\n L r1\nCOLUMNS\n    y r9 1 r1 2\nENDATA\n"},
      {"ROWS: an unknown row type", "ROWS\n N obj\n L r1\n X r2\n L r3\nCOLUMNS\n    x r1 1\nENDATA\n"},
      {"ROWS: no N row, the text ends inside ROWS", "NAME t\nROWS\n L r1\n G r2\n"},
      {"ROWS: long names alike in their first 16 bytes, short names of 16 and 17 bytes",
       "ROWS\n N obj\n L a_common_prefix_of_x\n L a_common_prefix_of_y\n G sixteen_bytes_16\n G sixteen_bytes_167\n"
       " E q\nCOLUMNS\n    x a_common_prefix_of_y 1 sixteen_bytes_167 2\n    x sixteen_bytes_16 3 a_common_prefix_of_x 4\n"
       "RHS\n    rhs a_common_prefix_of_x 1 sixteen_bytes_16 2 a_common_prefix_of_z 3\nENDATA\n"},
      {"ROWS: comments, blank lines, a one-field line and CRLF between the rows",
       "ROWS\r\n N obj\r\n* note\r\n\r\n L r1\r\n E\r\n G r2\r\n$ x\r\n L r3\r\nCOLUMNS\r\n    x r1 1 r3 2\r\n"
       "    y r2 1 E 3\r\nENDATA\r\n"},
      {"ROWS: no N row and a row named like the artificial objective",
       "ROWS\n L artificial_empty_objective\n G r\nCOLUMNS\n    x artificial_empty_objective 1 r 2\nENDATA\n"},
  };
}

// RHS and BOUNDS texts: every bound type, records that override earlier ones or give
// way to them, and every line that the threads leave to the one-thread reader.
std::vector<Case> record_cases() {
  const std::string rows = "NAME r\nROWS\n N obj\n L r1\n G r2\n E r3\n N extra\n L RHS\nCOLUMNS\n    x r1 1\n";
  const std::string head =
      "NAME b\nROWS\n N obj\n L r1\nCOLUMNS\n    x r1 1\n    m 'MARKER' 'INTORG'\n    y r1 1\n"
      "    m 'MARKER' 'INTEND'\n    z r1 1\n    BND r1 1\n    w r1 1\nBOUNDS\n";
  return {
      {"RHS: set names or none, first values win, the objective, extra N rows, unknown rows",
       rows + "RHS\n    rhs r1 1 r2 2\n    rhs r1 9 obj 3\n    r3 4 obj 8\n    other r2 7 nobody 1\n"
              "    rhs extra 5 r3 6\n    rhs r1\n    rhs\n    RHS r1 5\n    RHS 6 r3 2\nENDATA\n"},
      {"RHS: records in the first column, a keyword that reads as a record, a second section",
       rows + "RHS\n    rhs r1 1\nRHS r2 2\nrhs r3 3\nRANGES r1 5\n    rhs RHS 4\nBOUNDS\n UP BND x 1\n"
              "RHS\n    rhs r1 8 r2 9\nRANGES\n    rng r1 2\nENDATA\n"},
      {"RHS: a header naming the set, odd field counts, values that are not numbers, no ENDATA",
       rows + "RHS RIGHT\n    RIGHT r1 1 r2\n    RIGHT r3 abc\n    RIGHT r2 1e400 r1 -0\n    r1 nan\n"},
      {"every bound type, with and without a set name, values that are not numbers",
       head + " UP BND x 4\n LO BND y -1\n FX z 2.5\n FR w\n MI BND x\n PL BND y\n BV BND z\n LI w 3\n"
              " UI BND x 1e3\n SC BND y 7\n SI z 8\n UP w nan\n LO x abc\n UP y\n LO BND\nENDATA\n"},
      {"later records override earlier ones; integrality set and kept",
       head + " UP BND x 1\n UP BND x 2\n BV BND y\n UP BND y 5\n LO BND y -3\n FR BND y\n UI BND z 9\n"
              " LO BND z 1\n SC BND w 4\n FX BND w 1\n MI BND x\n LO BND x 3\n UP BND x 4\nENDATA\n"},
      {"several sets, a header naming a set, a second BOUNDS section, comments and blank lines",
       head + " UP B1 x 1\n UP B2 x 2\n* comment\n\n   \t\n LO B2 y 1\nBOUNDS B3\n UP B3 z 6\n"
              "RANGES\n    rng r1 2\nBOUNDS\n LO B4 x -1\n UP B4 w 2\nENDATA\n"},
      {"a column named like the set: both readings", head + " UP BND x 4\n UP BND 5\n FR BND z\n MI BND\n"
                                                             " UP BND BND 6\n LO BND w 1\nENDATA\n"},
      {"unknown columns: created, then named again, also in the set's place",
       head + " UP BND x 1\n UP BND new1 2\n LO BND new1 -1\n UP new1 x 3\n FR BND new2\n UP BND y 3\n"
              " UP new2 4\nENDATA\n"},
      {"records in the first column, then the text ends",
       head + " UP BND x 1\nUP BND y 2\nLO BND z 3\n UP BND w 4\n"},
      {"a misspelt header in BOUNDS: the unknown bound type after it fails there",
       head + " UP BND x 1\n LO BND y 2\nRANGS\n    rng r1 4\nENDATA\n"},
      {"RHS: a line in the first column that names no section, where the records are indented",
       rows + "RHS\n    rhs r1 1\nRHSX r2 2\n    rhs r3 3 nobody 1 r1 zero\nENDATA\n"},
      {"an unknown bound type late in the section", head + " UP BND x 1\n LO BND y 2\n UP BND z 3\n XX BND w 1\n"
                                                           " UP BND w 1\nENDATA\n"},
      {"an unknown bound type on an unknown column", head + " UP BND x 1\n XX BND nobody 1\nENDATA\n"},
      {"a section keyword with a record's fields", head + " UP BND x 1\nROWS BND y 2\n UP BND z 3\nENDATA\n"},
      {"repeated column names, CRLF line ends",
       "ROWS\r\n N obj\r\n L r1\r\nCOLUMNS\r\n    x r1 1\r\n    y r1 1\r\n    x r1 2\r\n    z r1 1\r\n"
       "BOUNDS\r\n UP BND x 1\r\n UP BND y 2\r\n UP BND z 3\r\n LO BND x -4\r\nENDATA"},
      {"BOUNDS without COLUMNS", "ROWS\n N obj\nBOUNDS\n UP BND x 1\n UP BND x 2\n LO BND y 1\nENDATA\n"},
      // With the tests' plans the column map holds only the columns the text after the
      // BOUNDS header names: names that look like keywords or numbers, repeated names
      // named there or not (next to a bounded column, too), words of later sections.
      {"columns named like keywords and numbers, repeated names, RHS and RANGES after BOUNDS",
       "ROWS\n N obj\n L r1\n G r2\nCOLUMNS\n    UP r1 1\n    1 r1 1\n    RHS r2 1\n    q r1 1\n    q r2 1\n"
       "    a r1 1\n    b r1 1\n    b r2 1\n    c r1 1\n    a r2 2\n    BOUNDS r1 1\n    d r1 1\n"
       "BOUNDS\n UP BND UP 1\n UP 1 2\n LO BND RHS 3\n UP BND b 4\n UP BND c 5\n UP BND a 6\n UP BND BOUNDS 7\n"
       " UP BND d 8\n LO BND 1 -1\nRHS\n    rhs r1 1 r2 2\nRANGES\n    rng r1 4\nBOUNDS\n UP BND q 9\n UP BND new 1\n"
       " UP BND new 2\nENDATA\n"},
      // The sections beyond a linear program after threaded sections: their lookups go to
      // the column map the BOUNDS threads left (of the names the rest of the text uses),
      // and the columns they make enter it.
      {"quadratic sections, SOS and INDICATORS after BOUNDS, columns made there",
       head + " UP BND x 1\n BV BND y\nSOS\n S1 s\n    z 1\n    new1 2\n S2 t 5\n    w 1\n    x 2\n"
              "QUADOBJ\n    x x 2\n    new2 x 1\n    y z 3\n    z y 3\nQMATRIX\n    w new1 1\n    new1 w 1\n"
              "QCMATRIX r1\n    x y 0.5\n    y x 0.5\n    new3 new3 1\nINDICATORS\n IF r1 y 0\nENDATA\n"},
      {"an asymmetric QMATRIX after BOUNDS fails at its record",
       head + " UP BND x 1\nQMATRIX\n    x z 2\n    z x 2\n    y x 1\nENDATA\n"},
      // Quadratic sections in pieces: lines the pieces leave to the one-thread reader (an
      // unknown column, which the record makes; a line in the first column), lines split
      // as read (a trailing NBSP stays in the value), several sections one after another.
      {"quadratic records in pieces: unknown columns, first-column lines, comments, several sections",
       head + " UP BND x 1\nQUADOBJ\n    x x 1\n    x y 2\n* note\n\n    y y 3\n    new x 4\n    new new 5\n"
              "x z 6\n    z z 7\xC2\xA0\n    w z 8 extra\n    w\nQUADOBJ\n    y y 1\nQCMATRIX r1\n    x x 1\n"
              "    BND BND 2\nRHS RIGHT\n    RIGHT r1 4\nQSECTION r1\n    x x 1\nENDATA\n"},
      {"unicode and vertical-tab blanks at the ends of BOUNDS lines",
       head + " LO BND z 2\n FR BND x\v\n UP BND y 4\xC2\xA0\n FR BND w\xC2\xA0\x0B\n\xC2\xA0MI BND z\nENDATA\n"},
  };
}

// Text arriving in steps (each step ends at a line end; the last one is the whole
// text) is cut into the pieces the whole text gives at once: a piece is cut only once
// a line end at least `size` bytes into it has arrived, the rest when the text is complete.
TEST(ParallelPieces, PiecesCutAsLinesArriveAreThePiecesOfTheWholeText) {
  struct Piece {
    const char* begin;
    const char* end;
  };
  const std::string text = "aaaa\nbb\ncccccc\nd\neeeee\n";
  const struct {
    std::vector<size_t> arrivals;
    size_t size;
    std::vector<std::string> pieces;
  } rows[] = {
      {{23}, 3, {"aaaa\n", "bb\ncccccc\n", "d\neeeee\n"}},
      {{15, 17, 23}, 3, {"aaaa\n", "bb\ncccccc\n", "d\neeeee\n"}},
      {{5, 8, 15, 17, 23}, 3, {"aaaa\n", "bb\ncccccc\n", "d\neeeee\n"}},
      {{17, 23}, 100, {text}},
      {{8, 23}, 0, {"aaaa\n", "bb\n", "cccccc\n", "d\n", "eeeee\n"}},
      {{8, 22}, 4, {"aaaa\n", "bb\ncccccc\n", "d\neeeee"}},  // no line end at the very end
  };
  for (const auto& row : rows) {
    std::vector<std::unique_ptr<Piece>> pieces;
    const char* left = text.data();
    for (size_t step = 0; step < row.arrivals.size(); ++step) {
      const bool complete = step + 1 == row.arrivals.size();
      left = cut_pieces(pieces, left, text.data() + row.arrivals[step], row.size, complete);
    }
    std::vector<std::string> cut;
    for (const auto& piece : pieces) cut.emplace_back(piece->begin, piece->end);
    EXPECT_EQ(cut, row.pieces) << "size " << row.size << ", " << row.arrivals.size() << " steps";
    EXPECT_EQ(left, text.data() + row.arrivals.back());
  }
}

TEST(ParallelColumns, EveryPieceBoundaryGivesTheOneThreadResult) {
  std::vector<Case> all = cases();
  for (Case& c : record_cases()) all.push_back(std::move(c));
  for (const Case& c : all) {
    SCOPED_TRACE(c.what);
    const ExactBuffer text(c.text);
    expect_same_with_threads(text.view, every_cut(c.text.size()));
  }
}

TEST(ParallelColumns, SizeLimitsMetInPiecesFailAsOnOneThread) {
  std::string many = "ROWS\n N obj\n L r1\n L r2\nCOLUMNS\n";
  for (int j = 0; j < 40; ++j) many += "    c" + std::to_string(j) + " r1 1 r2 2\n";
  many += "BOUNDS\n";
  for (int j = 0; j < 44; j += 2) many += " UP BND c" + std::to_string(j) + " " + std::to_string(j) + "\n";
  many += "QUADOBJ\n";
  for (int j = 0; j < 40; ++j) many += "    c" + std::to_string(j) + " c" + std::to_string(j % 7) + " 1\n";
  many += "ENDATA\n";
  for (const ReaderLimits& limits : {ReaderLimits{1, 1000, 1000}, ReaderLimits{100, 7, 1000}, ReaderLimits{100, 1000, 11},
                                     ReaderLimits{100, 40, 80}, ReaderLimits{100, 39, 80}, ReaderLimits{100, 41, 80},
                                     ReaderLimits{100, 1000, 95}, ReaderLimits{100, 1000, 1000}}) {
    SCOPED_TRACE("rows " + std::to_string(limits.max_rows) + ", columns " + std::to_string(limits.max_columns) +
                 ", entries " + std::to_string(limits.max_entries));
    expect_same_with_threads(many, every_cut(many.size()), limits);
  }
}

// A model of about `megabytes` MB of COLUMNS with `rows` rows: columns with markers,
// duplicates and repeated names, so that large pieces see everything the small cases
// show; RHS values, most rows more than once; then a bound of each type in turn on every
// third column, mostly in column order.
std::string generated(size_t megabytes, size_t rows = 500) {
  std::string text = "NAME gen\nROWS\n N cost\n";
  for (size_t i = 0; i < rows; ++i) text += " L r" + std::to_string(i) + "\n";
  text += "COLUMNS\n";
  size_t j = 0;
  for (; text.size() < megabytes << 20; ++j) {
    const std::string name = "    c" + std::to_string(j % 5000 == 0 ? 7 : j);
    if (j % 97 == 0) text += j % 194 == 0 ? "    M 'MARKER' 'INTORG'\n" : "    M 'MARKER' 'INTEND'\n";
    for (size_t k = 0; k < 1 + j % 4; ++k) {
      text += name + " r" + std::to_string((j * 7 + k * 13) % rows) + " " + std::to_string(k + 1) + ".5 cost " +
              std::to_string(j % 3) + "\n";
    }
  }
  text += "RHS\n";
  for (size_t i = 0; i < 3 * rows; ++i) {
    text += "    rhs r" + std::to_string(i * 7 % rows) + " " + std::to_string(i) + " cost 1\n";
  }
  text += "BOUNDS\n UP b c1 4\n";
  static const char* const types[] = {"UP", "LO", "FX", "FR", "MI", "PL", "BV", "LI", "UI", "SC", "SI"};
  for (size_t c = 0; c < j; c += 3) {
    const size_t column = c % 1000 == 999 ? c / 2 : c;
    text += std::string(" ") + types[c % 11] + " b c" + std::to_string(column) + " " + std::to_string(c % 5) + "\n";
  }
  // c7 names many columns: the bound goes to the last one.
  return text + " LO b c7 -7\nENDATA\n";
}

TEST(ParallelColumns, LargeTextsWithTheDefaultPieceSizes) {
  // A row map that fits the caches, and one beyond them (rows asked for ahead). With
  // pieces from 1 MiB on, BOUNDS is too short for pieces, not its column map (built by
  // two threads).
  ThreadPlan from_one_mib = plan_taking_no_path();
  from_one_mib.threads = 2;
  from_one_mib.min_bytes = from_one_mib.records_min_bytes = size_t{1} << 20;
  from_one_mib.shared_map_min = 0;
  const std::vector<ThreadPlan> plans = {threaded(2, 0), threaded(3, 0), threaded(4, 100000), threaded(2, 300),
                                         from_one_mib};
  for (const size_t rows : {500, 60000}) {
    SCOPED_TRACE(std::to_string(rows) + " rows");
    expect_same_with_threads(generated(3, rows), plans);
  }
  // 60,000 row names entered by several threads, one of them given again at the end of
  // ROWS (a later run than its first): the map is built again in file order.
  std::string repeated = generated(1, 60000);
  repeated.insert(repeated.find("COLUMNS\n"), " G r5\n");
  expect_same_with_threads(repeated, {threaded(2, 0), threaded(4, 0)});
}

TEST(ParallelColumns, AnInterruptionStopsEveryThread) {
  const std::string text = generated(12);
  PlanScope scope(threaded(2, 1 << 20));
  for (int allowed : {0, 1, 4}) {
    StopAfter hook{allowed};
    const Result<ModelRecord> read = read_mps(text, hook.interruption());
    ASSERT_FALSE(read.ok());
    EXPECT_EQ(read.error().kind, ErrorKind::Interrupted);
    EXPECT_EQ(reading_threads_in_use(), 0u);
  }
  StopAfter never{1 << 30};
  EXPECT_TRUE(read_mps(text, never.interruption()).ok());
}

TEST(ParallelColumns, RealModelsReadAlikeWithThreads) {
  const std::vector<std::filesystem::path> files = real_model_files({".mps", ".gz"});
  if (files.empty()) GTEST_SKIP() << "no real models at " << MOPSEL_SHARED_DATA_DIR << " (shared data absent)";
  for (const std::filesystem::path& file : files) {
    SCOPED_TRACE(file.string());
    Result<ByteBuffer> loaded = load_source(file.string());
    ASSERT_TRUE(loaded.ok());
    const std::string_view text = as_view(loaded.value());
    // About a dozen pieces, and pieces of a few lines.
    // The map of every column built by threads, which the map of the names used
    // otherwise takes over.
    expect_same_with_threads(text, {threaded(2, text.size() / 11 + 1), threaded(3, 2000), each_path_alone(2)[2]});
  }
}

TEST(ReadingThreads, TheProcessCountIsSharedByConcurrentReads) {
  ASSERT_EQ(reading_threads_in_use(), 0u);
  {
    ThreadLease first(3, 3);
    EXPECT_EQ(first.helpers(), 2u);
    ThreadLease second(3, 3);  // the count is taken: this read runs alone
    EXPECT_EQ(second.helpers(), 0u);
    EXPECT_EQ(reading_threads_in_use(), 4u);
  }
  {
    ThreadLease only(4, 4);
    EXPECT_EQ(only.helpers(), 3u);
    ThreadLease one(1, 4);
    EXPECT_EQ(one.helpers(), 0u);
  }
  {
    // A lease grows by what others have given back since, never past what it wants.
    std::optional<ThreadLease> other(std::in_place, 2, 3);
    ThreadLease growing(3, 3);
    EXPECT_EQ(growing.helpers(), 0u);
    other.reset();
    growing.grow(3, 3);
    EXPECT_EQ(growing.helpers(), 2u);
    growing.grow(3, 4);
    EXPECT_EQ(growing.helpers(), 2u);
    EXPECT_EQ(reading_threads_in_use(), 3u);
  }
  EXPECT_EQ(reading_threads_in_use(), 0u);
}

TEST(ReadingThreads, ConcurrentThreadedReadsAgree) {
  const std::string text = generated(2);
  const Result<ModelRecord> one = read_with(one_thread(), text);
  PlanScope scope(threaded(2, 50000));
  std::vector<std::string> differences(3);
  std::vector<std::thread> readers;
  for (size_t i = 0; i < differences.size(); ++i) {
    readers.emplace_back([&, i] { differences[i] = outcome_difference(one, read_mps(text)); });
  }
  for (std::thread& t : readers) t.join();
  for (const std::string& d : differences) EXPECT_EQ(d, "");
  EXPECT_EQ(reading_threads_in_use(), 0u);
}

TEST(ReadingThreads, ThreadCountFromTheEnvironment) {
  struct Row {
    const char* text;
    std::optional<unsigned> count;
  };
  for (const Row& row : {Row{"1", 1u}, Row{"2", 2u}, Row{"16", 16u}, Row{"1024", 1024u}, Row{"1025", std::nullopt},
                         Row{"0", std::nullopt}, Row{"", std::nullopt}, Row{"-2", std::nullopt},
                         Row{"2 ", std::nullopt}, Row{"two", std::nullopt}, Row{"99999999999", std::nullopt}}) {
    EXPECT_EQ(parse_thread_count(row.text), row.count) << "'" << row.text << "'";
  }
  EXPECT_EQ(parse_thread_count(nullptr), std::nullopt);
}

}  // namespace
}  // namespace mopsel
