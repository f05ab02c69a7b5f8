// COLUMNS, RANGES and BOUNDS records and the assembled record, through read_mps.
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "reader/records/lower_triangle.hpp"
#include "reader_test_support.hpp"

namespace mopsel {
namespace {

using testing::codes_of;
using testing::kInf;
using testing::lines;
using testing::names_of;
using testing::read_valid;
using testing::record_difference;
using testing::values_of;

const std::string kWorkedExample = lines({
    "NAME          demo", "ROWS", " N  cost", " L  c1", " G  c2", " E  c3", "COLUMNS",
    "    x  cost  1  c1  1", "    x  c2  2", "    MARKER  'MARKER'  'INTORG'", "    y  cost  2  c1  3",
    "    MARKER  'MARKER'  'INTEND'", "RHS", "    RHS1  cost  -1.5  c1  4", "    RHS1  c2  1  c3  2",
    "RANGES", "    RNG1  c1  3", "BOUNDS", " UP BND1  x  10", "ENDATA"});

TEST(ReadMps, WorkedExampleFieldByField) {
  const ModelRecord m = read_valid(kWorkedExample);
  EXPECT_EQ(m.num_row, 3u);
  EXPECT_EQ(m.num_col, 2u);
  testing::expect_record(
      m,
      {.name = "demo", .objective_name = "cost", .minimize = true, .offset = 1.5,
       .row_names = {{"c1", "c2", "c3"}}, .row_lower = {{1, 1, 2}}, .row_upper = {{4, kInf, 2}},
       .col_names = {{"x", "y"}}, .cost = {{1, 2}}, .col_lower = {{0, 0}}, .col_upper = {{10, 1}},
       .integrality = {{0, 1}}, .start = {{0, 2, 3}}, .index = {{0, 1, 0}}, .value = {{1, 2, 3}}},
      "worked example");
}

// One column "x" read against rows obj (N), extra (N), r1, r2, r3 (all L).
struct ColumnsCase {
  const char* why;
  std::vector<std::string_view> records;  // COLUMNS lines
  std::vector<std::string> col_names;
  std::vector<double> cost;
  std::vector<uint32_t> start;
  std::vector<uint32_t> index;
  std::vector<double> value;
  std::vector<int> integrality;
};

TEST(ReadMps, ColumnsRecords) {
  const ColumnsCase cases[] = {
      {"first nonzero value per row wins", {" x r1 2", " x r1 3"}, {"x"}, {0}, {0, 1}, {0}, {2}, {0}},
      {"a zero is dropped, the later value kept", {" x r1 0", " x r1 3"}, {"x"}, {0}, {0, 1}, {0}, {3}, {0}},
      {"minus zero is dropped", {" x r1 -0.0 r2 -0"}, {"x"}, {0}, {0, 0}, {}, {}, {0}},
      {"first nonzero cost wins", {" x obj 0", " x obj 4 obj 5"}, {"x"}, {4}, {0, 0}, {}, {}, {0}},
      {"malformed value adds nothing", {" x r1 1,5 r2 1"}, {"x"}, {0}, {0, 1}, {1}, {1}, {0}},
      {"unknown row skipped", {" x nope 1 r3 2"}, {"x"}, {0}, {0, 1}, {2}, {2}, {0}},
      {"extra N row ignored", {" x extra 7 r1 1"}, {"x"}, {0}, {0, 1}, {0}, {1}, {0}},
      {"first-touch order, not sorted", {" x r3 1 r1 2", " x r2 3"}, {"x"}, {0}, {0, 3}, {2, 0, 1}, {1, 2, 3}, {0}},
      {"four fields use only the first pair", {" x r1 1 r2"}, {"x"}, {0}, {0, 1}, {0}, {1}, {0}},
      {"fields after the fifth ignored", {" x r1 1 r2 2 r3 3"}, {"x"}, {0}, {0, 2}, {0, 1}, {1, 2}, {0}},
      {"a name alone opens a column", {" x", " y r1 1"}, {"x", "y"}, {0, 0}, {0, 0, 1}, {0}, {1}, {0, 0}},
      {"interrupted block makes a new column", {" x r1 1", " y r2 2", " x r3 3"},
       {"x", "y", "x"}, {0, 0, 0}, {0, 1, 2, 3}, {0, 1, 2}, {1, 2, 3}, {0, 0, 0}},
      {"integer markers", {" a r1 1", " m 'MARKER' 'INTORG'", " a r2 1", " b r1 1", " m 'MARKER' 'INTEND'", " c r1 1"},
       {"a", "b", "c"}, {0, 0, 0}, {0, 2, 3, 4}, {0, 1, 0, 0}, {1, 1, 1, 1}, {0, 1, 0}},
      {"marker without apostrophes is a column", {" m MARKER INTORG", " x r1 1"},
       {"m", "x"}, {0, 0}, {0, 0, 1}, {0}, {1}, {0, 0}},
      {"lower-case marker is a column", {" m 'marker' 'intorg'", " x r1 1"},
       {"m", "x"}, {0, 0}, {0, 0, 1}, {0}, {1}, {0, 0}},
      {"unknown marker keyword changes nothing", {" m 'MARKER' 'INTORG'", " m 'MARKER' 'OTHER'", " x r1 1"},
       {"x"}, {0}, {0, 1}, {0}, {1}, {1}},
      {"a marker does not interrupt a block", {" x r1 1", " m 'MARKER' 'INTORG'", " x r2 2"},
       {"x"}, {0}, {0, 2}, {0, 1}, {1, 2}, {0}},
  };
  const std::string head = lines({"ROWS", " N obj", " N extra", " L r1", " L r2", " L r3", "COLUMNS"});
  for (const ColumnsCase& c : cases) {
    std::string text = head;
    for (std::string_view record : c.records) (text += record) += '\n';
    text += "ENDATA\n";
    const ModelRecord m = read_valid(text);
    EXPECT_EQ(names_of(m.col_names), c.col_names) << c.why;
    EXPECT_EQ(values_of(m.col_cost), c.cost) << c.why;
    EXPECT_EQ(values_of(m.a_matrix.start), c.start) << c.why;
    EXPECT_EQ(values_of(m.a_matrix.index), c.index) << c.why;
    EXPECT_EQ(values_of(m.a_matrix.value), c.value) << c.why;
    EXPECT_EQ(codes_of(m.col_integrality), c.integrality) << c.why;
  }
}

TEST(ReadMps, NanCoefficientsStayAndCountAsGiven) {
  const ModelRecord m = read_valid(lines({"ROWS", " N obj", " L r1", "COLUMNS", " x r1 nan obj nan",
                                          " x r1 5 obj 6", "ENDATA"}));
  ASSERT_EQ(m.a_matrix.value.size(), 1u);
  EXPECT_TRUE(std::isnan(m.a_matrix.value[0]));  // a NaN is nonzero: the later 5 is a duplicate
  EXPECT_TRUE(std::isnan(m.col_cost[0]));
}

TEST(ReadMps, RangesRecords) {
  // Rows: L l (rhs 10), G g (rhs 10), E e (rhs 10), N obj, N extra.
  const std::string head = lines({"ROWS", " N obj", " N extra", " L l", " G g", " E e", "RHS",
                                  " RHS l 10 g 10", " RHS e 10"});
  struct Case {
    const char* why;
    std::vector<std::string_view> records;
    std::vector<double> lower, upper;
  };
  const Case cases[] = {
      {"none", {}, {-kInf, 10, 10}, {10, kInf, 10}},
      {"L positive", {" RNG l 4"}, {6, 10, 10}, {10, kInf, 10}},
      {"L negative", {" RNG l -4"}, {6, 10, 10}, {10, kInf, 10}},
      {"G", {" RNG g -4"}, {-kInf, 10, 10}, {10, 14, 10}},
      {"E positive", {" RNG e 4"}, {-kInf, 10, 10}, {10, kInf, 14}},
      {"E negative", {" RNG e -4"}, {-kInf, 10, 6}, {10, kInf, 10}},
      {"E minus zero takes the upper branch", {" RNG e -0"}, {-kInf, 10, 10}, {10, kInf, 10}},
      {"E negative then positive build on each other", {" RNG e -4", " RNG e 3"}, {-kInf, 10, 6}, {10, kInf, 9}},
      {"no vector name", {" l 4"}, {6, 10, 10}, {10, kInf, 10}},
      {"no vector name, three pairs", {" l 4 g 1 e 2"}, {6, 10, 10}, {10, 11, 12}},
      {"two pairs", {" RNG l 4 g 5"}, {6, 10, 10}, {10, 15, 10}},
      {"trailing row without value", {" RNG l 4 g"}, {6, 10, 10}, {10, kInf, 10}},
      {"objective, extra N and unknown rows", {" RNG obj 4 extra 5", " RNG nope 3"}, {-kInf, 10, 10}, {10, kInf, 10}},
      {"objective name as first field means no vector name", {" obj 4 l 2"}, {8, 10, 10}, {10, kInf, 10}},
      {"one field", {" l"}, {-kInf, 10, 10}, {10, kInf, 10}},
      {"vector name and one more field", {" RNG l"}, {-kInf, 10, 10}, {10, kInf, 10}},
      {"malformed value is zero", {" RNG l x"}, {10, 10, 10}, {10, kInf, 10}},
      {"a set name that is also a row name", {" l g 4"}, {-kInf, 10, 10}, {10, 14, 10}},
  };
  for (const Case& c : cases) {
    std::string text = head + "RANGES\n";
    for (std::string_view record : c.records) (text += record) += '\n';
    text += "ENDATA\n";
    const ModelRecord m = read_valid(text);
    EXPECT_EQ(values_of(m.row_lower), c.lower) << c.why;
    EXPECT_EQ(values_of(m.row_upper), c.upper) << c.why;
  }

  // A NaN range on an E row makes its upper bound NaN.
  const ModelRecord nan = read_valid(head + lines({"RANGES", " RNG e nan", "ENDATA"}));
  EXPECT_EQ(nan.row_lower[2], 10.0);
  EXPECT_TRUE(std::isnan(nan.row_upper[2]));

  // RANGES before RHS acts on the ROWS defaults; RHS then replaces only its side.
  const ModelRecord early = read_valid(lines({"ROWS", " L l", "RANGES", " R l 4", "RHS", " R l 10",
                                              "ENDATA"}));
  EXPECT_EQ(values_of(early.row_lower), std::vector<double>{-4});
  EXPECT_EQ(values_of(early.row_upper), std::vector<double>{10});
}

TEST(ReadMps, BoundsRecords) {
  // Columns: c (continuous), i (integer from a marker block), BND1.
  const std::string head = lines({"ROWS", " N obj", " L r", "COLUMNS", " c r 1",
                                  " M 'MARKER' 'INTORG'", " i r 1", " M 'MARKER' 'INTEND'",
                                  " BND1 r 1", "BOUNDS"});
  struct Case {
    const char* why;
    std::vector<std::string_view> records;
    // Expected for c, i, BND1 and any created column after them.
    std::vector<double> lower, upper;
    std::vector<int> integrality;
  };
  const Case cases[] = {
      {"no bounds: the integer column is binary", {}, {0, 0, 0}, {kInf, 1, kInf}, {0, 1, 0}},
      {"LO", {" LO B c -2"}, {-2, 0, 0}, {kInf, 1, kInf}, {0, 1, 0}},
      {"UP", {" UP B c 4"}, {0, 0, 0}, {4, 1, kInf}, {0, 1, 0}},
      {"UP without vector name", {" UP c 4"}, {0, 0, 0}, {4, 1, kInf}, {0, 1, 0}},
      {"UP negative leaves the lower bound", {" UP B c -3"}, {0, 0, 0}, {-3, 1, kInf}, {0, 1, 0}},
      {"UP without value", {" UP B c"}, {0, 0, 0}, {0, 1, kInf}, {0, 1, 0}},
      {"FX", {" FX B c 2.5"}, {2.5, 0, 0}, {2.5, 1, kInf}, {0, 1, 0}},
      {"FR", {" FR B c 9"}, {-kInf, 0, 0}, {kInf, 1, kInf}, {0, 1, 0}},
      {"FR with two fields", {" FR c"}, {-kInf, 0, 0}, {kInf, 1, kInf}, {0, 1, 0}},
      {"LO with two fields", {" UP c 5", " LO c"}, {0, 0, 0}, {5, 1, kInf}, {0, 1, 0}},
      {"MI", {" MI B c"}, {-kInf, 0, 0}, {kInf, 1, kInf}, {0, 1, 0}},
      {"PL", {" UP B c 3", " PL B c"}, {0, 0, 0}, {kInf, 1, kInf}, {0, 1, 0}},
      {"BV", {" BV B c 7"}, {0, 0, 0}, {1, 1, kInf}, {1, 1, 0}},
      {"BV then UP", {" BV B c", " UP B c 5"}, {0, 0, 0}, {5, 1, kInf}, {1, 1, 0}},
      {"LI", {" LI B c -1"}, {-1, 0, 0}, {kInf, 1, kInf}, {1, 1, 0}},
      {"UI", {" UI B c 9"}, {0, 0, 0}, {9, 1, kInf}, {1, 1, 0}},
      {"SC", {" SC B c 10"}, {0, 0, 0}, {10, 1, kInf}, {2, 1, 0}},
      {"SC without value", {" LO B c 1", " SC B c"}, {1, 0, 0}, {0, 1, kInf}, {2, 1, 0}},
      {"SI", {" SI B c 8"}, {0, 0, 0}, {8, 1, kInf}, {3, 1, 0}},
      {"integer column with UP", {" UP B i 7"}, {0, 0, 0}, {kInf, 7, kInf}, {0, 1, 0}},
      {"integer column with MI", {" MI B i"}, {0, -kInf, 0}, {kInf, kInf, kInf}, {0, 1, 0}},
      {"integer column with FR", {" FR B i"}, {0, -kInf, 0}, {kInf, kInf, kInf}, {0, 1, 0}},
      {"new column", {" UP B NEW 5"}, {0, 0, 0, 0}, {kInf, 1, kInf, 5}, {0, 1, 0, 0}},
      {"new column found again", {" UP B NEW 5", " LO NEW 2"}, {0, 0, 0, 2}, {kInf, 1, kInf, 5}, {0, 1, 0, 0}},
      {"new column from two fields", {" BV NEW"}, {0, 0, 0, 0}, {kInf, 1, kInf, 1}, {0, 1, 0, 1}},
      {"three fields, unknown name: no value", {" UP B NEW"}, {0, 0, 0, 0}, {kInf, 1, kInf, 0}, {0, 1, 0, 0}},
      {"one field ignored", {" UP"}, {0, 0, 0}, {kInf, 1, kInf}, {0, 1, 0}},
      {"non-indented record", {"UP B c 4"}, {0, 0, 0}, {4, 1, kInf}, {0, 1, 0}},
      {"no consistency check", {" LO B c 5", " UP B c 1"}, {5, 0, 0}, {1, 1, kInf}, {0, 1, 0}},
      {"a set name that is also a column name", {" UP BND1 c 4"}, {0, 0, 0}, {4, 1, kInf}, {0, 1, 0}},
      {"the same without a value for a type that takes none", {" MI BND1 c"}, {-kInf, 0, 0}, {kInf, 1, kInf}, {0, 1, 0}},
      {"the column reading stays when the other lacks its value", {" UP BND1 c"}, {0, 0, 0}, {kInf, 1, 0}, {0, 1, 0}},
      {"the column reading stays when the other is malformed too", {" UP BND1 c x"}, {0, 0, 0}, {kInf, 1, 0}, {0, 1, 0}},
      {"a column and a number is no set name", {" UP BND1 7"}, {0, 0, 0}, {kInf, 1, 7}, {0, 1, 0}},
  };
  for (const Case& c : cases) {
    std::string text = head;
    for (std::string_view record : c.records) (text += record) += '\n';
    text += "ENDATA\n";
    const ModelRecord m = read_valid(text);
    EXPECT_EQ(values_of(m.col_lower), c.lower) << c.why;
    EXPECT_EQ(values_of(m.col_upper), c.upper) << c.why;
    EXPECT_EQ(codes_of(m.col_integrality), c.integrality) << c.why;
  }
}

// Hint comments only size reservations: any hint, sensible or absurd, gives the
// record read without them.
TEST(ReadMps, HintCommentsNeverChangeTheRecord) {
  const std::string texts[] = {
      kWorkedExample,
      lines({"ROWS", " N obj", " L r", "COLUMNS", " x obj 2 r 1", " y r 3", "BOUNDS", " UP B z 5",
             "ENDATA"}),
  };
  const std::string hints[] = {
      "* ROWS: 3\n* COLUMNS: 2\n* NONZERO: 3\n",
      "* ROWS: 0\n* COLUMNS: 0\n* NONZERO: 0\n",
      "* ROWS: 18446744073709551615\n* COLUMNS: 18446744073709551615\n* NONZERO: 18446744073709551615\n",
      "*rows: (1000000000)\n*Columns: 4000000000\n",
  };
  for (const std::string& text : texts) {
    const ModelRecord plain = read_valid(text);
    for (const std::string& hint : hints) {
      EXPECT_EQ(record_difference(plain, read_valid(hint + text)), "") << hint;
    }
  }
}

// Entries in any order, some at the same place, made into a lower triangle: the sums per
// place (in file order, then scaled), zero sums dropped, rows ascending; both ways of
// comparing two halves (sorting for few entries against many columns, two passes over
// the columns otherwise) find the same first difference.
TEST(LowerTriangle, SumsPlacesAndComparesHalves) {
  std::mt19937_64 random(3);
  for (const uint32_t num_col : {1u, 4u, 40u, 4000u}) {
    for (int trial = 0; trial < 20; ++trial) {
      SCOPED_TRACE(std::to_string(num_col) + " columns, trial " + std::to_string(trial));
      LowerEntries entries;
      std::map<std::pair<uint32_t, uint32_t>, double> sums;  // (column, row) -> sum in file order
      const size_t count = random() % 60;
      for (size_t k = 0; k < count; ++k) {
        const uint32_t a = static_cast<uint32_t>(random() % std::min(num_col, 6u));
        const uint32_t b = static_cast<uint32_t>(random() % std::min(num_col, 6u));
        const double v = static_cast<double>(static_cast<int>(random() % 7) - 3);
        entries.push(std::max(a, b), std::min(a, b), v);
        sums[{std::min(a, b), std::max(a, b)}] += v;
      }
      const EntryRange all{0, entries.size()};
      const SparseMatrixRecord h = lower_triangle(entries, {&all, 1}, num_col, 2.0);
      std::vector<std::pair<uint32_t, uint32_t>> places;
      std::vector<double> values;
      for (uint32_t j = 0; j < num_col; ++j) {
        for (size_t p = h.start[j]; p < h.start[j + 1]; ++p) {
          places.emplace_back(j, h.index[p]);
          values.push_back(h.value[p]);
        }
      }
      std::vector<std::pair<uint32_t, uint32_t>> want_places;
      std::vector<double> want_values;
      for (const auto& [place, sum] : sums) {
        if (sum == 0.0) continue;
        want_places.push_back(place);
        want_values.push_back(2.0 * sum);
      }
      EXPECT_EQ(places, want_places);
      EXPECT_EQ(values, want_values);
      // The halves: the entries below the diagonal against themselves moved to other
      // entries, each split in two, then one entry changed.
      LowerEntries mirrored;
      for (size_t k = 0; k < entries.size(); ++k) {
        if (entries.row[k] == entries.col[k]) continue;
        mirrored.push(entries.row[k], entries.col[k], entries.value[k] / 2);
        mirrored.push(entries.row[k], entries.col[k], entries.value[k] / 2);
      }
      const EntryRange halves{0, mirrored.size()};
      EXPECT_FALSE(halves_differ(entries, all, mirrored, halves, num_col).has_value());
      if (mirrored.size() == 0) continue;
      mirrored.value[mirrored.size() - 1] += 1.0;
      const std::optional<LowerPlace> differ = halves_differ(entries, all, mirrored, halves, num_col);
      ASSERT_TRUE(differ.has_value());
      EXPECT_EQ(differ->row, mirrored.row[mirrored.size() - 1]);
      EXPECT_EQ(differ->col, mirrored.col[mirrored.size() - 1]);
    }
  }
}

}  // namespace
}  // namespace mopsel
