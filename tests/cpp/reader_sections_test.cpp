// Section reader through read_mps: headers in and out of record sections, NAME, OBJSENSE,
// ROWS, RHS, comments and blank lines, line ends, failures, section orders, limits, UTF-8
// names.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "reader/read_mps.hpp"
#include "reader/default_reader.hpp"
#include "reader_test_support.hpp"

namespace mopsel {
namespace {

using testing::Expected;
using testing::kFailure;
using testing::kInf;
using testing::lines;
using testing::names_of;
using testing::read_error;
using testing::read_valid;

// Every way a read can fail, and texts just beside them that must not.
TEST(ReadSections, FailuresGiveTheOneMessage) {
  struct Case {
    const char* why;
    std::string text;
    bool ok;
  };
  const Case cases[] = {
      {"empty text", "", false},
      {"no ENDATA", lines({"NAME x", "ROWS", " N obj", " L c1", "COLUMNS", " x obj 1 c1 2", "RHS",
                           " RHS c1 4", "BOUNDS", " UP BND x 4"}), false},
      {"ENDATA only in a comment", lines({"ROWS", "*ENDATA", "$ENDATA"}), false},
      {"CR-only line ends make one line", "ROWS\r N obj\rCOLUMNS\rENDATA\r", false},
      {"lower-case row type", lines({"ROWS", " n obj", "ENDATA"}), false},
      {"unknown row type", lines({"ROWS", " X r1", "ENDATA"}), false},
      {"indented asterisk is no comment", lines({"ROWS", " * r1", "ENDATA"}), false},
      {"bound type lo", lines({"COLUMNS", " x r 1", "BOUNDS", " lo BND x 1", "ENDATA"}), false},
      {"bound type XX on a new column", lines({"BOUNDS", " XX B NEW 1", "ENDATA"}), false},
      {"bound type LOW", lines({"BOUNDS", " LOW BND x 1", "ENDATA"}), false},
      {"bound type L", lines({"BOUNDS", " L x", "ENDATA"}), false},
      {"ends inside a skipped section", lines({"ROWS", "CSECTION c 0 QUAD", " x"}), false},
      {"indented ENDATA in COLUMNS", lines({"ROWS", " N obj", "COLUMNS", " x obj 1", "  ENDATA"}), false},
      {"indented ENDATA in RHS", lines({"ROWS", " E r", "RHS", " RHS r 1", " ENDATA"}), false},
      {"indented ENDATA in RANGES", lines({"ROWS", " E r", "RANGES", " RNG r 1", "\tENDATA"}), false},
      {"indented ENDATA in BOUNDS", lines({"COLUMNS", " x r 1", "BOUNDS", " UP B x 1", " ENDATA"}), false},
      {"blank then NBSP before ENDATA in RHS", lines({"ROWS", " E r", "RHS", " \xC2\xA0" "ENDATA"}), false},
      {"ENDATA followed by more words", lines({"ROWS", "ENDATA now"}), false},
      {"text after ENDATA is never read", lines({"ROWS", "ENDATA", " X bad", "BOUNDS", " XX x"}), true},
      {"indented ENDATA after ROWS", lines({"ROWS", " N obj", "   ENDATA"}), true},
      // In record sections the first byte as read counts: other white space is no indentation.
      {"vertical tab before ENDATA in RHS", lines({"ROWS", " E r", "RHS", "\vENDATA"}), true},
      {"NBSP before ENDATA in RHS", lines({"ROWS", " E r", "RHS", "\xC2\xA0" "ENDATA"}), true},
      {"skipped-section header with more fields", lines({"COLUMNS", " x r 1", "CSECTION s1 extra", " w 1 2", "ENDATA"}), true},
      {"OBJSENSE with a value inside COLUMNS", lines({"COLUMNS", " x r 1", "OBJSENSE MAX", "ENDATA"}), true},
      {"ENDATA alone suffices", "ENDATA", true},
      {"lower-case endata", "endata\n", true},
      {"ENDATA with trailing blanks", "ENDATA  \t\n", true},
  };
  for (const Case& c : cases) EXPECT_EQ(read_error(c.text), c.ok ? "" : kFailure) << c.why;
}

// A failure carries its cause, the line (number and text) and a reason; the message
// stays the one fixed text.
TEST(ReadSections, FailuresSayWhereAndWhy) {
  struct Case {
    std::string text;
    FindingCode cause;
    uint64_t lineno;
    std::string line;
    std::string reason;
  };
  const std::string long_line = " X " + std::string(300, 'r');
  const Case cases[] = {
      {"", FindingCode::NoEndData, 1, "", "no ENDATA line"},
      {lines({"NAME x", "ROWS", " N obj"}), FindingCode::NoEndData, 3, " N obj", "no ENDATA line"},
      {"ROWS\r\n N obj\r\n", FindingCode::NoEndData, 2, " N obj", "no ENDATA line"},
      {"ROWS\n N obj", FindingCode::NoEndData, 2, " N obj", "no ENDATA line"},
      {lines({"ROWS", " N obj", " X r1", "ENDATA"}), FindingCode::UnknownRowType, 3, " X r1",
       "unknown row type 'X' in ROWS"},
      {lines({"ROWS", " n obj", "ENDATA"}), FindingCode::UnknownRowType, 2, " n obj", "unknown row type 'n' in ROWS"},
      {lines({"* c", "", "ROWS", long_line, "ENDATA"}), FindingCode::UnknownRowType, 4,
       " X " + std::string(111, 'r') + "...", "unknown row type 'X' in ROWS"},
      {lines({"COLUMNS", " x r 1", "BOUNDS", " lo BND x 1", "ENDATA"}), FindingCode::UnknownBoundType, 4,
       " lo BND x 1", "unknown bound type 'lo' in BOUNDS"},
      {lines({"BOUNDS", " XX B NEW 1", "ENDATA"}), FindingCode::UnknownBoundType, 2, " XX B NEW 1",
       "unknown bound type 'XX' in BOUNDS"},
      {lines({"ROWS", " L r1", " L r\xC3\x28", "ENDATA"}), FindingCode::InvalidUtf8, 3, " L r\xC3\x28",
       "row name is not valid UTF-8 (byte 0xC3 at column 5)"},
      {lines({"ROWS", " N o\xFF", "ENDATA"}), FindingCode::InvalidUtf8, 2, " N o\xFF",
       "objective name is not valid UTF-8 (byte 0xFF at column 5)"},
      {lines({"COLUMNS", "    ab\xED\xA0\x80 r 1", "ENDATA"}), FindingCode::InvalidUtf8, 2, "    ab\xED\xA0\x80 r 1",
       "column name is not valid UTF-8 (byte 0xED at column 7)"},
      {lines({"BOUNDS", " UP B x\xFF 1", "ENDATA"}), FindingCode::InvalidUtf8, 2, " UP B x\xFF 1",
       "column name is not valid UTF-8 (byte 0xFF at column 8)"},
      {lines({"NAME caf\xE9", "ROWS", "ENDATA"}), FindingCode::InvalidUtf8, 1, "NAME caf\xE9",
       "model name is not valid UTF-8 (byte 0xE9 at column 9)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text.substr(0, 60));
    Result<ModelRecord> got = read_mps(c.text);
    ASSERT_FALSE(got.ok());
    const Error& e = got.error();
    EXPECT_EQ(e.message, kFailure);
    EXPECT_EQ(e.cause, c.cause);
    EXPECT_EQ(e.lineno, c.lineno);
    EXPECT_EQ(e.line, c.line);
    EXPECT_EQ(e.reason, c.reason);
  }
}

TEST(ReadSections, NameAndObjectiveSense) {
  struct Case {
    std::string text;
    std::string name;
    bool minimize;
  };
  const Case cases[] = {
      {lines({"NAME          demo", "ENDATA"}), "demo", true},
      {lines({"NAME demo model v2", "ENDATA"}), "demo", true},
      {lines({"NAME", "ENDATA"}), "", true},
      {lines({"name\tlower", "ENDATA"}), "lower", true},
      {lines({"NAME first", "NAME", "ENDATA"}), "first", true},  // no token keeps the value
      {lines({"NAME first", "NAME second", "ENDATA"}), "second", true},
      {lines({"ROWS", "NAME inside", "ENDATA"}), "", true},  // value dropped inside a section
      {lines({"NAME \xE3\x80\x80spaced\xC2\xA0out", "ENDATA"}), "spaced", true},
      {lines({"NAME    ", "ENDATA"}), "", true},
      {lines({"OBJSENSE MAX", "ENDATA"}), "", false},
      {lines({"OBJSENSE MAXIMIZE", "ENDATA"}), "", false},
      {lines({"objsense max", "ENDATA"}), "", false},
      {lines({"OBJSENSE", "MAXIMIZE", "ENDATA"}), "", false},
      {lines({"OBJSENSE", "    MAX", "ENDATA"}), "", false},
      {lines({"OBJSENSE", "MAXIMISE", "ROWS", "ENDATA"}), "", false},
      {lines({"OBJSENSE", "MAX", "MIN", "ENDATA"}), "", true},
      {lines({"OBJSENSE MAX", "MINIMIZE", "ENDATA"}), "", true},
      {lines({"OBJSENSE MA", "ENDATA"}), "", true},
      {lines({"OBJSENSE", "MA", "ENDATA"}), "", true},
      {lines({"OBJSENSE", "NOTHING", "ENDATA"}), "", true},
      // The inline form outside any section leaves an earlier sense.
      {lines({"OBJSENSE", "MAX", "NAME x", "OBJSENSE MIN", "ENDATA"}), "", false},
      {lines({"ROWS", "OBJSENSE MAX", "ENDATA"}), "", true},  // inline value inside a section dropped
      {lines({"OBJSENS MAX", "ENDATA"}), "", true},           // not a header
  };
  for (const Case& c : cases) {
    const ModelRecord m = read_valid(c.text);
    EXPECT_EQ(m.name, c.name) << c.text;
    EXPECT_EQ(m.obj_sense_minimize, c.minimize) << c.text;
  }
}

// Whole texts whose record fields pin ROWS, header recognition, comments, skipped sections and
// unusual section orders.
TEST(ReadSections, RecordsOfWholeTexts) {
  struct Case {
    const char* why;
    std::string text;
    Expected expected;
  };
  const std::vector<std::string> none;
  const Case cases[] = {
      {"three header lines make the empty model", "ROWS\nCOLUMNS\nENDATA\n",
       {.name = "", .objective_name = "Objective", .minimize = true, .offset = 0.0, .row_names = none,
        .col_names = none, .start = {{0}}, .index = std::vector<uint32_t>{}, .value = std::vector<double>{}}},
      {"rows without columns", lines({"ROWS", " N obj", " L r", "ENDATA"}),
       {.row_names = {{"r"}}, .col_names = none, .start = {{0}}}},
      {"ROWS section",
       lines({"ROWS", " N  obj", " EQ ROW1", " G  r2", " L  r3    ignored fields",
              " E",        // one field: ignored
              " N  obj2",  // a second N row is no constraint row
              "",          // an empty line does not end ROWS
              " L  r4", "COLUMNS", " x obj 1 obj2 5", " x ROW1 2 r4 3", "RHS", " RHS obj2 7 r4 8", "ENDATA"}),
       {.objective_name = "obj", .offset = 0.0, .row_names = {{"ROW1", "r2", "r3", "r4"}},
        .row_lower = {{0, 0, -kInf, -kInf}}, .row_upper = {{0, kInf, 0, 8}}, .cost = {{1}},
        .index = {{0, 3}}, .value = {{2, 3}}}},
      {"a blank-only line ends ROWS but is skipped in data sections",
       lines({"ROWS", " N obj", " L r1", "   \t", " L ignored", "COLUMNS", " x r1 1", "  ", " x obj 2",
              "RHS", " \t", " RHS r1 4", "ENDATA"}),
       {.row_names = {{"r1"}}, .row_upper = {{4}}, .cost = {{2}}}},
      {"a duplicate row name refers to the later row",
       lines({"ROWS", " L r", " G r", "COLUMNS", " x r 5", "RHS", " RHS r 3", "ENDATA"}),
       {.row_names = {{"r", "r"}}, .row_lower = {{-kInf, 3}}, .row_upper = {{0, kInf}}, .index = {{1}}}},
      {"a missing objective row uses the artificial name",
       lines({"ROWS", " L c1", "COLUMNS", " x artificial_empty_objective 3 c1 1", "RHS",
              " RHS artificial_empty_objective 2", "ENDATA"}),
       {.objective_name = "Objective", .offset = -2.0, .row_names = {{"c1"}}, .cost = {{3}}}},
      {"without ROWS no cost can be given", lines({"COLUMNS", " x artificial_empty_objective 3", "ENDATA"}),
       {.objective_name = "Objective", .cost = {{0}}}},
      {"columns before rows store no entries",
       lines({"COLUMNS", " x c1 1", " y c1 2", "ROWS", " L c1", "ENDATA"}),
       {.row_names = {{"c1"}}, .col_names = {{"x", "y"}}, .start = {{0, 0, 0}}}},
      // In a record section a non-indented first field that is no keyword is a record, and so is a
      // section keyword with more fields; NAME, OBJSENSE and skipped-section keywords
      // are headers even with more fields.
      {"headers in a record section",
       lines({"ROWS", " N obj", " L ROWS", "COLUMNS", "x obj 1", "COLUMNS ROWS 2", "ROWS obj 3", "RHS",
              "RHS ROWS 9", "BOUNDS", "UP BND x 4", "RANGES", "RNG ROWS 2", "ENDATA"}),
       {.row_lower = {{7}}, .row_upper = {{9}}, .col_names = {{"x", "COLUMNS", "ROWS"}}, .cost = {{1, 0, 3}},
        .col_upper = {{4, kInf, kInf}}, .start = {{0, 0, 1, 1}}}},
      {"an indented header inside COLUMNS is a column", lines({"COLUMNS", " x r 1", "  ENDATA", "ENDATA"}),
       {.col_names = {{"x", "ENDATA"}}}},
      {"NAME inside COLUMNS is a header whose value is dropped",
       lines({"COLUMNS", " x r 1", "NAME late", "ENDATA"}), {.name = "", .col_names = {{"x"}}}},
      {"headers outside record sections ignore indentation",
       lines({"  ROWS", " N obj", "   COLUMNS", " x obj 4", "ENDATA"}), {.cost = {{4}}}},
      {"comments and empty lines are skipped everywhere",
       lines({"* leading comment", "", "NAME demo", "$ dollar comment", "ROWS", "* in rows", "", " N obj",
              "$ in rows", " L c1", "COLUMNS", "*ENDATA", "", " x obj 1 c1 2", "RHS", "* in rhs",
              " RHS c1 5", "BOUNDS", "$ in bounds", " UP BND x 3", "ENDATA"}),
       {.name = "demo", .row_names = {{"c1"}}, .row_upper = {{5}}, .col_upper = {{3}}}},
      {"skipped sections",
       lines({"ROWS", " N obj", " L c1", "COLUMNS", " x obj 1 c1 1", "CSECTION c 0 QUAD", " x",
              "GENCONS", " g", "  ROWS extra",  // records of skipped sections
              "BOUNDS", " UP BND x 4", "PWLOBJ", " x 1 1",
              "   ", " L c2",  // a blank-only line leaves to the outside state, which drops records
              "RANGES", " RNG c1 2", "ENDATA"}),
       {.row_names = {{"c1"}}, .row_lower = {{-2}}, .col_upper = {{4}}}},
      {"BOUNDS before COLUMNS keeps every column aligned",
       lines({"ROWS", " N obj", " L c1", " L c2", "BOUNDS", " UP BND early 5",
              " BV BND x",  // x not yet known: created here
              "COLUMNS", " x obj 1 c1 2", " y obj 3 c2 4", " y c1 5", "BOUNDS", " UP BND late 6",
              " LO BND x 2",  // the COLUMNS column named x, created later
              "ENDATA"}),
       {.col_names = {{"early", "x", "x", "y", "late"}}, .cost = {{0, 0, 1, 3, 0}}, .col_lower = {{0, 0, 2, 0, 0}},
        .col_upper = {{5, 1, kInf, kInf, 6}}, .integrality = {{0, 1, 0, 0, 0}}, .start = {{0, 0, 0, 1, 3, 3}},
        .index = {{0, 1, 0}}, .value = {{2, 4, 5}}}},
      {"a column first named in BOUNDS is empty and last",
       lines({"ROWS", " N obj", " L r", "COLUMNS", " x obj 2 r 1", "BOUNDS", " UP BND1 NEWCOL 5", "ENDATA"}),
       {.col_names = {{"x", "NEWCOL"}}, .cost = {{2, 0}}, .col_lower = {{0, 0}}, .col_upper = {{kInf, 5}},
        .integrality = {{0, 0}}, .start = {{0, 1, 1}}}},
      {"a second COLUMNS section closes only its own columns",
       lines({"ROWS", " N obj", " L c1", " L c2", "COLUMNS", " MARKER 'MARKER' 'INTORG'", " a obj 1 c1 2",
              " b c2 3", "RHS", " RHS c1 9",
              "COLUMNS",  // the integer marker does not carry over
              " c obj 4 c1 5",
              " a c2 6",  // a second column named a
              "BOUNDS", " UP BND a 7",  // finds the later a
              "ENDATA"}),
       {.col_names = {{"a", "b", "c", "a"}}, .cost = {{1, 0, 4, 0}}, .col_upper = {{1, 1, kInf, 7}},
        .integrality = {{1, 1, 0, 0}}, .start = {{0, 1, 2, 3, 4}}, .index = {{0, 1, 0, 1}},
        .value = {{2, 3, 5, 6}}}},
  };
  for (const Case& c : cases) testing::expect_record(read_valid(c.text), c.expected, c.why);
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
      {"first value per row wins", lines({"RHS", " R e 1", " R e 5", " S g 2 g 6"}), {1, 2, -kInf}, {1, kInf, 0}, 0.0},
      {"two sets both apply", lines({"RHS", " A e 1", " B l 4"}), {1, 0, -kInf}, {1, kInf, 4}, 0.0},
      {"a later section overrides", lines({"RHS", " R e 1 obj 2", "BOUNDS", "RHS", " R e 5 obj 3"}),
       {5, 0, -kInf}, {5, kInf, 0}, -3.0},
      {"RHS inside RHS starts no new section", lines({"RHS", " R e 1", "RHS", " R e 5"}), {1, 0, -kInf}, {1, kInf, 0}, 0.0},
      {"objective gives the negated offset", lines({"RHS", " R obj 5"}), {0, 0, -kInf}, {0, kInf, 0}, -5.0},
      {"objective zero gives minus zero", lines({"RHS", " R obj 0"}), {0, 0, -kInf}, {0, kInf, 0}, -0.0},
      {"first objective value in a section wins", lines({"RHS", " R obj 5 obj 6"}), {0, 0, -kInf}, {0, kInf, 0}, -5.0},
      {"extra N row ignored", lines({"RHS", " R extra 9"}), {0, 0, -kInf}, {0, kInf, 0}, 0.0},
      {"unknown rows skipped", lines({"RHS", " R nope 9 g 2"}), {0, 2, -kInf}, {0, kInf, 0}, 0.0},
      {"zero is stored", lines({"RHS", " R g 0 l 0"}), {0, 0, -kInf}, {0, kInf, 0}, 0.0},
      {"malformed reads as zero", lines({"RHS", " R l 1,5"}), {0, 0, -kInf}, {0, kInf, 0}, 0.0},
      {"a trailing row without value", lines({"RHS", " R e 1 g"}), {1, 0, -kInf}, {1, kInf, 0}, 0.0},
      {"only six fields are kept", lines({"RHS", " e 1 g 2 l 3 e 9"}), {1, 2, -kInf}, {1, kInf, 3}, 0.0},
      {"RHS alone is no header inside RHS", lines({"RHS", "RHS", "RHS e 4"}), {4, 0, -kInf}, {4, kInf, 0}, 0.0},
      {"non-indented record", lines({"RHS", "RHS1 l 7"}), {0, 0, -kInf}, {0, kInf, 7}, 0.0},
      {"a set name that is also a row name", lines({"RHS", " e g 2 l 3"}), {0, 2, -kInf}, {0, kInf, 3}, 0.0},
      {"a set and a row of one name", lines({"RHS", " e e 5"}), {5, 0, -kInf}, {5, kInf, 0}, 0.0},
      {"a set name that is the objective", lines({"RHS", " obj e 5"}), {5, 0, -kInf}, {5, kInf, 0}, 0.0},
      {"malformed lines keep the row reading", lines({"RHS", " l 1,5 g 3"}), {0, 3, -kInf}, {0, kInf, 0}, 0.0},
  };
  for (const Case& c : cases) {
    const Expected e{.offset = c.offset, .row_lower = c.lower, .row_upper = c.upper};
    testing::expect_record(read_valid(rows + c.rhs + "ENDATA\n"), e, c.why);
  }
  // An RHS section before ROWS changes nothing.
  const ModelRecord early = read_valid(lines({"RHS", " R c 4", "ROWS", " L c", "ENDATA"}));
  EXPECT_EQ(testing::values_of(early.row_upper), std::vector<double>{0.0});
}

// Generators that write the set name on the header line: RHS, RANGES and BOUNDS
// headers with a name read as the plain headers do, after every section that can
// come before them. The table after it holds lines that look alike but are records.
TEST(ReadSections, HeadersThatNameTheirSet) {
  const std::string head = lines({"NAME sets", "ROWS", " N obj", " L r1", " G r2", "COLUMNS",
                                  " x obj 1 r1 2", " y r2 3"});
  const std::vector<std::string> before = {
      "", lines({"RHS", " RHS r2 1"}), lines({"RANGES", " RNG r2 5"}), lines({"BOUNDS", " UP BND x 4"}),
      lines({"SOS", " S1 SOS", "  x 1"})};
  struct Header {
    std::string named, plain, record;
  };
  const Header headers[] = {
      {"RHS           RIGHT", "RHS", " RIGHT r1 7"},
      {"RANGES RNG", "RANGES", " RNG r1 3"},
      {"bounds\tBND", "BOUNDS", " UP BND y 9"},
  };
  for (const std::string& section : before) {
    for (const Header& h : headers) {
      const std::string tail = h.record + "\nENDATA\n";
      const std::string text = head + section + h.named + "\n" + tail;
      const ModelRecord named = read_valid(text);
      const ModelRecord plain = read_valid(head + section + h.plain + "\n" + tail);
      EXPECT_EQ(testing::record_difference(plain, named), "") << text;
    }
  }
  // Outside the record sections too (where the word after the keyword must not be a number).
  EXPECT_EQ(testing::record_difference(read_valid(lines({"ROWS", " L r", "RHS R", " R r 4", "ENDATA"})),
                                       read_valid(lines({"ROWS", " L r", "RHS", " R r 4", "ENDATA"}))),
            "");
  EXPECT_EQ(read_error(lines({"ROWS", " L r", "RHS 5", " R r 4", "ENDATA"})), kFailure);

  struct Case {
    const char* why;
    std::string lines;
    Expected expected;
  };
  const std::string rows = lines({"ROWS", " N obj", " L r1", " G r2"});
  const Case records[] = {
      {"COLUMNS: a column called RHS with a value", lines({"COLUMNS", "RHS r1 5", "RHS RIGHT 2"}),
       {.col_names = {{"RHS"}}, .start = {{0, 1}}, .index = {{0}}, .value = {{5}}}},
      {"COLUMNS: a marker line whose first field is a keyword",
       lines({"COLUMNS", "BOUNDS 'MARKER' 'INTORG'", " x r1 1", "RANGES 'MARKER' 'INTEND'"}),
       {.col_names = {{"x"}}, .integrality = {{1}}}},
      {"RHS: a set called RANGES", lines({"COLUMNS", " x r1 1", "RHS", "RANGES r1 5"}),
       {.row_upper = {{5, kInf}}}},
      {"RHS: a set called BOUNDS and a row pair", lines({"COLUMNS", " x r1 1", "RHS", "BOUNDS r2 6 r1 1"}),
       {.row_lower = {{-kInf, 6}}, .row_upper = {{1, kInf}}}},
      {"RANGES: a set called RHS", lines({"COLUMNS", " x r1 1", "RANGES", "RHS r1 2"}),
       {.row_lower = {{-2, 0}}}},
      {"a skipped section keeps an indented pair", lines({"SOS", " RHS 1", "ENDATA"}), {.row_upper = {{0, kInf}}}},
  };
  for (const Case& c : records) {
    testing::expect_record(read_valid(rows + c.lines + (c.lines.ends_with("ENDATA\n") ? "" : "ENDATA\n")),
                           c.expected, c.why);
  }
  // In BOUNDS no bound type is a keyword, so a keyword with more fields is always
  // a header (it made the read fail before).
  EXPECT_EQ(read_error(lines({"ROWS", " L r", "COLUMNS", " x r 1", "BOUNDS", "RANGES RNG", " RNG r 2",
                              "ENDATA"})),
            "");
}

// A UTF-8 byte-order mark at the start of the text is not part of the first line;
// anywhere else it is text as before.
TEST(ReadSections, ByteOrderMark) {
  const std::string text = lines({"NAME bom", "ROWS", " L r", "COLUMNS", " x r 1", "ENDATA"});
  const ModelRecord plain = read_valid(text);
  EXPECT_EQ(testing::record_difference(read_valid("\xEF\xBB\xBF" + text), plain), "");
  EXPECT_EQ(read_valid("\xEF\xBB\xBF" + text).name, "bom");
  EXPECT_EQ(testing::record_difference(read_valid("\xEF\xBB\xBF* ROWS: 1\n" + text), plain), "");
  // A mark before a first header in the record sections' test (first column) too.
  EXPECT_EQ(testing::record_difference(read_valid("\xEF\xBB\xBFROWS\n L r\nCOLUMNS\n x r 1\nENDATA\n"),
                                       read_valid("ROWS\n L r\nCOLUMNS\n x r 1\nENDATA\n")),
            "");
  EXPECT_EQ(read_valid("NAME \xEF\xBB\xBF" "bom\nENDATA\n").name, "\xEF\xBB\xBF" "bom");
}

// LF, CRLF and a missing final line end read alike.
TEST(ReadSections, LineEndsReadAlike) {
  const std::string lf = lines({"NAME demo", "ROWS", " N obj", " L c1", " G c2", "COLUMNS", " x obj 1 c1 2",
                                " y c2 -3", "RHS", " RHS c1 4 c2 1", "BOUNDS", " UP BND x 4", "ENDATA"});
  std::string crlf;
  for (char c : lf) (c == '\n' ? crlf += "\r\n" : crlf += c);
  const ModelRecord a = read_valid(lf);
  EXPECT_EQ(names_of(a.col_names), (std::vector<std::string>{"x", "y"}));
  EXPECT_EQ(testing::record_difference(a, read_valid(crlf)), "");
  EXPECT_EQ(testing::record_difference(a, read_valid(std::string_view(lf).substr(0, lf.size() - 1))), "");
}

// The row map is sized from the ROWS section before its first row: no growth (each
// rehashes every row) and no table larger than the rows need, also when a second
// ROWS section adds rows and when headers are indented.
TEST(ReadSections, RowMapIsSizedForTheRowsSection) {
  struct Case {
    const char* what;
    size_t first_rows, second_rows;  // second_rows 0: no second ROWS section
    bool indented_headers;
  };
  const Case cases[] = {{"one section", 3000, 0, false}, {"two sections", 3000, 500, false},
                        {"indented headers", 3000, 0, true}};
  for (const Case& c : cases) {
    std::string text = "NAME big\nROWS\n N obj\n";
    for (size_t i = 0; i < c.first_rows; ++i) text += " L r" + std::to_string(i) + "\n";
    if (c.second_rows > 0) text += "ROWS\n";
    for (size_t i = 0; i < c.second_rows; ++i) text += " G s" + std::to_string(i) + "\n";
    text += c.indented_headers ? "  COLUMNS\n" : "COLUMNS\n";
    text += " x obj 1 r0 2\n x r" + std::to_string(c.first_rows - 1) + " 3\nENDATA\n";
    ReaderState state;
    ASSERT_TRUE(read_sections(text, state).ok()) << c.what;
    const size_t rows = c.first_rows + c.second_rows;
    EXPECT_EQ(state.num_row, rows) << c.what;
    // The N row, and for a second section (which sees no N row) the artificial objective.
    const size_t names = rows + (c.second_rows > 0 ? 2 : 1);
    EXPECT_EQ(state.row_index.count, names) << c.what;
    EXPECT_LE(state.row_index.slots.size(), slots_for(names) + 16) << c.what;
    EXPECT_EQ(state.nnz, 2u) << c.what;
    EXPECT_EQ(state.entry_row[1], c.first_rows - 1) << c.what;
    const int32_t* s0 = find_name(state.row_index, "s0");
    EXPECT_EQ(s0 ? *s0 : -1, c.second_rows > 0 ? static_cast<int32_t>(c.first_rows) : -1) << c.what;
  }
}

TEST(ReadSections, SizeLimitsFailInsteadOfWrapping) {
  const std::string text = lines({"ROWS", " N obj", " L r1", " L r2", "COLUMNS", " x r1 1 r2 1", " y r1 1",
                                  "BOUNDS", " UP BND z 1", "ENDATA"});
  struct Case {
    ReaderLimits limits;
    bool ok;
    uint64_t lineno = 0;
    std::string reason;
  };
  const Case cases[] = {
      {{2, 3, 3}, true},                                     // exactly at every limit
      {{1, 3, 3}, false, 4, "more than 1 rows"},            // two rows
      {{2, 2, 3}, false, 9, "more than 2 columns"},         // the BOUNDS column is the third
      {{2, 1, 3}, false, 7, "more than 1 columns"},         // the second COLUMNS column
      {{2, 3, 2}, false, 8, "more than 2 matrix entries"},  // three entries, counted when y closes
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.limits.max_rows << " " << c.limits.max_columns << " "
                                      << c.limits.max_entries);
    Result<ModelRecord> got = read_mps_with_limits(text, c.limits);
    ASSERT_EQ(got.ok(), c.ok);
    EXPECT_EQ(got.ok() ? check_record_invariants(got.value()) : got.error().message, c.ok ? "" : kFailure);
    if (!got.ok()) {
      EXPECT_EQ(got.error().kind, ErrorKind::Parse);
      EXPECT_EQ(got.error().lineno, c.lineno);
      EXPECT_EQ(got.error().reason, c.reason);
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
  };
  for (const Case& c : cases) EXPECT_EQ(read_error(c.text), c.ok ? "" : kFailure) << c.why;
  const ModelRecord m = read_valid(lines({"NAME mod\xC3\xA8le", "ROWS", " L \xE6\x97\xA5", "ENDATA"}));
  EXPECT_EQ(m.name, "mod\xC3\xA8le");
  EXPECT_EQ(names_of(m.row_names), std::vector<std::string>{"\xE6\x97\xA5"});
}

// The sections beyond a linear program, each rule on a small text after the same linear
// part: what the record holds (parts_text), and that the careful reader in free format
// and the fixed format (where the text fits fixed columns) make the same record.
TEST(ReadSections, QuadraticSosAndIndicatorSections) {
  // Rows c1 (L), c2 (L), c3 (G), the objective and a second N row; columns x, y, z and
  // the binary column b.
  const std::string head = lines({"NAME parts", "ROWS", " N  obj", " L  c1", " L  c2", " G  c3", " N  spare",
                                  "COLUMNS", "    x  obj  1  c1  1", "    y  c1  1  c2  1", "    z  c3  1",
                                  "    M  'MARKER'  'INTORG'", "    b  c3  1", "    M  'MARKER'  'INTEND'", "RHS",
                                  "    RHS  c1  4", "BOUNDS", " UP BND  b  1"});
  struct Case {
    const char* why;
    std::string tail;  // the sections after BOUNDS, before ENDATA
    std::string parts;
  };
  const Case cases[] = {
      {"nothing beyond a linear program", "", ""},
      // Quadratic sections of the objective.
      {"QUADOBJ entries in any order", lines({"QUADOBJ", "    y  y  4", "    x  y  3", "    x  x  2"}),
       "H x.x=2 x.y=3 y.y=4"},
      {"an entry above the diagonal lands below it", lines({"QUADOBJ", "    y  x  3"}), "H x.y=3"},
      {"QUADOBJ with both triangles counts both", lines({"QUADOBJ", "    x  y  3", "    y  x  3"}), "H x.y=6"},
      {"repeated entries add up", lines({"QUADOBJ", "    x  x  2", "    x  x  5", "    z  y  1", "    y  z  1"}),
       "H x.x=7 y.z=2"},
      {"zeros and entries that cancel leave no part",
       lines({"QUADOBJ", "    x  x  0", "    y  y  1", "    y  y  -1", "    z  z  1,5"}), ""},
      {"QMATRIX gives both halves once", lines({"QMATRIX", "    x  x  2", "    x  y  3", "    y  x  3"}),
       "H x.x=2 x.y=3"},
      {"QMATRIX halves given twice each add up",
       lines({"QMATRIX", "    x  y  1", "    x  y  2", "    y  x  3", "    y  x  0"}), "H x.y=3"},
      {"QUADOBJ and QMATRIX add up", lines({"QUADOBJ", "    x  x  2", "QMATRIX", "    x  x  1", "    x  y  3",
                                            "    y  x  3"}),
       "H x.x=3 x.y=3"},
      {"two QUADOBJ sections add up", lines({"QUADOBJ", "    x  x  2", "QUADOBJ", "    x  x  3"}), "H x.x=5"},
      {"QSECTION of the objective reads as QUADOBJ", lines({"QSECTION  obj", "    x  y  3", "    y  x  3"}),
       "H x.y=6"},
      {"QCMATRIX of the objective reads as QMATRIX", lines({"QCMATRIX obj", "    x  y  3", "    y  x  3"}),
       "H x.y=3"},
      {"NaN stays", lines({"QUADOBJ", "    x  x  nan"}), "H x.x=nan"},
      {"an unknown column is made, as BOUNDS makes it", lines({"QUADOBJ", "    w  w  1", "    x  w  2"}),
       "H x.w=2 w.w=1"},
      {"a blank line and comments inside the section", lines({"QUADOBJ", "    x  x  1", "", "  ", "* note",
                                                              "    y  y  2"}),
       "H x.x=1 y.y=2"},
      {"a record without a value adds nothing", lines({"QUADOBJ", "    x  x", "    y  y  2  z  z  3"}),
       "H y.y=2"},
      {"a header that names its set ends the section", lines({"QUADOBJ", "    x  x  1", "RANGES RNG",
                                                             "    RNG  c1  2"}),
       "H x.x=1"},
      // Quadratic parts of rows.
      {"QCMATRIX gives Q of x'Qx: H_r = 2Q", lines({"QCMATRIX  c1", "    x  x  1", "    x  y  2", "    y  x  2"}),
       "c1: x.x=2 x.y=4"},
      {"QCMATRIX diagonal given in halves (as SCIP writes it)",
       lines({"QCMATRIX c3", "    x  x  0.5", "    x  x  0.5"}), "c3: x.x=2"},
      {"QSECTION of a row gives one triangle of H_r", lines({"QSECTION c2", "    x  x  1", "    y  x  2"}),
       "c2: x.x=1 x.y=2"},
      {"rows come sorted, with the objective's H", lines({"QCMATRIX c3", "    z  z  1", "QUADOBJ", "    x  x  1",
                                                          "QCMATRIX c1", "    y  y  1"}),
       "H x.x=1 | c1: y.y=2 | c3: z.z=2"},
      {"QCMATRIX of another N row is kept nowhere", lines({"QCMATRIX spare", "    x  x  1"}), ""},
      {"an empty QCMATRIX gives no part", lines({"QCMATRIX c1", "QCMATRIX c2", "    x  x  1", "    x  x  -1"}), ""},
      // SOS.
      {"sets with weights and priorities", lines({"SOS", " S1 s1", "    x  1", "    y  2", " S2 s2  7",
                                                  "    z  3", "    x  1.5"}),
       "S1 s1 0: x=1 y=2 | S2 s2 7: z=3 x=1.5"},
      {"members keep the order of the text", lines({"SOS", " S2 s", "    z  3", "    x  1", "    y  2"}),
       "S2 s 0: z=3 x=1 y=2"},
      {"a missing weight reads as 0, a missing name as empty", lines({"SOS", " S1", "    x", "    y  2"}),
       "S1  0: x=0 y=2"},
      {"a set header may start in the first column, a member called S1 is indented",
       lines({"SOS", "S1 s", "    S1  5"}), "S1 s 0: S1=5"},
      {"a member before any set is passed over", lines({"SOS", "    x  1", " S1 s", "    y  2"}), "S1 s 0: y=2"},
      {"an empty set is kept", lines({"SOS", " S1 e", " S2 f", "    x  1"}), "S1 e 0: | S2 f 0: x=1"},
      {"a column named twice in a set is kept twice", lines({"SOS", " S1 s", "    x  1", "    x  2"}),
       "S1 s 0: x=1 x=2"},
      {"a priority that is no whole number reads as 0", lines({"SOS", " S1 SOS s1", "    x  1", " S1 t 2.5"}),
       "S1 SOS 0: x=1 | S1 t 0:"},
      {"an SOS section without sets gives no part", lines({"SOS", "    x  1"}), ""},
      // INDICATORS.
      {"indicators with values", lines({"INDICATORS", " IF c1  b  1", " IF c2  b  0"}), "IF c1 b 1 | IF c2 b 0"},
      {"a missing value reads as 1", lines({"INDICATORS", " IF c1 b", " IF c2 b 1.0"}), "IF c1 b 1 | IF c2 b 1"},
      {"indicators on unknown rows and N rows are passed over",
       lines({"INDICATORS", " IF nope b 1", " IF obj b 1", " IF spare b 0", " IF c3 b 0"}), "IF c3 b 0"},
      {"a column that is not binary, and a row named twice, are kept",
       lines({"INDICATORS", " IF c1 x 1", " IF c1 b 0"}), "IF c1 x 1 | IF c1 b 0"},
      // Everything at once, in the order the peers write it.
      {"every section", lines({"SOS", " S1 s", "    x  1", "QUADOBJ", "    x  x  2", "QCMATRIX c1", "    y  y  1",
                               "INDICATORS", " IF c2 b 1"}),
       "H x.x=2 | c1: y.y=2 | S1 s 0: x=1 | IF c2 b 1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    const std::string text = head + c.tail + "ENDATA\n";
    const ModelRecord m = read_valid(text);
    EXPECT_EQ(testing::parts_text(m), c.parts);
    ReadOptions careful;
    careful.format = Format::Auto;
    Result<ModelRecord> again = read_mps(text, careful);
    ASSERT_TRUE(again.ok());
    EXPECT_EQ(testing::record_difference(again.value(), m), "");
  }
}

// The failures of the sections beyond a linear program: the three peers refuse these
// texts (SCIP and Gurobi at least), and the reason names the record.
TEST(ReadSections, SectionsBeyondLinearFailWithTheirCause) {
  const std::string head = lines({"ROWS", " N  obj", " L  c1", " N  spare", "COLUMNS", "    x  c1  1", "    y  c1  1",
                                  "    M  'MARKER'  'INTORG'", "    b  c1  1", "    M  'MARKER'  'INTEND'"});
  struct Case {
    std::string tail;
    FindingCode cause;
    uint64_t lineno;  // from the first line after `head`
    std::string reason;
  };
  const Case cases[] = {
      {lines({"QMATRIX", "    x  y  3", "    y  x  2"}), FindingCode::AsymmetricMatrix, 2,
       "the record 'x  y  3' has no equal mirror record (QMATRIX and QCMATRIX give both halves of a symmetric matrix)"},
      {lines({"QCMATRIX c1", "    x  x  1", "    y  x  2", "RHS"}), FindingCode::AsymmetricMatrix, 3,
       "the record 'y  x  2' has no equal mirror record (QMATRIX and QCMATRIX give both halves of a symmetric matrix)"},
      {lines({"QMATRIX", "    x  x  1", "    x  w  2"}), FindingCode::AsymmetricMatrix, 3,
       "the record 'x  w  2' has no equal mirror record (QMATRIX and QCMATRIX give both halves of a symmetric matrix)"},
      {lines({"QCMATRIX nope", "    x  x  1"}), FindingCode::UnknownQuadraticRow, 1,
       "'nope' names no row for a QSECTION or QCMATRIX section"},
      {lines({"QSECTION", "    x  x  1"}), FindingCode::UnknownQuadraticRow, 1,
       "'QSECTION' names no row for a QSECTION or QCMATRIX section"},
      {lines({"QCMATRIX c1", "    x  x  1", "QSECTION c1", "    y  y  1"}), FindingCode::RepeatedQuadraticRow, 3,
       "'c1': a second quadratic section for one row (a QSECTION or QCMATRIX section gives the whole quadratic "
       "part of its row, the objective's too)"},
      {lines({"QSECTION obj", "    x  x  1", "QUADOBJ", "    y  y  1"}), FindingCode::RepeatedQuadraticRow, 3,
       "'QUADOBJ': a second quadratic section for one row (a QSECTION or QCMATRIX section gives the whole quadratic "
       "part of its row, the objective's too)"},
      {lines({"SOS", " S3 s", "    x  1"}), FindingCode::UnknownSosType, 2, "unknown SOS type 'S3' (S1 or S2)"},
      {lines({"SOS", " s1 s", "    x  1"}), FindingCode::UnknownSosType, 2, "unknown SOS type 's1' (S1 or S2)"},
      {lines({"INDICATORS", " IF c1 b 2"}), FindingCode::BadIndicator, 2,
       "INDICATORS record 'IF c1 b 2' is not IF, a row, a known column and 0 or 1"},
      {lines({"INDICATORS", " IF c1 b 0.5"}), FindingCode::BadIndicator, 2,
       "INDICATORS record 'IF c1 b 0.5' is not IF, a row, a known column and 0 or 1"},
      {lines({"INDICATORS", " if c1 b 1"}), FindingCode::BadIndicator, 2,
       "INDICATORS record 'if c1 b 1' is not IF, a row, a known column and 0 or 1"},
      {lines({"INDICATORS", " IF c1 w 1"}), FindingCode::BadIndicator, 2,
       "INDICATORS record 'IF c1 w 1' is not IF, a row, a known column and 0 or 1"},
      {lines({"INDICATORS", " IF c1"}), FindingCode::BadIndicator, 2,
       "INDICATORS record 'IF c1' is not IF, a row, a known column and 0 or 1"},
  };
  const uint64_t head_lines = 10;
  for (const Case& c : cases) {
    const std::string text = head + c.tail + "ENDATA\n";
    SCOPED_TRACE(text);
    Result<ModelRecord> got = read_mps(text);
    ASSERT_FALSE(got.ok());
    EXPECT_EQ(got.error().message, kFailure);
    EXPECT_EQ(got.error().cause, c.cause);
    EXPECT_EQ(got.error().lineno, head_lines + c.lineno);
    EXPECT_EQ(got.error().reason, c.reason);
    // The careful reader stops at the same place with the same words.
    ReadOptions careful;
    careful.format = Format::Auto;
    EXPECT_EQ(testing::outcome_difference(read_mps(text, careful), got), "");
  }
}

// Each row's H_r holds a start per column: many quadratic rows over many columns (made
// here by BOUNDS) would take memory quadratic in the text, and fail at ENDATA instead;
// fewer of them read.
TEST(ReadSections, QuadraticRowsOfManyColumnsHaveABudget) {
  const auto text = [](int rows, int columns) {
    std::string t = "ROWS\n N obj\n";
    for (int i = 0; i < rows; ++i) t += " L r" + std::to_string(i) + "\n";
    t += "BOUNDS\n";
    for (int j = 0; j < columns; ++j) t += " UP B c" + std::to_string(j) + " 1\n";
    for (int i = 0; i < rows; ++i) t += "QCMATRIX r" + std::to_string(i) + "\n    c0 c0 1\n";
    return t + "ENDATA\n";
  };
  const std::string big = text(4000, 20000);  // 80 million starts for 0.5 MB of text
  Result<ModelRecord> got = read_mps(big);
  ASSERT_FALSE(got.ok());
  EXPECT_EQ(got.error().cause, FindingCode::RowHessiansTooLarge);
  EXPECT_EQ(got.error().line, "ENDATA");
  EXPECT_EQ(got.error().reason,
            "the quadratic rows would need more than 16 column starts per byte of text (each row's H holds one per column)");
  ReadOptions careful;
  careful.format = Format::Auto;
  EXPECT_EQ(testing::outcome_difference(read_mps(big, careful), got), "");
  const ModelRecord m = read_valid(text(200, 20000));  // 4 million starts: under the floor
  EXPECT_EQ(m.row_hessians.size(), 200u);
}

// Names are copied out of the text: the record stays whole after the text is gone.
TEST(ReadSections, RecordOutlivesTheText) {
  std::string text = lines({"NAME demo", "ROWS", " N cost", " L c1", "COLUMNS", " x cost 1 c1 2", "ENDATA"});
  Result<ModelRecord> got = read_mps(text);
  ASSERT_TRUE(got.ok());
  std::fill(text.begin(), text.end(), '#');
  text = std::string();
  text.shrink_to_fit();
  testing::expect_record(got.value(), {.name = "demo", .objective_name = "cost", .row_names = {{"c1"}},
                                       .col_names = {{"x"}}},
                         "after the text is gone");
}

}  // namespace
}  // namespace mopsel
