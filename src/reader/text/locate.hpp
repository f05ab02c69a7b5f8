#pragma once
// Where a byte offset lies: its line number and the line's text. Computed only when a
// read has failed, from the text that is still held, so success pays nothing for it.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "model/result.hpp"

namespace mopsel {

struct TextPosition {
  uint64_t lineno;         // 1-based
  std::string_view line;   // without its line end
};

// The line holding `offset` (lines end at LF; a CR before the LF is not part of the
// line). The end of a text that ends in a line feed belongs to the last line.
TextPosition locate(std::string_view text, uint64_t offset) noexcept;

// The line numbers (1-based) of several offsets, in one pass over the text up to the
// last of them; in the order given.
std::vector<uint64_t> line_numbers(std::string_view text, const std::vector<uint64_t>& offsets);

// The line as shown in a message: at most kShownLine bytes around the column of
// `offset`, with "..." where it was cut.
inline constexpr size_t kShownLine = 120;
std::string shown_line(std::string_view line, uint64_t column);

// Fills the line number (when still unknown) and the line of an error that has an
// offset into `text`.
void attach_location(Error& error, std::string_view text);

}  // namespace mopsel
