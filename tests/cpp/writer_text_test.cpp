// The whole text written for a record: layout, entry pairing, markers, names
// and the internal-fault checks.
#include <algorithm>
#include <stdexcept>
#include <string>

#include "model/fault.hpp"
#include "writer/text_pieces.hpp"
#include "writer_test_support.hpp"

namespace mopsel {
namespace {
using namespace mopsel::testing;

ModelRecord worked_example() {
  ModelRecord r = make_record({{"c1", -kInf, 4.0}, {"c2", 1.0, kInf}, {"c3", 2.0, 2.0}, {"c4", 1.0, 3.0}},
                              {{"x", kCont, 1.0, 0.0, kInf, {{0, 1.0}, {1, 2.0}}},
                               {"y", kInt, 2.0, 0.0, 1.0, {{0, 3.0}}},
                               {"z", kCont, 0.0, -kInf, kInf, {}}},
                              "cost");
  r.name = "demo";
  r.obj_sense_minimize = false;
  r.obj_offset = 1.5;
  return r;
}

const char* const kWorkedExample =
    "NAME          demo\nOBJSENSE\n    MAX\nROWS\n N  cost\n L  c1\n G  c2\n E  c3\n L  c4\nCOLUMNS\n"
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
    "BOUNDS\n BV BND1  y\n FR BND1  z\nENDATA\n";

// The offset is written negated as the first RHS line, unless it is zero.
TEST(MpsText, WorkedExampleAndEmptyModels) {
  EXPECT_EQ(text_of(worked_example()), kWorkedExample);
  const struct {
    bool minimize;
    std::string name, objective;
    double offset;
    const char* text;
  } cases[] = {
      {true, "", "", 0.0, "NAME          \nROWS\n N  OBJ\nCOLUMNS\nRHS\nBOUNDS\nENDATA\n"},
      {false, "", "", -0.0, "NAME          \nOBJSENSE\n    MAX\nROWS\n N  OBJ\nCOLUMNS\nRHS\nBOUNDS\nENDATA\n"},
      {true, "m", "Objective", -5.0,
       "NAME          m\nROWS\n N  Objective\nCOLUMNS\nRHS\n    RHS1  Objective  5.000000000000e0\nBOUNDS\nENDATA\n"},
      {true, "", "", kNaN, "NAME          \nROWS\n N  OBJ\nCOLUMNS\nRHS\n    RHS1  OBJ  NaN\nBOUNDS\nENDATA\n"},
  };
  for (const auto& c : cases) {
    ModelRecord r = make_record({}, {}, c.objective);
    r.name = c.name;
    r.obj_sense_minimize = c.minimize;
    r.obj_offset = c.offset;
    EXPECT_EQ(text_of(r), c.text);
  }
}

// Fixed columns: names padded to their fields (2-3, 5-12, 15-22, 25-36, 40-47, 50-61),
// numbers in 12 characters, the markers named MARKER.
TEST(MpsText, FixedColumnsPutEachFieldInItsColumns) {
  const std::string text = text_of(worked_example(), {.fixed_columns = true});
  EXPECT_EQ(section(text, "COLUMNS", "RHS"),
            "    x         cost      1              c1        1\n"
            "    x         c2        2\n"
            "    MARKER    'MARKER'                 'INTORG'\n"
            "    y         cost      2              c1        3\n"
            "    MARKER    'MARKER'                 'INTEND'\n"
            "    z         cost      0\n");
  EXPECT_EQ(section(text, "RHS", "RANGES"),
            "    RHS1      cost      -1.5\n    RHS1      c1        4\n    RHS1      c2        1\n"
            "    RHS1      c3        2\n    RHS1      c4        3\n");
  EXPECT_EQ(section(text, "BOUNDS", "ENDATA"), " BV BND1      y\n FR BND1      z\n");
  EXPECT_EQ(text.substr(0, text.find("COLUMNS")), std::string(kWorkedExample).substr(0, text.find("COLUMNS")));
  // A number whose exact text does not fit: nothing is written.
  ModelRecord r = worked_example();
  r.col_cost[0] = 0.1 + 0.2;
  ByteBuffer out;
  const Status written = write_mps_to_buffer(r, out, {.digits = 0, .fixed_columns = true});
  ASSERT_FALSE(written.ok());
  EXPECT_EQ(written.error().message,
            "the number 0.30000000000000004 does not fit the 12 characters of a fixed-format field exactly: "
            "nothing written");
  EXPECT_TRUE(out.empty());
  EXPECT_TRUE(write_mps_to_buffer(r, out, {.digits = 17, .fixed_columns = true}).ok()) << "rounded to fit";
}

TEST(MpsText, ColumnEntriesArePairedTwoPerLine) {
  struct Case {
    const char* what;
    ColSpec col;
    const char* lines;
  };
  const Case cases[] = {
      {"cost and two coefficients", {"x", kCont, 3.0, 0.0, kInf, {{0, 1.0}, {1, 2.0}}},
       "    x  OBJ  3.000000000000e0  r1  1.000000000000e0\n    x  r2  2.000000000000e0\n"},
      {"cost and one coefficient", {"x", kCont, 3.0, 0.0, kInf, {{0, 1.0}}},
       "    x  OBJ  3.000000000000e0  r1  1.000000000000e0\n"},
      {"no cost, storage order kept", {"x", kCont, 0.0, 0.0, kInf, {{2, 1.0}, {0, -2.0}, {1, 4.0}}},
       "    x  r3  1.000000000000e0  r1  -2.000000000000e0\n    x  r2  4.000000000000e0\n"},
      {"empty column", {"x", kCont, 0.0, 0.0, kInf, {}}, "    x  OBJ  0.000000000000e+00\n"},
      {"negative zero cost", {"x", kCont, -0.0, 0.0, kInf, {}}, "    x  OBJ  0.000000000000e+00\n"},
      {"only zero coefficients", {"x", kCont, 0.0, 0.0, kInf, {{0, 0.0}, {1, -0.0}}},
       "    x  OBJ  0.000000000000e+00\n"},
      {"zeros skipped between others", {"x", kCont, 0.0, 0.0, kInf, {{0, 0.0}, {1, 5.0}, {2, -0.0}}},
       "    x  r2  5.000000000000e0\n"},
      // Only rows of non-zero coefficients are looked up: no fault for row 7.
      {"zero coefficient beyond the rows", {"x", kCont, 0.0, 0.0, kInf, {{7, 0.0}, {0, 1.0}}},
       "    x  r1  1.000000000000e0\n"},
      {"NaN kept", {"x", kCont, kNaN, 0.0, kInf, {{0, kNaN}}}, "    x  OBJ  NaN  r1  NaN\n"},
      {"infinities", {"x", kCont, -kInf, 0.0, kInf, {{0, kInf}}}, "    x  OBJ  -inf  r1  inf\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const ModelRecord r = make_record({{"r1", -kInf, kInf}, {"r2", -kInf, kInf}, {"r3", -kInf, kInf}}, {c.col});
    EXPECT_EQ(section(text_of(r), "COLUMNS", "RHS"), c.lines);
  }
}

// Expands "O1 c0 C2" into opening marker 1, column c0's line, closing marker 2.
std::string expand_columns(const std::string& plan) {
  std::string out;
  for (size_t pos = 0, end; pos < plan.size(); pos = end + 1) {
    end = std::min(plan.find(' ', pos), plan.size());
    const std::string item = plan.substr(pos, end - pos);
    if (item[0] == 'c') {
      out += "    " + item + "  OBJ  0.000000000000e+00\n";
    } else {
      const std::string number = item.substr(1);
      out += "    M" + std::string(7 - number.size(), '0') + number + "  'MARKER'                 " +
             (item[0] == 'O' ? "'INTORG'\n" : "'INTEND'\n");
    }
  }
  return out;
}

TEST(MpsText, MarkersShareOneCounter) {
  struct Case {
    std::vector<uint8_t> kinds;
    const char* plan;
  };
  const Case cases[] = {
      {{kCont, kSemiCont, kCont}, "c0 c1 c2"},
      {{kInt, kInt, kCont}, "O1 c0 c1 C2 c2"},
      {{kCont, kInt}, "c0 O1 c1 C2"},  // the last column closes the run
      {{kInt, kCont, kSemiInt, kInt}, "O1 c0 C2 c1 O3 c2 c3 C4"},
      {{kSemiInt, kSemiCont}, "O1 c0 C2 c1"},
      {{kInt, kCont, kInt, kCont, kInt, kCont, kInt, kCont, kInt, kCont, kInt},  // two-digit counters
       "O1 c0 C2 c1 O3 c2 C4 c3 O5 c4 C6 c5 O7 c6 C8 c7 O9 c8 C10 c9 O11 c10 C12"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.plan);
    std::vector<ColSpec> cols;
    for (size_t j = 0; j < c.kinds.size(); ++j) {
      cols.push_back({std::string("c").append(std::to_string(j)), c.kinds[j], 0, 0, kInf, {}});
    }
    EXPECT_EQ(section(text_of(make_record({}, cols)), "COLUMNS", "RHS"), expand_columns(c.plan));
  }
}

TEST(MpsText, NamesAreWrittenAsTheyAre) {
  // No padding, truncation or quoting.
  ModelRecord r = make_record({{"r\xC2\xA0" "1", 1.0, kInf}, {"\v2", 2.0, kInf}},
                              {{std::string(300, 'x'), kCont, 1.0, 0.0, kInf, {{1, 1.0}}}}, "");
  r.name = "caf\xC3\xA9";
  const std::string text = text_of(r);
  EXPECT_EQ(text.substr(0, text.find('\n')), "NAME          caf\xC3\xA9");
  EXPECT_EQ(section(text, "ROWS", "COLUMNS"), " N  OBJ\n G  r\xC2\xA0" "1\n G  \v2\n");
  EXPECT_EQ(section(text, "COLUMNS", "RHS"),
            "    " + std::string(300, 'x') + "  OBJ  1.000000000000e0  \v2  1.000000000000e0\n");
}

// A name the text cannot carry is refused before anything is written, in free format
// and in fixed columns, each by its own rules; the first such name is said.
TEST(MpsText, NamesTheTextCannotCarryAreRefused) {
  struct Case {
    const char* what;
    std::string row, column, objective, model;
    std::string free;   // the start of the refusal in free format, or "" when it writes
    std::string fixed;  // and in fixed columns
  };
  const std::string model_name = "the model name 'two\xC2\xA0words' holds whitespace, which MPS cannot carry";
  const Case cases[] = {
      {"a row name with a blank", "LIM 1", "x", "", "", "the row name 'LIM 1' holds a blank", ""},
      {"a tab", "a\tb", "x", "", "", "the row name 'a\tb' holds a blank", ""},
      {"an empty row name", "", "x", "", "", "the row name '' is empty", "the row name '' is empty"},
      {"Unicode whitespace at the end", "r\xE2\x80\x83", "x", "", "", "the row name 'r\xE2\x80\x83' ends in whitespace",
       ""},
      {"a row called 'MARKER'", "'MARKER'", "x", "", "", "the row name ''MARKER'' would read as a marker",
       "the row name ''MARKER'' would read as a marker"},
      {"a long name", "LIMIT_ONE", "x", "", "", "", "the row name 'LIMIT_ONE' is longer than the 8 bytes"},
      {"a blank at a fixed name's start", " LIM", "x", "", "", "the row name ' LIM' holds a blank",
       "the row name ' LIM' starts or ends with a blank"},
      {"a column name with a blank", "r1", "X ONE", "", "", "the column name 'X ONE' holds a blank", ""},
      {"an objective name with a blank", "r1", "x", "my cost", "", "the objective name 'my cost' holds a blank", ""},
      {"a model name with whitespace", "r1", "x", "", "two\xC2\xA0words", model_name, model_name},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ModelRecord r = make_record({{c.row, 1.0, kInf}, {"r2", 2.0, kInf}}, {{c.column, kCont, 1.0, 0.0, kInf, {{1, 1.0}}}},
                                c.objective);
    r.name = c.model;
    for (const bool fixed : {false, true}) {
      const std::string& want = fixed ? c.fixed : c.free;
      WriteOptions options;
      options.fixed_columns = fixed;
      ByteBuffer out;
      const Status written = write_mps_to_buffer(r, out, options);
      if (want.empty()) {
        EXPECT_TRUE(written.ok()) << (fixed ? "fixed" : "free");
        continue;
      }
      ASSERT_FALSE(written.ok());
      EXPECT_EQ(written.error().kind, ErrorKind::Unwritable);
      const std::string says = written.error().message;
      EXPECT_EQ(says.substr(0, want.size()), want);
      EXPECT_TRUE(says.ends_with(": nothing written")) << says;
      EXPECT_TRUE(out.empty());
    }
  }
}

template <class T>
void drop_last(OwnedArray<T>& a) {
  if (a.empty()) return;
  OwnedArray<T> shorter;
  shorter.append(a.data(), a.size() - 1);
  a = std::move(shorter);
}

// The worked example with every part beyond a linear program, one free row (c5)
// named by an indicator, and an empty SOS set.
ModelRecord with_parts() {
  ModelRecord r = worked_example();
  r.num_row = 5;
  r.row_names.push_back("c5");
  r.row_lower.push_back(-kInf);
  r.row_upper.push_back(kInf);
  SparseMatrixRecord& h = r.hessian.emplace();
  for (const uint32_t v : {0u, 2u, 2u, 3u}) h.start.push_back(v);  // x: x and y; y: none; z: z
  for (const uint32_t v : {0u, 1u, 2u}) h.index.push_back(v);
  for (const double v : {2.0, -0.5, 4.0}) h.value.push_back(v);
  RowHessianRecord& row = r.row_hessians.emplace_back();
  row.row = 1;
  for (const uint32_t v : {0u, 1u, 2u, 2u}) row.matrix.start.push_back(v);  // x: z; y: y
  for (const uint32_t v : {2u, 1u}) row.matrix.index.push_back(v);
  for (const double v : {3.0, 1.0}) row.matrix.value.push_back(v);
  SosRecord& sos = r.sos.emplace();
  for (const uint8_t v : {uint8_t{1}, uint8_t{2}}) sos.type.push_back(v);
  for (const int32_t v : {0, -3}) sos.priority.push_back(v);
  for (const uint32_t v : {0u, 2u, 2u}) sos.start.push_back(v);
  for (const uint32_t v : {2u, 0u}) sos.index.push_back(v);
  for (const double v : {1.0, 2.5}) sos.weight.push_back(v);
  sos.names.push_back("s1");
  sos.names.push_back("");
  IndicatorRecord& indicators = r.indicators.emplace();
  for (const uint32_t v : {4u, 0u}) indicators.row.push_back(v);
  for (const uint32_t v : {1u, 1u}) indicators.column.push_back(v);
  for (const uint8_t v : {uint8_t{1}, uint8_t{0}}) indicators.value.push_back(v);
  return r;
}

// The parts beyond a linear program after BOUNDS: SOS (a set without a name but with a
// priority gets one), QUADOBJ (one triangle), QCMATRIX (both halves of H_r / 2),
// INDICATORS; the free row they name stays an L row; empty parts write nothing.
TEST(MpsText, SectionsBeyondLinear) {
  const std::string text = text_of(with_parts());
  EXPECT_EQ(section(text, "ROWS", "COLUMNS"), " N  cost\n L  c1\n G  c2\n E  c3\n L  c4\n L  c5\n");
  EXPECT_EQ(section(text, "RHS", "RANGES"),
            "    RHS1  cost  -1.500000000000e0\n    RHS1  c1  4.000000000000e0\n    RHS1  c2  1.000000000000e0\n"
            "    RHS1  c3  2.000000000000e0\n    RHS1  c4  3.000000000000e0\n    RHS1  c5  inf\n");
  EXPECT_EQ(section(text, "BOUNDS", "ENDATA"),
            " BV BND1  y\n FR BND1  z\n"
            "SOS\n S1 s1\n    z  1.000000000000e0\n    x  2.500000000000e0\n S2 SOS2  -3\n"
            "QUADOBJ\n    x  x  2.000000000000e0\n    x  y  -5.000000000000e-1\n    z  z  4.000000000000e0\n"
            "QCMATRIX  c2\n    x  z  1.500000000000e0\n    z  x  1.500000000000e0\n    y  y  5.000000000000e-1\n"
            "INDICATORS\n IF c5  y  1\n IF c1  y  0\n");
  EXPECT_EQ(section(text_of(with_parts(), {.digits = 0}), "QUADOBJ", "QCMATRIX  c2"), "    x  x  2\n    x  y  -0.5\n    z  z  4\n");
  // Parts without entries are not written: the linear text is the worked example's.
  ModelRecord empty = worked_example();
  empty.hessian.emplace();
  for (int k = 0; k < 4; ++k) empty.hessian->start.push_back(0);
  empty.sos.emplace().start.push_back(0);
  empty.indicators.emplace();
  EXPECT_EQ(text_of(empty), kWorkedExample);
}

// Each bounds check in its order: the fault text; every check is made before any
// text is produced.
TEST(MpsText, InternalFaultChecksInOrder) {
  struct Case {
    const char* what;
    void (*spoil)(ModelRecord&);
    uint32_t len, index;
  };
  const Case cases[] = {
      {"row_lower", [](ModelRecord& r) { drop_last(r.row_lower); }, 3, 3},
      {"row_upper", [](ModelRecord& r) { drop_last(r.row_upper); }, 3, 3},
      {"row_names", [](ModelRecord& r) { drop_last(r.row_names.ends); }, 3, 3},
      {"col_integrality", [](ModelRecord& r) { drop_last(r.col_integrality); drop_last(r.col_integrality); }, 1, 1},
      {"col_names", [](ModelRecord& r) { drop_last(r.col_names.ends); drop_last(r.col_names.ends); }, 1, 1},
      {"col_cost", [](ModelRecord& r) { drop_last(r.col_cost); }, 2, 2},
      {"start empty", [](ModelRecord& r) { r.a_matrix.start = OwnedArray<uint32_t>{}; }, 0, 0},
      {"start short", [](ModelRecord& r) { drop_last(r.a_matrix.start); }, 3, 3},
      {"index", [](ModelRecord& r) { drop_last(r.a_matrix.index); }, 2, 2},
      {"value", [](ModelRecord& r) { drop_last(r.a_matrix.value); }, 2, 2},
      {"row index beyond the rows", [](ModelRecord& r) { r.a_matrix.index[1] = 9; }, 4, 9},
      {"col_lower", [](ModelRecord& r) { drop_last(r.col_lower); }, 2, 2},
      {"col_upper", [](ModelRecord& r) { drop_last(r.col_upper); drop_last(r.col_upper); }, 1, 1},
      // Where two checks fail, the earlier one in writing order is reported.
      {"row names and a column's row", [](ModelRecord& r) { drop_last(r.row_names.ends); r.a_matrix.index[0] = 9; }, 3, 3},
      {"cost before a later column's start",
       [](ModelRecord& r) { drop_last(r.col_cost); drop_last(r.a_matrix.start); }, 2, 2},
      {"a column's rows before the bounds", [](ModelRecord& r) { drop_last(r.col_lower); r.a_matrix.index[1] = 9; }, 4, 9},
  };
  // The parts beyond a linear program, checked after the bounds.
  const Case part_cases[] = {
      {"SOS names", [](ModelRecord& r) { drop_last(r.sos->names.ends); }, 1, 1},
      {"SOS start", [](ModelRecord& r) { drop_last(r.sos->start); }, 2, 2},
      {"SOS column", [](ModelRecord& r) { r.sos->index[1] = 7; }, 3, 7},
      {"hessian start", [](ModelRecord& r) { drop_last(r.hessian->start); }, 3, 3},
      {"hessian row", [](ModelRecord& r) { r.hessian->index[1] = 3; }, 3, 3},
      {"hessian value", [](ModelRecord& r) { drop_last(r.hessian->value); }, 2, 2},
      {"row of a row Hessian", [](ModelRecord& r) { r.row_hessians[0].row = 5; }, 5, 5},
      {"indicator row", [](ModelRecord& r) { r.indicators->row[0] = 8; }, 5, 8},
      {"indicator column", [](ModelRecord& r) { r.indicators->column[1] = 3; }, 3, 3},
      {"a column's rows before the parts", [](ModelRecord& r) { r.hessian->index[1] = 3; r.a_matrix.index[1] = 9; }, 5, 9},
  };
  const auto expect_fault = [](ModelRecord r, const Case& c) {
    SCOPED_TRACE(c.what);
    c.spoil(r);
    ByteBuffer out;
    try {
      (void)write_mps_to_buffer(r, out);
      ADD_FAILURE() << "no fault";
    } catch (const InternalFault& fault) {
      EXPECT_EQ(fault.message(), "index out of bounds: the len is " + std::to_string(c.len) + " but the index is " +
                                     std::to_string(c.index));
    }
    EXPECT_EQ(out.size(), 0u);
  };
  for (const Case& c : part_cases) expect_fault(with_parts(), c);
  for (const Case& c : cases) expect_fault(worked_example(), c);
}

// Pieces rendered by several threads reach the sink in order, each with its own text;
// a sink that stops takes no more pieces, and a piece that fails to render fails the
// whole after the pieces before it were handed.
TEST(TextPieces, HandedInOrderStoppedAndFailedAsOneThreadWould) {
  const struct {
    const char* rule;
    size_t count, threads, ahead;
    size_t stop_after;  // the hand of this piece returns false (count: none)
    size_t fail_at;     // rendering this piece throws (count: none)
  } cases[] = {
      {"one thread", 9, 1, 1, 9, 9},
      {"two threads, two slots", 40, 2, 2, 40, 40},
      {"more threads than pieces", 3, 8, 4, 3, 3},
      {"fewer slots than threads take as many as the threads", 50, 4, 1, 50, 50},
      {"no pieces", 0, 2, 4, 0, 0},
      {"the sink stops", 60, 3, 6, 17, 60},
      {"the first hand stops", 60, 2, 8, 0, 60},
      {"a piece fails", 60, 3, 6, 60, 23},
      {"the first piece fails", 60, 2, 4, 60, 0},
      {"the last piece fails", 30, 2, 4, 30, 29},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.rule);
    std::vector<size_t> handed;
    std::string failure;
    const auto render = [&](TextPiece& piece) {
      if (piece.number == c.fail_at) throw std::runtime_error("piece " + std::to_string(piece.number));
      // Pieces of different lengths, each naming itself.
      const std::string text(piece.number % 7 + 1, static_cast<char>('a' + piece.number % 26));
      piece.text.append(text.data(), text.size());
      piece.ends.push_back(static_cast<uint32_t>(piece.number));
    };
    const auto hand = [&](const TextPiece& piece) {
      EXPECT_EQ(as_view(piece.text), std::string(piece.number % 7 + 1, static_cast<char>('a' + piece.number % 26)));
      EXPECT_EQ(piece.ends, std::vector<uint32_t>{static_cast<uint32_t>(piece.number)});
      handed.push_back(piece.number);
      return piece.number != c.stop_after;
    };
    try {
      render_in_pieces(c.count, c.threads, c.ahead, render, hand);
    } catch (const std::runtime_error& e) {
      failure = e.what();
    }
    const size_t last = std::min({c.count, c.stop_after + 1, c.fail_at});
    std::vector<size_t> expected(last);
    for (size_t p = 0; p < last; ++p) expected[p] = p;
    EXPECT_EQ(handed, expected);
    EXPECT_EQ(failure, c.fail_at < c.count && c.fail_at <= c.stop_after ? "piece " + std::to_string(c.fail_at) : "");
  }
}

}  // namespace
}  // namespace mopsel
