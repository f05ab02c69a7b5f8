#include "reader/numbers.hpp"

#include <fast_float/fast_float.h>

#include <cstring>
#include <string>
#include <system_error>

namespace mopsel {

namespace {

// fast_float reads the whole field. Values beyond the double range come back as
// infinity or zero; some library versions flag them as out of range, which we
// accept just the same.
inline bool convert_whole(const char* p, const char* end, double& value) noexcept {
  const auto result = fast_float::from_chars(p, end, value);
  return (result.ec == std::errc() || result.ec == std::errc::result_out_of_range) &&
         result.ptr == end;
}

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

}  // namespace

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
