#pragma once
// The writer's number format: thirteen significant digits, correctly rounded
// from the exact binary value (ties to even), written as
//   [-]d.dddddddddddde<exponent>
// where the exponent has a minus sign when negative and otherwise no sign, and
// no leading zeros ("1.000000000000e0", "1.000000000000e-3", "1.0e300" style).
// Infinities are "inf" and "-inf", NaN is "NaN", negative zero keeps its sign.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace mopsel {

// The longest text any format below produces: seventeen digits, "-d." + 16
// digits + "e-308", is 24 (thirteen digits need at most 20).
inline constexpr size_t kMaxNumberChars = 24;

// Every value but the whole numbers handled inline below.
char* format_number_general(double value, char* out) noexcept;

namespace number_format_detail {

inline constexpr uint64_t kPow10[20] = {
    1ull,
    10ull,
    100ull,
    1000ull,
    10000ull,
    100000ull,
    1000000ull,
    10000000ull,
    100000000ull,
    1000000000ull,
    10000000000ull,
    100000000000ull,
    1000000000000ull,
    10000000000000ull,
    100000000000000ull,
    1000000000000000ull,
    10000000000000000ull,
    100000000000000000ull,
    1000000000000000000ull,
    10000000000000000000ull,
};

// "00" "01" ... "99": two decimal digits per lookup.
inline constexpr char kPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

inline void put_pair(char* p, uint32_t v) noexcept { std::memcpy(p, kPairs + 2 * v, 2); }

// Writes the exponent after 'e': a minus sign when negative, no leading zeros.
inline char* put_exponent(char* out, int exponent) noexcept {
  unsigned magnitude = static_cast<unsigned>(exponent);
  if (exponent < 0) {
    *out++ = '-';
    magnitude = 0u - magnitude;
  }
  if (magnitude >= 100) {
    *out++ = static_cast<char>('0' + magnitude / 100);
    magnitude %= 100;
    put_pair(out, magnitude);
    return out + 2;
  }
  if (magnitude >= 10) {
    put_pair(out, magnitude);
    return out + 2;
  }
  *out++ = static_cast<char>('0' + magnitude);
  return out;
}

// A whole number 1 <= n < 10^13: its digits, then zeros; no rounding needed.
inline char* format_short_whole(char* out, bool negative, uint64_t n) noexcept {
  if (negative) *out++ = '-';
  int count = 1;  // decimal digits of n
  while (count < 13 && n >= kPow10[count]) ++count;
  // The digits go to out[1..count]; then the first moves before the point.
  std::memcpy(out, "0.000000000000e", 15);
  char* p = out + count + 1;
  while (n >= 100) {
    p -= 2;
    put_pair(p, static_cast<uint32_t>(n % 100));
    n /= 100;
  }
  if (n >= 10) {
    p -= 2;
    put_pair(p, static_cast<uint32_t>(n));
  } else {
    *--p = static_cast<char>('0' + n);
  }
  out[0] = out[1];
  out[1] = '.';
  if (count <= 10) {
    out[15] = static_cast<char>('0' + count - 1);
    return out + 16;
  }
  put_pair(out + 15, static_cast<uint32_t>(count - 1));
  return out + 17;
}

}  // namespace number_format_detail

// Writes the text of `value` at `out` and returns the position just past it.
// The caller must provide at least kMaxNumberChars bytes of room.
//
// Whole numbers of at most thirteen digits are the most common values in models
// (coefficients 1, small integer costs and bounds); they are written inline.
inline char* format_number(double value, char* out) noexcept {
  const double magnitude = std::fabs(value);
  if (magnitude < 1e13 && magnitude >= 1.0) {
    const auto n = static_cast<uint64_t>(magnitude);
    if (static_cast<double>(n) == magnitude) {
      return number_format_detail::format_short_whole(out, std::signbit(value), n);
    }
  }
  return format_number_general(value, out);
}

// `digits` (1 to 17) significant digits, correctly rounded from the exact binary
// value, in the same notation ("1.50e0" for three digits, "2e-3" for one).
char* format_number_digits(double value, int digits, char* out) noexcept;

// The shortest text that reads back to the same double (at most 17 digits):
// plain notation when it is not longer than the scientific one ("1", "-0.5",
// "123456", "-0"), else scientific with the exponent written as above ("1e-7",
// "1.5e300"). Infinities and NaN as above.
char* format_number_shortest(double value, char* out) noexcept;

// Any other format than the fixed one: 0 for the shortest round-trip text, or
// 1 to 17 digits.
char* format_number_other(double value, int digits, char* out) noexcept;

// The width of a number field in fixed-format MPS (columns 25-36 and 50-61).
inline constexpr size_t kFixedNumberWidth = 12;

// `value` in at most kFixedNumberWidth characters, for a fixed-format field: with
// `digits` (1 to 17) significant digits, or as many fewer as make it fit; with 0, the
// shortest text that reads back to the same double, or nothing (null returned) when
// that does not fit. Trailing zeros of the digits are left out, and the plain or the
// scientific notation is taken, whichever is shorter (".005", "-.5", "123", "1.5e-7");
// infinities and NaN as above.
char* format_number_in_field(double value, int digits, char* out) noexcept;

}  // namespace mopsel
