#pragma once
// Words of LP text that the reader and the writer must agree on: the reader
// takes them for section keywords at the start of a line or for infinity, so
// the writer never writes them as names.
#include <string_view>

namespace mopsel {

// True when `text` equals `lower` (lower-case ASCII) in any case.
constexpr bool equals_ascii_lower(std::string_view text, std::string_view lower) noexcept {
  if (text.size() != lower.size()) return false;
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + ('a' - 'A'));
    if (c != lower[i]) return false;
  }
  return true;
}

// Section keywords (and the first words of the two-word ones), `free`, and the
// words of infinity.
inline constexpr std::string_view kLpReservedWords[] = {
    "minimize", "minimise", "minimum",  "min",   "maximize", "maximise", "maximum", "max",
    "st",       "s.t.",     "subject",  "such",  "bounds",   "bound",    "general", "generals",
    "gen",      "integer",  "integers", "int",   "binary",   "binaries", "bin",     "semi",
    "semis",    "semicontinuous",       "sos",   "end",      "free",     "inf",     "infinity",
};

constexpr bool is_lp_reserved_word(std::string_view word) noexcept {
  for (std::string_view reserved : kLpReservedWords) {
    if (equals_ascii_lower(word, reserved)) return true;
  }
  return false;
}

}  // namespace mopsel
