// Text layer: lines, comments, classification, fields, numbers, counts, hints,
// UTF-8 decoding and trimming.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "reader/text/fixed_fields.hpp"
#include "reader/text/keywords.hpp"
#include "reader/text/lines.hpp"
#include "reader/text/locate.hpp"
#include "reader/text/numbers.hpp"
#include "reader/records/reader_state.hpp"
#include "reader/text/size_hints.hpp"
#include "reader/text/utf8.hpp"
#include "reader_test_support.hpp"

namespace mopsel {
namespace {

using testing::kInf;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

using testing::ExactBuffer;

struct NumberCase {
  std::string_view field;
  double expected;
};

class ParseNumberTest : public ::testing::TestWithParam<NumberCase> {};

TEST_P(ParseNumberTest, ConvertsExactlyToTheExpectedDouble) {
  const NumberCase& c = GetParam();
  const ExactBuffer field(c.field);
  const double got = parse_number(field.view);
  if (std::isnan(c.expected)) {
    EXPECT_TRUE(std::isnan(got)) << "field '" << c.field << "' gave " << got;
  } else {
    // Bit patterns: 0.0 and -0.0 differ, and rounding must be exact.
    EXPECT_EQ(std::bit_cast<uint64_t>(got), std::bit_cast<uint64_t>(c.expected))
        << "field '" << c.field << "' gave " << got << ", expected " << c.expected;
  }
  // Whatever does not read as zero is in the grammar (zeros are told apart below).
  if (got != 0.0) {
    EXPECT_TRUE(is_mps_number(field.view)) << "'" << c.field << "'";
  }
}

// The grammar check tells a number that is zero from a field that reads as zero only
// because it is malformed.
TEST(IsMpsNumber, ZerosWrittenAsNumbersAndEverythingElse) {
  for (const std::string_view zero : {"0", "-0", "+0", "0.", ".0", "0e5", "0D1", "-0.0E-3", "1e-400", "-1d-999"}) {
    const ExactBuffer field(zero);
    EXPECT_TRUE(is_mps_number(field.view)) << zero;
    EXPECT_EQ(parse_number(field.view), 0.0) << zero;
  }
  for (const std::string_view bad : {"", "1.0x", "1,5", "e5", "1e", "1e+", "+", "-", ".", "+-1", "--1", "nan(1)",
                                     "nanx", "infinite", "0x10", "1_000", "\v1", "1e5.", "1DD5", "1De5", "D5",
                                     "9/10", "50%", "1 000"}) {
    const ExactBuffer field(bad);
    EXPECT_FALSE(is_mps_number(field.view)) << bad;
    EXPECT_EQ(parse_number(field.view), 0.0) << bad;
  }
}

using N = NumberCase;
INSTANTIATE_TEST_SUITE_P(
    Grammar, ParseNumberTest,
    ::testing::Values(
        // Plain decimals, signs, points.
        N{"1", 1.0}, N{"-2.5", -2.5}, N{"+5", 5.0}, N{"5.", 5.0}, N{".5", 0.5}, N{"+.5e-1", 0.05},
        N{"-.5", -0.5}, N{"00012", 12.0}, N{"1E5", 1e5}, N{"1e+5", 1e5}, N{"-0", -0.0}, N{"+0", 0.0},
        // Fortran exponents: only the first D is replaced.
        N{"1.5D+03", 1500.0}, N{"1.5d3", 1500.0}, N{"2D-1", 0.2}, N{"+1D2", 100.0}, N{"1DD5", 0.0},
        N{"1D", 0.0}, N{"D5", 0.0}, N{"1De5", 0.0},
        N{"1.00000000000000000000000000000000000000000000000000000000000000000000D2", 100.0},
        // Words.
        N{"Infinity", kInf}, N{"-inf", -kInf}, N{"+INF", kInf}, N{"INFINITY", kInf}, N{"NaN", kNaN},
        N{"nan", kNaN}, N{"-nan", kNaN}, N{"+nan", kNaN},
        // Range: overflow to infinity, underflow to zero, 1e30 is an ordinary number.
        N{"1e400", kInf}, N{"-1e400", -kInf}, N{"1e-400", 0.0}, N{"-1e-400", -0.0}, N{"1e30", 1e30},
        N{"1D400", kInf}, N{"1.7976931348623159e308", kInf}, N{"-2.4703282292062327e-324", -0.0},
        N{"2.4703282292062328e-324", 5e-324}, N{"0.000123e-321", 0.0}, N{"-12345e-330", -0.0},
        N{"00.0001e313", kInf}, N{"00.0001e308", 1e304}, N{"1e99999999999", kInf}, N{"1e-99999999999", 0.0}, N{"0e99999999999", 0.0},
        N{"1000000000000000000000000000000000000000000000000000e300", kInf},
        // Correct rounding, ties to even.
        N{"0.1", 0.1}, N{"9007199254740993", 9007199254740992.0}, N{"9007199254740995", 9007199254740996.0},
        N{"2.2250738585072011e-308", 2.2250738585072011e-308},
        // Everything outside the grammar, and valid prefixes, read as 0.0.
        N{"", 0.0}, N{"1.0x", 0.0}, N{"1,5", 0.0}, N{"e5", 0.0}, N{"1e", 0.0}, N{"1e+", 0.0}, N{"+", 0.0},
        N{"-", 0.0}, N{".", 0.0}, N{"+-1", 0.0}, N{"++1", 0.0}, N{"-+1", 0.0}, N{"--1", 0.0},
        N{"nan(1)", 0.0}, N{"nan()", 0.0}, N{"-nan(x)", 0.0}, N{"nanx", 0.0}, N{"na", 0.0},
        N{"infinite", 0.0}, N{"infinityx", 0.0}, N{"0x10", 0.0}, N{"1_000", 0.0}, N{"\v1", 0.0},
        N{"1\v", 0.0}, N{".e1", 0.0}, N{"1e5.", 0.0}, N{"1.5.", 0.0}));

struct CountCase {
  std::string_view text;
  bool present;
  uint64_t value;
};

class ParseCountTest : public ::testing::TestWithParam<CountCase> {};

TEST_P(ParseCountTest, AcceptsOnlyPlainCounts) {
  const CountCase& c = GetParam();
  const OptionalCount got = parse_count(c.text);
  EXPECT_EQ(got.present, c.present) << "'" << c.text << "'";
  if (c.present) {
    EXPECT_EQ(got.value, c.value) << "'" << c.text << "'";
  }
}

using C = CountCase;
INSTANTIATE_TEST_SUITE_P(
    Hints, ParseCountTest,
    ::testing::Values(C{" 1200", true, 1200}, C{"\t(3400)", true, 3400}, C{"((  12 ))", true, 12},
                      C{"( +5 )", true, 5}, C{"+7", true, 7}, C{"0", true, 0},
                      C{"\xC2\xA0" "9\xE3\x80\x80", true, 9}, C{"18446744073709551615", true, UINT64_MAX},
                      C{"18446744073709551616", false, 0}, C{"99999999999999999999", false, 0},
                      C{"", false, 0}, C{"  ", false, 0}, C{"+", false, 0}, C{"-", false, 0},
                      C{"-1", false, 0}, C{"12a", false, 0}, C{"1 2", false, 0},
                      C{"10 COLUMNS: 20", false, 0}, C{"()", false, 0}, C{"++1", false, 0}));

TEST(NextLine, SplitsAtLfAndDropsOnlyTheCrBeforeIt) {
  struct Case {
    std::string_view text;
    std::vector<std::string> lines;
  };
  const Case cases[] = {
      {"", {}},         {"a", {"a"}},           {"a\nb", {"a", "b"}}, {"a\nb\n", {"a", "b"}},
      {"\n\n", {"", ""}}, {"\r\n", {""}},          {"a\r", {"a\r"}},     {"a\r\r\n", {"a\r"}},
      {"a\r\nb\r\n", {"a", "b"}},  {"x\r\ny\nz", {"x", "y", "z"}},
      {"a\rb\n", {"a\rb"}},      // a lone CR stays inside the line
      {"a\rb\rc", {"a\rb\rc"}},  // CR-only line ends make one line
  };
  for (const Case& c : cases) {
    const ExactBuffer text(c.text);
    LineCursor cursor = line_cursor(text.view);
    std::vector<std::string> got;
    std::string_view line;
    while (next_line(cursor, line)) got.emplace_back(line);
    EXPECT_EQ(got, c.lines) << "text '" << c.text << "'";
  }
}

TEST(IsCommentLine, OnlyTheFirstByteCounts) {
  const std::pair<std::string_view, bool> cases[] = {{"* comment", true}, {"*", true}, {"$ note", true},
                                                     {"$", true}, {" * not", false}, {"\t$x", false},
                                                     {"", false}, {"x*", false}};
  for (const auto& [line, comment] : cases) EXPECT_EQ(is_comment_line(line), comment) << line;
}

TEST(KeywordKind, EveryKeywordAndNothingElse) {
  using enum HeaderKind;
  const std::pair<std::string_view, HeaderKind> cases[] = {
      {"NAME", Name},         {"OBJSENSE", ObjSense},    {"ROWS", Rows},
      {"COLUMNS", Columns},   {"RHS", Rhs},              {"BOUNDS", Bounds},
      {"RANGES", Ranges},     {"ENDATA", EndData},       {"SOS", Sos},
      {"SETS", Unsupported},  {"PWLOBJ", Unsupported},   {"PWLNAM", Unsupported},
      {"PWLCON", Unsupported}, {"QUADOBJ", QuadObj},     {"QMATRIX", QMatrix},
      {"GENCONS", Unsupported}, {"QSECTION", QSection},  {"QCMATRIX", QcMatrix},
      {"CSECTION", Unsupported}, {"USERCUTS", Unsupported}, {"MODELCUTS", Unsupported},
      {"INDICATORS", Indicators}, {"DELAYEDROWS", Unsupported},
      // Not keywords: prefixes, extensions, lower case (the caller upper-cases).
      {"OBJSENS", Data},      {"OBJNAME", Data},         {"ROWS2", Data},
      {"NAMES", Data},        {"rows", Data},            {"RH", Data},
      {"", Data},             {"ENDATAX", Data},         {"DELAYEDROWSX", Data},
      {"BOUND", Data},
  };
  for (const auto& [word, kind] : cases) EXPECT_EQ(keyword_kind(word), kind) << word;
}

TEST(ClassifyLine, HeadersWordsAndRest) {
  using enum HeaderKind;
  struct Case {
    std::string_view line;
    HeaderKind kind;
    std::string_view word;
    std::string_view rest;
  };
  const Case cases[] = {
      {"ROWS", Rows, "ROWS", ""},
      {"rows", Rows, "rows", ""},
      {"  ENDATA", EndData, "ENDATA", ""},
      {"ROWS extra", Data, "ROWS", " extra"},
      {"ROWS \xC2\xA0", Rows, "ROWS", " \xC2\xA0"},       // rest trims to nothing
      {"ROWS\xC2\xA0", Data, "ROWS\xC2\xA0", ""},         // NBSP is not a field separator
      {"\xC2\xA0ROWS", Rows, "ROWS", ""},                 // but is trimmed in front
      {"\vROWS", Rows, "ROWS", ""},
      {"ENDATA\v", Data, "ENDATA\v", ""},                 // vertical tab is no separator
      {"NAME  demo model", Name, "NAME", "  demo model"},
      {"NAME", Name, "NAME", ""},
      {"OBJSENSE MAX", ObjSense, "OBJSENSE", " MAX"},
      {"objsense\tmax", ObjSense, "objsense", "\tmax"},
      {"OBJSENS", Data, "OBJSENS", ""},
      {"SOS extra words", Sos, "SOS", " extra words"},
      {"  QUADOBJ", QuadObj, "QUADOBJ", ""},
      {"QCMATRIX  c1", QcMatrix, "QCMATRIX", "  c1"},
      {"GENCONS g", Unsupported, "GENCONS", " g"},
      {" N  cost", Data, "N", "  cost"},
      {"", Blank, "", ""},
      {" \t ", Blank, "", ""},
      {"\xE3\x80\x80", Blank, "", ""},
      {"\xFF ROWS", Data, "\xFF", " ROWS"},                // an invalid byte is not space
  };
  for (const Case& c : cases) {
    const ExactBuffer line(c.line);
    const LineClass got = classify_line(line.view);
    EXPECT_EQ(got.kind, c.kind) << "'" << c.line << "'";
    EXPECT_EQ(got.word, c.word) << "'" << c.line << "'";
    EXPECT_EQ(got.rest, c.rest) << "'" << c.line << "'";
  }
}

TEST(SplitFields, MaximalRunsUpToKeep) {
  struct Case {
    std::string_view line;
    size_t keep;
    std::vector<std::string_view> fields;
  };
  const Case cases[] = {
      {"", 6, {}}, {"   \t ", 6, {}}, {"one", 0, {}}, {"  a\tb  c ", 6, {"a", "b", "c"}},
      {"a b c d e f g h", 6, {"a", "b", "c", "d", "e", "f"}}, {"a b c d e f g h", 2, {"a", "b"}},
      {"a b c d e f g", 99, {"a", "b", "c", "d", "e", "f"}}, {"a\fb\rc\nd", 6, {"a", "b", "c", "d"}},
      {"a\vb", 6, {"a\vb"}}, {"x\xC2\xA0y z", 6, {"x\xC2\xA0y", "z"}},
  };
  for (const Case& c : cases) {
    const ExactBuffer line(c.line);
    const Fields got = split_fields(line.view, c.keep);
    ASSERT_EQ(got.count, c.fields.size()) << "'" << c.line << "'";
    for (size_t i = 0; i < got.count; ++i) EXPECT_EQ(got.at[i], c.fields[i]) << "'" << c.line << "'";
  }
}

TEST(ScanSizeHints, ReadsHintCommentsBeforeTheNameLine) {
  constexpr int64_t no = -1;  // no hint found
  struct Case {
    std::string text;
    int64_t rows, columns, nonzeros;
  };
  std::string line21, line20;
  for (int i = 0; i < 20; ++i) line21 += "*\n";
  for (int i = 0; i < 19; ++i) line20 += "\n";
  line21 += "* ROWS: 7\n";
  line20 += "* ROWS: 7\n";
  const Case cases[] = {
      {"* ROWS: 1200\n* COLUMNS: (3400)\n* NONZERO: 950\nNAME x\n", 1200, 3400, 950},
      {"*Rows: 5\n", 5, no, no},
      {"*nonzero:\t636666\n", no, no, 636666},
      {"* ROWS: 10 COLUMNS: 20\n", no, no, no},
      {"* NONZEROS: 950\n", no, no, no},
      {"$ ROWS: 5\n", no, no, no},
      {" * ROWS: 5\n", no, no, no},
      {"NAME x\n* ROWS: 5\n", no, no, no},
      {"  NAME x\n* ROWS: 5\n", no, no, no},
      {"NAMEX\n* ROWS: 5\n", no, no, no},
      {"name x\n* ROWS: 5\n", 5, no, no},  // only upper-case NAME stops
      {"*NAME: nw04\n* ROWS: 5\n", 5, no, no},
      {"* ROWS: 3\n* ROWS: 4\n", 4, no, no},
      {"* ROWS: 3\n* ROWS: x\n", 3, no, no},
      {"* columns and ROWS: 2\n", 2, no, no},
      {line20, 7, no, no},  // the twentieth line is still read
      {line21, no, no, no},
  };
  for (const Case& c : cases) {
    const SizeHints got = scan_size_hints(c.text);
    const auto hint = [](bool has, uint64_t value) { return has ? static_cast<int64_t>(value) : -1; };
    EXPECT_EQ(hint(got.has_rows, got.rows), c.rows) << c.text;
    EXPECT_EQ(hint(got.has_columns, got.columns), c.columns) << c.text;
    EXPECT_EQ(hint(got.has_nonzeros, got.nonzeros), c.nonzeros) << c.text;
  }
}

// Without hints the defaults come from the text length; a column count feeds the rows.
TEST(ScanSizeHints, DefaultsComeFromTheTextLength) {
  const std::string plain(90000, 'x');
  const std::string with_columns = "* COLUMNS: 400\n" + plain;
  const SizeHints none = scan_size_hints(plain);
  const SizeHints some = scan_size_hints(with_columns);
  EXPECT_EQ((std::vector<uint64_t>{none.rows, none.columns, none.nonzeros}), (std::vector<uint64_t>{75, 300, 3000}));
  EXPECT_EQ((std::vector<uint64_t>{some.rows, some.columns, some.nonzeros}),
            (std::vector<uint64_t>{100, 400, with_columns.size() / 30}));
}

TEST(CappedReservations, NoHintReservesMoreThanTheTextCanHold) {
  SizeHints absurd;
  absurd.rows = absurd.columns = absurd.nonzeros = UINT64_MAX;
  absurd.has_rows = absurd.has_columns = absurd.has_nonzeros = true;
  SizeHints small;
  small.rows = 3;
  small.columns = 5;
  small.nonzeros = 7;
  const Reservations capped = capped_reservations(absurd, 1000);
  const Reservations kept = capped_reservations(small, 1000000);
  EXPECT_EQ((std::vector<uint64_t>{capped.rows, capped.columns, capped.entries}), (std::vector<uint64_t>{62, 62, 250}));
  EXPECT_EQ((std::vector<uint64_t>{kept.rows, kept.columns, kept.entries}), (std::vector<uint64_t>{3, 5, 7}));

  // The reservation is capacity only: the state stays empty.
  ReaderState state;
  reserve_from_hints(absurd, 1u << 20, state);
  EXPECT_GE(state.entry_row.capacity(), (1u << 20) / 4);
  EXPECT_EQ(state.entry_row.size() + state.col_names.size() + state.row_lower.size(), 0u);
}

TEST(CountRowLines, CountsRowRecordsUpToTheNextHeader) {
  struct Case {
    const char* what;
    std::string_view rest;
    size_t rows;
  };
  const Case cases[] = {
      {"empty", "", 0},
      {"rows then a header", " N obj\n E r1\n G r2\n L r3\nCOLUMNS\n x r1 1\n", 4},
      {"no final line end", " E r1\n\tL r2", 2},
      {"CRLF, empty and comment lines", " E r1\r\n\r\n\n* c\n$ c\n EQ r2\r\nRHS\n", 2},
      {"a type field alone is no row", " E\n L   \n E r\n", 0},
      {"a type field alone before CR is no row", " E \r\n", 0},
      {"other first letters stop the count", " E r1\n X r2\n E r3\n", 1},
      {"an unindented line stops the count", " E r1\nE r2\n", 1},
      {"an indented header stops the count", " E r1\n COLUMNS\n E r2 1\n", 1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(count_row_lines(c.rest, 1u << 20), c.rows) << c.what;
  }
  // Capped by a sixth of the text length.
  std::string many;
  for (int i = 0; i < 1000; ++i) many += " E r" + std::to_string(i) + "\n";
  EXPECT_EQ(count_row_lines(many, 1u << 20), 1000u);
  EXPECT_EQ(count_row_lines(many, 60), 10u);
}

TEST(DecodeUtf8, ValidSequencesAndEveryKindOfInvalidOne) {
  struct Case {
    std::string_view bytes;
    char32_t code;
    uint32_t length;   // 0: invalid
    uint32_t invalid;  // bytes that can never start a character there; 0: cut off by the end
  };
  const Case cases[] = {
      {"A", U'A', 1, 0}, {"\xC2\xA0", 0xA0, 2, 0}, {"\xE3\x80\x80", 0x3000, 3, 0},
      {"\xF0\x9F\x98\x80", 0x1F600, 4, 0}, {"\xF4\x8F\xBF\xBF", 0x10FFFF, 4, 0},
      // Overlong forms, a surrogate, code points above U+10FFFF.
      {"\xC0\x80", 0, 0, 1}, {"\xC1\xBF", 0, 0, 1}, {"\xE0\x80\x80", 0, 0, 1}, {"\xF0\x80\x80\x80", 0, 0, 1},
      {"\xED\xA0\x80", 0, 0, 1}, {"\xF4\x90\x80\x80", 0, 0, 1}, {"\xF5\x80\x80\x80", 0, 0, 1},
      // Lone continuation, invalid byte, truncated by the end of the text, continuation missing.
      {"\x80", 0, 0, 1}, {"\xFF", 0, 0, 1}, {"\xC2", 0, 0, 0}, {"\xE3\x80", 0, 0, 0}, {"\xF0\x9F\x98", 0, 0, 0},
      {"\xE3\x41\x80", 0, 0, 1}, {"\xE3\x80\x41", 0, 0, 2}, {"\xF0\x9F\x98\x41", 0, 0, 3},
      // A bad byte before the end shows even when the sequence is also cut off.
      {"\xF0\x41", 0, 0, 1}, {"\xF0\x9F\x41", 0, 0, 2},
  };
  for (const Case& c : cases) {
    const ExactBuffer bytes(c.bytes);
    const Utf8Char got = decode_utf8(bytes.view.data(), bytes.view.data() + bytes.view.size());
    EXPECT_EQ(got.length, c.length) << ::testing::PrintToString(c.bytes);
    if (c.length != 0) {
      EXPECT_EQ(got.code, c.code);
    } else {
      EXPECT_EQ(got.invalid, c.invalid) << ::testing::PrintToString(c.bytes);
    }
    EXPECT_EQ(is_valid_utf8(bytes.view), c.length == c.bytes.size());
  }
  EXPECT_TRUE(is_valid_utf8("plain ascii name that is longer than eight bytes"));
  EXPECT_FALSE(is_valid_utf8("long ascii prefix then \xC3"));
  EXPECT_TRUE(is_valid_utf8("Gr\xC3\xBC\xC3\x9F" "e_\xE6\x97\xA5\xE6\x9C\xAC"));
}

TEST(TrimUnicode, TrimsWhiteSpaceCodePointsOnlyAndNeverReadsOutside) {
  struct Case {
    std::string_view text;
    std::string_view trimmed;
    std::string_view token;
  };
  const Case cases[] = {
      {"  a b  ", "a b", "a"},
      {"\xE3\x80\x80 demo \xC2\xA0", "demo", "demo"},
      {"\xC2\x85x\xE2\x80\xA8", "x", "x"},                   // NEL, LINE SEPARATOR
      {"\xE2\x80\x8Bx", "\xE2\x80\x8Bx", "\xE2\x80\x8Bx"},   // zero width space is no White_Space
      {"\xC2", "\xC2", "\xC2"},                              // truncated: a non-space byte
      {"a\xC2", "a\xC2", "a\xC2"},
      {"\xA0", "\xA0", "\xA0"},                              // lone continuation byte
      {"\x80\x80\x80\xA0", "\x80\x80\x80\xA0", "\x80\x80\x80\xA0"},
      {"bad\xFFname x", "bad\xFFname x", "bad\xFFname"},
      {"\v\f\r\n\t", "", ""},
      {"", "", ""},
  };
  for (const Case& c : cases) {
    const ExactBuffer text(c.text);
    EXPECT_EQ(trim_unicode(text.view), c.trimmed) << ::testing::PrintToString(c.text);
    EXPECT_EQ(first_unicode_token(text.view), c.token) << ::testing::PrintToString(c.text);
  }
}

// Fixed columns 2-3, 5-12, 15-22, 25-36, 40-47, 50-61, trimmed; bytes between
// them are found by fixed_gap_position.
TEST(FixedFields, CutByColumnAndTrimmed) {
  struct Case {
    std::string line;
    FixedRecord fields;
    size_t gap;
  };
  constexpr size_t kNone = std::string_view::npos;
  const Case cases[] = {
      {" UP BND       X ONE          4.", {"UP", "BND", "X ONE", "4.", "", ""}, kNone},
      {"    DEDO3 11  OB1PNW20        .02466   DEDO3 1R           -1.",
       {"", "DEDO3 11", "OB1PNW20", ".02466", "DEDO3 1R", "-1."}, kNone},
      {"    MARK0000  'MARKER'                 'INTORG'", {"", "MARK0000", "'MARKER'", "", "'INTORG'", ""}, kNone},
      {"", {"", "", "", "", "", ""}, kNone},
      {" E", {"E", "", "", "", "", ""}, kNone},
      {" E  R", {"E", "R", "", "", "", ""}, kNone},
      {"    A2345678901", {"", "A2345678", "1", "", "", ""}, 12},  // a name past column 12
      {"X", {"", "", "", "", "", ""}, 0},                             // text in column 1
      {std::string(61, ' ') + "beyond 61", {"", "", "", "", "", ""}, kNone},
      {"    A\tB\t", {"", "A\tB", "", "", "", ""}, kNone},  // a tab is one byte, trimmed at the ends only
      {"\tE\tR", {"E", "", "", "", "", ""}, 3},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(fixed_fields(c.line), c.fields) << "'" << c.line << "'";
    EXPECT_EQ(fixed_gap_position(c.line), c.gap) << "'" << c.line << "'";
  }
}

TEST(Locate, LineNumberAndTextOfAnOffset) {
  struct Case {
    std::string text;
    uint64_t offset;
    uint64_t lineno;
    std::string line;
  };
  const Case cases[] = {
      {"", 0, 1, ""},
      {"abc", 1, 1, "abc"},
      {"a\nbc\nd", 3, 2, "bc"},
      {"a\nbc\nd", 2, 2, "bc"},
      {"a\nbc\n", 5, 2, "bc"},          // the end after a final line feed is the last line
      {"a\r\nbc\r\n", 3, 2, "bc"},       // CRLF: the CR is not part of the line
      {"a\rb\rc", 4, 1, "a\rb\rc"},     // a lone CR does not end a line
      {"a\n\n\nz", 5, 4, "z"},
      {"a\nb", 99, 2, "b"},             // past the end: the end
  };
  for (const Case& c : cases) {
    const TextPosition got = locate(c.text, c.offset);
    EXPECT_EQ(got.lineno, c.lineno) << c.offset;
    EXPECT_EQ(got.line, c.line) << c.offset;
  }
  const std::string long_line(1000, 'x');
  EXPECT_EQ(shown_line("short", 3), "short");
  EXPECT_EQ(shown_line(long_line, 0), long_line.substr(0, 114) + "...");
  EXPECT_EQ(shown_line(long_line, 999), "..." + long_line.substr(0, 114));
  EXPECT_EQ(shown_line(long_line, 500), "..." + long_line.substr(0, 114) + "...");
  EXPECT_EQ(shown_line(long_line, 500).size(), kShownLine);
}

}  // namespace
}  // namespace mopsel
