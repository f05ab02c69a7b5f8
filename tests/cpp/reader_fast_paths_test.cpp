// The reader's fast paths against their general counterparts: plain decimals
// against a correctly rounded library conversion and the general grammar,
// block-wise field splitting against a byte-by-byte splitter, inline name keys,
// lookup memos and guesses that must give exactly the map's answers, the
// lookahead of a few lines in COLUMNS and the name check on the copied names.
#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "reader/text/lines.hpp"
#include "reader/names/name_map.hpp"
#include "reader/text/numbers.hpp"
#include "reader/text/utf8.hpp"
#include "reader_test_support.hpp"

namespace mopsel {
namespace {

using testing::kInf;
using testing::lines;
using testing::read_error;
using testing::read_valid;

// A heap copy of exactly the text's bytes: AddressSanitizer reports any read
// past its end.
struct ExactBuffer {
  explicit ExactBuffer(std::string_view text)
      : bytes(new char[text.size() + (text.empty() ? 1 : 0)]) {
    std::memcpy(bytes.get(), text.data(), text.size());
    view = {bytes.get(), text.size()};
  }
  std::unique_ptr<char[]> bytes;
  std::string_view view;
};

uint64_t bits(double v) { return std::bit_cast<uint64_t>(v); }

// Concatenation by appending (GCC 12 warns falsely on some operator+ chains).
std::string cat(std::initializer_list<std::string_view> parts) {
  std::string out;
  for (std::string_view part : parts) out += part;
  return out;
}

// The field as the general path reads it, and (for fields the fast path
// accepts) as the C library reads it: both are correctly rounded.
void expect_fast_path_agrees(std::string_view field) {
  const ExactBuffer buffer(field);
  double fast = 12345.0;
  const bool taken = parse_plain_decimal(buffer.view, fast);
  const double general = parse_number_general(buffer.view);
  EXPECT_EQ(bits(parse_number(buffer.view)), bits(general)) << "'" << field << "'";
  if (!taken) {
    EXPECT_EQ(fast, 12345.0) << "value touched on refusal: '" << field << "'";
    return;
  }
  EXPECT_EQ(bits(fast), bits(general)) << "'" << field << "'";
  const std::string copy(field);
  EXPECT_EQ(bits(fast), bits(std::strtod(copy.c_str(), nullptr))) << "'" << field << "'";
}

TEST(PlainDecimal, AgreesWithTheGeneralPathOnHandPickedFields) {
  struct Case {
    std::string_view field;
    bool fast;  // whether the fast path takes it
  };
  const Case cases[] = {
      {"1", true},          {"-1", true},        {"0", true},
      {"-0", true},         {"-0.0", true},      {"5.", true},
      {".5", true},         {"-.5", true},       {"2164", true},
      {"4267.32", true},    {"1e5", true},       {"1E-5", true},
      {"1.5e+3", true},     {"0e999999", true},  {"-0e-999999", true},
      {"0.1", true},        {"0.3", true},       {"9007199254740992", true},  // 2^53, still exact
      {"9007199254740993", false},  // above 2^53: needs the general path
      {"1e23", false},      {"1e-23", false},    {"12345678901234567890", false},
      {"1.7976931348623157e308", false},         {"4.9e-324", false},
      {"+1", false},        {"1.5D3", false},    {"1.5d+03", false},
      {"inf", false},       {"-Infinity", false}, {"nan", false},
      {"", false},          {"-", false},        {".", false},
      {"-.", false},        {"1e", false},       {"1e+", false},
      {"1.0x", false},      {"1,5", false},      {"e5", false},
      {"1..2", false},      {"--1", false},      {"1e5.0", false},
      {"0x10", false},      {"1 ", false},       {" 1", false},
  };
  for (const Case& c : cases) {
    double value = 0.0;
    EXPECT_EQ(parse_plain_decimal(c.field, value), c.fast) << "'" << c.field << "'";
    expect_fast_path_agrees(c.field);
  }
}

TEST(PlainDecimal, AgreesWithTheGeneralPathOnGeneratedFields) {
  // Decimals of every length up to 21 digits, points anywhere, exponents around
  // the exact-power limit, signs, and some malformed tails.
  std::mt19937_64 random(20240611);
  auto pick = [&](size_t n) { return static_cast<size_t>(random() % n); };
  for (int i = 0; i < 200000; ++i) {
    std::string field;
    if (pick(4) == 0) field += '-';
    const size_t digits = 1 + pick(21);
    const size_t point = pick(digits + 2);
    for (size_t d = 0; d < digits; ++d) {
      if (d == point) field += '.';
      field += static_cast<char>('0' + (d == 0 && pick(3) == 0 ? 0 : pick(10)));
    }
    if (pick(3) == 0) {
      field += pick(2) == 0 ? 'e' : 'E';
      const int exponent = static_cast<int>(pick(70)) - 35;
      if (exponent >= 0 && pick(2) == 0) field += '+';
      field += std::to_string(exponent);
    }
    if (pick(50) == 0) field += "x";
    expect_fast_path_agrees(field);
  }
}

// Fields as a byte-by-byte reference splitter finds them.
std::vector<std::string_view> reference_fields(std::string_view line, size_t keep) {
  std::vector<std::string_view> out;
  size_t i = 0;
  while (out.size() < keep) {
    while (i < line.size() && is_field_separator(line[i])) ++i;
    if (i == line.size()) break;
    const size_t start = i;
    while (i < line.size() && !is_field_separator(line[i])) ++i;
    out.push_back(line.substr(start, i - start));
  }
  return out;
}

TEST(SplitFieldsInWindows, AgreesWithAByteByByteSplitter) {
  // Lines around and across the 64-byte windows: fields ending exactly at a
  // window edge, fields longer than a window, long runs of separators, every
  // separator and the non-separators next to them (vertical tab, NUL, 0xA0).
  const std::string_view alphabet[] = {" ", "\t", "\f", "\r", "\n", "\v", std::string_view("\0", 1),
                                       "\xA0", "a", "b", "7", "'"};
  std::mt19937_64 random(77);
  std::vector<std::string> samples = {
      "", " ", std::string(64, ' '), std::string(64, 'x'), cat({std::string(63, 'x'), " y"}),
      std::string(65, 'x'), cat({std::string(64, ' '), "x"}),
      cat({std::string(130, 'q'), " r ", std::string(200, ' '), "s"}),
  };
  for (int i = 0; i < 20000; ++i) {
    std::string line;
    const size_t length = random() % 200;
    while (line.size() < length) {
      const size_t run = random() % 4 == 0 ? random() % 70 : 1 + random() % 6;
      const std::string_view piece = alphabet[random() % std::size(alphabet)];
      for (size_t k = 0; k < run; ++k) line += piece;
    }
    samples.push_back(line);
  }
  for (const std::string& sample : samples) {
    for (size_t keep : {size_t{2}, size_t{6}}) {
      const std::vector<std::string_view> want = reference_fields(sample, keep);
      // The line alone in an exact buffer (no block loads past it), and the
      // line followed by more text that the block loads may read but not use.
      const ExactBuffer alone(sample);
      const std::string padded_text = cat({sample, std::string(70, 'Z')});
      const ExactBuffer padded(padded_text);
      const std::string_view inner = padded.view.substr(0, sample.size());
      for (const Fields& got : {split_fields(alone.view, keep),
                                split_fields(inner, keep, padded.view.data() + padded.view.size())}) {
        ASSERT_EQ(got.count, want.size()) << "'" << sample << "'";
        for (size_t k = 0; k < got.count; ++k) {
          EXPECT_EQ(got.at[k], want[k]) << "'" << sample << "' field " << k;
        }
      }
    }
  }
}

TEST(SplitFieldsInWindows, OnePassLineAndFieldsAgreeWithTheTwoSteps) {
  // Texts of many lines, walked once with next_line_fields and once with
  // next_line and a byte-by-byte splitter: lines ending just before, at and
  // after the 64th byte, CRLF and lone CR, separator runs, and texts with and
  // without a final line feed (the last lines lie within 64 bytes of the end).
  const std::string_view alphabet[] = {" ", "\t", "\r", "\n", "\r\n", "\v", "\f", "a", "7", "'", "\xA0"};
  std::mt19937_64 random(4242);
  std::vector<std::string> texts = {
      "", "\n", "\r\n", "x", cat({std::string(63, 'x'), "\n", std::string(64, 'y'), "\n"}),
      cat({std::string(62, ' '), "a\r\n", std::string(65, 'b'), "\nc"}),
  };
  for (int i = 0; i < 3000; ++i) {
    std::string text;
    const size_t length = random() % 400;
    while (text.size() < length) {
      const size_t run = random() % 5 == 0 ? random() % 70 : 1 + random() % 8;
      const std::string_view piece = alphabet[random() % std::size(alphabet)];
      for (size_t k = 0; k < run; ++k) text += piece;
    }
    texts.push_back(text);
  }
  for (const std::string& text : texts) {
    const ExactBuffer buffer(text);
    for (size_t keep : {size_t{2}, size_t{6}}) {
      LineCursor fused = line_cursor(buffer.view);
      LineCursor plain = line_cursor(buffer.view);
      std::string_view want_line;
      while (next_line(plain, want_line)) {
        ASSERT_NE(fused.pos, fused.end) << "'" << text << "'";
        Fields got;
        std::string_view got_line;
        next_line_fields(fused, keep, got, got_line);
        ASSERT_EQ(got_line.data(), want_line.data()) << "'" << text << "'";
        ASSERT_EQ(got_line.size(), want_line.size()) << "'" << text << "'";
        ASSERT_EQ(fused.pos, plain.pos) << "'" << text << "'";
        const std::vector<std::string_view> want = reference_fields(want_line, keep);
        ASSERT_EQ(got.count, want.size()) << "'" << want_line << "'";
        for (size_t k = 0; k < got.count; ++k) EXPECT_EQ(got.at[k], want[k]) << "'" << want_line << "'";
      }
      EXPECT_EQ(fused.pos, fused.end);
    }
  }
}

TEST(ShortIntegers, EveryShortFieldReadsAsTheGeneralPathReadsIt) {
  // Fields of one to four bytes over digits and the bytes next to them in
  // ASCII, signs, point, exponent letter, blank, NUL and a high byte: the
  // short-integer path must take exactly the all-digit fields, and give every
  // field the general path's value.
  const char alphabet[] = {'0', '1', '5', '9', '/', ':', '-', '+', '.', 'e', ' ', '\0', '\xFF'};
  const size_t n = std::size(alphabet);
  size_t combinations = 1;
  for (size_t length = 1; length <= 4; ++length) {
    combinations *= n;
    for (size_t code = 0; code < combinations; ++code) {
      std::string field;
      for (size_t c = code, k = 0; k < length; ++k, c /= n) field += alphabet[c % n];
      const ExactBuffer buffer(field);
      const double general = parse_number_general(buffer.view);
      ASSERT_EQ(bits(parse_number(buffer.view)), bits(general)) << "'" << field << "'";
    }
  }
  for (std::string_view field : {"0000", "9999", "0", "10", "100", "1000", "0001"}) {
    EXPECT_EQ(parse_number(field), std::strtod(std::string(field).c_str(), nullptr)) << field;
  }
}

TEST(NameKeys, InlineKeysTellApartNamesThatShareWords) {
  // Names that share the loaded words but differ in length or in a middle byte
  // must be distinct keys; long names that share their last 16 bytes too.
  const std::vector<std::string> names = {
      "",           "a",          "aa",          "aaa",         "aba",
      "abcd",       "abcda",      "abcdabcd",    "abcdXbcd",    "abcdefghabcdefgh",
      "abcdefgh" "Xbcdefgh",      "abcdefghXabcdefgh",        std::string(17, 'k'),
      std::string(18, 'k'),       cat({"A", std::string(16, 'k')}), cat({"B", std::string(16, 'k')}),
      cat({std::string(40, 'm'), "x", std::string(16, 'n')}),
      cat({std::string(40, 'm'), "y", std::string(16, 'n')}),
  };
  NameMap<uint32_t> map;
  for (uint32_t i = 0; i < names.size(); ++i) assign_name(map, names[i], i);
  ASSERT_EQ(map.count, names.size());
  // Growing the table re-derives every stored name's hash from its slot.
  reserve_names(map, 100000);
  for (uint32_t i = 0; i < names.size(); ++i) {
    const ExactBuffer buffer(names[i]);
    const uint32_t* found = find_name(map, buffer.view);
    ASSERT_NE(found, nullptr) << "'" << names[i] << "'";
    EXPECT_EQ(*found, i) << "'" << names[i] << "'";
  }
  for (std::string_view missing : {"b", "ab", "abc", "abcdabce", "abcdefghabcdefgi",
                                   "aaaa", "abcdXbcdX"}) {
    EXPECT_EQ(find_name(map, missing), nullptr) << "'" << missing << "'";
  }
}

TEST(MissMemo, AMemorisedMissEndsWhenTheMapGains) {
  NameMap<int32_t> map;
  MissMemo memo;
  assign_name(map, "r1", 0);
  EXPECT_EQ(find_name_memo(map, memo, "SET"), nullptr);
  EXPECT_EQ(find_name_memo(map, memo, "SET"), nullptr);
  EXPECT_EQ(*find_name_memo(map, memo, "r1"), 0);
  assign_name(map, "SET", 4);
  const int32_t* found = find_name_memo(map, memo, "SET");
  ASSERT_NE(found, nullptr);
  EXPECT_EQ(*found, 4);
}

// Whole reads whose results depend on the shortcuts giving the map's answers.
TEST(LookupShortcuts, GiveTheSameRecordsAsPlainLookups) {
  struct Case {
    const char* why;
    std::string text;
    std::vector<double> col_lower, col_upper, row_lower, row_upper;
  };
  const Case cases[] = {
      {"a bound-vector name that later becomes a column is a column from then on",
       lines({"ROWS", " N obj", "COLUMNS", " X obj 1", "BOUNDS", " UP BND X 2", " UP V BND 7",
              " UP BND 3", "ENDATA"}),
       {0, 0}, {2, 3}, {}, {}},
      {"a repeated column name: the later column is the one bounds reach",
       lines({"ROWS", " N obj", "COLUMNS", " X1 obj 1", " X2 obj 1", " X1 obj 1", "BOUNDS",
              " UP BND X1 4", " UP BND X2 5", " UP BND X1 6", "ENDATA"}),
       {0, 0, 0}, {kInf, 5, 6}, {}, {}},
      {"bounds out of column order and twice for one column",
       lines({"ROWS", " N obj", "COLUMNS", " A obj 1", " B obj 1", " C obj 1", "BOUNDS",
              " UP BND C 3", " LO BND C 1", " UP BND A 9", " UP BND B 8", " UP C 4", "ENDATA"}),
       {0, 0, 1}, {9, 8, 4}, {}, {}},
      {"a range-vector name that a later ROWS section makes a row",
       lines({"ROWS", " N obj", " L r1", "RHS", " RHS r1 10", "RANGES", " RNG r1 4", "ROWS",
              " G RNG", "RANGES", " RNG 5", "ENDATA"}),
       {}, {}, {6, 0}, {10, 5}},
      {"an RHS set name that a later ROWS section makes a row",
       lines({"ROWS", " N obj", " L r1", "RHS", " B r1 10", "ROWS", " G B", "RHS", " B 3 r1 11",
              "ENDATA"}),
       {}, {}, {-kInf, 3}, {11, kInf}},
  };
  for (const Case& c : cases) {
    const ModelRecord m = read_valid(c.text);
    EXPECT_EQ(testing::values_of(m.col_lower), c.col_lower) << c.why;
    EXPECT_EQ(testing::values_of(m.col_upper), c.col_upper) << c.why;
    EXPECT_EQ(testing::values_of(m.row_lower), c.row_lower) << c.why;
    EXPECT_EQ(testing::values_of(m.row_upper), c.row_upper) << c.why;
  }
}

TEST(LookupShortcuts, LongColumnNamesStayFoundWhileBoundsAddColumns) {
  // Long names are map keys by pointer; columns added by BOUNDS grow the name
  // list, which must not leave those keys behind.
  const std::string long_a(40, 'a');
  const std::string long_b = cat({std::string(39, 'a'), "b"});
  std::string text = lines({"ROWS", " N obj", "COLUMNS"});
  text += cat({" ", long_a, " obj 1\n ", long_b, " obj 2\nBOUNDS\n"});
  for (int i = 0; i < 300; ++i) text += cat({" UP BND new", std::to_string(i), " 1\n"});
  text += cat({" UP BND ", long_a, " 7\n UP BND ", long_b, " 8\n UP ", long_a, " 9\nENDATA\n"});
  const ModelRecord m = read_valid(text);
  ASSERT_EQ(m.num_col, 302u);
  EXPECT_EQ(m.col_names[0], long_a);
  EXPECT_EQ(m.col_upper[0], 9.0);
  EXPECT_EQ(m.col_upper[1], 8.0);
  EXPECT_EQ(m.col_upper[301], 1.0);
}

TEST(ColumnsLookahead, TheLastLineBeforeAHeaderIsApplied) {
  // With many rows the section reader applies each COLUMNS line a few lines
  // late; whatever ends the section must apply the held ones, and a marker held
  // last must count.
  struct Case {
    const char* why;
    std::string text;
    std::vector<uint32_t> start, index;
    std::vector<double> value, cost;
    std::vector<int> integrality;
  };
  const Case cases[] = {
      {"ended by RHS",
       lines({"ROWS", " N obj", " L r", "COLUMNS", " x r 1", " y obj 2 r 3", "RHS", "ENDATA"}),
       {0, 1, 2}, {0, 0}, {1, 3}, {0, 2}, {0, 0}},
      {"ended by ENDATA", lines({"ROWS", " N obj", " L r", "COLUMNS", " x r 1", " x obj 5", "ENDATA"}),
       {0, 1}, {0}, {1}, {5}, {0}},
      {"ended by a blank-free skipped section",
       lines({"ROWS", " N obj", " L r", "COLUMNS", " x r 1", "GENCONS", " s1 x 1", "ENDATA"}),
       {0, 1}, {0}, {1}, {0}, {0}},
      {"a marker is the last line",
       lines({"ROWS", " N obj", " L r", "COLUMNS", " M 'MARKER' 'INTORG'", " x r 1",
              " M 'MARKER' 'INTEND'", "COLUMNS", " y r 2", "ENDATA"}),
       {0, 1, 2}, {0, 0}, {1, 2}, {0, 0}, {1, 0}},
  };
  // Each case also with 40000 more rows after r (no entries): a row map that
  // large makes the reader hold lines back, so the end of the section must
  // apply every held line, in order.
  std::string padding;
  for (uint32_t i = 0; i < 40000; ++i) padding += " G pad" + std::to_string(i) + "\n";
  for (const Case& c : cases) {
    for (const bool padded : {false, true}) {
      std::string text = c.text;
      if (padded) text.insert(text.find(" L r\n") + 5, padding);
      const ModelRecord m = read_valid(text);
      EXPECT_EQ(testing::values_of(m.a_matrix.start), c.start) << c.why << padded;
      EXPECT_EQ(testing::values_of(m.a_matrix.index), c.index) << c.why << padded;
      EXPECT_EQ(testing::values_of(m.a_matrix.value), c.value) << c.why << padded;
      EXPECT_EQ(testing::values_of(m.col_cost), c.cost) << c.why << padded;
      EXPECT_EQ(testing::codes_of(m.col_integrality), c.integrality) << c.why << padded;
    }
  }
  // With a row map beyond the caches the lines are applied a few lines late.
  constexpr uint32_t kRows = 40000;
  constexpr uint32_t kColumns = 3000;
  std::string text = "ROWS\n N obj\n";
  for (uint32_t i = 0; i < kRows; ++i) text += " E r" + std::to_string(i) + "\n";
  text += "COLUMNS\n";
  std::vector<uint32_t> start = {0};
  std::vector<uint32_t> index;
  std::vector<double> value;
  for (uint32_t j = 0; j < kColumns; ++j) {
    const uint32_t a = (j * 7919u) % kRows;
    const uint32_t b = (a + 1 + j % 5) % kRows;
    const std::string col = " c" + std::to_string(j);
    text += col + " r" + std::to_string(a) + " " + std::to_string(j + 1) + " obj 3\n";
    // A repeated row keeps its first value; the second row follows.
    text += col + " r" + std::to_string(a) + " 9 r" + std::to_string(b) + " -2\n";
    index.insert(index.end(), {a, b});
    value.insert(value.end(), {static_cast<double>(j + 1), -2.0});
    start.push_back(static_cast<uint32_t>(index.size()));
  }
  text += "RHS\nENDATA\n";
  const ModelRecord m = read_valid(text);
  EXPECT_EQ(testing::values_of(m.a_matrix.start), start);
  EXPECT_EQ(testing::values_of(m.a_matrix.index), index);
  EXPECT_EQ(testing::values_of(m.a_matrix.value), value);
  EXPECT_EQ(testing::values_of(m.col_cost), std::vector<double>(kColumns, 3.0));

  // Text that ends inside COLUMNS still fails, held line or not.
  EXPECT_EQ(read_error(lines({"ROWS", " L r", "COLUMNS", " x r 1"})), "Failed to parse MPS file");
}

TEST(NameCheck, EachNameOnItsOwnNotTheirConcatenation) {
  // Names are checked after they were copied back to back; a sequence cut
  // between two names is valid only in the concatenation.
  struct Case {
    const char* why;
    std::string text;
    bool ok;
  };
  const Case cases[] = {
      {"two-byte sequence cut between rows", lines({"ROWS", " L r\xC3", " L \xA9s", "ENDATA"}), false},
      {"three-byte sequence cut between columns",
       lines({"COLUMNS", " x\xE6 r 1", " \x97\xA5y r 1", "ENDATA"}), false},
      {"whole sequences in long ASCII names",
       lines({"ROWS", cat({" L ", std::string(40, 'r'), "\xC3\xA9"}), " L s", "ENDATA"}), true},
      {"an invalid byte deep in a long name",
       lines({"ROWS", cat({" L ", std::string(40, 'r'), "\xFF", std::string(40, 'r')}), "ENDATA"}), false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(read_error(c.text), c.ok ? "" : "Failed to parse MPS file") << c.why;
  }
}

TEST(IsAscii, EveryPositionOfAHighByteIsSeen) {
  for (size_t length : {size_t{0}, size_t{1}, size_t{31}, size_t{32}, size_t{33}, size_t{100}}) {
    std::string text(length, 'a');
    const ExactBuffer clean(text);
    EXPECT_TRUE(is_ascii(clean.view)) << length;
    for (size_t i = 0; i < length; ++i) {
      std::string dirty = text;
      dirty[i] = '\x80';
      const ExactBuffer buffer(dirty);
      EXPECT_FALSE(is_ascii(buffer.view)) << length << " at " << i;
    }
  }
}

}  // namespace
}  // namespace mopsel
