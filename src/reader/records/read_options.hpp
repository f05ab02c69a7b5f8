#pragma once
// How a text is to be read, beyond the default (free format, tolerant, silent).
#include <cstddef>
#include <cstdint>

namespace mopsel {

// Free: fields are separated by blanks. Fixed: fields sit in the classic columns
// 2-3, 5-12, 15-22, 25-36, 40-47 and 50-61, so names may hold blanks. Auto: free,
// unless a record shows that the text needs fixed columns (fixed_signs.hpp gives
// the rule); then the whole text is read as fixed.
enum class Format : uint8_t { Free, Fixed, Auto };

// With several RHS, RANGES or BOUNDS sets: All apply, or only the First named set of
// each section kind (records without a set name apply either way).
enum class Sets : uint8_t { All, First };

// A bound record that sets a side of a column an earlier bound record set: the Last
// record wins, side by side, or the First is kept and the later record is passed
// over whole (HiGHS's rule).
enum class Repeated : uint8_t { Last, First };

struct ReadOptions {
  Format format = Format::Free;
  // Fail at the first finding that the default reading passes over silently.
  bool strict = false;
  // Collect every finding (at most `limit` of each code) instead of reading a model;
  // reading goes on past failures where it can.
  bool collect = false;
  size_t limit = 100;
  Sets sets = Sets::All;
  Repeated repeated = Repeated::Last;
  // N rows besides the objective become rows without bounds instead of being dropped.
  bool keep_free_rows = false;

  // Whether the default reader reads with these options: free format, or the automatic
  // one (read again carefully when the text shows signs of fixed columns), tolerant,
  // with the default rules.
  [[nodiscard]] bool default_reader() const noexcept {
    return format != Format::Fixed && !strict && !collect && sets == Sets::All && repeated == Repeated::Last &&
           !keep_free_rows;
  }
};

}  // namespace mopsel
