// The careful reader: what check finds (each code on a small text, in file order),
// what strict reading stops at, fixed columns, the automatic choice of format, and
// that the careful reader reads free format exactly as the default one.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "reader/read_mps.hpp"
#include "reader_test_support.hpp"

namespace mopsel {
namespace {

using testing::Expected;
using testing::fixed_line;
using testing::kInf;
using testing::lines;
using testing::read_valid;
using testing::record_difference;

using Found = std::vector<std::pair<uint64_t, std::string>>;  // (line, code) in file order

Found found(const std::string& text, Format format = Format::Free, size_t limit = 100) {
  ReadOptions options;
  options.format = format;
  options.limit = limit;
  Found out;
  for (const Finding& f : check_mps(text, options).findings) out.emplace_back(f.lineno, finding_name(f.code));
  return out;
}

// ROWS r1 (L), r2 (G), r3 (E), then the given sections.
std::string model(std::initializer_list<std::string_view> rest) {
  std::string text = lines({"NAME m", "ROWS", " N obj", " L r1", " G r2", " E r3"});
  for (std::string_view line : rest) {
    text += line;
    text += '\n';
  }
  return text;
}

TEST(Check, EachFindingOnItsLine) {
  struct Case {
    const char* why;
    std::string text;
    Found want;
  };
  const Case cases[] = {
      {"a clean model", model({"COLUMNS", " x obj 1 r1 2", "RHS", " RHS r1 4", "BOUNDS", " UP BND x 3", "ENDATA"}), {}},
      // Failures: reading goes on past them.
      {"no ENDATA", model({"COLUMNS", " x obj 1"}), {{8, "no-endata"}}},
      {"no ENDATA, and what the whole text holds", model({"COLUMNS", " x obj 1", " y r1 1", " x r2 1", "BOUNDS",
                                                          " UP BND y 1", " LO BND y 2"}),
       {{10, "duplicate-column"}, {13, "no-endata"}, {13, "bound-conflict"}}},
      {"unknown row and bound types", model({" X r4", "COLUMNS", " x r4 1", "BOUNDS", " ZZ BND x 1", "ENDATA"}),
       {{7, "unknown-row-type"}, {9, "unknown-row"}, {11, "unknown-bound-type"}}},
      {"names that are not UTF-8", lines({"NAME caf\xE9", "ROWS", " L r\xFF", "COLUMNS", " x\xFF r\xFF 1", "ENDATA"}),
       {{1, "invalid-utf8"}, {3, "invalid-utf8"}, {5, "invalid-utf8"}}},
      // What strict reading rejects.
      {"malformed numbers", model({"COLUMNS", " x obj 9/10 r1 1,5", "RHS", " RHS r1 0x1F", "ENDATA"}),
       {{8, "bad-number"}, {8, "bad-number"}, {10, "bad-number"}}},
      {"unknown names", model({"COLUMNS", " x r9 1", "RHS", " RHS r9 1", "RANGES", " RNG r9 1", "BOUNDS",
                               " UP BND y 1", "ENDATA"}),
       {{8, "unknown-row"}, {10, "unknown-row"}, {12, "unknown-row"}, {14, "unknown-column"}}},
      {"repeated entries", model({"COLUMNS", " x obj 1 r1 2", " x r1 3 obj 4", " y r2 1 r2 2", "ENDATA"}),
       {{9, "duplicate-entry"}, {9, "duplicate-entry"}, {10, "duplicate-entry"}}},
      {"a zero first is no repeat", model({"COLUMNS", " x r1 0 r1 2", "ENDATA"}), {}},
      {"skipped sections", model({"CSECTION c 0 QUAD", " x", "GENCONS", " g x", "ENDATA"}),
       {{7, "skipped-section"}, {9, "skipped-section"}}},
      {"misspelt headers where the records are indented (not where none is)",
       model({"COLUMNS", " x obj 1", "RHSS", " RHS r1 4", "RHS", "RHS r2 1", "RNGS r2 1", "BOUNDS", " UP BND x 1",
              "BNDS", "ENDATA"}),
       {{9, "unknown-section"}, {13, "several-sets"}, {16, "unknown-section"}, {16, "incomplete-record"}}},
      {"a misspelt header in ROWS", lines({"ROWS", " N obj", " L r1", "COLUMS", " x obj 1", "ENDATA"}),
       {{4, "unknown-section"}, {4, "incomplete-record"}, {5, "extra-fields"}, {5, "unknown-row-type"}}},
      {"Unicode blanks inside fields", model({"COLUMNS", " x\xC2\xA0obj 1", " y obj\v1 1", "ENDATA"}),
       {{8, "unicode-blank"}, {8, "incomplete-record"}, {9, "unicode-blank"}, {9, "unknown-row"}}},
      {"trimmed Unicode blanks are harmless", model({"RHS", "\xC2\xA0 RHS r1 4\xE3\x80\x80", "ENDATA"}), {}},
      // Warnings.
      {"several sets, each reported once",
       model({"COLUMNS", " x r1 1", "RHS", " A r1 1", " B r2 1", " B r3 1", "BOUNDS", " UP S x 1", " LO T x 0",
              "ENDATA"}),
       {{11, "several-sets"}, {15, "several-sets"}}},
      {"repeated RHS, RANGES and bounds within a set",
       model({"COLUMNS", " x r1 1", "RHS", " RHS r1 1 r1 2", "RANGES", " RNG r3 1", " RNG r3 2", "BOUNDS",
              " UP BND x 1", " FX BND x 2", " LO BND x 0", "ENDATA"}),
       {{10, "duplicate-rhs"}, {13, "duplicate-range"}, {16, "duplicate-bound"}, {17, "duplicate-bound"}}},
      {"contradicting and fractional bounds",
       model({"COLUMNS", " MARKER 'MARKER' 'INTORG'", " x r1 1", " MARKER 'MARKER' 'INTEND'", " y r1 1", "BOUNDS",
              " UP BND x 2.5", " LO BND y 5", " UP BND y 3", "ENDATA"}),
       {{13, "fractional-integer-bound"}, {15, "bound-conflict"}}},
      {"N row besides the objective", model({" N cost2", "ENDATA"}), {{7, "extra-objective"}}},
      // A CR that does not end a line separates fields.
      {"byte-order mark, CR, long line",
       "\xEF\xBB\xBFNAME m\nROWS\r\n N obj\r\n L r1\rr\n* " + std::string(5000, 'c') + "\nENDATA\n",
       {{1, "byte-order-mark"}, {4, "cr-line-end"}, {4, "extra-fields"}, {5, "long-line"}}},
      {"more fields than the section uses",
       model({" L r4 extra", "COLUMNS", " x obj 1 r1 1 r2", " y r1 1 r2 2 r3 3", "RHS", " RHS r1 1 r2 2 r3",
              " r1 1 r2 2 r3 3 r1", "BOUNDS", " UP BND x 1 9", " UP x 1 9", "ENDATA"}),
       {{7, "extra-fields"}, {9, "extra-fields"}, {10, "extra-fields"}, {12, "extra-fields"},
        {13, "extra-fields"}, {15, "extra-fields"}, {16, "extra-fields"}}},
      {"BV with 1 says nothing new, FR with a value does",
       model({"COLUMNS", " x r1 1", "BOUNDS", " BV BND x 1", " FR BND x 5", "ENDATA"}),
       {{11, "extra-fields"}, {11, "duplicate-bound"}}},
      {"incomplete records", model({" L", "COLUMNS", " x r1", " x r1 1 r2", "RHS", " RHS", " RHS r1", "BOUNDS",
                                    " UP", " UP BND x", "ENDATA"}),
       {{7, "incomplete-record"}, {9, "incomplete-record"}, {10, "incomplete-record"}, {12, "incomplete-record"},
        {13, "incomplete-record"}, {15, "incomplete-record"}, {16, "incomplete-record"}}},
      // The blank-only line ends ROWS, so the text after it is outside any section.
      {"text outside any section", lines({"a model by hand", "ROWS", " N obj", "", "  ", "notes here", "ENDATA"}),
       {{1, "ignored-line"}, {6, "ignored-line"}}},
      {"markers", model({"COLUMNS", " M 'MARKER' 'SOSORG'", " M 'marker' 'INTORG'", " M MARKER 'INTORG'", "ENDATA"}),
       {{8, "marker"}, {9, "marker"}, {9, "unknown-row"}, {10, "marker"}, {10, "unknown-row"}}},
      {"rows and columns named again",
       model({" L r1", "COLUMNS", " x r1 1", " y r1 1", " x r2 1", "BOUNDS", " UP BND z 1", " UP BND z 2", "ENDATA"}),
       {{7, "duplicate-row"}, {11, "duplicate-column"}, {13, "unknown-column"}, {14, "duplicate-bound"}}},
      {"NaN values", model({"COLUMNS", " x r1 nan", "RHS", " RHS r1 -NaN", "ENDATA"}), {{8, "nan-value"}, {10, "nan-value"}}},
      {"OBJSENSE words", lines({"OBJSENSE HIGH", "OBJSENSE", "    BIGGEST", "    MAXIMISE", "ENDATA"}),
       {{1, "unknown-sense"}, {3, "unknown-sense"}}},
      {"entries without effect", model({" N spare", "RHS", " RHS spare 1", "RANGES", " RNG obj 1", "ENDATA"}),
       {{7, "extra-objective"}, {9, "ignored-entry"}, {11, "ignored-entry"}}},
      // The sections beyond a linear program.
      {"quadratic sections", model({"COLUMNS", " x r1 1", " y r1 1", "QUADOBJ", " x y 1", " y x 1", " x x 1",
                                    " x x 2", " w w 1", "QMATRIX", " y y 1", "ENDATA"}),
       {{12, "both-triangles"}, {14, "repeated-quadratic-entry"}, {15, "unknown-column"},
        {16, "several-quadratic-sections"}}},
      {"quadratic sections that fail", model({"COLUMNS", " x r1 1", "QMATRIX", " x x 1", " x y 2", "QCMATRIX nope",
                                              " x x 1", "QCMATRIX r1", " x x 1", "QSECTION r1", " x x 1", "ENDATA"}),
       {{11, "unknown-column"}, {11, "asymmetric-matrix"}, {12, "unknown-quadratic-row"},
        {16, "repeated-quadratic-row"}}},
      {"a quadratic section of another N row", model({" N spare", "COLUMNS", " x r1 1", "QCMATRIX spare", " x x 1",
                                                      "ENDATA"}),
       {{7, "extra-objective"}, {10, "ignored-entry"}}},
      {"SOS sets", model({"COLUMNS", " x r1 1", "SOS", "    x  1", " S1 s", "    x  1", "    x  2", "    w",
                          " S1 t 1.5", " S3 u", "ENDATA"}),
       {{10, "sos-entry-outside-set"}, {13, "repeated-sos-column"}, {14, "unknown-column"},
        {14, "incomplete-record"}, {15, "bad-number"}, {16, "unknown-sos-type"}}},
      {"indicators", model({"COLUMNS", " x r1 1", " MARKER 'MARKER' 'INTORG'", " b r1 1", " MARKER 'MARKER' 'INTEND'",
                            "BOUNDS", " UP BND b 1", "INDICATORS", " IF r1 b", " IF r1 b 0", " IF obj b 1",
                            " IF r9 b 1", " IF r2 x 1", " IF r3 b 2", "ENDATA"}),
       {{15, "incomplete-record"}, {16, "repeated-indicator"}, {17, "indicator-on-n-row"}, {18, "unknown-row"},
        {19, "non-binary-indicator"}, {20, "bad-indicator"}}},
      // Information.
      {"objective offset, large values",
       model({"COLUMNS", " x r1 1", "RHS", " RHS obj 5 r1 1e30", " RHS obj 6", "BOUNDS", " UP BND x -1e20", "ENDATA"}),
       {{10, "objective-offset"}, {10, "large-value"}, {11, "duplicate-rhs"}, {13, "large-value"},
        {13, "bound-conflict"}}},
  };
  for (const Case& c : cases) EXPECT_EQ(found(c.text), c.want) << c.why;
}

TEST(Check, MessagesSayWhatTheReaderMakesOfIt) {
  struct Case {
    std::string text;
    FindingCode code;
    std::string message;  // of the first finding of that code
  };
  const Case cases[] = {
      {model({"COLUMNS", " x r1 9/10", "ENDATA"}), FindingCode::BadNumber, "'9/10' is not a number (a fraction): read as 0"},
      {model({"COLUMNS", " x r1 1e", "ENDATA"}), FindingCode::BadNumber, "'1e' is not a number (text after the number): read as 0"},
      {model({"COLUMNS", " x r1 1_000", "ENDATA"}), FindingCode::BadNumber, "'1_000' is not a number (a digit separator): read as 0"},
      {model({"COLUMNS", " x r1 50%", "ENDATA"}), FindingCode::BadNumber, "'50%' is not a number (a percentage): read as 0"},
      {model({"COLUMNS", " x r1 one", "ENDATA"}), FindingCode::BadNumber, "'one' is not a number: read as 0"},
      {model({"COLUMNS", " x r1 2 r1 3", "ENDATA"}), FindingCode::DuplicateEntry, "repeated entry for column 'x' in row 'r1': the first value, 2, is kept"},
      {model({"RHS", " RHS r1 1", " RHS r1 2", "RHS", " RHS r1 3", "ENDATA"}), FindingCode::DuplicateRhs,
       "repeated RHS for row 'r1' in set 'RHS': the first value, 1, is kept"},
      {model({"RHS", " RHS r2 1", "RANGES", "RHS", " RHS r2 3", "ENDATA"}), FindingCode::DuplicateRhs,
       "repeated RHS for row 'r2' in set 'RHS': the later value, 3, replaces 1"},
      {model({"RANGES", " RNG r1 1", " RNG r1 2", "ENDATA"}), FindingCode::DuplicateRange,
       "repeated RANGES entry for row 'r1' in set 'RNG': the later value, 2, decides"},
      {model({"COLUMNS", " x r1 1", "BOUNDS", " BV BND x", " UP BND x 5", "ENDATA"}), FindingCode::DuplicateBound,
       "repeated upper bound for column 'x' in set 'BND': the later record (UP) makes the upper bound 5 instead of 1 "
       "(repeated=\"first\" keeps the first record)"},
      // What changed is said side by side.
      {model({"COLUMNS", " x r1 1", "BOUNDS", " PL BND x", " FR BND x", "ENDATA"}), FindingCode::DuplicateBound,
       "repeated upper bound for column 'x' in set 'BND': the later record (FR) sets the upper bound to inf again and "
       "makes the lower bound -inf instead of 0 (repeated=\"first\" keeps the first record)"},
      {model({"COLUMNS", " x r1 1", "BOUNDS", " UP BND x 4", " MI BND x", " FX BND x 2", "ENDATA"}),
       FindingCode::DuplicateBound,
       "repeated lower and upper bounds for column 'x' in set 'BND': the later record (FX) makes the lower bound 2 "
       "instead of -inf and makes the upper bound 2 instead of 4 (repeated=\"first\" keeps the first record)"},
      {model({"COLUMNS", " x r1 1", "BOUNDS", " UP B1 x 4", " UP B2 x 2", "ENDATA"}), FindingCode::SeveralSets,
       "BOUNDS set 'B2' besides 'B1': every set applies; a later bound replaces an earlier one (repeated=\"first\" "
       "keeps the first); sets=\"first\" applies only 'B1'"},
      {model({"COLUMNS", " x r1 1", "RHSS", "ENDATA"}), FindingCode::UnknownSection,
       "'RHSS' in column 1 is no section keyword: the line is read as a COLUMNS record (a misspelt section header?)"},
      {model({"COLUMNS", " x r1 1", "BOUNDS", " LO B x 4", " UP C x 2", "ENDATA"}), FindingCode::BoundConflict,
       "column 'x': lower bound 4 is above upper bound 2"},
      {model({"GENCONS", "ENDATA"}), FindingCode::SkippedSection, "section GENCONS is not supported: its records are skipped"},
      {model({"COLUMNS", " x r1 1", "QUADOBJ", " x x 1", " x x 2", "ENDATA"}), FindingCode::RepeatedQuadraticEntry,
       "QUADOBJ entry ('x', 'x') is given again: the values add up"},
      {model({"COLUMNS", " x r1 1", " y r1 1", "QSECTION obj", " x y 1", " y x 2", "ENDATA"}),
       FindingCode::BothTriangles,
       "QSECTION gives ('x', 'y') in both triangles: both values count (QMATRIX is the section that takes both halves)"},
      {model({"COLUMNS", " x r1 1", "QUADOBJ", "QMATRIX", "ENDATA"}), FindingCode::SeveralQuadraticSections,
       "QMATRIX after another section of the objective's quadratic part: the entries of both add up"},
      {model({"COLUMNS", " x r1 1", "QUADOBJ", " x w 1", "ENDATA"}), FindingCode::UnknownColumn,
       "unknown column 'w' in QUADOBJ: a new column is made"},
      {model({"SOS", " S1 s", "    x  1", "    x  2", "ENDATA"}), FindingCode::RepeatedSosColumn,
       "column 'x' is named again in SOS set 's': both members are kept"},
      {model({"SOS", "    x  1", "ENDATA"}), FindingCode::SosEntryOutsideSet,
       "SOS member 'x' before any set header (S1 or S2): ignored"},
      {model({"SOS", " S1 s 1e3x", "ENDATA"}), FindingCode::BadNumber,
       "SOS priority '1e3x' is not a whole number: read as 0"},
      {model({"COLUMNS", " x r1 1", "INDICATORS", " IF r1 x 1", "ENDATA"}), FindingCode::NonBinaryIndicator,
       "the indicator column 'x' of row 'r1' is not binary (not integer, bounds [0, inf])"},
      {model({"COLUMNS", " x r1 1", "INDICATORS", " IF obj x 1", "ENDATA"}), FindingCode::IndicatorOnNRow,
       "INDICATORS row 'obj' is an N row: the indicator is ignored"},
      {model({"COLUMNS", " x r1 1", "INDICATORS", " IF r1 x 1", " IF r1 x 0", "ENDATA"}),
       FindingCode::RepeatedIndicator, "row 'r1' has another indicator: both are kept"},
      {model({"COLUMNS", " x r1 1", "INDICATORS", " IF r9 x 1", "ENDATA"}), FindingCode::UnknownRow,
       "unknown row 'r9' in INDICATORS: the indicator is ignored"},
      {model({" L ab\xC2\xA0" "cd", "ENDATA"}), FindingCode::UnicodeBlank, "U+00A0 at column 6 is not a field separator: it stays inside the field "
                                              "'ab\xC2\xA0" "cd'"},
      {model({"COLUMNS", " x r1 1 r2 1 r3", "ENDATA"}), FindingCode::ExtraFields,
       "COLUMNS record with more fields than it uses (a column and two pairs): the rest of the line is ignored "
       "(names with blanks? a fixed-format file reads with format=\"fixed\")"},
  };
  for (const Case& c : cases) {
    std::string got = "(none)";
    for (const Finding& f : check_mps(c.text, ReadOptions{}).findings) {
      if (f.code == c.code) {
        got = f.message;
        break;
      }
    }
    EXPECT_EQ(got, c.message);
  }
}

TEST(Check, LimitKeepsTheFirstOfEachCodeAndCountsTheRest) {
  std::string text = model({"COLUMNS"});
  for (int i = 0; i < 50; ++i) text += " x r9 1 r1 bad\n";
  text += "ENDATA\n";
  ReadOptions options;
  options.limit = 3;
  const CheckReport report = check_mps(text, options);
  ASSERT_EQ(report.findings.size(), 6u);
  EXPECT_EQ(report.findings[0].lineno, 8u);
  EXPECT_EQ(report.findings[5].lineno, 10u);
  EXPECT_EQ(report.counts[static_cast<size_t>(FindingCode::UnknownRow)], 50u);
  EXPECT_EQ(report.counts[static_cast<size_t>(FindingCode::BadNumber)], 50u);
}

// Strict reading fails at the first finding a check reports as an error, and with
// the same code and line; without strict, the careful reader gives the default record.
TEST(Strict, StopsWhereCheckFindsTheFirstError) {
  const std::string texts[] = {
      model({"COLUMNS", " x obj 1 r1 1,5", "ENDATA"}),
      model({"COLUMNS", " x obj 1 r1 1", " x r1 2", "ENDATA"}),
      model({"COLUMNS", " x r1 1", "BOUNDS", " UP BND y 1", "ENDATA"}),
      model({"RHS", " RHS r7 1", "ENDATA"}),
      model({"QCMATRIX r1", " x x 1", "ENDATA"}),
      model({"COLUMNS", " x\xE2\x80\x83obj 1", "ENDATA"}),
      model({"RANGES", " RNG r1 abc", "ENDATA"}),
  };
  for (const std::string& text : texts) {
    SCOPED_TRACE(text);
    ReadOptions strict;
    strict.strict = true;
    Result<ModelRecord> got = read_mps(text, strict);
    ASSERT_FALSE(got.ok());
    const std::vector<Finding> findings = check_mps(text, ReadOptions{}).findings;
    ASSERT_FALSE(findings.empty());
    EXPECT_EQ(finding_name(got.error().cause), finding_name(findings[0].code));
    EXPECT_EQ(got.error().lineno, findings[0].lineno);
    EXPECT_EQ(got.error().reason, findings[0].message);
    EXPECT_EQ(got.error().message, testing::kFailure);
    ReadOptions careful;
    careful.sets = Sets::First;  // any rule but the default takes the careful reader (one set each here)
    Result<ModelRecord> tolerant = read_mps(text, careful);
    ASSERT_TRUE(tolerant.ok());
    EXPECT_EQ(record_difference(tolerant.value(), read_valid(text)), "");
  }
  ReadOptions strict;
  strict.strict = true;
  EXPECT_TRUE(read_mps(model({"COLUMNS", " x obj 1 r1 2", " N spare", "ENDATA"}), strict).ok())
      << "warnings do not fail a strict read";
}

// The careful reader in free format makes the default reader's record, whatever the text.
TEST(Careful, FreeFormatReadsAsTheDefaultReader) {
  const std::string texts[] = {
      lines({"NAME demo", "ROWS", " N cost", " L c1", " G c2", " E c3", "COLUMNS", "    x  cost  1  c1  1",
             "    x  c2  2", "    MARKER  'MARKER'  'INTORG'", "    y  cost  2  c1  3", "    MARKER  'MARKER'  'INTEND'",
             "RHS", "    RHS1  cost  -1.5  c1  4", "    RHS1  c2  1  c3  2", "RANGES", "    RNG1  c1  3", "BOUNDS",
             " UP BND1  x  10", "ENDATA"}),
      model({"COLUMNS", " x obj 1 r1 1", " y r2 1", " x r3 1", "BOUNDS", " UP BND x 4", " BV BND z", " MI y",
             "COLUMNS", " w r1 5", "RHS", " r1 1 r2 2 r3 3", "RANGES", " R r3 -2", " r1 4", "ENDATA"}),
      model({"OBJSENSE", "  MAX", "COLUMNS", " x obj 1 r1 2 r1 3", " x obj 4 r9 1", "QUADOBJ", " x x 1", "RHS",
             " RHS r1 1 r1 2", "ENDATA", "junk"}),
      lines({"ROWS", " N a", " N b", " L r", "COLUMNS", " x b 1 r 1", "RHS", " RHS a 3 b 4", "ENDATA"}),
  };
  for (const std::string& text : texts) {
    ReadOptions careful;
    careful.sets = Sets::First;  // the careful reader (one set each here)
    Result<ModelRecord> got = read_mps(text, careful);
    ASSERT_TRUE(got.ok()) << text;
    EXPECT_EQ(record_difference(got.value(), read_valid(text)), "") << text;
  }
}

ModelRecord read_fixed(const std::string& text, Format format = Format::Fixed) {
  ReadOptions options;
  options.format = format;
  Result<ModelRecord> got = read_mps(text, options);
  if (!got.ok()) {
    ADD_FAILURE() << got.error().reason << " at line " << got.error().lineno;
    return ModelRecord{};
  }
  return std::move(got).value();
}

TEST(FixedFormat, FieldsByColumn) {
  const std::string text = lines({
      "NAME          FIXED ONE",
      "ROWS",
      fixed_line({"N", "COST"}),
      fixed_line({"L", "LIM 1"}),
      fixed_line({"G", "LIM 2"}),
      fixed_line({"E", "MY EQN"}),
      "COLUMNS",
      fixed_line({"", "MARKER", "'MARKER'", "", "'INTORG'"}),
      fixed_line({"", "X ONE", "COST", "1.", "LIM 1", "1."}),
      fixed_line({"", "X ONE", "LIM 2", "1."}),
      fixed_line({"", "MARKER", "'MARKER'", "", "'INTEND'"}),
      // A value right-aligned in its field; columns after 61 are not read.
      fixed_line({"", "Y TWO", "COST", "          2.", "MY EQN", "-1."}) + "           SEQ00001",
      "RHS",
      fixed_line({"", "", "LIM 1", "4.", "LIM 2", "1."}),  // no set name
      fixed_line({"", "RHS 1", "MY EQN", "7."}),
      "RANGES",
      fixed_line({"", "RNG", "LIM 1", "2.5"}),
      "BOUNDS",
      fixed_line({"UP", "BND", "X ONE", "4."}),
      fixed_line({"MI", "BND", "Y TWO"}),
      "ENDATA",
  });
  const ModelRecord m = read_fixed(text);
  testing::expect_record(m,
                         {.name = "FIXED",
                          .objective_name = "COST",
                          .row_names = {{"LIM 1", "LIM 2", "MY EQN"}},
                          .row_lower = {{1.5, 1, 7}},
                          .row_upper = {{4, kInf, 7}},
                          .col_names = {{"X ONE", "Y TWO"}},
                          .cost = {{1, 2}},
                          .col_lower = {{0, -kInf}},
                          .col_upper = {{4, kInf}},
                          .integrality = {{1, 0}},
                          .start = {{0, 2, 3}},
                          .index = {{0, 1, 2}},
                          .value = {{1, 1, -1}}},
                         "fixed columns");
  EXPECT_EQ(found(text, Format::Fixed), Found{}) << "a clean fixed-format file";
}

// The sections beyond a linear program in fixed columns: names with blanks in quadratic
// records, SOS headers (type in columns 2-3) and members, INDICATORS records.
TEST(FixedFormat, SectionsBeyondLinear) {
  const std::string text = lines({
      "ROWS",
      fixed_line({"N", "COST"}),
      fixed_line({"L", "LIM 1"}),
      fixed_line({"G", "LIM 2"}),
      "COLUMNS",
      fixed_line({"", "X ONE", "LIM 1", "1."}),
      fixed_line({"", "Y TWO", "LIM 1", "1."}),
      fixed_line({"", "MARKER", "'MARKER'", "", "'INTORG'"}),
      fixed_line({"", "B", "LIM 2", "1."}),
      fixed_line({"", "MARKER", "'MARKER'", "", "'INTEND'"}),
      "BOUNDS",
      fixed_line({"UP", "BND", "B", "1."}),
      "SOS",
      fixed_line({"S2", "SET A", "3"}),
      fixed_line({"", "Y TWO", "2."}),
      fixed_line({"", "X ONE"}),
      fixed_line({"S1", "SET B"}),
      fixed_line({"", "B", "", "20"}),  // the weight in the column of values (field 4)
      "QUADOBJ",
      fixed_line({"", "X ONE", "X ONE", "2."}),
      fixed_line({"", "Y TWO", "X ONE", "1."}),
      "QCMATRIX   LIM 1",
      fixed_line({"", "X ONE", "Y TWO", "0.5"}),
      fixed_line({"", "Y TWO", "X ONE", "0.5"}),
      "INDICATORS",
      fixed_line({"IF", "LIM 2", "B", "0"}),
      "ENDATA",
  });
  const ModelRecord m = read_fixed(text);
  EXPECT_EQ(testing::parts_text(m),
            "H X ONE.X ONE=2 X ONE.Y TWO=1 | LIM 1: X ONE.Y TWO=1 | S2 SET A 3: Y TWO=2 X ONE=0 | S1 SET B 0: B=20 | "
            "IF LIM 2 B 0");
}

TEST(FixedFormat, LinesThatDoNotFollowTheColumns) {
  const std::string text = lines({
      "ROWS",
      " N  COST",
      " L  R1",
      "  L R2",  // the type in column 3, the name in 5-12: read alike
      "COLUMNS",
      fixed_line({"", "X", "R1", "1."}),
      "    Y       R1               2.",  // the row name in columns 13-14, outside any field
      fixed_line({"", "Z", "R1"}),       // no value: read as 0, so no entry
      "RHS",
      fixed_line({"", "", "R2", "3."}),
      "ENDATA",
  });
  const ModelRecord m = read_fixed(text);
  testing::expect_record(m, {.row_names = {{"R1", "R2"}}, .row_upper = {{0, 3}}, .col_names = {{"X", "Y", "Z"}},
                             .start = {{0, 1, 1, 1}}},
                         "misaligned");
  EXPECT_EQ(found(text, Format::Fixed),
            (Found{{7, "misaligned-field"}, {7, "incomplete-record"}, {8, "incomplete-record"}}));
}

TEST(AutoFormat, FixedOnlyWhenARecordNeedsIt) {
  struct Case {
    const char* why;
    std::string text;
    bool fixed;
  };
  const std::string columns = "COLUMNS\n    X ONE     COST         1.   LIM 1        1.\n";
  const Case cases[] = {
      {"a row name with a blank", lines({"ROWS", " N  COST", " L  LIM 1", "ENDATA"}), true},
      {"a row name with a blank, too long for fixed columns", lines({"ROWS", " N  COST", " L  LIMIT NUMBER 1", "ENDATA"}),
       false},
      {"a column name with a blank", lines({"ROWS", " N  COST", " L  LIM1", "COLUMNS", "    X 1       LIM1  1.", "ENDATA"}),
       true},
      {"an unknown row, then a known one", lines({"ROWS", " N  COST", " L  LIM1", "COLUMNS", "    X  LIMIT1 LIM1", "ENDATA"}),
       false},
      {"an RHS set name with a blank", lines({"ROWS", " N  COST", " L  LIM1", "RHS", "    RHS 1     LIM1  4.", "ENDATA"}),
       true},
      {"a BOUNDS set name with a blank",
       lines({"ROWS", " L  R", "COLUMNS", "    X  R  1.", "BOUNDS", " UP BND 1     X  4.", "ENDATA"}), true},
      {"an extra field in BOUNDS", lines({"ROWS", " L  R", "COLUMNS", "    X  R  1.", "BOUNDS", " UP BND X 4. 5.", "ENDATA"}),
       false},
      {"free format with long names", model({"COLUMNS", " a_long_column_name obj 1 r1 2", "ENDATA"}), false},
      // A text that fails in free format fails, whatever follows.
      {"a failure before the record", lines({"ROWS", " N  COST", " X  R", " L  LIM 1", "ENDATA"}), false},
  };
  for (const Case& c : cases) {
    const Found got = found(c.text, Format::Auto);
    const bool switched = !got.empty() && got[0].second == "fixed-format";
    EXPECT_EQ(switched, c.fixed) << c.why;
    ReadOptions automatic;
    automatic.format = Format::Auto;
    Result<ModelRecord> got_auto = read_mps(c.text, automatic);
    ReadOptions chosen;
    chosen.format = c.fixed ? Format::Fixed : Format::Free;
    Result<ModelRecord> got_chosen = read_mps(c.text, chosen);
    ASSERT_EQ(got_auto.ok(), got_chosen.ok()) << c.why;
    if (got_auto.ok()) {
      EXPECT_EQ(record_difference(got_auto.value(), got_chosen.value()), "") << c.why;
    }
  }
}

}  // namespace
}  // namespace mopsel
