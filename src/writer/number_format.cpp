#include "writer/number_format.hpp"

#include <bit>
#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace mopsel {
namespace {

using number_format_detail::kPow10;
using number_format_detail::put_exponent;
using number_format_detail::put_pair;

inline void put_four(char* p, uint32_t v) noexcept {
  put_pair(p, v / 100);
  put_pair(p + 2, v % 100);
}

// Writes the eight decimal digits of x < 10^8 with a few multiplications on
// all digits at once: the 64-bit word is split into two 4-digit lanes, then
// four 2-digit lanes, then eight 1-digit lanes (each division by a constant is
// a multiply and shift that is exact for the lane's range; checked for every x).
// The first digit ends up in the lowest byte, which a little-endian store puts first.
inline void put_eight(char* out, uint32_t x) noexcept {
  static_assert(std::endian::native == std::endian::little, "the digit lanes assume little-endian stores");
  const uint64_t fours = x / 10000 + (static_cast<uint64_t>(x % 10000) << 32);
  uint64_t twos = ((fours * 10486) >> 20) & 0x0000007F0000007Full;  // lane / 100
  twos += (fours - twos * 100) << 16;
  uint64_t ones = ((twos * 103) >> 10) & 0x000F000F000F000Full;  // lane / 10
  ones += (twos - ones * 10) << 8;
  ones |= 0x3030303030303030ull;
  std::memcpy(out, &ones, 8);
}

constexpr int kDigits = 13;
constexpr uint64_t kTen12 = 1000000000000ull;
constexpr uint64_t kTen13 = 10000000000000ull;

// Writes "d.dddddddddddde<exponent>" from the thirteen digits of `digits`
// (10^12 <= digits < 10^13).
char* emit_integer(char* out, bool negative, uint64_t digits, int exponent) noexcept {
  if (negative) *out++ = '-';
  const auto high = static_cast<uint32_t>(digits / 100000000);  // the first five digits
  const auto low = static_cast<uint32_t>(digits % 100000000);   // the last eight
  out[0] = static_cast<char>('0' + high / 10000);
  out[1] = '.';
  put_four(out + 2, high % 10000);
  put_eight(out + 6, low);
  out[14] = 'e';
  return put_exponent(out + 15, exponent);
}

// Writes a finite number from its thirteen significant digits as text.
char* emit_text(char* out, bool negative, const char* digits, int exponent) noexcept {
  if (negative) *out++ = '-';
  *out++ = digits[0];
  *out++ = '.';
  std::memcpy(out, digits + 1, kDigits - 1);
  out += kDigits - 1;
  *out++ = 'e';
  return put_exponent(out, exponent);
}

// Reads the decimal exponent that std::to_chars writes after 'e' ("e+05", "e-308").
int parse_exponent(const char* e) noexcept {
  const bool negative = e[1] == '-';
  int magnitude = 0;
  for (const char* p = e + 2; *p >= '0' && *p <= '9'; ++p) magnitude = magnitude * 10 + (*p - '0');
  return negative ? -magnitude : magnitude;
}

// Whole numbers below 2^64: the thirteen digits come from integer arithmetic,
// rounded to nearest with ties to even when the number has more than thirteen.
char* format_whole(char* out, bool negative, uint64_t n) noexcept {
  int count = 1;  // decimal digits of n
  while (count < 20 && n >= kPow10[count]) ++count;
  if (count <= kDigits) return emit_integer(out, negative, n * kPow10[kDigits - count], count - 1);
  const uint64_t divisor = kPow10[count - kDigits];
  uint64_t q = n / divisor;
  const uint64_t r = n % divisor;
  const uint64_t half = divisor / 2;  // divisor is even
  if (r > half || (r == half && (q & 1) != 0)) ++q;
  int exponent = count - 1;
  if (q == kTen13) {  // the rounding carried into a fourteenth digit
    q = kTen12;
    ++exponent;
  }
  return emit_integer(out, negative, q, exponent);
}

// Rounds m * 10^s / 2^k to the nearest integer, ties to even, exactly
// (m < 2^53, s <= 22, 1 <= k <= 127: the product stays below 2^127).
uint64_t scaled_rounded(uint64_t m, int s, int k) noexcept {
  unsigned __int128 power = 1;
  if (s > 19) {
    power = kPow10[19];
    power *= kPow10[s - 19];
  } else {
    power = kPow10[s];
  }
  const unsigned __int128 product = static_cast<unsigned __int128>(m) * power;
  const unsigned __int128 one = 1;
  uint64_t q = static_cast<uint64_t>(product >> k);
  const unsigned __int128 rest = product & ((one << k) - 1);
  const unsigned __int128 half = one << (k - 1);
  if (rest > half || (rest == half && (q & 1) != 0)) ++q;
  return q;
}

}  // namespace

