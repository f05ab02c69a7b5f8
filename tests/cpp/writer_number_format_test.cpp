// The writer's number format: thirteen correctly rounded significant digits,
// exponent without plus sign or leading zeros, inf/-inf/NaN, signed zero; and
// the other digit counts and the shortest round-trip text of the options; the numbers
// of fixed-format fields.
#include <gtest/gtest.h>

#include <algorithm>
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
  // Nothing is written past the returned end, and the text fits the promised room.
  EXPECT_LE(static_cast<size_t>(end - text), kMaxNumberChars);
  EXPECT_EQ(*end, '#');
  return {text, static_cast<size_t>(end - text)};
}

// Any format of WriteOptions::digits, checked for its room like `formatted`.
std::string formatted(double value, int digits) {
  char text[kMaxNumberChars + 8];
  std::memset(text, '#', sizeof text);
  const char* end = format_number_other(value, digits, text);
  EXPECT_LE(static_cast<size_t>(end - text), kMaxNumberChars);
  EXPECT_EQ(*end, '#');
  return {text, static_cast<size_t>(end - text)};
}

// Independent oracle: the C library's %.{digits-1}e with the exponent rewritten.
std::string printf_oracle(double value, int digits = 13) {
  char text[64];
  std::snprintf(text, sizeof text, "%.*e", digits - 1, value);
  std::string s(text);
  const size_t e = s.find('e');
  if (e == std::string::npos) return s;  // inf, -inf
  const size_t first = s.find_first_not_of('0', e + 2);
  return s.substr(0, e + 1) + (s[e + 1] == '-' ? "-" : "") + (first == std::string::npos ? "0" : s.substr(first));
}

TEST(NumberFormat, ListedValues) {
  const double inf = std::numeric_limits<double>::infinity(), nan = std::numeric_limits<double>::quiet_NaN();
  const struct {
    double value;
    const char* text;
  } cases[] = {
      {1.0, "1.000000000000e0"}, {-2.5, "-2.500000000000e0"}, {1234.5, "1.234500000000e3"},
      {0.001, "1.000000000000e-3"}, {2.0 / 3.0, "6.666666666667e-1"}, {1e300, "1.000000000000e300"},
      {0.0, "0.000000000000e0"}, {-0.0, "-0.000000000000e0"}, {inf, "inf"}, {-inf, "-inf"}, {nan, "NaN"},
      {-nan, "NaN"}, {0.1, "1.000000000000e-1"}, {-7.0e-7, "-7.000000000000e-7"},
      {9.99999999999999, "1.000000000000e1"},   // the rounding carry moves the exponent
      {9999999999999.0, "9.999999999999e12"},   // thirteen digits, written exactly
      {99999999999999.0, "1.000000000000e14"},  // fourteen nines round up
      // Exact binary ties at the thirteenth digit go to even.
      {10000000000005.0, "1.000000000000e13"}, {10000000000015.0, "1.000000000002e13"},
      {10000000000025.0, "1.000000000002e13"}, {-10000000000005.0, "-1.000000000000e13"},
      // Decimal ties that are not binary ties: the stored value decides.
      {1.2345678901235, "1.234567890123e0"},  // stored just below ...35
      {1.0000000000025, "1.000000000003e0"},  // stored just above ...25
      // Extremes and subnormals.
      {DBL_MAX, "1.797693134862e308"}, {-DBL_MAX, "-1.797693134862e308"}, {DBL_MIN, "2.225073858507e-308"},
      {DBL_TRUE_MIN, "4.940656458412e-324"}, {-DBL_TRUE_MIN, "-4.940656458412e-324"},
      {1e-320, "9.999888671827e-321"}, {DBL_MIN - DBL_TRUE_MIN, "2.225073858507e-308"}, {1e-310, "1.000000000000e-310"},
  };
  for (const auto& c : cases) EXPECT_EQ(formatted(c.value), c.text) << "value " << c.value;
}

TEST(NumberFormat, PowersOfTenAtEveryExponentWidth) {
  for (int exponent : {0, 1, 9, 10, 11, 99, 100, 101, 307, 308, -1, -9, -10, -11, -99, -100, -101, -307, -308}) {
    const double value = std::strtod(("1e" + std::to_string(exponent)).c_str(), nullptr);
    EXPECT_EQ(formatted(value), "1.000000000000e" + std::to_string(exponent));
    EXPECT_EQ(formatted(-value), "-1.000000000000e" + std::to_string(exponent));
  }
}

