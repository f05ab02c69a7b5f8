#pragma once
// The writer's number format: thirteen significant digits, correctly rounded
// from the exact binary value (ties to even), written as
//   [-]d.dddddddddddde<exponent>
// where the exponent has a minus sign when negative and otherwise no sign, and
// no leading zeros ("1.000000000000e0", "1.000000000000e-3", "1.0e300" style).
// Infinities are "inf" and "-inf", NaN is "NaN", negative zero keeps its sign.
#include <cstddef>

namespace mopsel {

// The longest text format_number produces: "-d." + 12 digits + "e-324" is 20.
inline constexpr size_t kMaxNumberChars = 24;

// Writes the text of `value` at `out` and returns the position just past it.
// The caller must provide at least kMaxNumberChars bytes of room.
char* format_number(double value, char* out) noexcept;

}  // namespace mopsel
