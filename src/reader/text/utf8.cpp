#include "reader/text/utf8.hpp"

#include <cstddef>
#include <cstring>

namespace mopsel {

namespace {

inline bool is_continuation(unsigned char b) noexcept { return (b & 0xC0) == 0x80; }

inline bool is_ascii_space(unsigned char b) noexcept {
  return (b >= 0x09 && b <= 0x0D) || b == 0x20;
}

}  // namespace

Utf8Char decode_utf8(const char* p, const char* end) noexcept {
  const auto b0 = static_cast<unsigned char>(p[0]);
  if (b0 < 0x80) return {b0, 1, 0};
  uint32_t length;
  char32_t code;
  // Bounds of the second byte exclude overlong forms, surrogates and > U+10FFFF.
  unsigned char low = 0x80;
  unsigned char high = 0xBF;
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    length = 2;
    code = b0 & 0x1F;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    length = 3;
    code = b0 & 0x0F;
    if (b0 == 0xE0) low = 0xA0;
    if (b0 == 0xED) high = 0x9F;
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    length = 4;
    code = b0 & 0x07;
    if (b0 == 0xF0) low = 0x90;
    if (b0 == 0xF4) high = 0x8F;
  } else {
    return {0, 0, 1};
  }
  // The bytes are checked in order; the text may end before a bad one shows.
  for (uint32_t i = 1; i < length; ++i) {
    if (end - p <= static_cast<ptrdiff_t>(i)) return {0, 0, 0};
    const auto b = static_cast<unsigned char>(p[i]);
    if (i == 1 ? (b < low || b > high) : !is_continuation(b)) return {0, 0, i};
    code = (code << 6) | (b & 0x3F);
  }
  return {code, length, 0};
}

bool is_valid_utf8(std::string_view text) noexcept {
  const char* p = text.data();
  const char* const end = p + text.size();
  while (p != end) {
    // Names are mostly ASCII: skip eight such bytes at a time.
    while (end - p >= 8) {
      uint64_t chunk;
      std::memcpy(&chunk, p, 8);
      if ((chunk & 0x8080808080808080ULL) != 0) break;
      p += 8;
    }
    if (p == end) break;
    if (static_cast<unsigned char>(*p) < 0x80) {
      ++p;
      continue;
    }
    const Utf8Char c = decode_utf8(p, end);
    if (c.length == 0) return false;
    p += c.length;
  }
  return true;
}

bool is_ascii(std::string_view text) noexcept {
  const char* p = text.data();
  const char* const end = p + text.size();
  uint64_t high = 0;
  for (; end - p >= 32; p += 32) {
    uint64_t w[4];
    std::memcpy(w, p, 32);
    high |= w[0] | w[1] | w[2] | w[3];
  }
  for (; p != end; ++p) high |= static_cast<unsigned char>(*p);
  return (high & 0x8080808080808080ULL) == 0;
}

std::string_view trim_unicode_left(std::string_view text) noexcept {
  const char* p = text.data();
  const char* const end = p + text.size();
  while (p != end) {
    const auto b = static_cast<unsigned char>(*p);
    if (b < 0x80) {
      if (!is_ascii_space(b)) break;
      ++p;
      continue;
    }
    const Utf8Char c = decode_utf8(p, end);
    if (c.length == 0 || !is_unicode_space(c.code)) break;
    p += c.length;
  }
  return {p, static_cast<size_t>(end - p)};
}

std::string_view trim_unicode_right(std::string_view text) noexcept {
  const char* const begin = text.data();
  const char* end = begin + text.size();
  while (end != begin) {
    const auto b = static_cast<unsigned char>(end[-1]);
    if (b < 0x80) {
      if (!is_ascii_space(b)) break;
      --end;
      continue;
    }
    // Step back over at most three continuation bytes to a lead byte, then the
    // sequence decoded from there must end exactly at `end`.
    const char* lead = end - 1;
    while (lead != begin && end - lead < 4 && is_continuation(static_cast<unsigned char>(*lead))) {
      --lead;
    }
    const Utf8Char c = decode_utf8(lead, end);
    if (c.length == 0 || lead + c.length != end || !is_unicode_space(c.code)) break;
    end = lead;
  }
  return {begin, static_cast<size_t>(end - begin)};
}

std::string_view first_unicode_token(std::string_view text) noexcept {
  text = trim_unicode_left(text);
  const char* const begin = text.data();
  const char* const end = begin + text.size();
  const char* p = begin;
  while (p != end) {
    const auto b = static_cast<unsigned char>(*p);
    if (b < 0x80) {
      if (is_ascii_space(b)) break;
      ++p;
      continue;
    }
    const Utf8Char c = decode_utf8(p, end);
    if (c.length == 0) {
      ++p;  // an invalid byte is part of the token
      continue;
    }
    if (is_unicode_space(c.code)) break;
    p += c.length;
  }
  return {begin, static_cast<size_t>(p - begin)};
}

}  // namespace mopsel
