#pragma once
// Fields of a fixed-format record: the classic MPS columns 2-3, 5-12, 15-22, 25-36,
// 40-47 and 50-61 (1-based), each trimmed of blanks on both sides, so a name may hold
// blanks inside and a field may be empty. Anything after column 61 is not read.
#include <array>
#include <cstddef>
#include <string_view>

#include "reader/text/lines.hpp"

namespace mopsel {

inline constexpr size_t kFixedFieldCount = 6;

struct FixedSpan {
  size_t begin;  // 0-based, inclusive
  size_t end;    // exclusive
};

inline constexpr std::array<FixedSpan, kFixedFieldCount> kFixedSpans = {
    {{1, 3}, {4, 12}, {14, 22}, {24, 36}, {39, 47}, {49, 61}}};

using FixedRecord = std::array<std::string_view, kFixedFieldCount>;

// The six fields of `line` (a line without its line end).
FixedRecord fixed_fields(std::string_view line) noexcept;

// Position (0-based) of the first byte in column 1 or between two fields (columns 4,
// 13-14, 23-24, 37-39, 48-49) that is not a blank, up to column 61; npos when none.
// Such a line does not follow the fixed columns.
size_t fixed_gap_position(std::string_view line) noexcept;

}  // namespace mopsel
