// The LP reader and writer: each rule of the dialect as a text and the model it
// reads to (in a compact form), the failures with their code, line, column and
// reason, the findings of a check, and LP text written and read back bit for bit.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <sstream>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "fuzz_lp_checks.hpp"
#include "lp/join_pieces.hpp"
#include "lp/read_lp.hpp"
#include "model_invariants.hpp"
#include "reader_test_support.hpp"
#include "source/load_source.hpp"
#include "source_test_support.hpp"
#include "writer/lp_text.hpp"
#include "writer/lp_writer.hpp"
#include "platform/reading_threads.hpp"

namespace mopsel::testing {
namespace {

std::string number(double v) {
  if (v == kInf) return "inf";
  if (v == -kInf) return "-inf";
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%.17g", v);
  return buffer;
}

// "min|off=0|x:c=1,[0,inf]|...|r:[1,inf]|r.x=1 ..." : sense, offset, columns in order
// (cost, bounds, a kind letter I, S or N for integer, semi-continuous, semi-integer),
// rows in order, entries column by column.
std::string summary(const ModelRecord& m) {
  std::ostringstream out;
  out << (m.obj_sense_minimize ? "min" : "max") << "|off=" << number(m.obj_offset);
  static constexpr const char* kKind[] = {"", "I", "S", "N"};
  for (uint32_t j = 0; j < m.num_col; ++j) {
    out << "|" << m.col_names[j] << ":c=" << number(m.col_cost[j]) << ",[" << number(m.col_lower[j]) << ","
        << number(m.col_upper[j]) << "]" << kKind[m.col_integrality[j]];
  }
  for (uint32_t i = 0; i < m.num_row; ++i) {
    out << "|" << m.row_names[i] << ":[" << number(m.row_lower[i]) << "," << number(m.row_upper[i]) << "]";
  }
  out << "|";
  // Within a column by row: LP text gives the entries of a column in row order.
  for (uint32_t j = 0; j < m.num_col; ++j) {
    std::vector<std::pair<uint32_t, double>> entries;
    for (uint32_t k = m.a_matrix.start[j]; k < m.a_matrix.start[j + 1]; ++k) {
      entries.emplace_back(m.a_matrix.index[k], m.a_matrix.value[k]);
    }
    std::sort(entries.begin(), entries.end());
    for (const auto& [row, value] : entries) out << " " << m.row_names[row] << "." << m.col_names[j] << "=" << number(value);
  }
  // The parts beyond a linear program, when there are any: H and each H_r as
  // "column.row=value" in the lower triangle, the sets, the indicators.
  auto triangle = [&](const SparseMatrixRecord& h) {
    for (uint32_t j = 0; j < m.num_col; ++j) {
      for (uint32_t k = h.start[j]; k < h.start[j + 1]; ++k) {
        out << " " << m.col_names[j] << "." << m.col_names[h.index[k]] << "=" << number(h.value[k]);
      }
    }
  };
  if (m.hessian) {
    out << "|H:";
    triangle(*m.hessian);
  }
  for (const RowHessianRecord& r : m.row_hessians) {
    out << "|H " << m.row_names[r.row] << ":";
    triangle(r.matrix);
  }
  if (m.sos) {
    for (size_t s = 0; s + 1 < m.sos->start.size(); ++s) {
      out << "|" << m.sos->names[s] << " S" << int{m.sos->type[s]} << ":";
      for (uint32_t k = m.sos->start[s]; k < m.sos->start[s + 1]; ++k) {
        out << " " << m.col_names[m.sos->index[k]] << "=" << number(m.sos->weight[k]);
      }
    }
  }
  if (m.indicators) {
    out << "|if:";
    for (size_t k = 0; k < m.indicators->row.size(); ++k) {
      out << " " << m.row_names[m.indicators->row[k]] << "." << m.col_names[m.indicators->column[k]] << "="
          << int{m.indicators->value[k]};
    }
  }
  return out.str();
}

ModelRecord read_ok(std::string_view text, LpReadOptions options = {}) {
  ExactBuffer buffer(text);
  Result<ModelRecord> read = read_lp(buffer.view, options);
  if (!read) ADD_FAILURE() << "read failed: " << read.error().reason << " (line " << read.error().lineno << ")";
  if (!read) return ModelRecord{};
  EXPECT_EQ(check_record_invariants(read.value()), "");
  return std::move(read).value();
}

struct Accept {
  const char* rule;
  const char* text;
  const char* expected;
};

// The model each rule reads to. Where HiGHS, SCIP and Gurobi read a text alike the
// expected model is theirs (docs/compatibility.md).
const Accept kAccept[] = {
    {"sections, terms, the objective constant, ranges of relations",
     "Maximize\n obj: 2 x + 3 y - x + 4\nSubject To\n c1: x + y <= 4\n c2: x + 2 y >= 1\n c3: 3 x =< 7\n"
     " c4: y => 0.5\n c5: x = 1\n c6: y < 2\n c7: y > 1\n c8: x == 2\nEnd\n",
     "max|off=4|x:c=1,[0,inf]|y:c=3,[0,inf]|c1:[-inf,4]|c2:[1,inf]|c3:[-inf,7]|c4:[0.5,inf]|c5:[1,1]|c6:[-inf,2]"
     "|c7:[1,inf]|c8:[2,2]| c1.x=1 c2.x=1 c3.x=3 c5.x=1 c8.x=1 c1.y=1 c2.y=2 c4.y=1 c6.y=1 c7.y=1"},
    {"a number glued to a name is a coefficient; exponents",
     "min\n obj: 2x + 2e1y + 1.5e+1 z + .5 w + 5. v\nst\n c: x >= 1E-1\nend\n",
     "min|off=0|x:c=2,[0,inf]|y:c=20,[0,inf]|z:c=15,[0,inf]|w:c=0.5,[0,inf]|v:c=5,[0,inf]|c:[0.10000000000000001,inf]|"
     " c.x=1"},
    {"exponents before a name, signs and colons after blanks or tabs, a colon on the next line",
     "Minimize\n obj: 2.5e3 x - 1E-2 y + 3e+1 z -2.e1 w +  4  x\nSubject To\n c1 : x + y\t-\tz >= 1\n c2\n"
     " : x - 2e1 w >= 0\nEnd\n",
     "min|off=0|x:c=2504,[0,inf]|y:c=-0.01,[0,inf]|z:c=30,[0,inf]|w:c=-20,[0,inf]|c1:[1,inf]|c2:[0,inf]|"
     " c1.x=1 c2.x=1 c1.y=1 c1.z=-1 c2.w=-20"},
    {"repeated terms are summed; cancelled terms and zero coefficients leave no entry",
     "Minimize\n obj: x + x + 2 y - y\nSubject To\n c1: x + y + x >= 1\n c2: x - x + 0 y >= 1\nEnd\n",
     "min|off=0|x:c=2,[0,inf]|y:c=1,[0,inf]|c1:[1,inf]|c2:[1,inf]| c1.x=2 c1.y=1"},
    {"rows without a name are R and their position; a constant on the left moves right",
     "Minimize\n x\nSubject To\n x + 2 >= 5\n c: x <= 9\n x - 1 - 1 <= 2\nEnd\n",
     "min|off=0|x:c=1,[0,inf]|R0:[3,inf]|c:[-inf,9]|R2:[-inf,4]| R0.x=1 c.x=1 R2.x=1"},
    {"a constant on the left of the relation; two-sided rows",
     "Minimize\n x\nSubject To\n a: 3 >= x\n b: -2 <= x - y <= 3\n c: 5 >= y + 1 >= 1\n d: 2 = x\nEnd\n",
     "min|off=0|x:c=1,[0,inf]|y:c=0,[0,inf]|a:[-inf,3]|b:[-2,3]|c:[0,4]|d:[2,2]| a.x=1 b.x=1 d.x=1 b.y=-1 c.y=1"},
    {"bounds in every form; default bounds; a negative upper bound keeps the lower 0",
     "Minimize\n obj: a + b + c + d + e + f + g + h\nSubject To\n r: a >= 1\nBounds\n a <= -2\n b >= -3\n"
     " -1 <= c <= 4\n d = 5\n 3 >= e\n f free\n g >= -inf\n -inf <= h <= +inf\n b <= 7\nEnd\n",
     "min|off=0|a:c=1,[0,-2]|b:c=1,[-3,7]|c:c=1,[-1,4]|d:c=1,[5,5]|e:c=1,[0,3]|f:c=1,[-inf,inf]|g:c=1,[-inf,inf]"
     "|h:c=1,[-inf,inf]|r:[1,inf]| r.a=1"},
    {"1e20 and beyond is infinite in bounds and right-hand sides; infinity words",
     "Minimize\n obj: a + b + c\nSubject To\n r1: a + b <= 1e20\n r2: a >= -1e30\n r3: b <= INF\n r4: c >= -Infinity\n"
     "Bounds\n a <= 1e25\n b >= -1e20\n c <= 1e19\nEnd\n",
     "min|off=0|a:c=1,[0,inf]|b:c=1,[-inf,inf]|c:c=1,[0,1e+19]|r1:[-inf,inf]|r2:[-inf,inf]|r3:[-inf,inf]|r4:[-inf,inf]|"
     " r1.a=1 r2.a=1 r1.b=1 r3.b=1 r4.c=1"},
    {"columns in order of first appearance, also from Bounds and the type sections",
     "Minimize\n obj: b + a\nSubject To\n c1: c + a + d >= 1\nBounds\n e <= 4\n d <= 3\nGeneral\n f\nBinary\n g\nEnd\n",
     "min|off=0|b:c=1,[0,inf]|a:c=1,[0,inf]|c:c=0,[0,inf]|d:c=0,[0,3]|e:c=0,[0,4]|f:c=0,[0,inf]I|g:c=0,[0,1]I"
     "|c1:[1,inf]| c1.a=1 c1.c=1 c1.d=1"},
    {"section spellings in any case; binary sets [0, 1] where it stands, later bounds win",
     "MAXIMIZE\n x + y + z\nSUCH THAT\n c1: x + y + z <= 1\nBOUND\n x <= 2\nINTEGERS\n x\nBINARIES\n y z\n"
     "Bounds\n z <= 5\nEND\n",
     "max|off=0|x:c=1,[0,2]I|y:c=1,[0,1]I|z:c=1,[0,5]I|c1:[-inf,1]| c1.x=1 c1.y=1 c1.z=1"},
    {"s.t., subject to, generals, gen, bin, minimise",
     "minimise\n obj: x\ns.t.\n c: x >= 1\nsubject to\n d: y <= 2\ngenerals\n x\ngen\n y\nend\n",
     "min|off=0|x:c=1,[0,inf]I|y:c=0,[0,inf]I|c:[1,inf]|d:[-inf,2]| c.x=1 d.y=1"},
    {"semi-continuous sections; integer and semi make semi-integer",
     "Minimize\n x + y + z\nSubject To\n c: x + y + z >= 1\nBounds\n x <= 10\n 2 <= y <= 5\n z <= 3\n"
     "Semi-Continuous\n x y\nGeneral\n y z\nSemis\n z\nEnd\n",
     "min|off=0|x:c=1,[0,10]S|y:c=1,[2,5]N|z:c=1,[0,3]N|c:[1,inf]| c.x=1 c.y=1 c.z=1"},
    {"comments, expressions over several lines, keywords inside names, a label alone",
     "\\ a comment\nMinimize \\ trailing\n obj:\n x\n  + free \\ inside\n  + 2 st\nSubject To\n c1:\n  x + bounds1\n"
     "  >= 1\n\\* block style *\\\n c2: x + st\n <= 3\nEnd\nthis is not read\n",
     "min|off=0|x:c=1,[0,inf]|free:c=1,[0,inf]|st:c=2,[0,inf]|bounds1:c=0,[0,inf]|c1:[1,inf]|c2:[-inf,3]|"
     " c1.x=1 c2.x=1 c2.st=1 c1.bounds1=1"},
    {"names with the punctuation LP allows, brackets that pair, signs in a row",
     "Minimize\n obj: x.1 + y_2 + a#b + c!d + f{1} + g'h + k&l + w/x + z[3] + q[0,1] - - u + - 2 v\n"
     "Subject To\n c.1: x.1 >= 1\nEnd\n",
     "min|off=0|x.1:c=1,[0,inf]|y_2:c=1,[0,inf]|a#b:c=1,[0,inf]|c!d:c=1,[0,inf]|f{1}:c=1,[0,inf]|g'h:c=1,[0,inf]"
     "|k&l:c=1,[0,inf]|w/x:c=1,[0,inf]|z[3]:c=1,[0,inf]|q[0,1]:c=1,[0,inf]|u:c=1,[0,inf]|v:c=-2,[0,inf]"
     "|c.1:[1,inf]| c.1.x.1=1"},
    {"the model name of a CPLEX header comment; CRLF line ends; a byte-order mark",
     "\xEF\xBB\xBF\\Problem name: demo\r\nMinimize\r\n obj: x\r\nSubject To\r\n c: x >= 1\r\nEnd\r\n",
     "min|off=0|x:c=1,[0,inf]|c:[1,inf]| c.x=1"},
    {"an empty text, an empty objective, no constraints", "Minimize\nBounds\n x <= 1\nEnd\n",
     "min|off=0|x:c=0,[0,1]|"},
    {"a Gurobi range variable is an ordinary column",
     "Minimize\n x + y\nSubject To\n c1: x - y - RgR1 = 3\nBounds\n 0 <= RgR1 <= 5\nEnd\n",
     "min|off=0|x:c=1,[0,inf]|y:c=1,[0,inf]|RgR1:c=0,[0,5]|c1:[3,3]| c1.x=1 c1.y=-1 c1.RgR1=-1"},
    {"a right-hand side that a moved constant takes to 1e20 or more is infinite; infinite bounds that bind",
     "Minimize\n x\nSubject To\n c1: x + 1e30 = 1\n c2: x >= 1e30\n c3: x - 1e25 <= 0\n c4: x <= -inf\nEnd\n",
     "min|off=0|x:c=1,[0,inf]|c1:[-inf,-inf]|c2:[inf,inf]|c3:[-inf,inf]|c4:[-inf,-inf]| c1.x=1 c2.x=1 c3.x=1 c4.x=1"},
    {"a quadratic objective: squares give H's diagonal, a product half of itself to each place",
     "Minimize\n obj: x + [ x^2 + 2 x*y + 3 y ^2 - y * x ] / 2 + [ 4 z * z ]/2\nSubject To\n c: x + y >= 1\nEnd\n",
     "min|off=0|x:c=1,[0,inf]|y:c=0,[0,inf]|z:c=0,[0,inf]|c:[1,inf]| c.x=1 c.y=1|H: x.x=1 x.y=0.5 y.y=3 z.z=4"},
    {"quadratic parts that cancel leave no H; a zero product leaves no entry",
     "Minimize\n obj: x + [ x ^ 2 + 0 x * y - x ^ 2 ] / 2\nSubject To\n c: x + y >= 1\nEnd\n",
     "min|off=0|x:c=1,[0,inf]|y:c=0,[0,inf]|c:[1,inf]| c.x=1 c.y=1"},
    {"quadratic rows hold 1/2 x'H_r x: a square's coefficient doubled, a product's whole; no linear part",
     "Minimize\n obj: x\nSubject To\n q1: x + [ x ^ 2 + 2 x * y ] <= 4\n q2: [ y ^ 2 ] >= 1\n c: x >= 0\n"
     " q3: - x + [ 3 x * y + w ^2 ] >= -1\nEnd\n",
     "min|off=0|x:c=1,[0,inf]|y:c=0,[0,inf]|w:c=0,[0,inf]|q1:[-inf,4]|q2:[1,inf]|c:[0,inf]|q3:[-1,inf]"
     "| q1.x=1 c.x=1 q3.x=-1|H q1: x.x=2 x.y=2|H q2: y.y=2|H q3: x.y=3 w.w=2"},
    {"a '-' before the objective's bracket negates it; a bracket without '/ 2' is read as written",
     "Minimize\n obj: x - [ x ^ 2 + 2 x * y ] / 2 + [ y ^ 2 ] - [ 3 z * z ]\nSubject To\n c: x + y >= 1\nEnd\n",
     "min|off=0|x:c=1,[0,inf]|y:c=0,[0,inf]|z:c=0,[0,inf]|c:[1,inf]| c.x=1 c.y=1|H: x.x=-1 x.y=-1 y.y=2 z.z=-6"},
    {"Lazy Constraints and User Cuts are rows",
     "Minimize\n obj: x + y\nSubject To\n c: x + y >= 1\nLazy Constraints\n l1: x <= 5\nuser cuts\n u1: x + y <= 7\n"
     "Bounds\n lazy <= 1\nEnd\n",
     "min|off=0|x:c=1,[0,inf]|y:c=1,[0,inf]|lazy:c=0,[0,1]|c:[1,inf]|l1:[-inf,5]|u1:[-inf,7]| c.x=1 l1.x=1 u1.x=1"
     " c.y=1 u1.y=1"},
    {"SOS sets with and without a name, blanks around '::' and ':', a variable made by a set",
     "Minimize\n obj: x + y + z\nSubject To\n c: x + y + z >= 1\nSOS\n s1: S1:: x:1 y:2 z:3\n S2 :: x : 3 y : -5\n"
     " s3: S1:: w:1.5 s4: S2::\nEnd\n",
     "min|off=0|x:c=1,[0,inf]|y:c=1,[0,inf]|z:c=1,[0,inf]|w:c=0,[0,inf]|c:[1,inf]| c.x=1 c.y=1 c.z=1"
     "|s1 S1: x=1 y=2 z=3|SOS2 S2: x=3 y=-5|s3 S1: w=1.5|s4 S2:"},
    {"indicator constraints with and without a name; the value 0 or 1",
     "Minimize\n obj: x + y\nSubject To\n c: x + y >= 1\n i1: b = 1 -> x + y <= 2\n b = 0 -> x - y >= -1\n"
     " i3: d = +1 -> 2 x = 3\nBinary\n b d\nEnd\n",
     "min|off=0|x:c=1,[0,inf]|y:c=1,[0,inf]|b:c=0,[0,1]I|d:c=0,[0,1]I|c:[1,inf]|i1:[-inf,2]|R2:[-1,inf]|i3:[3,3]"
     "| c.x=1 i1.x=1 R2.x=1 i3.x=2 c.y=1 i1.y=1 R2.y=-1|if: i1.b=1 R2.b=0 i3.d=1"},
};

class LpAccept : public ::testing::TestWithParam<Accept> {};

TEST_P(LpAccept, ReadsTheModelPeersRead) {
  const Accept& c = GetParam();
  EXPECT_EQ(summary(read_ok(c.text)), c.expected) << c.rule;
}

INSTANTIATE_TEST_SUITE_P(Rules, LpAccept, ::testing::ValuesIn(kAccept));

TEST(LpRead, NamesOfTheModelAndTheObjective) {
  const ModelRecord gurobi = read_ok("\\ Model demo\n\\ LP format - for model browsing.\nMaximize\n x\nEnd\n");
  EXPECT_EQ(gurobi.name, "demo");
  EXPECT_EQ(gurobi.objective_name, "Objective");
  const ModelRecord named = read_ok("\\ SCIP\n\\   Problem name     : p1\nMinimize\n cost: x\nEnd\n");
  EXPECT_EQ(named.name, "p1");
  EXPECT_EQ(named.objective_name, "cost");
}

struct Reject {
  const char* text;
  const char* code;
  uint64_t lineno;
  uint64_t column;
  const char* reason;
};

const Reject kReject[] = {
    {"Minimize\n obj: 3 x y\nEnd\n", "lp-syntax", 2, 11, "expected '+' or '-' between two terms, found the name 'y'"},
    {"Minimize\n x\nSubject To\n c1: x + y <=\nEnd\n", "lp-syntax", 5, 1,
     "expected a number after '<=', found the name 'End'"},
    {"Minimize\n x\nSubject To\n c1: x + y\n c2: x >= 1\nEnd\n", "lp-syntax", 5, 2,
     "expected '<=', '>=' or '=' after the expression, found the name 'c2'"},
    {"Minimize\n x + y: 2\nEnd\n", "lp-syntax", 2, 7,
     "a ':' after a term: a constraint name where the expression goes on (a missing section keyword?)"},
    {"Minimize\n x\nSubject To\n c1: x <= 1 <= 2\nEnd\n", "lp-syntax", 4, 13,
     "expected the end of the constraint (a ranged constraint is written 'lower <= expression <= upper'), found '<='"},
    {"Minimize\n x\nSubject To\n c1: 1 <= x >= 2\nEnd\n", "lp-syntax", 4, 13,
     "a ranged constraint takes two '<=' or two '>=', found '<=' and '>='"},
    {"Minimize\n x\nBounds\n 2 x <= 5\nEnd\n", "lp-syntax", 4, 4,
     "expected '<=', '>=' or '=' after the number (a bound takes no coefficient), found the name 'x'"},
    {"Minimize\n x\nBounds\n x 5\nEnd\n", "lp-syntax", 4, 4,
     "expected '<=', '>=', '=' or 'free' after the variable 'x', found the number '5'"},
    {"Minimize\n x\nGeneral\n 3\nEnd\n", "lp-syntax", 4, 2, "expected a variable name in General, found the number '3'"},
    {"x + y\nEnd\n", "lp-syntax", 1, 1,
     "expected a section keyword (Minimize, Maximize, Subject To, Bounds, General, Binary, Semi-Continuous, SOS, "
     "Lazy Constraints, User Cuts or End), found the name 'x'"},
    {"Minimize\n obj: x + y <= 2\nEnd\n", "lp-syntax", 2, 13,
     "expected a term of the objective (it has no relation), found '<='"},
    {"Minimize\n obj: x\nSubject To\n c: x - [ x ^ 2 ] <= 2\nEnd\n", "lp-syntax", 4, 9,
     "a '-' before '[' in a constraint: the signs of a quadratic part go inside the brackets"},
    {"Minimize\n obj: [ x ^ 2 ] / 4\nEnd\n", "lp-syntax", 2, 19, "expected '2' after '/', found the number '4'"},
    {"Minimize\n x\nSubject To\n c: [ x ^ 2 ] / 2 <= 1\nEnd\n", "lp-syntax", 4, 15,
     "expected '<=', '>=' or '=' after the expression, found '/'"},
    {"Minimize\n obj: [ x ^ 3 ] / 2\nEnd\n", "lp-unsupported", 2, 13,
     "only squares ('^ 2') and products ('x * y') are read, found '^ 3'"},
    {"Minimize\n obj: [ 2 x y ] / 2\nEnd\n", "lp-syntax", 2, 13,
     "expected '^ 2' or '* variable' after 'x' in the quadratic part, found the name 'y'"},
    {"Minimize\n obj: [ ] / 2\nEnd\n", "lp-syntax", 2, 9, "expected a quadratic term after '[', found ']'"},
    {"Minimize\n obj: x + [ x ^ 2 y ^ 2 ] / 2\nEnd\n", "lp-syntax", 2, 19,
     "expected '+', '-' or ']' after a quadratic term, found the name 'y'"},
    {"Minimize\n x\nSubject To\n c1: b = 2 -> x + y <= 2\nEnd\n", "bad-indicator", 4, 10,
     "the variable of an indicator constraint takes the value 0 or 1, found '2'"},
    {"Minimize\n x\nSOS\n s1: S3:: x:1 y:2\nEnd\n", "unknown-sos-type", 4, 6, "unknown SOS type 'S3' (S1 or S2)"},
    {"Minimize\n x\nSOS\n s1: S1:: x y\nEnd\n", "lp-syntax", 4, 11,
     "expected an SOS set ('name: S1:: x:1 y:2'), found the name 'x'"},
    {"Minimize\n x\nSOS\n s1: S1:: x:\nEnd\n", "lp-syntax", 5, 1, "expected a weight after ':', found the name 'End'"},
    {"Minimize\n x\nSubject To\n c1: x - >= 1\nEnd\n", "lp-syntax", 4, 10,
     "expected a number or a variable after the sign, found '>='"},
};

class LpReject : public ::testing::TestWithParam<Reject> {};

TEST_P(LpReject, FailsWithWhereAndWhy) {
  const Reject& c = GetParam();
  ExactBuffer buffer(c.text);
  Result<ModelRecord> read = read_lp(buffer.view);
  ASSERT_FALSE(read.ok()) << c.text;
  const Error& e = read.error();
  EXPECT_EQ(e.message, kLpParseFailure);
  EXPECT_EQ(finding_name(e.cause), c.code);
  EXPECT_EQ(e.lineno, c.lineno);
  EXPECT_EQ(e.column, c.column);
  EXPECT_EQ(e.reason, c.reason);
}

INSTANTIATE_TEST_SUITE_P(Rules, LpReject, ::testing::ValuesIn(kReject));

TEST(LpRead, NamesThatAreNotUtf8AreRefusedWithTheirPlace) {
  Result<ModelRecord> read = read_lp("Minimize\n obj: x + caf\xE9\nEnd\n");
  ASSERT_FALSE(read.ok());
  EXPECT_EQ(read.error().cause, FindingCode::InvalidUtf8);
  EXPECT_EQ(read.error().lineno, 2u);
}

TEST(LpRead, LimitsFailInsteadOfWrapping) {
  ReaderLimits limits;
  limits.max_columns = 2;
  Result<ModelRecord> read = read_lp("Minimize\n a + b + c\nEnd\n", {}, limits);
  ASSERT_FALSE(read.ok());
  EXPECT_EQ(read.error().cause, FindingCode::TooManyColumns);
  EXPECT_EQ(read.error().column, 10u);
}

// A Subject To section read by threads gives the one thread's model or failure, bit for
// bit (check_lp_thread_plans cuts it at every label line and at a few piece sizes);
// `threaded` says whether the pieces are joined or the section goes back to one thread.
struct Threaded {
  const char* what;
  std::string text;
  bool threaded;
  bool objective = false;  // the section in pieces is the objective, else Subject To
};

std::string long_row(int terms) {
  std::string row = " long:";
  for (int k = 0; k < terms; ++k) row += " + " + std::to_string(k % 7 + 1) + " v" + std::to_string(k % 23);
  return row + " <= 5\n";
}

// Rows that each name the same `columns` new columns: the pieces' new columns overstate
// the model's many times, and one thread joins them.
std::string shared_new_columns(int rows, int columns) {
  std::string text = "Minimize\n x\nSubject To\n";
  for (int i = 0; i < rows; ++i) {
    text += " r" + std::to_string(i) + ": x";
    for (int j = 0; j < columns; ++j) text += " + c" + std::to_string((j * 7 + i) % columns);
    text += " <= " + std::to_string(i) + "\n";
  }
  return text + "End\n";
}

// An objective of `columns` columns, then rows of `terms` terms that name them and a
// few new columns: before the rows' new columns join, every thread moves the
// objective's names to a larger map (the rows' text outweighs that map).
std::string many_objective_columns(int columns, int rows, int terms) {
  std::string text = "Minimize\n obj: x0";
  for (int j = 1; j < columns; ++j) text += (j % 16 == 0 ? "\n + x" : " + x") + std::to_string(j);
  text += "\nSubject To\n";
  for (int i = 0; i < rows; ++i) {
    text += " r" + std::to_string(i) + ": n" + std::to_string(i) + " + n" + std::to_string(i / 2);
    for (int k = 0; k < terms; ++k) text += (k % 16 == 0 ? "\n - x" : " - x") + std::to_string((i * 977 + k * 7919) % columns);
    text += " >= 1\n";
  }
  return text + "End\n";
}

const Threaded kThreaded[] = {
    {"a large map moved by every thread before the rows' new columns join", many_objective_columns(20000, 40, 2000), true},
    {"columns made by the objective and by rows of every piece",
     "Minimize\n obj: x + 2 y\nSubject To\n a: x + z >= 1\n b: w + y <= 2\n c: z + w + u = 3\n"
     " d: -5 <= u + x <= 4\n e: 3 <= v\nEnd\n",
     true},
    {"repeated terms summed into the first, cancelling terms dropped, short and long rows",
     "Minimize\n x\nSubject To\n a: x + y - x + 2 y + x >= 1\n b: y - y + z <= 2\n" + long_row(40) +
         " c: 0 x + q = 1\nEnd\n",
     true},
    {"rows over several lines, comments and blank lines between them",
     "Maximize\n x + y\nSubject To\n a: x\n + y\n\n \\ b: not a row\n >= 1\n b:\n 2 x - y\n <= 4\nEnd\n",
     true},
    {"the sections after Subject To, an SOS section with labels among them",
     "Minimize\n x\nSubject To\n a: x + y >= 1\n b: y + z <= 3\nBounds\n x <= 4\n -1 <= z <= 1\nGeneral\n y\n"
     "SOS\n s1: S1:: x:1 y:2\n s2: S2:: y:1 z:2\nEnd\n",
     true},
    {"long names made in pieces, met again in later pieces and in Bounds",
     "Minimize\n x\nSubject To\n a: a_column_with_a_long_name + x >= 1\n b: another_long_column_name - x <= 2\n"
     " c: a_column_with_a_long_name + another_long_column_name + a_third_long_column_name = 3\n"
     " d: a_third_long_column_name + y >= 0\nBounds\n a_third_long_column_name <= 9\n"
     " another_long_column_name free\nEnd\n",
     true},
    {"rows naming the same new columns, joined on one thread", shared_new_columns(12, 3000), true},
    {"a second Subject To section after Bounds, joined after the first's rows",
     "Minimize\n x\nSubject To\n a: x + y >= 1\n b: y - x <= 4\nBounds\n x <= 3\nSubject To\n c: y + z <= 2\n"
     " d: z + w = 1\nEnd\n",
     true},
    {"a text that ends inside Subject To", "Minimize\n x\nSubject To\n a: x + y >= 1\n b: y <= 3\n", true},
    {"a quadratic row", "Minimize\n x\nSubject To\n a: x + y >= 1\n q: x + [ x ^ 2 ] <= 4\nEnd\n", false},
    {"an indicator", "Minimize\n x\nSubject To\n a: x + y >= 1\n i: b = 1 -> x + y <= 2\nEnd\n", false},
    {"a row without a name", "Minimize\n x\nSubject To\n a: x + y >= 1\n x - y <= 3\n c: y <= 2\nEnd\n", false},
    {"a syntax error in a later piece", "Minimize\n x\nSubject To\n a: x + y >= 1\n b: x + y\n c: y <= 2\nEnd\n",
     false},
    {"a relation cut from its value", "Minimize\n x\nSubject To\n a: x + y >=\n b: y <= 2\nEnd\n", false},
};

class LpThreads : public ::testing::TestWithParam<Threaded> {};

// The same for a large objective, cut before the signs of its terms.
const Threaded kThreadedObjectives[] = {
    {"costs summed in text order, constants among the terms, columns of the objective only",
     "Maximize\n obj: 0.1 x + 0.2 y + 3 - 0.3 x + 1e-17 x + 0.7\n + z\n - 2.5 - y + w\nSubject To\n c: x + y + z <= 1\nEnd\n",
     true, true},
    {"a comment holding signs, terms over several lines, no label",
     "Minimize\n x \\ + fake - terms\n + 2 y\n \\ - more + fake\n - 3 z + 4\nBounds\n z <= 2\nEnd\n", true, true},
    {"long names made in the objective's pieces",
     "Minimize\n a_column_with_a_long_name + another_long_column_name - a_column_with_a_long_name\n"
     " + a_third_long_column_name\nSubject To\n c: another_long_column_name + a_third_long_column_name >= 1\nEnd\n",
     true, true},
    {"an objective that ends the text", "Minimize\n x + y - z + 2 x", true, true},
    {"names met again within a piece and in later pieces, first met in a later piece",
     "Minimize\n obj: " + [] {
       std::string terms = "q";
       for (int k = 1; k < 90; ++k) terms += " + " + std::to_string(k % 4 + 1) + " x" + std::to_string(k * k % 7);
       return terms;
     }() + " - 3 q\nSubject To\n c: x1 + x6 >= 1\nEnd\n",
     true, true},
    {"a quadratic part", "Minimize\n x + y + [ x ^ 2 + 2 x * y ] / 2 + z\nSubject To\n c: x + y >= 1\nEnd\n", false, true},
    {"a relation in the objective", "Minimize\n x + y >= 2 + z\nEnd\n", false, true},
};

TEST_P(LpThreads, ReadAsOneThreadReads) {
  const Threaded& c = GetParam();
  const auto joined = [&c] {
    const lp::PiecesJoined count = lp::lp_pieces_joined();
    return c.objective ? count.objective : count.constraints;
  };
  const uint64_t before = joined();
  EXPECT_EQ(fuzz::check_lp_thread_plans(c.text), "");
  EXPECT_EQ(joined() > before, c.threaded);
}

INSTANTIATE_TEST_SUITE_P(Rows, LpThreads, ::testing::ValuesIn(kThreaded));
INSTANTIATE_TEST_SUITE_P(Objectives, LpThreads, ::testing::ValuesIn(kThreadedObjectives));

TEST(LpThreads, LimitsMetAcrossPiecesFailAsOnOneThread) {
  const std::string text = "Minimize\n x\nSubject To\n a: x + y >= 1\n b: z + w <= 2\n c: u + v = 1\nEnd\n";
  ReaderLimits limits;
  limits.max_columns = 4;
  ThreadPlan plan = plan_taking_no_path();
  plan.threads = 2;
  plan.lp_min_bytes = 0;
  plan.chunk_bytes = 1;
  const fuzz::UsualPlansAfter restore;
  use_thread_plan_for_tests(plan);
  const Result<ModelRecord> read = read_lp(text, {}, limits);
  ASSERT_FALSE(read.ok());
  EXPECT_EQ(read.error().cause, FindingCode::TooManyColumns);
  EXPECT_EQ(read.error().lineno, 6u);  // u, the fifth column
}

// An interruption during a threaded read stops every thread and fails the read.
TEST(LpThreads, AnInterruptionStopsEveryThread) {
  std::string text = "Minimize\n obj: x0";
  for (int j = 1; j < 40000; ++j) text += " + " + std::to_string(j % 9 + 1) + " x" + std::to_string(j);
  text += "\nSubject To\n";
  for (int i = 0; i < 40000; ++i) {
    text += " r" + std::to_string(i) + ": x" + std::to_string(i) + " + 2 x" + std::to_string((i * 7) % 40000) + " >= 1\n";
  }
  text += "End\n";
  ThreadPlan plan = plan_taking_no_path();
  plan.threads = 2;
  plan.lp_min_bytes = 0;
  plan.chunk_bytes = 64 << 10;
  const fuzz::UsualPlansAfter restore;
  use_thread_plan_for_tests(plan);
  // The reading thread asks before the objective's pieces and before the rows' pieces.
  for (int allowed : {0, 1}) {
    int polls = 0;
    const auto stop_after = [](void* context, bool) noexcept {
      auto* count = static_cast<std::pair<int*, int>*>(context);
      return ++*count->first > count->second;
    };
    std::pair<int*, int> state{&polls, allowed};
    const Result<ModelRecord> read = read_lp(text, {}, {}, Interruption{stop_after, &state});
    ASSERT_FALSE(read.ok()) << allowed;
    EXPECT_EQ(read.error().kind, ErrorKind::Interrupted);
    EXPECT_EQ(reading_threads_in_use(), 0u);
  }
  EXPECT_TRUE(read_lp(text).ok());
}

// Strict reading fails at what the default reading passes over; check lists it all.
struct Finds {
  const char* text;
  std::vector<std::pair<const char*, uint64_t>> codes;  // in file order, with the line
};

const Finds kFinds[] = {
    {"Minimize\n obj: x + x\nSubject To\n c: y + y >= 1\nEnd\n", {{"repeated-term", 2}, {"repeated-term", 4}}},
    {"Minimize\n x\nBounds\n w <= 3\nGeneral\n v\nEnd\n", {{"unknown-column", 4}, {"unknown-column", 6}}},
    {"Minimize\n x\n", {{"no-end", 2}}},
    {"Minimize\n x\nSOS\n s1: S1:: x:1 y:2\n s2: S2:: x:1 x:2\nEnd\n",
     {{"unknown-column", 4}, {"repeated-sos-column", 5}}},
    {"Minimize\n obj: [ x * y + y * x ] / 2\nSubject To\n q: [ x ^ 2 + x ^ 2 ] <= 1\n i: b = 1 -> x <= 1\nEnd\n",
     {{"repeated-quadratic-entry", 2}, {"repeated-quadratic-entry", 4}, {"non-binary-indicator", 5}}},
    {"Minimize\n 2x\nSubject To\n c: x >= 1e30\nBounds\n x >= 5\n x <= 3\nEnd\n",
     {{"glued-coefficient", 2}, {"infinite-value", 4}, {"bound-conflict", 7}}},
    {"Minimize\n x\nSubject To\n c: x + y y\nEnd\n", {{"lp-syntax", 4}}},
    {"Minimize\n obj: x + [ x ^ 2 ]\nSubject To\n c: x >= 1\nUser Cuts\n u: x <= 3\nEnd\n",
     {{"unhalved-quadratic", 2}, {"lazy-rows", 5}}},
};

class LpFinds : public ::testing::TestWithParam<Finds> {};

TEST_P(LpFinds, CheckListsAndStrictRefuses) {
  const Finds& c = GetParam();
  const CheckReport report = check_lp(c.text, 100);
  std::vector<std::pair<std::string, uint64_t>> found;
  for (const Finding& f : report.findings) found.emplace_back(finding_name(f.code), f.lineno);
  std::vector<std::pair<std::string, uint64_t>> expected;
  for (const auto& [code, line] : c.codes) expected.emplace_back(code, line);
  EXPECT_EQ(found, expected) << c.text;
  // Strict reading fails at the first finding that is an error; the default reads on.
  bool error = false;
  for (const auto& [code, line] : c.codes) {
    const std::string_view name = code;
    const bool fails = name == "repeated-term" || name == "unknown-column" || name == "no-end" ||
                       name == "repeated-sos-column" || name == "non-binary-indicator" || name == "lp-syntax";
    if (!fails || error) continue;
    error = true;
    Result<ModelRecord> strict = read_lp(c.text, LpReadOptions{true});
    ASSERT_FALSE(strict.ok());
    EXPECT_EQ(finding_name(strict.error().cause), name);
    EXPECT_EQ(strict.error().lineno, line);
  }
  EXPECT_EQ(read_lp(c.text).ok(), std::string_view(c.codes.back().first) != "lp-syntax");
}

INSTANTIATE_TEST_SUITE_P(Rules, LpFinds, ::testing::ValuesIn(kFinds));

// --- the writer ------------------------------------------------------------------

std::string lp_text(const ModelRecord& record, WriteOptions options = {}) {
  ByteBuffer out;
  EXPECT_TRUE(write_lp_to_buffer(record, out, options).ok());
  return std::string(as_view(out));
}

TEST(LpWrite, TheLayout) {
  const ModelRecord m = read_ok(
      "\\Problem name: demo\nMaximize\n cost: 2 x + 3 y - z + 0 w + 1.5 b + 7\nSubject To\n c1: x + y <= 4\n"
      " c2: -2 <= x - z <= 3\n c3: x + w = 3\n c4: y >= -1\n free1: z <= inf\nBounds\n x <= 10\n z free\n -3 <= b <= 2\n"
      " w >= -1\n y = 2\nGeneral\n y b\nBinary\n w\nEnd\n");
  EXPECT_EQ(lp_text(m, {.digits = 0}),
            "\\Problem name: demo\nMaximize\n cost: 2 x + 3 y - z + 0 w + 1.5 b + 7\nSubject To\n c1: x + y <= 4\n"
            " c2_lo: x - z >= -2\n c2_up: x - z <= 3\n c3: x + w = 3\n c4: y >= -1\n free1: z <= inf\n"
            "Bounds\n x <= 10\n y = 2\n z free\n -3 <= b <= 2\nGenerals\n y b\nBinaries\n w\nEnd\n");
}

TEST(LpWrite, ThePartsBeyondALinearProgram) {
  const ModelRecord m = read_ok(
      "Minimize\n obj: x + y + [ x ^ 2 + 3 x * y ] / 2 + 1\nSubject To\n c: x + y >= 1\n q: x + [ 2 x ^ 2 + y * x ] <= 4\n"
      " i: b = 1 -> x - y <= 2\nBinary\n b\nSOS\n s1: S1:: x:1 y:2\n S2:: x:1 b:2.5\nEnd\n");
  EXPECT_EQ(lp_text(m, {.digits = 0}),
            "Minimize\n obj: x + y + 0 b + [ x ^2 + 3 x * y ] / 2 + 1\nSubject To\n c: x + y >= 1\n"
            " q: x + [ 2 x ^2 + x * y ] <= 4\n i: b = 1 -> x - y <= 2\nBounds\nBinaries\n b\nSOS\n s1: S1:: x:1 y:2\n"
            " SOS2: S2:: x:1 b:2.5\nEnd\n");
  // A quadratic row without linear terms, a two-sided indicator row (two rows, each
  // with the indicator), a set without a name.
  const ModelRecord two = read_ok(
      "Minimize\n obj: x\nSubject To\n q: [ 3 y ^ 2 ] <= 4\n i: b = 0 -> -1 <= x - y <= 2\nEnd\n");
  EXPECT_EQ(lp_text(two, {.digits = 0}),
            "Minimize\n obj: x + 0 y + 0 b\nSubject To\n q: [ 3 y ^2 ] <= 4\n i_lo: b = 0 -> x - y >= -1\n"
            " i_up: b = 0 -> x - y <= 2\nBounds\nEnd\n");
  Result<ModelRecord> unnamed = read_mps("ROWS\n N obj\n L c\nCOLUMNS\n x obj 1 c 1\nSOS\n S1\n    x 1\nENDATA\n");
  ASSERT_TRUE(unnamed.ok());
  EXPECT_TRUE(lp_text(unnamed.value(), {.digits = 0}).ends_with("\nSOS\n S1:: x:1\nEnd\n"));
}

// Fixes the plan of LP texts (threads, pieces, the threaded name check) while in scope.
class ForcedLpPlan {
 public:
  explicit ForcedLpPlan(LpTextPlan plan) { use_lp_text_plan_for_tests(plan); }
  ~ForcedLpPlan() { use_lp_text_plan_for_tests(std::nullopt); }
  ForcedLpPlan(const ForcedLpPlan&) = delete;
  ForcedLpPlan& operator=(const ForcedLpPlan&) = delete;
};

TEST(LpWrite, RefusesNamesLpTextCannotHold) {
  const struct {
    const char* text;
    const char* why;
  } cases[] = {
      {"ROWS\n N obj\n L c-1\nCOLUMNS\n x obj 1 c-1 1\nENDATA\n", "row name 'c-1' cannot be written in LP text: it holds '-'"},
      {"ROWS\n N obj\n L c\nCOLUMNS\n 1x obj 1 c 1\nENDATA\n",
       "column name '1x' cannot be written in LP text: it starts with a digit or a point"},
      {"ROWS\n N obj\n L c\nCOLUMNS\n end obj 1 c 1\nENDATA\n",
       "column name 'end' cannot be written in LP text: it is a keyword of LP text"},
      {"ROWS\n N obj\n L c\nCOLUMNS\n x obj 1 c 1\n y obj 1\n x c 2\nENDATA\n",
       "column name 'x' is given to two columns: LP text names a column by its name"},
      {"ROWS\n N obj\n L c\nCOLUMNS\n x obj 1 c 1\n X obj 1\n ends c 2\n s.t c 1\nENDATA\n", "(writable)"},
      {"ROWS\n N obj\n L c\nCOLUMNS\n x obj 1 c 1\n BOUNDS c 1\nENDATA\n",
       "column name 'BOUNDS' cannot be written in LP text: it is a keyword of LP text"},
      {"ROWS\n N obj\n L c\nCOLUMNS\n x obj 1 c 1\n SemiContinuous c 1\nENDATA\n",
       "column name 'SemiContinuous' cannot be written in LP text: it is a keyword of LP text"},
      {"ROWS\n N obj\n L S.T.\nCOLUMNS\n x obj 1 S.T. 1\nENDATA\n",
       "row name 'S.T.' cannot be written in LP text: it is a keyword of LP text"},
      {"ROWS\n N obj\n L c\nCOLUMNS\n x obj nan c 1\nENDATA\n",
       "the cost of column 'x' is NaN or infinite: LP text cannot hold it"},
      {"ROWS\n N obj\n L c\nCOLUMNS\n x obj 1 c 1\nSOS\n S1 s1 5\n    x 1\nENDATA\n",
       "SOS set 's1' has the priority 5, which LP text has no place for: write it as MPS"},
      {"ROWS\n N obj\n L c\nCOLUMNS\n x obj 1 c 1\nSOS\n S1 s-1\n    x 1\nENDATA\n",
       "SOS set name 's-1' cannot be written in LP text: it holds '-'"},
      {"ROWS\n N obj\n L c\nCOLUMNS\n x obj 1 c 1\nSOS\n S1 s1\n    x inf\nENDATA\n",
       "a weight of SOS set 's1' is NaN or infinite: LP text cannot hold it"},
      {"ROWS\n N obj\n L c\nCOLUMNS\n x obj 1 c 1\n b c 1\nINDICATORS\n IF c b 1\n IF c b 0\nENDATA\n",
       "row 'c' has two indicators: LP text gives a row one at most"},
      {"ROWS\n N obj\n L c\nCOLUMNS\n x obj 1 c 1\n y c 1\nQUADOBJ\n y x 1e308\nENDATA\n",
       "a value of the objective's quadratic part is NaN or too large: LP text cannot hold it"},
      {"ROWS\n N obj\n L c\nCOLUMNS\n x obj 1 c 1\nQCMATRIX c\n x x nan\nENDATA\n",
       "a value of the quadratic part of row 'c' is NaN or infinite: LP text cannot hold it"},
  };
  // On one thread, and on several over ranges of the names (the same first offender).
  for (const unsigned threads : {1u, 2u, 3u}) {
    const ForcedLpPlan forced({.threads = threads, .min_names = 0});
    for (const auto& c : cases) {
      Result<ModelRecord> m = read_mps(c.text);
      ASSERT_TRUE(m.ok());
      EXPECT_EQ(lp_unwritable_name(m.value()).value_or("(writable)"), c.why) << threads;
    }
    // Among many columns, a name given again far from the first (the table of names seen
    // grows and is probed ahead), or a bad name before the repeated one: the first offender.
    for (const auto& [again, bad, why] : std::vector<std::tuple<int, int, std::string>>{
             {4000, -1, "column name 'c3' is given to two columns: LP text names a column by its name"},
             {17, -1, "column name 'c3' is given to two columns: LP text names a column by its name"},
             {-1, -1, "(writable)"},
             {4000, 3500, "column name 'end' cannot be written in LP text: it is a keyword of LP text"},
             {1000, 4500, "column name 'c3' is given to two columns: LP text names a column by its name"},
             {2600, 4999, "column name 'c3' is given to two columns: LP text names a column by its name"},
             {-1, 4999, "column name 'end' cannot be written in LP text: it is a keyword of LP text"},
         }) {
      std::string text = "ROWS\n N obj\n L c\nCOLUMNS\n";
      for (int j = 0; j < 5000; ++j) {
        std::string name = std::to_string(j);
        name.insert(name.begin(), 'c');
        text += ' ';
        text += j == again ? "c3" : j == bad ? "end" : name;
        text += " c 1\n";
      }
      Result<ModelRecord> m = read_mps(text + "ENDATA\n");
      ASSERT_TRUE(m.ok());
      EXPECT_EQ(lp_unwritable_name(m.value()).value_or("(writable)"), why) << again << " " << bad << " " << threads;
    }
    EXPECT_EQ(reading_threads_in_use(), 0u);
  }
}

// Written in the exact mode and read back, a model is itself bit for bit (ranged rows
// come back as their two rows); with 13 digits, within those digits.
TEST(LpWrite, ExactModeReadsBackBitForBit) {
  for (const Accept& c : kAccept) {
    const ModelRecord m = read_ok(c.text);
    if (lp_unwritable_name(m)) continue;  // names such as 'free' or 'st'
    uint32_t two_sided = 0;
    for (uint32_t i = 0; i < m.num_row; ++i) {
      two_sided += std::isfinite(m.row_lower[i]) && std::isfinite(m.row_upper[i]) && m.row_lower[i] != m.row_upper[i];
    }
    const std::string text = lp_text(m, {.digits = 0});
    const ModelRecord back = read_ok(text);
    if (two_sided > 0) {
      EXPECT_EQ(back.num_row, m.num_row + two_sided) << c.rule;
      continue;
    }
    EXPECT_EQ(summary(back), summary(m)) << c.rule << "\n" << text;
    EXPECT_EQ(back.name, m.name);
    EXPECT_EQ(back.objective_name, m.objective_name);
    EXPECT_EQ(lp_text(back, {.digits = 0}), text) << c.rule;
  }
}

TEST(LpWrite, GzipAndLongExpressionsReadBack) {
  std::string text = "Minimize\n obj:";
  for (int j = 0; j < 300; ++j) text += " + " + std::to_string(j + 1) + ".25 x" + std::to_string(j);
  text += "\nSubject To\n c:";
  for (int j = 0; j < 300; ++j) text += " - x" + std::to_string(j);
  text += " >= -1e6\nEnd\n";
  const ModelRecord m = read_ok(text);
  const std::string written = lp_text(m);
  size_t longest = 0;
  for (size_t at = 0, next; at < written.size(); at = next + 1) {
    next = written.find('\n', at);
    longest = std::max(longest, next - at);
  }
  EXPECT_LT(longest, kLpLineWidth + 64);
  EXPECT_EQ(summary(read_ok(written)), summary(m));
  ByteBuffer gz;
  ASSERT_TRUE(write_lp_to_buffer(m, gz, {.gzip = true}).ok());
  EXPECT_EQ(static_cast<unsigned char>(gz[0]), 0x1f);
}

// Terms go into rooms of the sink many at a time; the text must not depend on the sink
// (a growing buffer, a file's 8192-byte buffer, gzip's 64 KiB input) nor on where the
// names lie in the name list (the last ones are copied without reading past it), and
// an expression must break where its width first reaches kLpLineWidth.
struct Shape {
  const char* rule;
  size_t name_length;  // of every column name
  size_t row_name_length;
  int columns;
  const char* coefficients;  // used in turn, one per term
};

const Shape kShapes[] = {
    {"short names, many lines", 3, 2, 600, "1 -1 2 -2.5"},
    {"names of 15, 16 and 17 bytes are copied alike", 16, 3, 120, "-1 1"},
    {"names longer than one 16-byte copy", 33, 3, 90, "1 1e-300 -7"},
    {"a term longer than the least room asked for", 700, 3, 12, "-1 3"},
    {"a term longer than the file sink's buffer", 9000, 3, 3, "1 -2"},
    {"a row name past the width: the first term starts a new line", 5, 230, 40, "-1 1"},
    {"numbers of every length", 4, 2, 200, "0.1 -123456789.125 1e300 -4.9e-324 1"},
};

std::string shape_text(const Shape& c) {
  std::vector<std::string> names;
  for (int j = 0; j < c.columns; ++j) {
    std::string name = std::to_string(j);
    name.insert(name.begin(), 'x');
    // 15, 16 and 17 bytes by turns for the 16-byte shape.
    const size_t length = c.name_length == 16 ? 15 + j % 3 : c.name_length;
    if (name.size() < length) name.append(length - name.size(), 'n');
    names.push_back(name);
  }
  std::vector<std::string> coefficients;
  std::istringstream words(c.coefficients);
  for (std::string w; words >> w;) coefficients.push_back(w);
  auto expression = [&](size_t shift) {
    std::string text;
    for (size_t j = 0; j < names.size(); ++j) {
      const std::string& v = coefficients[(j + shift) % coefficients.size()];
      const bool negative = v[0] == '-';
      text += negative ? " - " : " + ";
      text.append(v, negative ? 1 : 0);
      text += ' ';
      text += names[j];
    }
    return text;
  };
  const std::string row(c.row_name_length, 'r');
  return "Minimize\n obj:" + expression(0) + "\nSubject To\n " + row + ":" + expression(1) + " >= -1\n c2:" +
         expression(2) + " <= 4\nEnd\n";
}

std::string sink_text(const ModelRecord& m, const WriteOptions& options, bool to_file, const TempDir& dir) {
  if (!to_file) return lp_text(m, options);
  const std::string path = dir.file(options.gzip ? "m.lp.gz" : "m.lp");
  EXPECT_TRUE(write_lp_to_file(m, path, options).ok());
  Result<ByteBuffer> text = load_source(path);  // inflated when gzip
  return text.ok() ? std::string(as_view(text.value())) : "(unreadable)";
}

class LpWriteShapes : public ::testing::TestWithParam<Shape> {};

TEST_P(LpWriteShapes, EverySinkGivesTheSameTextBrokenAtTheWidth) {
  const Shape& c = GetParam();
  const ModelRecord m = read_ok(shape_text(c));
  const TempDir dir;
  for (const int digits : {kFixedLayoutDigits, 0, 6}) {
    const std::string text = lp_text(m, {.digits = digits});
    for (const bool gzip : {false, true}) {
      for (const bool to_file : {false, true}) {
        if (!gzip && !to_file) continue;
        std::string written = sink_text(m, {.digits = digits, .gzip = gzip}, to_file, dir);
        if (gzip && !to_file) {  // the buffer holds the gzip member
          const std::string path = dir.write("buffer.lp.gz", written);
          Result<ByteBuffer> inflated = load_source(path);
          ASSERT_TRUE(inflated.ok());
          written = std::string(as_view(inflated.value()));
        }
        EXPECT_EQ(written, text) << c.rule << ": digits " << digits << (gzip ? ", gzip" : "") << (to_file ? ", file" : "");
      }
    }
    if (digits == 0) {
      EXPECT_EQ(summary(read_ok(text)), summary(m)) << c.rule;
    }
    // The first line of an expression ends with the term that takes it to the width:
    // without that term it is short of it.
    std::istringstream lines(text);
    std::string line, previous;
    while (std::getline(lines, line)) {
      const bool continues = line.starts_with(" + ") || line.starts_with(" - ");
      if (continues && previous.find(':') != std::string::npos) {
        // Where its last term starts (none when the label alone reaches the width).
        size_t last = 0;
        for (const char* sign : {" + ", " - "}) {
          if (const size_t at = previous.rfind(sign); at != std::string::npos) last = std::max(last, at);
        }
        EXPECT_GE(previous.size(), kLpLineWidth) << c.rule << "\n" << previous;
        EXPECT_LT(last, kLpLineWidth) << c.rule << "\n" << previous;
      }
      if (!continues) previous = line;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Rules, LpWriteShapes, ::testing::ValuesIn(kShapes));

// The objective's terms and the rows rendered in pieces by several threads: the text
// of one thread, whatever the pieces (an objective piece may start anywhere in a line,
// a row piece at any row), through every sink; the threads are given back.

std::vector<std::string> piece_models() {
  std::vector<std::string> texts;
  for (const Shape& c : kShapes) texts.push_back(shape_text(c));
  texts.push_back(
      "Minimize\n obj: x + y + [ x ^ 2 + 3 x * y ] / 2 + 1\nSubject To\n c: x + y >= 1\n"
      " q: x + [ 2 x ^ 2 + y * x ] <= 4\n i: b = 1 -> x - y <= 2\n r: -2 <= x - b <= 3\n e: y = 1\nBinary\n b\n"
      "SOS\n s1: S1:: x:1 y:2\nEnd\n");
  // An objective label past the width (its first term starts a new line), rows of no
  // terms, of zero terms only, and long rows between short ones.
  std::string text = "Maximize\n " + std::string(230, 'o') + ":";
  for (int j = 0; j < 150; ++j) text += (j % 3 == 0 ? " - " : " + ") + std::to_string(j % 11) + " v" + std::to_string(j);
  text += "\nSubject To\n";
  for (int i = 0; i < 40; ++i) {
    text += " r" + std::to_string(i) + ":";
    const int terms = i % 5 == 0 ? 60 : i % 4;
    for (int k = 0; k < terms; ++k) text += " + " + std::to_string((i * 7 + k) % 5) + " v" + std::to_string((i + k * 3) % 150);
    if (terms == 0) text += " 0 v1";
    text += i % 2 == 0 ? " <= " + std::to_string(i) + "\n" : " >= -" + std::to_string(i) + "\n";
  }
  texts.push_back(text + "Bounds\n v3 free\n -1 <= v4 <= 2\nGenerals\n v5 v6\nEnd\n");
  return texts;
}

TEST(LpWrite, EveryPiecePlanGivesTheTextOfOneThread) {
  const struct {
    unsigned threads;
    size_t piece_terms;
  } plans[] = {{2, 1}, {2, 2}, {3, 3}, {2, 7}, {4, 64}, {2, 100000}};
  const TempDir dir;
  for (const std::string& model : piece_models()) {
    const ModelRecord m = read_ok(model);
    for (const int digits : {kFixedLayoutDigits, 0, 6}) {
      std::string one;
      {
        const ForcedLpPlan single({1, 0, 1});
        one = lp_text(m, {.digits = digits});
      }
      for (const auto& plan : plans) {
        const ForcedLpPlan forced({plan.threads, 0, plan.piece_terms});
        const std::string where = model.substr(0, 40) + ": digits " + std::to_string(digits) + ", " +
                                  std::to_string(plan.threads) + " threads, pieces of " +
                                  std::to_string(plan.piece_terms);
        EXPECT_EQ(lp_text(m, {.digits = digits}), one) << where;
        EXPECT_EQ(sink_text(m, {.digits = digits}, true, dir), one) << where;
        EXPECT_EQ(sink_text(m, {.digits = digits, .gzip = true}, true, dir), one) << where;
        EXPECT_EQ(reading_threads_in_use(), 0u) << where;
      }
    }
  }
}

// A large text in pieces stops soon when the interruption says so, on the buffer and
// the file sink, and gives its threads back.
TEST(LpWrite, PiecesStopWhenTheWritingIsInterrupted) {
  std::string text = "Minimize\n obj:";
  for (int j = 0; j < 60000; ++j) text += " + 3.25 x" + std::to_string(j);
  text += "\nSubject To\n";
  for (int i = 0; i < 60000; ++i) {
    text += " c" + std::to_string(i) + ": 2.5 x" + std::to_string(i) + " - 1.75 x" + std::to_string((i * 7) % 60000) +
            " + x" + std::to_string((i * 13) % 60000) + " <= " + std::to_string(i) + "\n";
  }
  const ModelRecord m = read_ok(text + "End\n");
  struct StopAfter {
    int allowed;
    static bool poll(void* context, bool) noexcept { return static_cast<StopAfter*>(context)->allowed-- <= 0; }
  };
  const TempDir dir;
  for (const unsigned threads : {1u, 2u, 3u}) {
    const ForcedLpPlan forced({threads, 0, 1000});
    StopAfter to_buffer{1};
    ByteBuffer out;
    const Status written = write_lp_to_buffer(m, out, {}, {&StopAfter::poll, &to_buffer});
    ASSERT_FALSE(written.ok()) << threads;
    EXPECT_EQ(written.error().kind, ErrorKind::Interrupted);
    EXPECT_LT(out.size(), 3u << 20) << threads;  // stopped near the second poll
    StopAfter to_file{1};
    const Status filed = write_lp_to_file(m, dir.file("m.lp"), {}, {&StopAfter::poll, &to_file});
    ASSERT_FALSE(filed.ok()) << threads;
    EXPECT_EQ(filed.error().kind, ErrorKind::Interrupted);
    EXPECT_EQ(reading_threads_in_use(), 0u);
  }
}

// Zero coefficients of a row are no terms: the first term left takes no sign when positive.
TEST(LpWrite, ZeroCoefficientsOfARowLeaveNoTerm) {
  const struct {
    const char* row;
    const char* written;
  } cases[] = {
      {" c: 0 x + 0 y - z + w >= 1", " c: -z + w >= 1"},
      {" c: 0 x - 0 y + z - w >= 1", " c: z - w >= 1"},
      {" c: 0 x + 2 y + 0 z - w >= 1", " c: 2 y - w >= 1"},
      {" c: 0 x + 0 y + 0 z + 0 w >= 1", " c: 0 x >= 1"},
  };
  for (const auto& c : cases) {
    const ModelRecord m = read_ok(std::string("Minimize\n obj: x + y + z + w\nSubject To\n") + c.row + "\nEnd\n");
    const std::string text = lp_text(m, {.digits = 0});
    EXPECT_NE(text.find(std::string("\nSubject To\n") + c.written + "\n"), std::string::npos) << c.row << "\n" << text;
  }
}

TEST(LpWrite, PublicModelsReadBackAsThemselves) {
  const std::string path = std::string(MOPSEL_SHARED_DATA_DIR) + "/netlib/afiro.mps.gz";
  Result<ModelRecord> m = read_mps_file(path);
  if (!m.ok()) GTEST_SKIP() << "no public models at " << path;
  const ModelRecord back = read_ok(lp_text(m.value(), {.digits = 0}));
  EXPECT_EQ(summary(back), summary(m.value()));
}

}  // namespace
}  // namespace mopsel::testing
