// Row classification and the BOUNDS rules: tables of bounds and the text
// sections they produce.
#include <cfloat>

#include "writer_test_support.hpp"

namespace mopsel {
namespace {
using namespace mopsel::testing;

TEST(RowClassification, RowsRhsAndRanges) {
  struct Case {
    const char* what;
    double lower, upper;
    char letter;
    const char *rhs, *range;  // the values written, or "" for no line
    int digits = 13;          // 0: the exact mode
  };
  const Case cases[] = {
      {"free", -kInf, kInf, 'N', "", ""},
      {"free, NaN bounds", kNaN, kNaN, 'N', "", ""},
      {"free, inverted infinities", kInf, -kInf, 'N', "", ""},
      {"upper only", -kInf, -3.0, 'L', "-3.000000000000e0", ""},
      {"upper only, NaN lower", kNaN, 4.0, 'L', "4.000000000000e0", ""},
      {"upper only, +inf lower", kInf, 7.0, 'L', "7.000000000000e0", ""},
      {"lower only", 0.5, kInf, 'G', "5.000000000000e-1", ""},
      {"lower only, -inf upper", 7.0, -kInf, 'G', "7.000000000000e0", ""},
      {"equality", 5.0, 5.0, 'E', "5.000000000000e0", ""},
      {"equality at zero has no rhs line", 0.0, 0.0, 'E', "", ""},
      {"within tolerance", 2.0, 2.0 + 1e-13, 'E', "2.000000000000e0", ""},
      {"within tolerance, rhs is the lower", 1e-13, 5e-13, 'E', "1.000000000000e-13", ""},
      {"within tolerance, inverted", 5e-13, 1e-13, 'E', "5.000000000000e-13", ""},
      {"exactly the tolerance apart", 0.0, 1e-12, 'L', "1.000000000000e-12", "1.000000000000e-12"},
      {"ranged", 1.0, 4.0, 'L', "4.000000000000e0", "3.000000000000e0"},
      {"ranged with zero upper", -2.0, 0.0, 'L', "", "2.000000000000e0"},
      {"inverted", 3.0, 1.0, 'L', "1.000000000000e0", "-2.000000000000e0"},
      {"range overflows", -1e308, 1e308, 'L', "1.000000000000e308", "inf"},
      {"largest finite range", -DBL_MAX, 0.0, 'L', "", "1.797693134862e308"},
      // The exact mode: no tolerance, free rows kept, -0.0 and NaN written, a range that
      // joins the two bounds exactly, in either direction.
      {"exact: free row stays as L with inf", -kInf, kInf, 'L', "inf", "", 0},
      {"exact: upper +0.0 needs no line", -kInf, 0.0, 'L', "", "", 0},
      {"exact: upper -0.0 keeps its sign", -kInf, -0.0, 'L', "-0", "", 0},
      {"exact: equality", 5.0, 5.0, 'E', "5", "", 0},
      {"exact: equality at -0.0", -0.0, -0.0, 'E', "-0", "", 0},
      {"exact: within the tolerance is still two-sided", 2.0, 2.0000000000001, 'L', "2.0000000000001",
       "9.992007221626409e-14", 0},
      {"exact: ranged", 1.0, 4.0, 'L', "4", "3", 0},
      {"exact: u - range misses, l + range hits: G", 0.1, 0.4, 'G', "0.1", "0.30000000000000004", 0},
      {"exact: -0.0 lower from a G row", -0.0, 5.0, 'G', "-0", "5", 0},
      {"exact: NaN lower from the range", kNaN, 4.0, 'L', "4", "NaN", 0},
      {"exact: no range joins the bounds: the usual L row", -0.5, 0.6, 'L', "0.6", "1.1", 0},
      {"exact: inverted: the usual L row", 3.0, 1.0, 'L', "1", "-2", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string text = text_of(make_record({{"r", c.lower, c.upper}}, {}), {.digits = c.digits});
    EXPECT_EQ(section(text, "ROWS", "COLUMNS"), std::string(" N  OBJ\n ") + c.letter + "  r\n");
    const std::string rhs = *c.rhs ? std::string("    RHS1  r  ") + c.rhs + "\n" : "";
    if (*c.range == 0) {
      EXPECT_EQ(section(text, "RHS", "BOUNDS"), rhs);
      EXPECT_EQ(text.find("RANGES"), std::string::npos);
    } else {
      EXPECT_EQ(section(text, "RHS", "RANGES"), rhs);
      EXPECT_EQ(section(text, "RANGES", "BOUNDS"), std::string("    RNG1  r  ") + c.range + "\n");
    }
  }
}

// Bound lines of column "x", written as "TYPE value;" (value text only where one is written).
std::string bound_lines(const std::string& plan) {
  std::string out;
  for (size_t pos = 0, end; (end = plan.find(';', pos)) != std::string::npos; pos = end + 1) {
    const std::string item = plan.substr(pos, end - pos);
    out.append(" ").append(item, 0, 2).append(" BND1  x");
    if (item.size() > 2) out.append("  ").append(item, 3);
    out += '\n';
  }
  return out;
}

TEST(BoundRules, FirstMatchingRuleDecides) {
  struct Case {
    double lower, upper;
    uint8_t kind;
    const char* plan;
    int digits = 13;  // 0: the exact mode, which the reader needs to rebuild bounds and kind bit for bit
  };
  const Case cases[] = {
      {0.0, kInf, kCont, ""},
      {-0.0, kInf, kCont, ""},
      {0.0, 5.0, kCont, "UP 5.000000000000e0;"},
      {3.0, kInf, kCont, "LO 3.000000000000e0;"},
      {3.0, 7.0, kCont, "LO 3.000000000000e0;UP 7.000000000000e0;"},
      {0.0, 0.0, kCont, "FX 0.000000000000e0;"},
      {2.0, 2.0 + 1e-13, kCont, "FX 2.000000000000e0;"},  // within tolerance: fixed at the lower
      {0.0, 1.0, kCont, "UP 1.000000000000e0;"},           // continuous is never binary
      {0.0, 5.0, kSemiCont, "UP 5.000000000000e0;"},
      {-kInf, kInf, kCont, "FR;"},
      {kNaN, kNaN, kCont, "FR;"},
      {kInf, -kInf, kCont, "FR;"},
      {-kInf, 4.0, kCont, "MI;UP 4.000000000000e0;"},
      {-kInf, 0.0, kCont, "MI;UP 0.000000000000e0;"},
      {5.0, 3.0, kCont, "LO 5.000000000000e0;UP 3.000000000000e0;"},
      {0.0, -5.0, kCont, "UP -5.000000000000e0;"},
      {0.0, 1.0, kInt, "BV;"},
      {-0.0, 1.0, kInt, "BV;"},
      {0.0, 1.0, kSemiInt, "BV;"},
      {0.0, kInf, kInt, "LI 0.000000000000e0;"},
      {0.0, 10.0, kSemiInt, "LI 0.000000000000e0;UI 1.000000000000e1;"},
      {1.0, 1.0, kInt, "FX 1.000000000000e0;"},
      {0.0, 0.0, kInt, "FX 0.000000000000e0;"},
      {-kInf, kInf, kInt, "FR;"},
      {-kInf, 3.0, kInt, "MI;UI 3.000000000000e0;"},
      {-2.0, kInf, kInt, "LI -2.000000000000e0;"},
      {0.0, 1.0 + 1e-13, kInt, "LI 0.000000000000e0;UI 1.000000000000e0;"},  // not exactly binary
      // The exact mode.
      {-0.0, kInf, kCont, "LO -0;", 0},
      {2.0, 2.0 + 1e-13, kCont, "LO 2;UP 2.0000000000001;", 0},  // no tolerance
      {kNaN, kNaN, kCont, "FX NaN;", 0},
      {kNaN, 3.0, kCont, "LO NaN;UP 3;", 0},
      {kInf, -kInf, kCont, "LO inf;UP -inf;", 0},
      {-kInf, -0.0, kCont, "MI;UP -0;", 0},
      {-0.0, 1.0, kInt, "LI -0;UI 1;", 0},
      {0.0, kInf, kInt, "LI 0;", 0},  // a bound line, or the marker block makes it binary
      {0.0, 5.0, kSemiCont, "SC 5;", 0},
      {2.0, 5.0, kSemiCont, "LO 2;SC 5;", 0},
      {-kInf, kInf, kSemiCont, "MI;SC inf;", 0},
      {-3.0, 10.0, kSemiInt, "LO -3;SI 10;", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "[" << c.lower << ", " << c.upper << "] kind " << int(c.kind) << " digits "
                                      << c.digits);
    const ModelRecord r = make_record({}, {{"x", c.kind, 0.0, c.lower, c.upper, {}}});
    EXPECT_EQ(section(text_of(r, {.digits = c.digits}), "BOUNDS", "ENDATA"), bound_lines(c.plan));
  }
}

}  // namespace
}  // namespace mopsel
