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
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string text = text_of(make_record({{"r", c.lower, c.upper}}, {}));
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
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "[" << c.lower << ", " << c.upper << "] kind " << int(c.kind));
    const ModelRecord r = make_record({}, {{"x", c.kind, 0.0, c.lower, c.upper, {}}});
    EXPECT_EQ(section(text_of(r), "BOUNDS", "ENDATA"), bound_lines(c.plan));
  }
}

}  // namespace
}  // namespace mopsel
