// What a reading passes over or guesses, counted (reader/records/notices.hpp): each kind
// with its count, the line of the first and the text there; the default reader and the
// careful one count alike; the automatic format is the careful automatic reading; the
// reading rules sets, repeated and free_rows; a misspelt header is where a read fails.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "reader/read_mps.hpp"
#include "reader_test_support.hpp"

namespace mopsel {
namespace {

using testing::fixed_line;
using testing::kInf;
using testing::lines;
using testing::record_difference;

// "code count@line first" per kind, in the reader's order.
std::vector<std::string> said(const ReadNotices& notices) {
  std::vector<std::string> out;
  for (const ReadNotice& n : notices) {
    out.push_back(std::string(finding_name(n.code)) + " " + std::to_string(n.count) + "@" + std::to_string(n.lineno) +
                  " " + n.first);
  }
  return out;
}

// ROWS obj (N), r1 (L), r2 (G), then the given lines.
std::string model(std::initializer_list<std::string_view> rest) {
  std::string text = lines({"NAME m", "ROWS", " N obj", " L r1", " G r2"});
  for (std::string_view line : rest) {
    text += line;
    text += '\n';
  }
  return text;
}

struct Read {
  Result<ModelRecord> record;
  ReadNotices notices;
};

Read read_with(const std::string& text, const ReadOptions& options) {
  Read out{read_mps(text, options, ReaderLimits{}, Interruption{}, nullptr), {}};
  out.record = read_mps(text, options, ReaderLimits{}, Interruption{}, &out.notices);
  return out;
}

TEST(Notices, EachKindCountedWithItsFirstLine) {
  struct Case {
    const char* why;
    std::string text;
    std::vector<std::string> want;
  };
  const Case cases[] = {
      {"a clean model", model({"COLUMNS", " x obj 1 r1 2", "RHS", " RHS r1 4", "BOUNDS", " UP BND x 3", "ENDATA"}), {}},
      {"malformed numbers, not an empty or zero one",
       model({"COLUMNS", " x obj 1 r1 1,5", " x r2 0", " y r1 9/10", "RHS", " RHS r1 abc", "RANGES", " RNG obj x1",
              "BOUNDS", " UP BND x 0x1F", " FR BND y", "ENDATA"}),
       {"bad-number 5@7 1,5"}},
      {"unknown rows and columns", model({"COLUMNS", " x r9 1", "RHS", " RHS r8 1", "BOUNDS", " UP BND z 1", "ENDATA"}),
       {"unknown-row 2@7 r9", "unknown-column 1@11 z"}},
      {"repeated entries, the objective's too",
       model({"COLUMNS", " x obj 1 r1 2", " x r1 3 obj 4", " y r2 1 r2 2", "ENDATA"}), {"duplicate-entry 3@8 3"}},
      {"skipped sections, one named twice", model({"PWLOBJ", " x x 1", "GENCONS", " g1 MAX", "PWLOBJ", "ENDATA"}),
       {"skipped-section 3@6 PWLOBJ, GENCONS"}},
      {"a skipped section inside one", model({"GENCONS", "CSECTION c 0 QUAD", " x", "ENDATA"}),
       {"skipped-section 2@6 GENCONS, CSECTION"}},
      {"N rows besides the objective", model({" N spare", " N other", "COLUMNS", " x spare 1 r1 1", "ENDATA"}),
       {"extra-objective 2@6 spare"}},
      {"lines in column 1 that name no section, where records are indented",
       model({"COLUMNS", " x obj 1", "RHSS", " RHS r1 4", "BOUNDZ", " UP BND x 1", "ENDATA"}),
       {"unknown-section 2@8 RHSS", "unknown-row 1@11 BND"}},
      {"records all in column 1 are no misspelt headers",
       model({"COLUMNS", "x obj 1", "y r1 2", "RHS", "RHS r1 4", "BOUNDS", "UP BND x 1", "ENDATA"}), {}},
      {"a comment or blank line between is looked through",
       model({"COLUMNS", " x obj 1", "* note", "", "   ", "XRHS r1 4", "ENDATA"}), {"unknown-section 1@11 XRHS"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    ReadOptions free;
    const Read fast = read_with(c.text, free);
    ASSERT_TRUE(fast.record.ok()) << fast.record.error().reason;
    EXPECT_EQ(said(fast.notices), c.want) << "default reader";
    // Any rule but the default takes the careful reader; these texts have one set each.
    ReadOptions careful;
    careful.sets = Sets::First;
    const Read slow = read_with(c.text, careful);
    ASSERT_TRUE(slow.record.ok());
    EXPECT_EQ(said(slow.notices), c.want) << "careful reader";
    EXPECT_EQ(record_difference(slow.record.value(), fast.record.value()), "");
  }
}

// A free-format reading counts the records that look like fixed-format text; the automatic
// one reads such a text in fixed columns and does not count them, and gives the careful
// automatic reading's model whichever path it takes.
TEST(Notices, FixedFormatSigns) {
  const std::string text =
      lines({"ROWS", fixed_line({"N", "COST"}), fixed_line({"L", "LIM 1"}), fixed_line({"G", "LIM 2"}), "COLUMNS",
             fixed_line({"", "X ONE", "COST", "1.", "LIM 1", "1."}), fixed_line({"", "Y", "LIM 2", "2."}), "RHS",
             fixed_line({"", "RHS 1", "LIM 1", "4."}), "BOUNDS", fixed_line({"UP", "BND 1", "Y", "3."}), "ENDATA"});
  // Free format: the ROWS names are cut at the blank (two rows LIM), a record's fields
  // shift, and five records look fixed: both rows, X's line, the RHS and the bound.
  ReadOptions free;
  EXPECT_EQ(said(read_with(text, free).notices),
            (std::vector<std::string>{"bad-number 1@11 Y", "unknown-row 4@6 ONE", "unknown-column 1@11 1",
                                      "fixed-format 5@3 LIM 1"}));
  ReadOptions automatic;
  automatic.format = Format::Auto;
  const Read got = read_with(text, automatic);
  ASSERT_TRUE(got.record.ok());
  EXPECT_EQ(said(got.notices), std::vector<std::string>{});
  EXPECT_EQ(testing::names_of(got.record.value().row_names), (std::vector<std::string>{"LIM 1", "LIM 2"}));
  automatic.sets = Sets::First;  // the careful reader from the start
  EXPECT_EQ(record_difference(read_with(text, automatic).record.value(), got.record.value()), "");
}

// A misspelt header makes the records after it fail where they cannot be read (an
// unknown row or bound type): the read fails at the misspelt line, whichever reader.
TEST(Notices, AMisspeltHeaderIsWhereTheReadFails) {
  struct Case {
    std::string text;
    uint64_t lineno;
    std::string word;
  };
  const Case cases[] = {
      {lines({"NAME m", "ROWS", " N obj", " L r1", "COLUMS", "    X01 r1 1", "ENDATA"}), 5, "COLUMS"},
      {model({"COLUMNS", " x r1 1", "BOUNDS", " UP BND x 1", "RANGS", "    RNG r1 4", "ENDATA"}), 10, "RANGS"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.word);
    for (const bool careful : {false, true}) {
      ReadOptions options;
      if (careful) options.repeated = Repeated::First;
      const Result<ModelRecord> got = read_mps(c.text, options);
      ASSERT_FALSE(got.ok());
      EXPECT_EQ(got.error().cause, FindingCode::UnknownSection);
      EXPECT_EQ(got.error().lineno, c.lineno);
      EXPECT_EQ(got.error().reason, "'" + c.word +
                                        "' in column 1 is no section keyword: the lines after it are read as records "
                                        "of the section before (a misspelt section header?)");
    }
  }
  // Without the misspelt line the failure is the record's own.
  EXPECT_EQ(read_mps(lines({"ROWS", " N obj", " L r1", "    X01 r1 1", "ENDATA"})).error().cause,
            FindingCode::UnknownRowType);
}

TEST(ReadingRules, SetsRepeatedBoundsAndFreeRows) {
  const std::string sets = model({"COLUMNS", " x obj 1 r1 1", "RHS", " R1 r1 4", " R2 r1 5", " R2 r2 6", "RANGES",
                                  " G1 r1 1", " G2 r2 2", " r1 3", "BOUNDS", " UP B1 x 5", " UP B2 x 7", " LO B2 x 1",
                                  "ENDATA"});
  ReadOptions first_set;
  first_set.sets = Sets::First;
  testing::expect_record(read_mps(sets, first_set).value(),
                         {.row_lower = {{1, 0}}, .row_upper = {{4, kInf}}, .col_lower = {{0}}, .col_upper = {{5}}},
                         "sets=first: the first set of each section, and records without a set name");
  testing::expect_record(testing::read_valid(sets),
                         {.row_lower = {{1, 6}}, .row_upper = {{4, 8}}, .col_lower = {{1}}, .col_upper = {{7}}},
                         "every set applies");

  // HiGHS's rule: a record that would set a side set before is passed over whole.
  struct Case {
    std::vector<std::string_view> bounds;
    double lower, upper;
    int integrality;
  };
  const Case cases[] = {
      {{" LO BND x 1", " LO BND x 2"}, 1, kInf, 0},
      {{" LO BND x 1", " FX BND x 3"}, 1, kInf, 0},   // FX sets the upper side too: passed over
      {{" UP BND x 5", " LI BND x 2"}, 2, 5, 1},      // independent sides: both apply
      {{" UP BND x 5", " UI BND x 7"}, 0, 5, 0},      // the integrality of a passed-over record too
      {{" UP BND x 5", " PL BND x", " FR BND x"}, 0, 5, 0},
      {{" BV BND x", " UP BND x 5"}, 0, 1, 1},
      {{" UP B1 x 3", " MI B2 x", " LO B2 x 1"}, -kInf, 3, 0},  // across sets
  };
  for (const Case& c : cases) {
    std::string text = model({"COLUMNS", " x obj 1 r1 1", "BOUNDS"});
    for (std::string_view line : c.bounds) text += std::string(line) + "\n";
    text += "ENDATA\n";
    ReadOptions first;
    first.repeated = Repeated::First;
    testing::expect_record(read_mps(text, first).value(),
                           {.col_lower = {{c.lower}}, .col_upper = {{c.upper}}, .integrality = {{c.integrality}}},
                           text);
  }

  const std::string free_rows = model({" N spare", " E r3", "COLUMNS", " x obj 1 spare 2", " x r3 3", "RHS",
                                       " RHS spare 9", "RANGES", " RNG spare 1", "ENDATA"});
  ReadOptions keep;
  keep.keep_free_rows = true;
  testing::expect_record(read_mps(free_rows, keep).value(),
                         {.row_names = {{"r1", "r2", "spare", "r3"}},
                          .row_lower = {{-kInf, 0, -kInf, 0}},
                          .row_upper = {{0, kInf, kInf, 0}},
                          .index = {{2, 3}},
                          .value = {{2, 3}}},
                         "free_rows=keep: a row without bounds, with its entries; RHS and RANGES do nothing to it");
}

}  // namespace
}  // namespace mopsel
