#pragma once
// Numbers: decimal fields to doubles, correctly rounded. Short integers and plain
// decimals are read inline; everything else goes through a conversion library
// (fast_float or std::from_chars) and the strict grammar checks out of line.
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace mopsel {

// Decimal text to double, correctly rounded. Grammar: optional sign, digits with
// optional point and fraction (at least one digit), optional exponent; or the
// words inf, infinity, nan after the optional sign. A "D" or "d" is read as the
// exponent letter. Anything else (also a valid prefix followed by more text)
// reads as 0.0.
double parse_number_general(std::string_view field) noexcept;

// True when `field` is a number of that grammar, so that parse_number reads it
// and does not fall back to 0.0. The empty field is not a number.
bool is_mps_number(std::string_view field) noexcept;

namespace detail {
// Exact powers of ten: every one up to 1e22 is a double.
inline constexpr double kPow10[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                    1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                    1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
inline bool is_digit(char c) noexcept { return static_cast<unsigned char>(c - '0') < 10; }
}  // namespace detail

// The common case of parse_number: an optional "-", at most 19 digits with an
// optional point, an optional "e"/"E" exponent, and a value that one exact
// multiplication or division by a power of ten gives correctly rounded. False
// (value untouched) for anything else, which the general path then reads.
inline bool parse_plain_decimal(std::string_view field, double& value) noexcept {
  using detail::is_digit;
  const char* p = field.data();
  const char* const end = p + field.size();
  const bool negative = p != end && *p == '-';
  if (negative) ++p;
  uint64_t mantissa = 0;
  const char* const digits = p;
  while (p != end && is_digit(*p)) mantissa = mantissa * 10 + static_cast<uint64_t>(*p++ - '0');
  ptrdiff_t count = p - digits;
  ptrdiff_t fraction = 0;
  if (p != end && *p == '.') {
    const char* const first = ++p;
    while (p != end && is_digit(*p)) mantissa = mantissa * 10 + static_cast<uint64_t>(*p++ - '0');
    fraction = p - first;
    count += fraction;
  }
  // More than 19 digits could overflow the mantissa.
  if (count == 0 || count > 19) [[unlikely]] return false;
  int64_t exponent = 0;
  if (p != end) {
    if (*p != 'e' && *p != 'E') return false;
    ++p;
    const bool minus = p != end && *p == '-';
    if (p != end && (*p == '-' || *p == '+')) ++p;
    const char* const first = p;
    while (p != end && is_digit(*p)) {
      if (exponent < 100000) exponent = exponent * 10 + (*p - '0');
      ++p;
    }
    if (p == first || p != end) return false;
    if (minus) exponent = -exponent;
  }
  // One correctly rounded operation on two exact doubles (zero included).
  const int64_t power = exponent - fraction;
  double result = static_cast<double>(mantissa);
  if (mantissa != 0) {
    if (mantissa > (uint64_t{1} << 53) || power < -22 || power > 22) return false;
    if (power < 0) {
      result /= detail::kPow10[-power];
    } else if (power > 0) {
      result *= detail::kPow10[power];
    }
  }
  value = negative ? -result : result;
  return true;
}

// Decimal text to double, correctly rounded (see parse_number_general for the
// grammar); plain decimals are read inline.
inline double parse_number(std::string_view field) noexcept {
  // Short unsigned integers ("1", "25", "2046") are most of the numbers in many
  // models: read them without the general decimal machinery (exact below 10^4).
  const size_t n = field.size();
  if (n - 1 < 4) {
    const auto* p = reinterpret_cast<const unsigned char*>(field.data());
    uint32_t digits = 0;
    uint32_t bad = 0;
    for (size_t i = 0; i < n; ++i) {
      const uint32_t d = static_cast<uint32_t>(p[i]) - '0';
      bad |= d >= 10 ? 1u : 0u;
      digits = digits * 10 + d;
    }
    if (bad == 0) return static_cast<double>(digits);
  }
  double value;
  if (parse_plain_decimal(field, value)) [[likely]] return value;
  return parse_number_general(field);
}

}  // namespace mopsel
