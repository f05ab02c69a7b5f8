// Row classification and the BOUNDS rules, as data-driven tables.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "writer/bound_rules.hpp"
#include "writer/row_class.hpp"

namespace mopsel {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

struct RowCase {
  const char* what;
  double lower, upper;
  char letter;
  double rhs;
  bool has_range;
  double range;
};

TEST(RowClassification, Table) {
  const RowCase cases[] = {
      {"free", -kInf, kInf, 'N', 0.0, false, 0.0},
      {"free, NaN bounds", kNaN, kNaN, 'N', 0.0, false, 0.0},
      {"free, inverted infinities", kInf, -kInf, 'N', 0.0, false, 0.0},
      {"upper only", -kInf, 4.0, 'L', 4.0, false, 0.0},
      {"upper only, NaN lower", kNaN, 4.0, 'L', 4.0, false, 0.0},
      {"lower only", 1.0, kInf, 'G', 1.0, false, 0.0},
      {"lower only, +inf as lower is absent", kInf, 7.0, 'L', 7.0, false, 0.0},
      {"lower only, -inf as upper is absent", 7.0, -kInf, 'G', 7.0, false, 0.0},
      {"equality", 5.0, 5.0, 'E', 5.0, false, 0.0},
      {"equality at zero", 0.0, 0.0, 'E', 0.0, false, 0.0},
      {"within tolerance", 2.0, 2.0 + 1e-13, 'E', 2.0, false, 0.0},
      {"within tolerance, inverted", 2.0 + 1e-13, 2.0, 'E', 2.0 + 1e-13, false, 0.0},
      {"exactly the tolerance apart is ranged", 0.0, 1e-12, 'L', 1e-12, true, 1e-12},
      {"ranged", 1.0, 4.0, 'L', 4.0, true, 3.0},
      {"inverted", 3.0, 1.0, 'L', 1.0, true, -2.0},
      {"range overflows", -1e308, 1e308, 'L', 1e308, true, kInf},
      {"largest finite bounds", -std::numeric_limits<double>::max(), 0.0, 'L', 0.0, true,
       std::numeric_limits<double>::max()},
  };
  for (const RowCase& c : cases) {
    SCOPED_TRACE(c.what);
    const RowClass row = classify_row(c.lower, c.upper);
    EXPECT_EQ(kSenseLetters[static_cast<int>(row.sense)], c.letter);
    EXPECT_EQ(row.rhs, c.rhs);
    EXPECT_EQ(row.has_range, c.has_range);
    if (c.has_range) {
      EXPECT_EQ(row.range, c.range);
    }
  }
}

std::string describe(const BoundLines& lines) {
  std::string out;
  for (int i = 0; i < lines.count; ++i) {
    std::string prefix(bound_type_text(lines.line[i].type));
    out += prefix.substr(1, 2);
    if (bound_has_value(lines.line[i].type)) {
      char value[32];
      std::snprintf(value, sizeof value, " %g", lines.line[i].value);
      out += value;
    }
    out += ";";
  }
  return out;
}

struct BoundCase {
  const char* what;
  double lower, upper;
  bool integral;
  const char* lines;
};

TEST(BoundRules, FirstMatchingRuleDecides) {
  const BoundCase cases[] = {
      {"continuous default", 0.0, kInf, false, ""},
      {"continuous default, negative zero lower", -0.0, kInf, false, ""},
      {"continuous [0,5]", 0.0, 5.0, false, "UP 5;"},
      {"continuous [3,inf]", 3.0, kInf, false, "LO 3;"},
      {"continuous [3,7]", 3.0, 7.0, false, "LO 3;UP 7;"},
      {"continuous [0,0] fixed", 0.0, 0.0, false, "FX 0;"},
      {"continuous [2,2+1e-13] fixed at lower", 2.0, 2.0 + 1e-13, false, "FX 2;"},
      {"continuous [0,1] is not binary", 0.0, 1.0, false, "UP 1;"},
      {"continuous free", -kInf, kInf, false, "FR;"},
      {"continuous NaN bounds are free", kNaN, kNaN, false, "FR;"},
      {"continuous +inf lower, -inf upper are free", kInf, -kInf, false, "FR;"},
      {"continuous [-inf,4]", -kInf, 4.0, false, "MI;UP 4;"},
      {"continuous [-inf,0]", -kInf, 0.0, false, "MI;UP 0;"},
      {"continuous [5,3] inverted", 5.0, 3.0, false, "LO 5;UP 3;"},
      {"continuous [0,-5]", 0.0, -5.0, false, "UP -5;"},
      {"integral binary", 0.0, 1.0, true, "BV;"},
      {"integral binary with negative zero", -0.0, 1.0, true, "BV;"},
      {"integral [0,inf]", 0.0, kInf, true, "LI 0;"},
      {"integral [0,10]", 0.0, 10.0, true, "LI 0;UI 10;"},
      {"integral [1,1]", 1.0, 1.0, true, "FX 1;"},
      {"integral [0,0]", 0.0, 0.0, true, "FX 0;"},
      {"integral free", -kInf, kInf, true, "FR;"},
      {"integral [-inf,3]", -kInf, 3.0, true, "MI;UI 3;"},
      {"integral [-2,inf]", -2.0, kInf, true, "LI -2;"},
      {"integral [0,1+1e-13] is not exactly binary", 0.0, 1.0 + 1e-13, true, "LI 0;UI 1;"},
  };
  for (const BoundCase& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(describe(column_bound_lines(c.lower, c.upper, c.integral)), c.lines);
  }
}

}  // namespace
}  // namespace mopsel
