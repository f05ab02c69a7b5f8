#pragma once
// UTF-8: decoding one character, validity of a whole text, and trimming and
// tokenising by Unicode whitespace. The reader checks its names with it, and the
// module describes the first bad spot of a text with the same decoder.
#include <cstdint>
#include <string_view>

namespace mopsel {

// Code points with the Unicode White_Space property.
constexpr bool is_unicode_space(char32_t c) noexcept {
  return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
         (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F ||
         c == 0x205F || c == 0x3000;
}

// One decoded UTF-8 character. Length 0 marks bytes that do not start a valid
// character; `invalid` then says how many of them can never start one there (1 to
// 3: the maximal part of an ill-formed sequence), or is 0 when the text ends
// inside a sequence that is valid as far as it goes.
struct Utf8Char {
  char32_t code;
  uint32_t length;
  uint32_t invalid;
};

// Decodes the character at p (p < end). Rejects overlong forms, surrogates,
// values above U+10FFFF and sequences cut off by `end`; never reads at or past `end`.
Utf8Char decode_utf8(const char* p, const char* end) noexcept;

bool is_valid_utf8(std::string_view text) noexcept;

// True when no byte has the high bit set (eight bytes at a time).
bool is_ascii(std::string_view text) noexcept;

// Trimming of Unicode whitespace. Invalid bytes count as non-space.
std::string_view trim_unicode_left(std::string_view text) noexcept;
std::string_view trim_unicode_right(std::string_view text) noexcept;
inline std::string_view trim_unicode(std::string_view text) noexcept {
  return trim_unicode_right(trim_unicode_left(text));
}

// First run of non-whitespace characters (Unicode whitespace as separator); empty if none.
std::string_view first_unicode_token(std::string_view text) noexcept;

}  // namespace mopsel
