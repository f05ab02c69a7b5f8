#include "writer/number_format.hpp"

#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace mopsel {
namespace {

constexpr int kDigits = 13;

// Writes a finite number from its thirteen significant digits and decimal exponent.
char* emit(char* out, bool negative, const char* digits, int exponent) noexcept {
  if (negative) *out++ = '-';
  *out++ = digits[0];
  *out++ = '.';
  std::memcpy(out, digits + 1, kDigits - 1);
  out += kDigits - 1;
  *out++ = 'e';
  unsigned magnitude = static_cast<unsigned>(exponent);
  if (exponent < 0) {
    *out++ = '-';
    magnitude = 0u - magnitude;
  }
  if (magnitude >= 100) {
    *out++ = static_cast<char>('0' + magnitude / 100);
    magnitude %= 100;
    *out++ = static_cast<char>('0' + magnitude / 10);
  } else if (magnitude >= 10) {
    *out++ = static_cast<char>('0' + magnitude / 10);
  }
  *out++ = static_cast<char>('0' + magnitude % 10);
  return out;
}

// Reads the decimal exponent that std::to_chars writes after 'e' ("e+05", "e-308").
int parse_exponent(const char* e) noexcept {
  const bool negative = e[1] == '-';
  int magnitude = 0;
  for (const char* p = e + 2; *p >= '0' && *p <= '9'; ++p) magnitude = magnitude * 10 + (*p - '0');
  return negative ? -magnitude : magnitude;
}

}  // namespace

char* format_number(double value, char* out) noexcept {
  if (std::isnan(value)) [[unlikely]] {
    std::memcpy(out, "NaN", 3);
    return out + 3;
  }
  const bool negative = std::signbit(value);
  const double magnitude = std::fabs(value);
  if (magnitude > DBL_MAX) [[unlikely]] {
    if (negative) *out++ = '-';
    std::memcpy(out, "inf", 3);
    return out + 3;
  }

  char digits[kDigits];
  std::memset(digits, '0', kDigits);

  if (magnitude == 0.0) return emit(out, negative, digits, 0);

  // Whole numbers below 10^13 have at most thirteen digits, so their text is
  // exact without any rounding. Coefficients and bounds are mostly of this kind.
  if (magnitude < 1e13 && magnitude == std::floor(magnitude)) {
    uint64_t n = static_cast<uint64_t>(magnitude);
    char reversed[kDigits];
    int count = 0;
    do {
      reversed[count++] = static_cast<char>('0' + n % 10);
      n /= 10;
    } while (n != 0);
    for (int i = 0; i < count; ++i) digits[i] = reversed[count - 1 - i];
    return emit(out, negative, digits, count - 1);
  }

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
      return emit(out, negative, digits, parse_exponent(e));
    }
  }

  // The general case: the standard library rounds the exact binary value to
  // thirteen digits (ties to even); only the exponent is written differently.
  const auto exact =
      std::to_chars(text, text + sizeof text - 1, magnitude, std::chars_format::scientific, kDigits - 1);
  *exact.ptr = '\0';
  digits[0] = text[0];
  std::memcpy(digits + 1, text + 2, kDigits - 1);
  return emit(out, negative, digits, parse_exponent(text + 2 + kDigits - 1));
}

}  // namespace mopsel
