// Section reader through read_mps: headers and rules A/B, NAME, OBJSENSE, ROWS,
// RHS, comments and blank lines, line ends, failures, section orders, limits
// and UTF-8 names.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <string>
#include <vector>

#include "reader/assemble.hpp"
#include "reader/sections.hpp"
#include "reader_test_support.hpp"

namespace mopsel {
namespace {

using testing::bits_of;
using testing::codes_of;
using testing::kInf;
using testing::lines;
using testing::names_of;
using testing::read_error;
using testing::read_valid;
using testing::values_of;

constexpr std::string_view kFailure = "Failed to parse MPS file";

TEST(ReadSections, ThreeHeaderLinesMakeTheEmptyModel) {
  const ModelRecord m = read_valid("ROWS\nCOLUMNS\nENDATA\n");
  EXPECT_EQ(m.num_row, 0u);
  EXPECT_EQ(m.num_col, 0u);
  EXPECT_EQ(values_of(m.a_matrix.start), std::vector<uint32_t>{0});
  EXPECT_TRUE(m.a_matrix.index.empty());
  EXPECT_TRUE(m.a_matrix.value.empty());
  EXPECT_TRUE(m.row_names.empty());
  EXPECT_TRUE(m.col_names.empty());
  EXPECT_EQ(m.name, "");
  EXPECT_EQ(m.objective_name, "Objective");
  EXPECT_TRUE(m.obj_sense_minimize);
  EXPECT_EQ(std::bit_cast<uint64_t>(m.obj_offset), std::bit_cast<uint64_t>(0.0));
}

// Every way a read can fail, and texts just beside them that must not.
TEST(ReadSections, FailuresGiveTheOneMessage) {
  struct Case {
    const char* why;
    std::string text;
  };
  const Case failing[] = {
      {"empty text", ""},
      {"no ENDATA", lines({"NAME x", "ROWS", " N obj", " L c1", "COLUMNS", " x obj 1 c1 2",
                           "RHS", " RHS c1 4", "BOUNDS", " UP BND x 4"})},
      {"ENDATA only in a comment", lines({"ROWS", "*ENDATA", "$ENDATA"})},
      {"CR-only line ends make one line", "ROWS\r N obj\rCOLUMNS\rENDATA\r"},
      {"lower-case row type", lines({"ROWS", " n obj", "ENDATA"})},
      {"unknown row type", lines({"ROWS", " X r1", "ENDATA"})},
      {"indented asterisk is no comment", lines({"ROWS", " * r1", "ENDATA"})},
      {"bound type lo", lines({"COLUMNS", " x r 1", "BOUNDS", " lo BND x 1", "ENDATA"})},
      {"bound type XX", lines({"COLUMNS", " x r 1", "BOUNDS", " XX BND x 1", "ENDATA"})},
      {"bound type LOW", lines({"BOUNDS", " LOW BND x 1", "ENDATA"})},
      {"bound type L", lines({"BOUNDS", " L x", "ENDATA"})},
      {"ends inside a skipped section", lines({"ROWS", "QUADOBJ", " x x 1"})},
      {"indented ENDATA in COLUMNS", lines({"ROWS", " N obj", "COLUMNS", " x obj 1", "  ENDATA"})},
      {"indented ENDATA in RHS", lines({"ROWS", " E r", "RHS", " RHS r 1", " ENDATA"})},
      {"indented ENDATA in RANGES", lines({"ROWS", " E r", "RANGES", " RNG r 1", "\tENDATA"})},
      {"indented ENDATA in BOUNDS", lines({"COLUMNS", " x r 1", "BOUNDS", " UP B x 1", " ENDATA"})},
      {"ENDATA followed by more words", lines({"ROWS", "ENDATA now"})},
  };
  for (const Case& c : failing) EXPECT_EQ(read_error(c.text), kFailure) << c.why;

  const Case passing[] = {
      {"text after ENDATA is never read", lines({"ROWS", "ENDATA", " X bad", "BOUNDS", " XX x"})},
      {"indented ENDATA under rule A", lines({"ROWS", " N obj", "   ENDATA"})},
      {"ENDATA alone suffices", "ENDATA"},
      {"lower-case endata", "endata\n"},
      {"ENDATA with trailing blanks", "ENDATA  \t\n"},
  };
  for (const Case& c : passing) EXPECT_EQ(read_error(c.text), "") << c.why;
}

TEST(ReadSections, NameHeader) {
  struct Case {
    std::string text;
    std::string name;
  };
  const Case cases[] = {
      {lines({"NAME          demo", "ENDATA"}), "demo"},
      {lines({"NAME demo model v2", "ENDATA"}), "demo"},
      {lines({"NAME", "ENDATA"}), ""},
      {lines({"name\tlower", "ENDATA"}), "lower"},
      {lines({"NAME first", "NAME", "ENDATA"}), "first"},        // no token keeps the value
      {lines({"NAME first", "NAME second", "ENDATA"}), "second"},
      {lines({"ROWS", "NAME inside", "ENDATA"}), ""},            // value dropped inside a section
      {lines({"NAME \xE3\x80\x80spaced\xC2\xA0out", "ENDATA"}), "spaced"},
      {lines({"NAME    ", "ENDATA"}), ""},
  };
  for (const Case& c : cases) EXPECT_EQ(read_valid(c.text).name, c.name) << c.text;
}

TEST(ReadSections, ObjectiveSense) {
  struct Case {
    std::string text;
    bool minimize;
  };
  const Case cases[] = {
      {lines({"OBJSENSE MAX", "ENDATA"}), false},
      {lines({"OBJSENSE MAXIMIZE", "ENDATA"}), false},
      {lines({"objsense max", "ENDATA"}), false},
      {lines({"OBJSENSE", "MAXIMIZE", "ENDATA"}), false},
      {lines({"OBJSENSE", "    MAX", "ENDATA"}), false},
      {lines({"OBJSENSE", "MAXIMISE", "ROWS", "ENDATA"}), false},
      {lines({"OBJSENSE", "MAX", "MIN", "ENDATA"}), true},
      {lines({"OBJSENSE MAX", "MINIMIZE", "ENDATA"}), true},
      {lines({"OBJSENSE", "MIN", "ENDATA"}), true},
      {lines({"OBJSENSE MIN", "ENDATA"}), true},
      {lines({"OBJSENSE MA", "ENDATA"}), true},
      {lines({"OBJSENSE", "MA", "ENDATA"}), true},
      {lines({"OBJSENSE", "NOTHING", "ENDATA"}), true},
      // The inline form outside any section leaves an earlier sense.
      {lines({"OBJSENSE", "MAX", "NAME x", "OBJSENSE MIN", "ENDATA"}), false},
      // An inline value met inside a section is dropped.
      {lines({"ROWS", "OBJSENSE MAX", "ENDATA"}), true},
      {lines({"OBJSENS MAX", "ENDATA"}), true},  // not a header
  };
  for (const Case& c : cases) EXPECT_EQ(read_valid(c.text).obj_sense_minimize, c.minimize) << c.text;
}

TEST(ReadSections, RowsSection) {
  const ModelRecord m = read_valid(lines({
      "ROWS",
      " N  obj",
      " EQ ROW1",
      " G  r2",
      " L  r3    ignored fields",
      " E",           // one field: ignored
      " N  obj2",     // a second N row is no constraint row
      "",             // an empty line does not end ROWS
      " L  r4",
      "COLUMNS",
      " x obj 1 obj2 5",
      " x ROW1 2 r4 3",
      "RHS",
      " RHS obj2 7 r4 8",
      "ENDATA",
  }));
  EXPECT_EQ(m.objective_name, "obj");
  EXPECT_EQ(names_of(m.row_names), (std::vector<std::string>{"ROW1", "r2", "r3", "r4"}));
  EXPECT_EQ(values_of(m.row_lower), (std::vector<double>{0.0, 0.0, -kInf, -kInf}));
  EXPECT_EQ(values_of(m.row_upper), (std::vector<double>{0.0, kInf, 0.0, 8.0}));
  EXPECT_EQ(values_of(m.col_cost), std::vector<double>{1.0});
  EXPECT_EQ(values_of(m.a_matrix.index), (std::vector<uint32_t>{0, 3}));
  EXPECT_EQ(values_of(m.a_matrix.value), (std::vector<double>{2.0, 3.0}));
  EXPECT_EQ(std::bit_cast<uint64_t>(m.obj_offset), std::bit_cast<uint64_t>(0.0));
}

TEST(ReadSections, BlankOnlyLineEndsRowsButIsSkippedInDataSections) {
  const ModelRecord m = read_valid(lines({
      "ROWS",
      " N obj",
      " L r1",
      "   \t",
      " L ignored",   // outside any section now
      "COLUMNS",
      " x r1 1",
      "  ",
      " x obj 2",
      "RHS",
      " \t",
      " RHS r1 4",
      "ENDATA",
  }));
  EXPECT_EQ(names_of(m.row_names), std::vector<std::string>{"r1"});
  EXPECT_EQ(values_of(m.col_cost), std::vector<double>{2.0});
  EXPECT_EQ(values_of(m.row_upper), std::vector<double>{4.0});
}

TEST(ReadSections, DuplicateRowNameRefersToTheLaterRow) {
  const ModelRecord m = read_valid(lines({
      "ROWS", " L r", " G r", "COLUMNS", " x r 5", "RHS", " RHS r 3", "ENDATA"}));
  EXPECT_EQ(names_of(m.row_names), (std::vector<std::string>{"r", "r"}));
  EXPECT_EQ(values_of(m.a_matrix.index), std::vector<uint32_t>{1});
  EXPECT_EQ(values_of(m.row_upper), (std::vector<double>{0.0, kInf}));
  EXPECT_EQ(values_of(m.row_lower), (std::vector<double>{-kInf, 3.0}));
}

TEST(ReadSections, MissingObjectiveRowUsesTheArtificialName) {
  const ModelRecord m = read_valid(lines({
      "ROWS", " L c1", "COLUMNS", " x artificial_empty_objective 3 c1 1",
      "RHS", " RHS artificial_empty_objective 2", "ENDATA"}));
  EXPECT_EQ(m.objective_name, "Objective");
  EXPECT_EQ(values_of(m.col_cost), std::vector<double>{3.0});
  EXPECT_EQ(m.obj_offset, -2.0);
  EXPECT_EQ(names_of(m.row_names), std::vector<std::string>{"c1"});

  // Without any ROWS section no cost can be given.
  const ModelRecord none = read_valid(lines({"COLUMNS", " x artificial_empty_objective 3", "ENDATA"}));
  EXPECT_EQ(values_of(none.col_cost), std::vector<double>{0.0});
  EXPECT_EQ(none.objective_name, "Objective");
}

TEST(ReadSections, RightHandSides) {
  const std::string rows = lines({"ROWS", " N obj", " N extra", " E e", " G g", " L l"});
  struct Case {
    const char* why;
    std::string rhs;
    std::vector<double> lower, upper;
    double offset;
  };
  const Case cases[] = {
      {"set name", lines({"RHS", " RHS1 e 1 g 2", " RHS1 l 3"}), {1, 2, -kInf}, {1, kInf, 3}, 0.0},
      {"no set name", lines({"RHS", " e 1 g 2 l 3"}), {1, 2, -kInf}, {1, kInf, 3}, 0.0},
      {"first value per row wins", lines({"RHS", " R e 1", " R e 5", " S g 2 g 6"}),
       {1, 2, -kInf}, {1, kInf, 0}, 0.0},
      {"two sets both apply", lines({"RHS", " A e 1", " B l 4"}), {1, 0, -kInf}, {1, kInf, 4}, 0.0},
      {"a later section overrides", lines({"RHS", " R e 1 obj 2", "BOUNDS", "RHS", " R e 5 obj 3"}),
       {5, 0, -kInf}, {5, kInf, 0}, -3.0},
      {"RHS inside RHS starts no new section", lines({"RHS", " R e 1", "RHS", " R e 5"}),
       {1, 0, -kInf}, {1, kInf, 0}, 0.0},
      {"objective gives the negated offset", lines({"RHS", " R obj 5"}), {0, 0, -kInf}, {0, kInf, 0}, -5.0},
      {"first objective value in a section wins", lines({"RHS", " R obj 5 obj 6"}),
       {0, 0, -kInf}, {0, kInf, 0}, -5.0},
      {"extra N row ignored", lines({"RHS", " R extra 9"}), {0, 0, -kInf}, {0, kInf, 0}, 0.0},
      {"unknown rows skipped", lines({"RHS", " R nope 9 g 2"}), {0, 2, -kInf}, {0, kInf, 0}, 0.0},
      {"zero is stored", lines({"RHS", " R g 0 l 0"}), {0, 0, -kInf}, {0, kInf, 0}, 0.0},
      {"malformed reads as zero", lines({"RHS", " R l 1,5"}), {0, 0, -kInf}, {0, kInf, 0}, 0.0},
      {"a trailing row without value", lines({"RHS", " R e 1 g"}), {1, 0, -kInf}, {1, kInf, 0}, 0.0},
      {"only six fields are kept", lines({"RHS", " e 1 g 2 l 3 e 9"}), {1, 2, -kInf}, {1, kInf, 3}, 0.0},
      {"RHS alone is no header inside RHS", lines({"RHS", "RHS", "RHS e 4"}), {4, 0, -kInf}, {4, kInf, 0}, 0.0},
      {"non-indented record", lines({"RHS", "RHS1 l 7"}), {0, 0, -kInf}, {0, kInf, 7}, 0.0},
  };
  for (const Case& c : cases) {
    const ModelRecord m = read_valid(rows + c.rhs + "ENDATA\n");
    EXPECT_EQ(values_of(m.row_lower), c.lower) << c.why;
    EXPECT_EQ(values_of(m.row_upper), c.upper) << c.why;
    EXPECT_EQ(m.obj_offset, c.offset) << c.why;
  }

  // An objective right-hand side of 0 gives -0.0.
  const ModelRecord zero = read_valid(rows + lines({"RHS", " R obj 0", "ENDATA"}));
  EXPECT_EQ(std::bit_cast<uint64_t>(zero.obj_offset), std::bit_cast<uint64_t>(-0.0));

  // An RHS section before ROWS changes nothing.
  const ModelRecord early = read_valid(lines({"RHS", " R c 4", "ROWS", " L c", "ENDATA"}));
  EXPECT_EQ(values_of(early.row_upper), std::vector<double>{0.0});
}

TEST(ReadSections, HeaderRulesAandB) {
  // Rule B: a non-indented first field that is no keyword is a record; a
  // section keyword with more fields is a record; NAME, OBJSENSE and skipped
  // section keywords are headers even with more fields.
  const ModelRecord m = read_valid(lines({
      "ROWS",
      " N obj",
      " L ROWS",
      "COLUMNS",
      "x obj 1",
      "COLUMNS ROWS 2",
      "ROWS obj 3",
      "RHS",
      "RHS ROWS 9",
      "BOUNDS",
      "UP BND x 4",
      "RANGES",
      "RNG ROWS 2",
      "ENDATA",
  }));
  EXPECT_EQ(names_of(m.col_names), (std::vector<std::string>{"x", "COLUMNS", "ROWS"}));
  EXPECT_EQ(values_of(m.col_cost), (std::vector<double>{1.0, 0.0, 3.0}));
  EXPECT_EQ(values_of(m.a_matrix.start), (std::vector<uint32_t>{0, 0, 1, 1}));
  EXPECT_EQ(values_of(m.col_upper), (std::vector<double>{4.0, kInf, kInf}));
  EXPECT_EQ(values_of(m.row_lower), std::vector<double>{7.0});
  EXPECT_EQ(values_of(m.row_upper), std::vector<double>{9.0});

  // An indented header inside COLUMNS is a record: here a column named ENDATA.
  const ModelRecord indented = read_valid(lines({"COLUMNS", " x r 1", "  ENDATA", "ENDATA"}));
  EXPECT_EQ(names_of(indented.col_names), (std::vector<std::string>{"x", "ENDATA"}));

  // Rule B on the first byte as read: a line indented with other whitespace is
  // not "indented", and trimming in RHS serves only the splitting.
  EXPECT_EQ(read_error(lines({"ROWS", " E r", "RHS", "\vENDATA"})), "");
  EXPECT_EQ(read_error(lines({"ROWS", " E r", "RHS", "\xC2\xA0" "ENDATA"})), "");
  EXPECT_EQ(read_error(lines({"ROWS", " E r", "RHS", " \xC2\xA0" "ENDATA"})), kFailure);

  // Headers with more fields under rule B.
  const ModelRecord named = read_valid(lines({"COLUMNS", " x r 1", "NAME late", "ENDATA"}));
  EXPECT_EQ(named.name, "");  // the value of a NAME met inside a section is dropped
  EXPECT_EQ(read_error(lines({"COLUMNS", " x r 1", "SOS s1 extra", " whatever 1 2", "ENDATA"})), "");
  EXPECT_EQ(read_error(lines({"COLUMNS", " x r 1", "OBJSENSE MAX", "ENDATA"})), "");

  // Rule A: indentation does not matter, a blank-only line is a header.
  const ModelRecord rule_a = read_valid(lines({"  ROWS", " N obj", "   COLUMNS", " x obj 4", "ENDATA"}));
  EXPECT_EQ(values_of(rule_a.col_cost), std::vector<double>{4.0});
}

TEST(ReadSections, CommentsAndEmptyLinesAreSkippedEverywhere) {
  const ModelRecord m = read_valid(lines({
      "* leading comment",
      "",
      "NAME demo",
      "$ dollar comment",
      "ROWS",
      "* in rows",
      "",
      " N obj",
      "$ in rows",
      " L c1",
      "COLUMNS",
      "*ENDATA",
      "",
      " x obj 1 c1 2",
      "RHS",
      "* in rhs",
      " RHS c1 5",
      "BOUNDS",
      "$ in bounds",
      " UP BND x 3",
      "ENDATA",
  }));
  EXPECT_EQ(m.name, "demo");
  EXPECT_EQ(m.num_row, 1u);
  EXPECT_EQ(values_of(m.col_upper), std::vector<double>{3.0});
  EXPECT_EQ(values_of(m.row_upper), std::vector<double>{5.0});
}

TEST(ReadSections, SkippedSections) {
  const ModelRecord m = read_valid(lines({
      "ROWS",
      " N obj",
      " L c1",
      "COLUMNS",
      " x obj 1 c1 1",
      "QUADOBJ",
      " x x 2",
      "SOS",           // another skipped section keyword is passed over
      " S1 SOS",
      "  ROWS extra",  // data
      "BOUNDS",
      " UP BND x 4",
      "QSECTION obj",
      " x x 1",
      "   ",           // a blank-only line leaves to the outside state
      " L c2",         // carries nothing
      "RANGES",
      " RNG c1 2",
      "ENDATA",
  }));
  EXPECT_EQ(m.num_row, 1u);
  EXPECT_EQ(values_of(m.col_upper), std::vector<double>{4.0});
  EXPECT_EQ(values_of(m.row_lower), std::vector<double>{-2.0});
}

TEST(ReadSections, CrlfAndLfReadAlike) {
  const std::string lf = lines({"NAME demo", "ROWS", " N obj", " L c1", " G c2", "COLUMNS",
                                " x obj 1 c1 2", " y c2 -3", "RHS", " RHS c1 4 c2 1",
                                "BOUNDS", " UP BND x 4", "ENDATA"});
  std::string crlf;
  for (char c : lf) {
    if (c == '\n') crlf += '\r';
    crlf += c;
  }
  const ModelRecord a = read_valid(lf);
  const ModelRecord b = read_valid(crlf);
  EXPECT_EQ(testing::record_difference(a, b), "");
  EXPECT_EQ(names_of(b.col_names), (std::vector<std::string>{"x", "y"}));
  EXPECT_EQ(b.name, "demo");

  // Without the final line end as well.
  std::string unterminated = lf;
  unterminated.pop_back();
  EXPECT_EQ(testing::record_difference(a, read_valid(unterminated)), "");
}

TEST(ReadSections, BoundsBeforeColumnsKeepEveryColumnAligned) {
  const ModelRecord m = read_valid(lines({
      "ROWS",
      " N obj",
      " L c1",
      " L c2",
      "BOUNDS",
      " UP BND early 5",
      " BV BND x",       // x not yet known: created here
      "COLUMNS",
      " x obj 1 c1 2",
      " y obj 3 c2 4",
      " y c1 5",
      "BOUNDS",
      " UP BND late 6",
      " LO BND x 2",     // the COLUMNS column named x, created later
      "ENDATA",
  }));
  EXPECT_EQ(names_of(m.col_names), (std::vector<std::string>{"early", "x", "x", "y", "late"}));
  EXPECT_EQ(values_of(m.col_cost), (std::vector<double>{0, 0, 1, 3, 0}));
  EXPECT_EQ(values_of(m.a_matrix.start), (std::vector<uint32_t>{0, 0, 0, 1, 3, 3}));
  EXPECT_EQ(values_of(m.a_matrix.index), (std::vector<uint32_t>{0, 1, 0}));
  EXPECT_EQ(values_of(m.a_matrix.value), (std::vector<double>{2, 4, 5}));
  EXPECT_EQ(values_of(m.col_lower), (std::vector<double>{0, 0, 2, 0, 0}));
  EXPECT_EQ(values_of(m.col_upper), (std::vector<double>{5, 1, kInf, kInf, 6}));
  EXPECT_EQ(codes_of(m.col_integrality), (std::vector<int>{0, 1, 0, 0, 0}));
}

TEST(ReadSections, SecondColumnsSectionClosesOnlyItsOwnColumns) {
  const ModelRecord m = read_valid(lines({
      "ROWS",
      " N obj",
      " L c1",
      " L c2",
      "COLUMNS",
      " MARKER 'MARKER' 'INTORG'",
      " a obj 1 c1 2",
      " b c2 3",
      "RHS",
      " RHS c1 9",
      "COLUMNS",       // the integer marker does not carry over
      " c obj 4 c1 5",
      " a c2 6",       // a second column named a
      "BOUNDS",
      " UP BND a 7",   // finds the later a
      "ENDATA",
  }));
  EXPECT_EQ(names_of(m.col_names), (std::vector<std::string>{"a", "b", "c", "a"}));
  EXPECT_EQ(values_of(m.col_cost), (std::vector<double>{1, 0, 4, 0}));
  EXPECT_EQ(values_of(m.a_matrix.start), (std::vector<uint32_t>{0, 1, 2, 3, 4}));
  EXPECT_EQ(values_of(m.a_matrix.index), (std::vector<uint32_t>{0, 1, 0, 1}));
  EXPECT_EQ(values_of(m.a_matrix.value), (std::vector<double>{2, 3, 5, 6}));
  EXPECT_EQ(codes_of(m.col_integrality), (std::vector<int>{1, 1, 0, 0}));
  EXPECT_EQ(values_of(m.col_upper), (std::vector<double>{1, 1, kInf, 7}));
}

// The row map is sized from the ROWS section before its first row: no growth
// (each one rehashes every row) and no table larger than the rows need, also
// when a second ROWS section adds rows and when headers are indented.
TEST(ReadSections, RowMapIsSizedForTheRowsSection) {
  struct Case {
    const char* what;
    size_t first_rows;
    size_t second_rows;  // rows of a second ROWS section, 0 for none
    bool indented_headers;
  };
  const Case cases[] = {
      {"one section", 3000, 0, false},
      {"two sections", 3000, 500, false},
      {"indented headers", 3000, 0, true},
  };
  for (const Case& c : cases) {
    std::vector<std::string> text = {"NAME big", "ROWS", " N obj"};
    for (size_t i = 0; i < c.first_rows; ++i) text.push_back(" L r" + std::to_string(i));
    if (c.second_rows > 0) {
      text.push_back("ROWS");
      for (size_t i = 0; i < c.second_rows; ++i) text.push_back(" G s" + std::to_string(i));
    }
    const std::string indent = c.indented_headers ? "  " : "";
    text.push_back(indent + "COLUMNS");
    text.push_back(" x obj 1 r0 2");
    text.push_back(" x r" + std::to_string(c.first_rows - 1) + " 3");
    text.push_back("ENDATA");  // rule B: an indented ENDATA in COLUMNS is a record
    std::string joined;
    for (const std::string& line : text) joined += line + "\n";
    ReaderState state;
    ASSERT_TRUE(read_sections(joined, state).ok()) << c.what;
    const size_t rows = c.first_rows + c.second_rows;
    EXPECT_EQ(state.num_row, rows) << c.what;
    // The N row, and for a second section (which sees no N row) the artificial objective.
    const size_t names = rows + (c.second_rows > 0 ? 2 : 1);
    EXPECT_EQ(state.row_index.count, names) << c.what;
    EXPECT_LE(state.row_index.slots.size(), detail::slots_for(names) + 16) << c.what;
    EXPECT_EQ(state.nnz, 2u) << c.what;
    EXPECT_EQ(state.entry_row[1], c.first_rows - 1) << c.what;
    if (c.second_rows > 0) {
      EXPECT_EQ(*find_name(state.row_index, "s0"), static_cast<int32_t>(c.first_rows));
    }
  }
}

TEST(ReadSections, ColumnsBeforeRowsStoreNoEntries) {
  const ModelRecord m = read_valid(lines({"COLUMNS", " x c1 1", " y c1 2", "ROWS", " L c1",
                                          "ENDATA"}));
  EXPECT_EQ(m.num_col, 2u);
  EXPECT_EQ(m.num_row, 1u);
  EXPECT_EQ(values_of(m.a_matrix.start), (std::vector<uint32_t>{0, 0, 0}));
}

TEST(ReadSections, SizeLimitsFailInsteadOfWrapping) {
  const std::string text = lines({"ROWS", " N obj", " L r1", " L r2", "COLUMNS", " x r1 1 r2 1",
                                  " y r1 1", "BOUNDS", " UP BND z 1", "ENDATA"});
  struct Case {
    ReaderLimits limits;
    bool ok;
  };
  const Case cases[] = {
      {{2, 3, 3}, true},   // exactly at every limit
      {{1, 3, 3}, false},  // two rows
      {{2, 2, 3}, false},  // the BOUNDS column is the third
      {{2, 1, 3}, false},  // the second COLUMNS column
      {{2, 3, 2}, false},  // three entries
  };
  for (const Case& c : cases) {
    Result<ModelRecord> got = read_mps_with_limits(text, c.limits);
    EXPECT_EQ(got.ok(), c.ok) << c.limits.max_rows << " " << c.limits.max_columns << " "
                              << c.limits.max_entries;
    if (got.ok()) {
      EXPECT_EQ(check_record_invariants(got.value()), "");
    } else {
      EXPECT_EQ(got.error(), kFailure);
    }
  }
}

TEST(ReadSections, NamesInTheRecordMustBeUtf8) {
  const std::string bad = "\xC3\x28";  // a lead byte followed by a non-continuation
  struct Case {
    const char* why;
    std::string text;
    bool ok;
  };
  const Case cases[] = {
      {"model name", lines({"NAME m" + bad, "ENDATA"}), false},
      {"objective name", lines({"ROWS", " N o" + bad, "ENDATA"}), false},
      {"row name", lines({"ROWS", " L r" + bad, "ENDATA"}), false},
      {"column name", lines({"COLUMNS", " x" + bad + " r 1", "ENDATA"}), false},
      {"column from BOUNDS", lines({"BOUNDS", " UP B x\xFF 1", "ENDATA"}), false},
      {"truncated at the end of a name", lines({"ROWS", " L r\xE3\x80", "ENDATA"}), false},
      {"comment", lines({"* caf\xE9", "$ \xFF\xFE", "ENDATA"}), true},
      {"line before the first header", lines({"\xFF\xFF junk", "ENDATA"}), true},
      {"extra field", lines({"ROWS", " L r \xFF", "COLUMNS", " x r 1 \xFF \xFE \xFD \xFC", "ENDATA"}), true},
      {"RHS set name", lines({"ROWS", " L r", "RHS", " \xFF r 1", "ENDATA"}), true},
      {"bound vector name", lines({"COLUMNS", " x r 1", "BOUNDS", " UP \xFF x 1", "ENDATA"}), true},
      {"text after ENDATA", "ENDATA\n\xFF\xFF\xFF", true},
      {"second NAME replaces a bad one", lines({"NAME bad\xFF", "NAME good", "ENDATA"}), true},
      {"valid multi-byte names", lines({"NAME mod\xC3\xA8le", "ROWS", " L \xE6\x97\xA5", "ENDATA"}), true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(read_error(c.text), c.ok ? "" : kFailure) << c.why;
  }
  const ModelRecord m = read_valid(lines({"NAME mod\xC3\xA8le", "ROWS", " L \xE6\x97\xA5", "ENDATA"}));
  EXPECT_EQ(m.name, "mod\xC3\xA8le");
  EXPECT_EQ(names_of(m.row_names), std::vector<std::string>{"\xE6\x97\xA5"});
}

TEST(ReadSections, RecordOutlivesTheText) {
  std::string text = lines({"NAME demo", "ROWS", " N cost", " L c1", "COLUMNS", " x cost 1 c1 2",
                            "ENDATA"});
  Result<ModelRecord> got = read_mps(text);
  ASSERT_TRUE(got.ok());
  std::fill(text.begin(), text.end(), '#');
  text = std::string();
  text.shrink_to_fit();
  const ModelRecord& m = got.value();
  EXPECT_EQ(m.name, "demo");
  EXPECT_EQ(m.objective_name, "cost");
  EXPECT_EQ(names_of(m.row_names), std::vector<std::string>{"c1"});
  EXPECT_EQ(names_of(m.col_names), std::vector<std::string>{"x"});
}

}  // namespace
}  // namespace mopsel