// Both the inline whole-number path (format_number) and the general routine
// agree with the oracle, on random values and on the edges of the fast paths:
// whole numbers below 2^64 and below 10^13, other values from 2^-26 to 2^43.
TEST(NumberFormat, AgreesWithThePrintfOracle) {
  std::mt19937_64 random(20240611);
  std::vector<double> values = {1234567890123.5, 1234567890122.5, 999999999999.75, 9999999999999.5,
                                8796093022207.5, 9.99999999999995e-9, 18446744073709549568.0,
                                18446744073709551616.0, 99999999999999990.0, 9007199254740993.0};
  for (int i = 0; i < 100000; ++i) {  // arbitrary bit patterns: every exponent, subnormals
    const uint64_t bits = random();
    double v;
    std::memcpy(&v, &bits, sizeof v);
    if (!std::isnan(v)) values.push_back(v);
  }
  std::uniform_int_distribution<int64_t> mantissa(-99999999999999, 99999999999999);
  std::uniform_int_distribution<int> scale(-30, 30);
  for (int i = 0; i < 50000; ++i) {  // short decimals, the usual contents of models
    const int64_t m = mantissa(random) / static_cast<int64_t>(std::pow(10, i % 12));
    values.push_back(std::stod(std::to_string(m) + "e" + std::to_string(i % 3 == 0 ? 0 : scale(random))));
  }
  for (int64_t n = 10000000000000; n < 10000000000000 + 2000; ++n) {  // ties and near-ties at 13 digits
    for (double v : {double(n), n + 0.5, n / 10.0, n * 1e-20}) values.push_back(v);
  }
  for (int p = -27; p <= 65; ++p) {  // around the powers of two where the paths switch
    const double b = std::ldexp(1.0, p);
    for (double v : {b, std::nextafter(b, 0.0), std::nextafter(b, 1e300), b * 1.5, b * 0.75}) values.push_back(v);
  }
  for (int p = -10; p <= 20; ++p) {  // around the powers of ten where the exponent estimate switches
    const double b = std::strtod(("1e" + std::to_string(p)).c_str(), nullptr);
    for (double v : {b, std::nextafter(b, 0.0), std::nextafter(b, 1e300), b - 1, b + 1}) values.push_back(v);
  }
  for (int k = 1; k <= 80; ++k) {  // odd multiples of 2^-k: exact binary ties at thirteen digits
    for (int i = 0; i < 200; ++i) values.push_back(std::ldexp(double((random() >> (11 + i % 40)) | 1), -k));
  }
  std::uniform_int_distribution<int64_t> whole(1, 9999999999999);
  for (int i = 0; i < 20000; ++i) values.push_back(static_cast<double>(whole(random) >> (i % 40)));
  for (int n = 1; n <= 1000; ++n) values.push_back(n);
  std::uniform_real_distribution<double> exponent(-12.0, 21.0);
  for (int i = 0; i < 50000; ++i) values.push_back(std::pow(10.0, exponent(random)));

  for (double value : values) {
    for (double v : {value, -value}) {
      const std::string expected = printf_oracle(v);
      ASSERT_EQ(formatted(v), expected) << "bits " << std::hexfloat << v;
      char text[kMaxNumberChars];
      ASSERT_EQ(std::string(text, format_number_general(v, text)), expected) << "bits " << std::hexfloat << v;
    }
  }
}

