#pragma once
// A look back from a line to the one before it, for the rare steps that need it (a line
// in the first column where records are indented): the text behind the reader is
// never kept, so it is read again, backwards, only then.
#include <string_view>

namespace mopsel {

// Whether the last line before the one starting at `line_start` that is neither empty,
// blank-only nor a comment starts with a blank (a space or tab). False when there is none
// between `text_begin` and `line_start`.
[[nodiscard]] bool follows_indented_line(const char* text_begin, const char* line_start) noexcept;

}  // namespace mopsel
