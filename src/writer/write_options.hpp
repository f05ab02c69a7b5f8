#pragma once
// How a record is written: the number format, the exact mode and compression.
namespace mopsel {

inline constexpr int kFixedLayoutDigits = 13;  // the default: the fixed layout's number format

struct WriteOptions {
  // Significant digits of every number, 1 to 17, in the writer's notation
  // ("d.ddde<exponent>"). 0 selects the exact mode: each number is written as the
  // shortest text that reads back to the same double, and rows, bounds, signed
  // zeros and the semi-continuous kinds are written so that reading the text gives
  // back the record wherever MPS text can express it (row_class.hpp, bound_rules.hpp).
  int digits = kFixedLayoutDigits;
  // One gzip member around the text (deflate level kGzipLevel, no name, mtime 0,
  // so equal records give equal files).
  bool gzip = false;
  // Fixed-format MPS: names in the classic 8-byte fields (so they may hold blanks),
  // numbers in 12 characters (digits beyond what fits are rounded away; the exact mode
  // fails on a number whose shortest text does not fit).
  bool fixed_columns = false;

  [[nodiscard]] constexpr bool exact() const noexcept { return digits == 0; }
};

inline constexpr int kMaxDigits = 17;

}  // namespace mopsel