char* format_number_general(double value, char* out) noexcept {
  const auto bits = std::bit_cast<uint64_t>(value);
  const bool negative = (bits >> 63) != 0;
  const int biased = static_cast<int>((bits >> 52) & 0x7ff);
  const uint64_t fraction = bits & ((uint64_t{1} << 52) - 1);

  if (biased == 0x7ff) [[unlikely]] {
    if (fraction != 0) {
      std::memcpy(out, "NaN", 3);
      return out + 3;
    }
    if (negative) *out++ = '-';
    std::memcpy(out, "inf", 3);
    return out + 3;
  }
  if (biased == 0 && fraction == 0) {
    if (negative) *out++ = '-';
    std::memcpy(out, "0.000000000000e0", 16);
    return out + 16;
  }

  // A normal number is m * 2^e with 2^52 <= m < 2^53; the exact paths below use
  // integer arithmetic only, so their digits are the correctly rounded ones.
  if (biased != 0) {
    const uint64_t m = fraction | (uint64_t{1} << 52);
    const int e = biased - 1075;
    if (e >= 0) {
      if (e <= 11) return format_whole(out, negative, m << e);  // below 2^64
    } else if (e >= -52 && (m & ((uint64_t{1} << -e) - 1)) == 0) {
      return format_whole(out, negative, m >> -e);
    } else if (e >= -78 && e <= -10) {
      // 2^-26 <= value < 2^43, so the decimal exponent E lies in -8..12. The
      // estimate from the binary exponent is E or E - 1; with s = 12 - E the
      // scaled value has thirteen digits before the point.
      const int binary = e + 52;                    // floor(log2(value))
      int decimal = (binary * 1233) >> 12;          // floor(binary * log10(2)), arithmetic shift
      int s = 12 - decimal;
      uint64_t q = scaled_rounded(m, s, -e);
      if (q > kTen13) {  // the estimate was one too small
        ++decimal;
        --s;
        q = scaled_rounded(m, s, -e);
      }
      if (q == kTen13) {  // rounding carried into a fourteenth digit
        q = kTen12;
        ++decimal;
      }
      if (q >= kTen12 && q < kTen13) return emit_integer(out, negative, q, decimal);
      // Unreachable by the bounds above; the general path below is exact anyway.
    }
  }

  const double magnitude = std::fabs(value);
  char digits[kDigits];
  std::memset(digits, '0', kDigits);

  // For a normal double whose shortest round-trip text has at most thirteen
  // digits, those digits padded with zeros are the correctly rounded thirteen:
  // the double lies within half an ulp (2^-53 relative) of that decimal, far
  // inside half a unit of the thirteenth digit (at least 5e-14 relative).
  // Subnormals have coarser ulps, so they always take the exact path below.
  char text[40];
  if (magnitude >= DBL_MIN) {
    const auto shortest = std::to_chars(text, text + sizeof text, magnitude, std::chars_format::scientific);
    const char* e = static_cast<const char*>(std::memchr(text, 'e', static_cast<size_t>(shortest.ptr - text)));
    // "d" or "d.ddd" before the exponent.
    const int count = e - text == 1 ? 1 : static_cast<int>(e - text) - 1;
    if (count <= kDigits) {
      digits[0] = text[0];
      if (count > 1) std::memcpy(digits + 1, text + 2, static_cast<size_t>(count - 1));
      *shortest.ptr = '\0';
      return emit_text(out, negative, digits, parse_exponent(e));
    }
  }

  // The general case: the standard library rounds the exact binary value to
  // thirteen digits (ties to even); only the exponent is written differently.
  const auto exact =
      std::to_chars(text, text + sizeof text - 1, magnitude, std::chars_format::scientific, kDigits - 1);
  *exact.ptr = '\0';
  digits[0] = text[0];
  std::memcpy(digits + 1, text + 2, kDigits - 1);
  return emit_text(out, negative, digits, parse_exponent(text + 2 + kDigits - 1));
}

namespace {

// Copies a finite number as std::to_chars wrote it into [text, end), with its
// exponent ("e+05", "e-308") rewritten in the writer's notation ("e5", "e-308").
char* rewrite_exponent(char* text, char* end, char* out) noexcept {
  *end = '\0';
  const char* e = static_cast<const char*>(std::memchr(text, 'e', static_cast<size_t>(end - text)));
  const size_t kept = static_cast<size_t>((e != nullptr ? e : end) - text);
  std::memcpy(out, text, kept);
  out += kept;
  if (e == nullptr) return out;
  *out++ = 'e';
  return put_exponent(out, parse_exponent(e));
}

}  // namespace

