// The writer's number format: thirteen correctly rounded significant digits,
// exponent without sign or leading zeros, inf/-inf/NaN, signed zero.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "writer/number_format.hpp"

namespace mopsel {
namespace {

std::string formatted(double value) {
  char text[kMaxNumberChars + 8];
  std::memset(text, '#', sizeof text);
  const char* end = format_number(value, text);
  // Nothing is written past the returned end, and the text fits the promise.
  EXPECT_LE(static_cast<size_t>(end - text), kMaxNumberChars);
  EXPECT_EQ(*end, '#');
  return {text, static_cast<size_t>(end - text)};
}

// Independent oracle: the C library's %.12e with the exponent rewritten.
std::string printf_oracle(double value) {
  char text[64];
  std::snprintf(text, sizeof text, "%.12e", value);
  std::string s(text);
  const size_t e = s.find('e');
  if (e == std::string::npos) return s;  // inf, nan
  std::string exponent = s.substr(e + 1);
  const bool negative = exponent[0] == '-';
  exponent = exponent.substr(1);
  while (exponent.size() > 1 && exponent[0] == '0') exponent.erase(0, 1);
  return s.substr(0, e + 1) + (negative ? "-" : "") + exponent;
}

struct Case {
  double value;
  const char* text;
};

TEST(NumberFormat, ListedValuesAndSpecials) {
  const double inf = std::numeric_limits<double>::infinity();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const Case cases[] = {
      {1.0, "1.000000000000e0"},
      {-2.5, "-2.500000000000e0"},
      {1234.5, "1.234500000000e3"},
      {0.001, "1.000000000000e-3"},
      {2.0 / 3.0, "6.666666666667e-1"},
      {1e300, "1.000000000000e300"},
      {0.0, "0.000000000000e0"},
      {-0.0, "-0.000000000000e0"},
      {9.99999999999999, "1.000000000000e1"},  // rounding carry moves the exponent
      {inf, "inf"},
      {-inf, "-inf"},
      {nan, "NaN"},
      {-nan, "NaN"},
      {5.0, "5.000000000000e0"},
      {-1.5, "-1.500000000000e0"},
      {0.1, "1.000000000000e-1"},
      {123456789012.0, "1.234567890120e11"},
      {9999999999999.0, "9.999999999999e12"},   // thirteen digits, largest exact whole number
      {99999999999999.0, "1.000000000000e14"},  // fourteen nines round up
      {1.0 / 3.0, "3.333333333333e-1"},
      {-7.0e-7, "-7.000000000000e-7"},
  };
  for (const Case& c : cases) EXPECT_EQ(formatted(c.value), c.text) << "value " << c.value;
}

TEST(NumberFormat, TiesGoToEvenOnTheExactBinaryValue) {
  const Case cases[] = {
      {10000000000005.0, "1.000000000000e13"},  // exact tie, 0 is even
      {10000000000015.0, "1.000000000002e13"},  // exact tie, 2 is even
      {10000000000025.0, "1.000000000002e13"},
      {10000000000035.0, "1.000000000004e13"},
      {-10000000000005.0, "-1.000000000000e13"},
      // Decimal ties that are not binary ties: the stored value decides.
      {1.2345678901235, "1.234567890123e0"},  // stored just below ...35
      {1.0000000000015, "1.000000000001e0"},  // stored just below ...15
      {1.0000000000025, "1.000000000003e0"},  // stored just above ...25
  };
  for (const Case& c : cases) EXPECT_EQ(formatted(c.value), c.text) << "value " << c.value;
}

TEST(NumberFormat, ExtremesAndSubnormals) {
  const Case cases[] = {
      {DBL_MAX, "1.797693134862e308"},
      {-DBL_MAX, "-1.797693134862e308"},
      {DBL_MIN, "2.225073858507e-308"},
      {DBL_TRUE_MIN, "4.940656458412e-324"},
      {-DBL_TRUE_MIN, "-4.940656458412e-324"},
      {1e-320, "9.999888671827e-321"},
      {DBL_MIN - DBL_TRUE_MIN, "2.225073858507e-308"},  // largest subnormal
      {1e-310, "1.000000000000e-310"},
  };
  for (const Case& c : cases) EXPECT_EQ(formatted(c.value), c.text) << "value " << c.value;
}

TEST(NumberFormat, PowersOfTenAtEveryExponentWidth) {
  // Exponents of one, two and three digits, both signs, and the borders between them.
  const int exponents[] = {0, 1, 9, 10, 11, 99, 100, 101, 307, 308, -1, -9, -10, -11, -99, -100, -101, -307, -308};
  for (int exponent : exponents) {
    const double value = std::strtod(("1e" + std::to_string(exponent)).c_str(), nullptr);
    EXPECT_EQ(formatted(value), "1.000000000000e" + std::to_string(exponent));
    EXPECT_EQ(formatted(-value), "-1.000000000000e" + std::to_string(exponent));
  }
}

TEST(NumberFormat, AgreesWithThePrintfOracleOnRandomValues) {
  std::mt19937_64 random(20240611);
  int checked = 0;
  // Arbitrary bit patterns: every exponent, subnormals, long mantissas.
  for (int i = 0; i < 100000; ++i) {
    const uint64_t bits = random();
    double value;
    std::memcpy(&value, &bits, sizeof value);
    if (std::isnan(value)) continue;
    ASSERT_EQ(formatted(value), printf_oracle(value)) << "bits " << bits;
    ++checked;
  }
  // Short decimals (the usual contents of model files) and whole numbers.
  std::uniform_int_distribution<int64_t> mantissa(-99999999999999, 99999999999999);
  std::uniform_int_distribution<int> scale(-30, 30);
  for (int i = 0; i < 100000; ++i) {
    const int64_t m = mantissa(random) / static_cast<int64_t>(std::pow(10, i % 12));
    const double value = std::stod(std::to_string(m) + "e" + std::to_string(i % 3 == 0 ? 0 : scale(random)));
    ASSERT_EQ(formatted(value), printf_oracle(value)) << "value " << m;
    ++checked;
  }
  // Ties and near-ties around 13 digits, where the shortcuts end.
  for (int64_t n = 10000000000000; n < 10000000000000 + 2000; ++n) {
    for (double value : {static_cast<double>(n), static_cast<double>(n) + 0.5, n / 10.0, n * 1e-20}) {
      ASSERT_EQ(formatted(value), printf_oracle(value)) << "value " << value;
      ++checked;
    }
  }
  EXPECT_GT(checked, 200000);
}

// The integer-arithmetic paths cover whole numbers below 2^64 and other values
// from 2^-26 up to 2^43; everything else goes through the standard library.
// These values sit on and around the edges of those paths and on exact binary
// ties at the thirteenth digit, where a wrong rounding step would show.
TEST(NumberFormat, IntegerPathsAgreeWithThePrintfOracleAtTheirEdges) {
  std::vector<double> values = {
      1234567890123.5, 1234567890122.5, 999999999999.75, 9999999999999.5, 8796093022207.5,
      0.5, 0.25, 0.125, 1.5, 2.5, 0.1, 0.2, 0.3, 0.7, 3.14159, 1e-8, 1e-9, 9.99999999999995e-9,
      18446744073709549568.0, 18446744073709551616.0,  // the largest double below 2^64, and 2^64
      12345678901234567.0, 99999999999999990.0, 1e19, 9007199254740993.0,
  };
  // Around every power of two the paths switch on: 2^-27 .. 2^65.
  for (int p = -27; p <= 65; ++p) {
    const double base = std::ldexp(1.0, p);
    for (double v : {base, std::nextafter(base, 0.0), std::nextafter(base, 1e300), base * 1.5, base * 0.75}) {
      values.push_back(v);
    }
  }
  // Around every power of ten the decimal exponent estimate switches on.
  for (int p = -10; p <= 20; ++p) {
    const double base = std::strtod(("1e" + std::to_string(p)).c_str(), nullptr);
    for (double v : {base, std::nextafter(base, 0.0), std::nextafter(base, 1e300)}) values.push_back(v);
  }
  // Odd multiples of negative powers of two are exact binary fractions whose
  // decimal expansions end in 5: many of them are exact ties at thirteen digits.
  std::mt19937_64 random(7);
  for (int k = 1; k <= 80; ++k) {
    for (int i = 0; i < 200; ++i) {
      const uint64_t odd = (random() >> (11 + i % 40)) | 1;
      values.push_back(std::ldexp(static_cast<double>(odd), -k));
    }
  }
  // Uniform in log scale across the whole fast range and beyond it.
  std::uniform_real_distribution<double> exponent(-12.0, 21.0);
  for (int i = 0; i < 50000; ++i) values.push_back(std::pow(10.0, exponent(random)));
  for (double v : values) {
    ASSERT_EQ(formatted(v), printf_oracle(v)) << "value " << v;
    ASSERT_EQ(formatted(-v), printf_oracle(-v)) << "value " << -v;
  }
}

// Whole numbers from 1 to below 10^13 are written by an inline path; the
// general routine must give the same text for them.
TEST(NumberFormat, InlineWholeNumbersMatchTheGeneralRoutine) {
  std::vector<double> values;
  for (int n = 1; n <= 1000; ++n) values.push_back(n);
  for (int p = 1; p <= 13; ++p) {
    const double ten = std::pow(10.0, p);
    for (double v : {ten - 1, ten, ten + 1, ten * 0.5, ten * 0.99}) values.push_back(v);
  }
  std::mt19937_64 random(11);
  std::uniform_int_distribution<int64_t> whole(1, 9999999999999);
  for (int i = 0; i < 20000; ++i) values.push_back(static_cast<double>(whole(random) >> (i % 40)));
  for (double v : values) {
    for (double signed_value : {v, -v}) {
      char text[kMaxNumberChars];
      const std::string general(text, format_number_general(signed_value, text));
      ASSERT_EQ(formatted(signed_value), general) << "value " << signed_value;
      ASSERT_EQ(general, printf_oracle(signed_value)) << "value " << signed_value;
    }
  }
}

}  // namespace
}  // namespace mopsel
