// The whole text written for a record: layout, sections, markers, entry
// pairing, edge cases and the internal-fault checks.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "model/fault.hpp"
#include "writer/mps_writer.hpp"

namespace mopsel {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr uint8_t kCont = 0, kInt = 1, kSemiCont = 2, kSemiInt = 3;

struct RowSpec {
  std::string name;
  double lower, upper;
};
struct ColSpec {
  std::string name;
  uint8_t kind;
  double cost, lower, upper;
  std::vector<std::pair<uint32_t, double>> entries;
};

ModelRecord make_record(const std::vector<RowSpec>& rows, const std::vector<ColSpec>& cols,
                        std::string objective = "OBJ") {
  ModelRecord r;
  r.objective_name = std::move(objective);
  r.num_row = static_cast<uint32_t>(rows.size());
  r.num_col = static_cast<uint32_t>(cols.size());
  for (const RowSpec& row : rows) {
    r.row_names.push_back(row.name);
    r.row_lower.push_back(row.lower);
    r.row_upper.push_back(row.upper);
  }
  r.a_matrix.start.push_back(0);
  for (const ColSpec& col : cols) {
    r.col_names.push_back(col.name);
    r.col_integrality.push_back(col.kind);
    r.col_cost.push_back(col.cost);
    r.col_lower.push_back(col.lower);
    r.col_upper.push_back(col.upper);
    for (const auto& [row, value] : col.entries) {
      r.a_matrix.index.push_back(row);
      r.a_matrix.value.push_back(value);
    }
    r.a_matrix.start.push_back(static_cast<uint32_t>(r.a_matrix.index.size()));
  }
  return r;
}

std::string text_of(const ModelRecord& record) {
  ByteBuffer out;
  EXPECT_TRUE(write_mps_to_buffer(record, out).ok());
  return std::string(as_view(out));
}

// The lines from `first` (a line equal to it) up to, not including, `stop`.
std::string section(const std::string& text, const std::string& first, const std::string& stop) {
  const size_t begin = text.find(first + "\n");
  const size_t end = text.find(stop + "\n", begin);
  if (begin == std::string::npos || end == std::string::npos) return "<missing " + first + ">";
  return text.substr(begin + first.size() + 1, end - begin - first.size() - 1);
}

ModelRecord worked_example() {
  ModelRecord r = make_record(
      {{"c1", -kInf, 4.0}, {"c2", 1.0, kInf}, {"c3", 2.0, 2.0}, {"c4", 1.0, 3.0}},
      {{"x", kCont, 1.0, 0.0, kInf, {{0, 1.0}, {1, 2.0}}},
       {"y", kInt, 2.0, 0.0, 1.0, {{0, 3.0}}},
       {"z", kCont, 0.0, -kInf, kInf, {}}},
      "cost");
  r.name = "demo";
  r.obj_sense_minimize = false;
  r.obj_offset = 1.5;
  return r;
}

TEST(MpsText, WorkedExampleByteForByte) {
  EXPECT_EQ(text_of(worked_example()),
            "NAME          demo\n"
            "OBJSENSE\n"
            "    MAX\n"
            "ROWS\n"
            " N  cost\n"
            " L  c1\n"
            " G  c2\n"
            " E  c3\n"
            " L  c4\n"
            "COLUMNS\n"
            "    x  cost  1.000000000000e0  c1  1.000000000000e0\n"
            "    x  c2  2.000000000000e0\n"
            "    M0000001  'MARKER'                 'INTORG'\n"
            "    y  cost  2.000000000000e0  c1  3.000000000000e0\n"
            "    M0000002  'MARKER'                 'INTEND'\n"
            "    z  cost  0.000000000000e+00\n"
            "RHS\n"
            "    RHS1  cost  -1.500000000000e0\n"
            "    RHS1  c1  4.000000000000e0\n"
            "    RHS1  c2  1.000000000000e0\n"
            "    RHS1  c3  2.000000000000e0\n"
            "    RHS1  c4  3.000000000000e0\n"
            "RANGES\n"
            "    RNG1  c4  2.000000000000e0\n"
            "BOUNDS\n"
            " BV BND1  y\n"
            " FR BND1  z\n"
            "ENDATA\n");
}

TEST(MpsText, EmptyModel) {
  struct Case {
    bool minimize;
    std::string name, objective, text;
  };
  const Case cases[] = {
      {true, "", "", "NAME          \nROWS\n N  OBJ\nCOLUMNS\nRHS\nBOUNDS\nENDATA\n"},
      {false, "", "",
       "NAME          \nOBJSENSE\n    MAX\nROWS\n N  OBJ\nCOLUMNS\nRHS\nBOUNDS\nENDATA\n"},
      {true, "m", "Objective", "NAME          m\nROWS\n N  Objective\nCOLUMNS\nRHS\nBOUNDS\nENDATA\n"},
  };
  for (const Case& c : cases) {
    ModelRecord r = make_record({}, {}, c.objective);
    r.name = c.name;
    r.obj_sense_minimize = c.minimize;
    EXPECT_EQ(text_of(r), c.text);
  }
}

TEST(MpsText, ColumnEntriesArePairedTwoPerLine) {
  struct Case {
    const char* what;
    ColSpec col;
    std::string lines;
  };
  const Case cases[] = {
      {"cost and two coefficients", {"x", kCont, 3.0, 0.0, kInf, {{0, 1.0}, {1, 2.0}}},
       "    x  OBJ  3.000000000000e0  r1  1.000000000000e0\n"
       "    x  r2  2.000000000000e0\n"},
      {"cost and one coefficient", {"x", kCont, 3.0, 0.0, kInf, {{0, 1.0}}},
       "    x  OBJ  3.000000000000e0  r1  1.000000000000e0\n"},
      {"no cost, three coefficients in storage order", {"x", kCont, 0.0, 0.0, kInf, {{2, 1.0}, {0, -2.0}, {1, 4.0}}},
       "    x  r3  1.000000000000e0  r1  -2.000000000000e0\n"
       "    x  r2  4.000000000000e0\n"},
      {"empty column", {"x", kCont, 0.0, 0.0, kInf, {}}, "    x  OBJ  0.000000000000e+00\n"},
      {"negative zero cost is zero", {"x", kCont, -0.0, 0.0, kInf, {}}, "    x  OBJ  0.000000000000e+00\n"},
      {"only zero coefficients", {"x", kCont, 0.0, 0.0, kInf, {{0, 0.0}, {1, -0.0}}},
       "    x  OBJ  0.000000000000e+00\n"},
      {"zero coefficients skipped between others", {"x", kCont, 0.0, 0.0, kInf, {{0, 0.0}, {1, 5.0}, {2, -0.0}}},
       "    x  r2  5.000000000000e0\n"},
      {"NaN cost and coefficient are kept", {"x", kCont, kNaN, 0.0, kInf, {{0, kNaN}}},
       "    x  OBJ  NaN  r1  NaN\n"},
      {"infinite costs", {"x", kCont, -kInf, 0.0, kInf, {{0, kInf}}},
       "    x  OBJ  -inf  r1  inf\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const ModelRecord r = make_record({{"r1", -kInf, kInf}, {"r2", -kInf, kInf}, {"r3", -kInf, kInf}}, {c.col});
    EXPECT_EQ(section(text_of(r), "COLUMNS", "RHS"), c.lines);
  }
}

// Expands "O1 c0 C2" into the opening marker 1, column c0's line, closing marker 2.
std::string expand_columns(const std::string& plan) {
  std::string out;
  size_t pos = 0;
  while (pos < plan.size()) {
    size_t end = plan.find(' ', pos);
    if (end == std::string::npos) end = plan.size();
    const std::string item = plan.substr(pos, end - pos);
    if (item[0] == 'c') {
      out += "    " + item + "  OBJ  0.000000000000e+00\n";
    } else {
      std::string number = item.substr(1);
      number.insert(0, 7 - number.size(), '0');
      out += "    M" + number + "  'MARKER'                 " + (item[0] == 'O' ? "'INTORG'\n" : "'INTEND'\n");
    }
    pos = end + 1;
  }
  return out;
}

TEST(MpsText, MarkersShareOneCounter) {
  struct Case {
    const char* what;
    std::vector<uint8_t> kinds;
    const char* plan;
  };
  const Case cases[] = {
      {"all continuous", {kCont, kSemiCont, kCont}, "c0 c1 c2"},
      {"integral then continuous", {kInt, kInt, kCont}, "O1 c0 c1 C2 c2"},
      {"last column integral closes the run", {kCont, kInt}, "c0 O1 c1 C2"},
      {"two runs", {kInt, kCont, kSemiInt, kInt}, "O1 c0 C2 c1 O3 c2 c3 C4"},
      {"semi-continuous ends a run", {kSemiInt, kSemiCont}, "O1 c0 C2 c1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<ColSpec> cols;
    for (size_t j = 0; j < c.kinds.size(); ++j) {
      std::string name = std::to_string(j);
      name.insert(name.begin(), 'c');
      cols.push_back({name, c.kinds[j], 0.0, 0.0, kInf, {}});
    }
    EXPECT_EQ(section(text_of(make_record({}, cols)), "COLUMNS", "RHS"), expand_columns(c.plan));
  }
}

TEST(MpsText, MarkerCounterBeyondSevenDigits) {
  // 10,000,001 alternating columns would be slow; the counter is only a number,
  // so check the widths through a run of alternations at the smallest scale and
  // the padding rule on the first markers.
  std::vector<ColSpec> cols;
  for (int j = 0; j < 12; ++j) cols.push_back({"c", j % 2 == 0 ? kInt : kCont, 0.0, 0.0, kInf, {}});
  const std::string text = text_of(make_record({}, cols));
  EXPECT_NE(text.find("    M0000012  'MARKER'                 'INTEND'\n"), std::string::npos);
  EXPECT_EQ(text.find("M0000013"), std::string::npos);
}

TEST(MpsText, RowsRhsAndRanges) {
  struct Case {
    const char* what;
    double lower, upper;
    const char *rows, *rhs, *ranges;
  };
  const Case cases[] = {
      {"free row is an extra N row", -kInf, kInf, " N  r\n", "", ""},
      {"equality", 5.0, 5.0, " E  r\n", "    RHS1  r  5.000000000000e0\n", ""},
      {"equality within tolerance", 2.0, 2.0 + 1e-13, " E  r\n", "    RHS1  r  2.000000000000e0\n", ""},
      {"equality at zero has no rhs line", 0.0, 0.0, " E  r\n", "", ""},
      {"ranged", 1.0, 4.0, " L  r\n", "    RHS1  r  4.000000000000e0\n", "    RNG1  r  3.000000000000e0\n"},
      {"inverted", 3.0, 1.0, " L  r\n", "    RHS1  r  1.000000000000e0\n", "    RNG1  r  -2.000000000000e0\n"},
      {"range overflows", -1e308, 1e308, " L  r\n", "    RHS1  r  1.000000000000e308\n", "    RNG1  r  inf\n"},
      {"ranged with zero upper", -2.0, 0.0, " L  r\n", "", "    RNG1  r  2.000000000000e0\n"},
      {"upper only", -kInf, -3.0, " L  r\n", "    RHS1  r  -3.000000000000e0\n", ""},
      {"lower only", 0.5, kInf, " G  r\n", "    RHS1  r  5.000000000000e-1\n", ""},
      {"NaN lower makes an L row", kNaN, 1.0, " L  r\n", "    RHS1  r  1.000000000000e0\n", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string text = text_of(make_record({{"r", c.lower, c.upper}}, {}));
    EXPECT_EQ(section(text, "ROWS", "COLUMNS"), std::string(" N  OBJ\n") + c.rows);
    if (*c.ranges == 0) {
      EXPECT_EQ(section(text, "RHS", "BOUNDS"), c.rhs);
      EXPECT_EQ(text.find("RANGES"), std::string::npos);
    } else {
      EXPECT_EQ(section(text, "RHS", "RANGES"), c.rhs);
      EXPECT_EQ(section(text, "RANGES", "BOUNDS"), c.ranges);
    }
  }
}

TEST(MpsText, ObjectiveOffsetIsTheNegatedFirstRhs) {
  struct Case {
    double offset;
    std::string rhs;
  };
  const Case cases[] = {
      {2.5, "    RHS1  OBJ  -2.500000000000e0\n    RHS1  r  1.000000000000e0\n"},
      {-5.0, "    RHS1  OBJ  5.000000000000e0\n    RHS1  r  1.000000000000e0\n"},
      {0.0, "    RHS1  r  1.000000000000e0\n"},
      {-0.0, "    RHS1  r  1.000000000000e0\n"},
      {kNaN, "    RHS1  OBJ  NaN\n    RHS1  r  1.000000000000e0\n"},
  };
  for (const Case& c : cases) {
    ModelRecord r = make_record({{"r", 1.0, kInf}}, {}, "");
    r.obj_offset = c.offset;
    EXPECT_EQ(section(text_of(r), "RHS", "BOUNDS"), c.rhs) << "offset " << c.offset;
  }
}

TEST(MpsText, BoundLinesPerColumn) {
  const ModelRecord r = make_record(
      {}, {{"a", kCont, 0.0, 0.0, kInf, {}},
           {"b", kCont, 0.0, 0.0, 5.0, {}},
           {"c", kCont, 0.0, 3.0, kInf, {}},
           {"d", kCont, 0.0, -kInf, 2.5, {}},
           {"e", kInt, 0.0, 0.0, kInf, {}},
           {"f", kInt, 0.0, 0.0, 10.0, {}},
           {"g", kSemiInt, 0.0, 0.0, 1.0, {}},
           {"h", kSemiCont, 0.0, 0.0, 5.0, {}},
           {"i", kInt, 0.0, 1.0, 1.0, {}},
           {"j", kInt, 0.0, -kInf, 7.0, {}}});
  EXPECT_EQ(section(text_of(r), "BOUNDS", "ENDATA"),
            " UP BND1  b  5.000000000000e0\n"
            " LO BND1  c  3.000000000000e0\n"
            " MI BND1  d\n"
            " UP BND1  d  2.500000000000e0\n"
            " LI BND1  e  0.000000000000e0\n"
            " LI BND1  f  0.000000000000e0\n"
            " UI BND1  f  1.000000000000e1\n"
            " BV BND1  g\n"
            " UP BND1  h  5.000000000000e0\n"
            " FX BND1  i  1.000000000000e0\n"
            " MI BND1  j\n"
            " UI BND1  j  7.000000000000e0\n");
}

TEST(MpsText, NamesAreWrittenAsTheyAre) {
  // No padding, truncation or quoting; an empty name is written as nothing.
  ModelRecord r = make_record({{"a row with spaces", 1.0, kInf}, {"", 2.0, kInf}},
                              {{std::string(300, 'x'), kCont, 1.0, 0.0, kInf, {{1, 1.0}}}}, "");
  r.name = "two words";
  const std::string text = text_of(r);
  EXPECT_EQ(text.substr(0, text.find('\n')), "NAME          two words");
  EXPECT_EQ(section(text, "ROWS", "COLUMNS"), " N  OBJ\n G  a row with spaces\n G  \n");
  EXPECT_EQ(section(text, "COLUMNS", "RHS"),
            "    " + std::string(300, 'x') + "  OBJ  1.000000000000e0    1.000000000000e0\n");
}

// Internal faults: each listed check in turn, with the text produced before it.
struct FaultCase {
  const char* what;
  void (*spoil)(ModelRecord&);
  const char* message;
  const char* text_ends_with;  // the last complete text before the fault
};

template <class T>
void drop_last(OwnedArray<T>& a) {
  if (!a.empty()) a.resize(a.size() - 1, T{});
}

TEST(MpsText, InternalFaultChecksInOrder) {
  const FaultCase cases[] = {
      {"row_lower short", [](ModelRecord& r) { drop_last(r.row_lower); },
       "index out of bounds: the len is 3 but the index is 3", "NAME          demo\nOBJSENSE\n    MAX\n"},
      {"row_upper short", [](ModelRecord& r) { drop_last(r.row_upper); },
       "index out of bounds: the len is 3 but the index is 3", "    MAX\n"},
      {"row_names short", [](ModelRecord& r) { drop_last(r.row_names.ends); },
       "index out of bounds: the len is 3 but the index is 3", " E  c3\n"},
      {"col_integrality short, before the marker",
       [](ModelRecord& r) { drop_last(r.col_integrality); drop_last(r.col_integrality); },
       "index out of bounds: the len is 1 but the index is 1", "    x  c2  2.000000000000e0\n"},
      {"col_names short, after the marker", [](ModelRecord& r) { drop_last(r.col_names.ends); drop_last(r.col_names.ends); },
       "index out of bounds: the len is 1 but the index is 1", "    M0000001  'MARKER'                 'INTORG'\n"},
      {"col_cost short", [](ModelRecord& r) { drop_last(r.col_cost); },
       "index out of bounds: the len is 2 but the index is 2", "    M0000002  'MARKER'                 'INTEND'\n"},
      {"start empty", [](ModelRecord& r) { r.a_matrix.start.clear(); },
       "index out of bounds: the len is 0 but the index is 0", "COLUMNS\n"},
      {"start short for the column after", [](ModelRecord& r) { drop_last(r.a_matrix.start); },
       "index out of bounds: the len is 3 but the index is 3", "    M0000002  'MARKER'                 'INTEND'\n"},
      {"index short", [](ModelRecord& r) { drop_last(r.a_matrix.index); },
       "index out of bounds: the len is 2 but the index is 2", "    M0000001  'MARKER'                 'INTORG'\n"},
      {"value short", [](ModelRecord& r) { drop_last(r.a_matrix.value); },
       "index out of bounds: the len is 2 but the index is 2", "    M0000001  'MARKER'                 'INTORG'\n"},
      {"row index beyond the rows", [](ModelRecord& r) { r.a_matrix.index[1] = 9; },
       "index out of bounds: the len is 4 but the index is 9", "COLUMNS\n"},
      {"col_lower short in BOUNDS", [](ModelRecord& r) { drop_last(r.col_lower); },
       "index out of bounds: the len is 2 but the index is 2", " BV BND1  y\n"},
      {"col_upper short in BOUNDS", [](ModelRecord& r) { drop_last(r.col_upper); drop_last(r.col_upper); },
       "index out of bounds: the len is 1 but the index is 1", "BOUNDS\n"},
  };
  for (const FaultCase& c : cases) {
    SCOPED_TRACE(c.what);
    ModelRecord r = worked_example();
    c.spoil(r);
    ByteBuffer out;
    try {
      (void)write_mps_to_buffer(r, out);
      ADD_FAILURE() << "no fault";
    } catch (const InternalFault& fault) {
      EXPECT_EQ(fault.message(), c.message);
    }
    const std::string text(as_view(out));
    const std::string tail = c.text_ends_with;
    ASSERT_GE(text.size(), tail.size());
    EXPECT_EQ(text.substr(text.size() - tail.size()), tail);
    // Whatever was written is a prefix of the sound text.
    EXPECT_EQ(text_of(worked_example()).substr(0, text.size()), text);
  }
}

TEST(MpsText, NoFaultWhenTheZeroCoefficientPointsBeyondTheRows) {
  // Only rows of non-zero coefficients are looked up.
  ModelRecord r = make_record({{"r", 1.0, kInf}}, {{"x", kCont, 0.0, 0.0, kInf, {{7, 0.0}, {0, 1.0}}}});
  EXPECT_EQ(section(text_of(r), "COLUMNS", "RHS"), "    x  r  1.000000000000e0\n");
}

}  // namespace
}  // namespace mopsel