TEST(NumberFormat, OtherDigitCountsAndTheShortestText) {
  const double inf = std::numeric_limits<double>::infinity(), nan = std::numeric_limits<double>::quiet_NaN();
  const struct {
    double value;
    int digits;  // 0: the shortest round-trip text
    const char* text;
  } cases[] = {
      {1.0, 0, "1"}, {-2.5, 0, "-2.5"}, {1e-7, 0, "1e-7"}, {1.5e300, 0, "1.5e300"}, {100000.0, 0, "1e5"},
      {123456.0, 0, "123456"}, {-0.0, 0, "-0"}, {-inf, 0, "-inf"}, {nan, 0, "NaN"}, {2.0 / 3.0, 3, "6.67e-1"},
      {-DBL_TRUE_MIN, 17, "-4.9406564584124654e-324"}, {9.96, 2, "1.0e1"},  // a rounding carry moves the exponent
  };
  for (const auto& c : cases) EXPECT_EQ(formatted(c.value, c.digits), c.text) << c.value << " digits " << c.digits;

  // Every digit count agrees with the oracle, and the shortest text reads back to the
  // same double, on arbitrary bit patterns (all exponents, subnormals).
  std::mt19937_64 random(20250101);
  for (int i = 0; i < 200000; ++i) {
    const uint64_t bits = random();
    double v;
    std::memcpy(&v, &bits, sizeof v);
    if (std::isnan(v)) continue;
    const int digits = 1 + i % 17;
    ASSERT_EQ(formatted(v, digits), printf_oracle(v, digits)) << std::hexfloat << v;
    const std::string shortest = formatted(v, 0);
    const double back = std::strtod(shortest.c_str(), nullptr);
    ASSERT_EQ(std::memcmp(&back, &v, sizeof v), 0) << shortest << " for " << std::hexfloat << v;
  }
}

}  // namespace
}  // namespace mopsel

namespace mopsel {
namespace {

std::string in_field(double value, int digits) {
  char text[kMaxNumberChars + 16];
  char* end = format_number_in_field(value, digits, text);
  return end == nullptr ? std::string("(does not fit)") : std::string(text, end);
}

// Fixed-format fields: at most 12 characters, the digits asked for or as many as fit,
// the shorter notation; the exact mode (0) only when its text fits.
TEST(NumberFormat, FixedFormatFields) {
  const double inf = std::numeric_limits<double>::infinity(), nan = std::numeric_limits<double>::quiet_NaN();
  const struct {
    double value;
    int digits;
    const char* text;
  } cases[] = {
      {1.0, 13, "1"}, {-2.5, 13, "-2.5"}, {0.005, 13, ".005"}, {-0.5, 0, "-.5"}, {123456789012.0, 13, "123456789012"},
      {1234567890123.0, 13, "1.2345679e12"}, {2.0 / 3.0, 13, ".66666666667"}, {2.0 / 3.0, 3, ".667"},
      {1e-7, 13, "1e-7"}, {-1.5e-300, 0, "-1.5e-300"}, {0.0, 13, "0"}, {-0.0, 13, "0"}, {-0.0, 0, "-0"},
      {inf, 13, "inf"}, {-inf, 0, "-inf"}, {nan, 0, "NaN"}, {0.1 + 0.2, 0, "(does not fit)"},
      {0.1 + 0.2, 17, ".3"},  // seventeen digits do not fit: as many as fit, trailing zeros left out
      {-DBL_TRUE_MIN, 0, "-5e-324"}, {9.9999999999996, 13, "10"},
  };
  for (const auto& c : cases) EXPECT_EQ(in_field(c.value, c.digits), c.text) << c.value << " digits " << c.digits;

    // Every text fits, reads back to the value rounded to the digits written, and in the
  // exact mode (when it fits) to the value itself.
  std::mt19937_64 random(20250102);
  for (int i = 0; i < 100000; ++i) {
    const uint64_t bits = random();
    double v;
    std::memcpy(&v, &bits, sizeof v);
    if (!std::isfinite(v)) continue;
    const int digits = i % 18;
    const std::string text = in_field(v, digits);
    if (text == "(does not fit)") {
      ASSERT_EQ(digits, 0) << std::hexfloat << v;
      continue;
    }
    ASSERT_LE(text.size(), kFixedNumberWidth) << text;
    const double back = std::strtod(text.c_str(), nullptr);
    if (digits == 0) {
      ASSERT_EQ(std::memcmp(&back, &v, sizeof v), 0) << text << " for " << std::hexfloat << v;
    }
    // At least five digits always fit ("-1.2345e-300"): half a unit of the last digit kept.
    ASSERT_LE(std::fabs(back - v), std::fabs(v) * 5 * std::pow(10.0, -std::min(digits == 0 ? 17 : digits, 5)))
        << text << " for " << std::hexfloat << v;
  }
}

}  // namespace
}  // namespace mopsel