char* format_number_digits(double value, int digits, char* out) noexcept {
  if (!std::isfinite(value)) return format_number_general(value, out);  // "inf", "-inf", "NaN"
  char text[48];
  const auto written =
      std::to_chars(text, text + sizeof text - 1, value, std::chars_format::scientific, digits - 1);
  return rewrite_exponent(text, written.ptr, out);
}

char* format_number_shortest(double value, char* out) noexcept {
  if (!std::isfinite(value)) return format_number_general(value, out);
  char text[48];
  // Without a format, to_chars picks plain or scientific notation, whichever is
  // shorter (plain on a tie), with the fewest digits that read back exactly.
  const auto written = std::to_chars(text, text + sizeof text - 1, value);
  return rewrite_exponent(text, written.ptr, out);
}

char* format_number_other(double value, int digits, char* out) noexcept {
  return digits == 0 ? format_number_shortest(value, out) : format_number_digits(value, digits, out);
}

namespace {

// A finite number's significant digits, without trailing zeros, and the power of ten
// of the first: value = d.ddd * 10^exponent ("0" and 0 for zero).
struct Decimal {
  char digits[24];
  int count = 0;
  int exponent = 0;
};

// `value`'s digits as std::to_chars writes them in scientific notation, rounded to
// `digits` (0: the shortest that reads back).
Decimal decimal_of(double value, int digits) noexcept {
  char text[48];
  const double magnitude = std::fabs(value);
  const auto written = digits == 0
                           ? std::to_chars(text, text + sizeof text - 1, magnitude, std::chars_format::scientific)
                           : std::to_chars(text, text + sizeof text - 1, magnitude, std::chars_format::scientific,
                                           digits - 1);
  *written.ptr = '\0';  // parse_exponent reads the exponent's digits up to here
  Decimal d;
  const char* p = text;
  for (; p < written.ptr && *p != 'e'; ++p) {
    if (*p != '.') d.digits[d.count++] = *p;
  }
  d.exponent = p < written.ptr ? parse_exponent(p) : 0;
  while (d.count > 1 && d.digits[d.count - 1] == '0') --d.count;
  return d;
}

// The shorter of the plain and the scientific notation of `d` (plain on a tie); the
// plain one leaves out the zero before the point (".005").
char* put_decimal(const Decimal& d, bool negative, char* out) noexcept {
  char plain[kMaxNumberChars + kFixedNumberWidth + 8];
  char* p = plain;
  if (negative) *p++ = '-';
  const int e = d.exponent;
  size_t plain_size = SIZE_MAX;
  if (e >= 0 && e < 20) {  // digits, then zeros, then perhaps a point and more digits
    for (int i = 0; i <= e; ++i) *p++ = i < d.count ? d.digits[i] : '0';
    if (d.count > e + 1) {
      *p++ = '.';
      for (int i = e + 1; i < d.count; ++i) *p++ = d.digits[i];
    }
    plain_size = static_cast<size_t>(p - plain);
  } else if (e < 0 && e > -12) {
    *p++ = '.';
    for (int i = 0; i < -e - 1; ++i) *p++ = '0';
    for (int i = 0; i < d.count; ++i) *p++ = d.digits[i];
    plain_size = static_cast<size_t>(p - plain);
  }
  char* q = out;
  if (negative) *q++ = '-';
  *q++ = d.digits[0];
  if (d.count > 1) {
    *q++ = '.';
    for (int i = 1; i < d.count; ++i) *q++ = d.digits[i];
  }
  *q++ = 'e';
  q = put_exponent(q, e);
  if (plain_size <= static_cast<size_t>(q - out)) {
    std::memcpy(out, plain, plain_size);
    return out + plain_size;
  }
  return q;
}

}  // namespace

char* format_number_in_field(double value, int digits, char* out) noexcept {
  if (!std::isfinite(value)) return format_number_general(value, out);  // "inf", "-inf", "NaN"
  const bool negative = std::signbit(value);
  if (value == 0.0) {
    if (negative && digits == 0) *out++ = '-';  // the exact mode keeps the sign
    *out = '0';
    return out + 1;
  }
  const auto fits = [&](const char* end) { return static_cast<size_t>(end - out) <= kFixedNumberWidth; };
  if (digits == 0) {
    char* const end = put_decimal(decimal_of(value, 0), negative, out);
    return fits(end) ? end : nullptr;
  }
  for (int count = digits; count >= 1; --count) {
    char* const end = put_decimal(decimal_of(value, count), negative, out);
    if (fits(end)) return end;
  }
  return nullptr;  // unreachable: one digit always fits ("-1e-308")
}

}  // namespace mopsel
