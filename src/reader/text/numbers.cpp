#include "reader/text/numbers.hpp"

#if MOPSEL_FAST_FLOAT
#include <fast_float/fast_float.h>
#else
#include <algorithm>
#include <charconv>
#include <cmath>
#endif

#include <cstdint>
#include <cstring>
#include <string>
#include <system_error>

// Which library converts the fields the inline paths leave over is a build choice
// (cmake/dependencies.cmake): the C++ library's std::from_chars, or fast_float where
// that is missing. Both round correctly and give the same bits. The inline paths and
// std::from_chars follow the floating-point rounding mode (fast_float always rounds
// to nearest): the results are correctly rounded under the default mode, the one
// Python runs in; native code that switches it gets its mode's rounding instead.

namespace mopsel {

namespace {

#if MOPSEL_FAST_FLOAT

// fast_float reads the whole field. Values beyond the double range come back as
// infinity or zero; some library versions flag them as out of range, which we
// accept just the same.
inline bool convert_whole(const char* p, const char* end, double& value) noexcept {
  const auto result = fast_float::from_chars(p, end, value);
  return (result.ec == std::errc() || result.ec == std::errc::result_out_of_range) &&
         result.ptr == end;
}

#else

// What correct rounding gives for a decimal the library accepted but found beyond
// the double range: infinity when the first nonzero digit stands at a positive
// power of ten (only overflow is out of range there), zero otherwise; the sign is
// the text's. `p` to `end` is "-"?, digits with at most one ".", then an optional
// exponent ("e" or "E", a sign, digits).
double out_of_range_value(const char* p, const char* end) noexcept {
  const bool negative = *p == '-';
  if (negative) ++p;
  // Power of ten of the first nonzero digit, plus one, without the exponent.
  int64_t lead = 0;
  bool point = false;
  bool nonzero = false;
  for (; p != end && *p != 'e' && *p != 'E'; ++p) {
    if (*p == '.') {
      point = true;
    } else if (!nonzero && *p == '0') {
      if (point) --lead;
    } else {
      nonzero = true;
      if (!point) ++lead;
    }
  }
  int64_t exponent = 0;
  if (p != end) {
    ++p;
    const bool minus = *p == '-';
    if (*p == '-' || *p == '+') ++p;
    // Capped well above any power that can reach the double range.
    for (; p != end; ++p) exponent = std::min<int64_t>(exponent * 10 + (*p - '0'), 1'000'000'000);
    if (minus) exponent = -exponent;
  }
  const double magnitude = lead + exponent > 0 ? HUGE_VAL : 0.0;
  return negative ? -magnitude : magnitude;
}

// std::from_chars reads the whole field. Unlike fast_float it stores nothing for
// values beyond the double range and reports them as out of range; they get
// their rounded value (infinity or zero) here.
inline bool convert_whole(const char* p, const char* end, double& value) noexcept {
  const auto result = std::from_chars(p, end, value);
  if (result.ptr != end) return false;
  if (result.ec == std::errc::result_out_of_range) {
    value = out_of_range_value(p, end);
    return true;
  }
  return result.ec == std::errc();
}

#endif

// The strict grammar on a text without "D": "+" is ours to accept (the library
// rejects it), "+-1" and "++1" are not numbers, the library's "nan(...)" form
// is not accepted, and a match of only a prefix reads as 0.0.
double convert_strict(const char* p, const char* end) noexcept {
  if (p != end && *p == '+') {
    ++p;
    if (p != end && (*p == '+' || *p == '-')) return 0.0;
  }
  if (p == end) return 0.0;
  double value = 0.0;
  if (!convert_whole(p, end, value)) return 0.0;
  if (value != value) {
    // NaN: exactly "nan" after an optional "-".
    const ptrdiff_t letters = end - p - (*p == '-' ? 1 : 0);
    if (letters != 3) return 0.0;
  }
  return value;
}

// This is uncommon: a Fortran exponent, a NaN, a leading "+" or a malformed field.
[[gnu::noinline]] double parse_number_slow(std::string_view field) noexcept {
  const size_t d = field.find_first_of("Dd");
  if (d == std::string_view::npos) return convert_strict(field.data(), field.data() + field.size());
  // The copy with "e" in place of the first "D" lives on the stack; a field
  // longer than any sensible number goes to the heap.
  char local[64];
  if (field.size() <= sizeof(local)) {
    std::memcpy(local, field.data(), field.size());
    local[d] = 'e';
    return convert_strict(local, local + field.size());
  }
  try {
    std::string copy(field);
    copy[d] = 'e';
    return convert_strict(copy.data(), copy.data() + copy.size());
  } catch (...) {
    // Allocation failure for a field copy: the field cannot be read.
    return 0.0;
  }
}

bool equals_lower(std::string_view text, std::string_view lower) noexcept {
  if (text.size() != lower.size()) return false;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if ((c >= 'A' && c <= 'Z' ? static_cast<char>(c + ('a' - 'A')) : c) != lower[i]) return false;
  }
  return true;
}

inline bool is_digit(char c) noexcept { return c >= '0' && c <= '9'; }

}  // namespace

bool is_mps_number(std::string_view field) noexcept {
  size_t i = 0;
  const size_t n = field.size();
  if (i < n && (field[i] == '+' || field[i] == '-')) ++i;
  const std::string_view word = field.substr(i);
  // A NaN is "nan" exactly; a "+" before it is taken like any sign.
  if (equals_lower(word, "inf") || equals_lower(word, "infinity") || equals_lower(word, "nan")) return true;
  size_t digits = 0;
  while (i < n && is_digit(field[i])) ++i, ++digits;
  if (i < n && field[i] == '.') {
    ++i;
    while (i < n && is_digit(field[i])) ++i, ++digits;
  }
  if (digits == 0) return false;
  if (i == n) return true;
  // One exponent letter; "D" and "d" stand for "e" (only the first of them is read so).
  const char e = field[i];
  if (e != 'e' && e != 'E' && e != 'd' && e != 'D') return false;
  ++i;
  if (i < n && (field[i] == '+' || field[i] == '-')) ++i;
  const size_t first = i;
  while (i < n && is_digit(field[i])) ++i;
  return i != first && i == n;
}

double parse_number_general(std::string_view field) noexcept {
  const char* const p = field.data();
  const char* const end = p + field.size();
  if (p == end) return 0.0;
  if (*p != '+') [[likely]] {
    double value;
    // Everything the library reads in full is in our grammar except NaN forms.
    if (convert_whole(p, end, value) && value == value) [[likely]] return value;
  }
  return parse_number_slow(field);
}

}  // namespace mopsel
