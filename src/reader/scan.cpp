#include "reader/scan.hpp"

#include <fast_float/fast_float.h>

#include <algorithm>
#include <cstring>
#include <string>

namespace mopsel {

// ---------------------------------------------------------------------------
// UTF-8

namespace {

inline bool is_continuation(unsigned char b) noexcept { return (b & 0xC0) == 0x80; }

inline bool is_ascii_space(unsigned char b) noexcept {
  return (b >= 0x09 && b <= 0x0D) || b == 0x20;
}

}  // namespace

Utf8Char decode_utf8(const char* p, const char* end) noexcept {
  constexpr Utf8Char invalid{0, 0};
  const auto b0 = static_cast<unsigned char>(p[0]);
  if (b0 < 0x80) return {b0, 1};
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
    return invalid;
  }
  if (end - p < static_cast<ptrdiff_t>(length)) return invalid;
  const auto b1 = static_cast<unsigned char>(p[1]);
  if (b1 < low || b1 > high) return invalid;
  code = (code << 6) | (b1 & 0x3F);
  for (uint32_t i = 2; i < length; ++i) {
    const auto b = static_cast<unsigned char>(p[i]);
    if (!is_continuation(b)) return invalid;
    code = (code << 6) | (b & 0x3F);
  }
  return {code, length};
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

// ---------------------------------------------------------------------------
// Headers

HeaderKind keyword_kind(std::string_view w) noexcept {
  using enum HeaderKind;
  struct Keyword {
    std::string_view word;
    HeaderKind kind;
  };
  static constexpr Keyword k3[] = {{"RHS", Rhs}, {"SOS", Unsupported}};
  static constexpr Keyword k4[] = {{"NAME", Name}, {"ROWS", Rows}, {"SETS", Unsupported}};
  static constexpr Keyword k6[] = {{"RANGES", Ranges},      {"BOUNDS", Bounds},
                                   {"ENDATA", EndData},     {"PWLOBJ", Unsupported},
                                   {"PWLNAM", Unsupported}, {"PWLCON", Unsupported}};
  static constexpr Keyword k7[] = {{"COLUMNS", Columns},
                                   {"QUADOBJ", Unsupported},
                                   {"QMATRIX", Unsupported},
                                   {"GENCONS", Unsupported}};
  static constexpr Keyword k8[] = {{"OBJSENSE", ObjSense},
                                   {"QSECTION", Unsupported},
                                   {"QCMATRIX", Unsupported},
                                   {"CSECTION", Unsupported},
                                   {"USERCUTS", Unsupported}};
  static constexpr Keyword k9[] = {{"MODELCUTS", Unsupported}};
  static constexpr Keyword k10[] = {{"INDICATORS", Unsupported}};
  static constexpr Keyword k11[] = {{"DELAYEDROWS", Unsupported}};

  auto match = [w](const auto& table) {
    for (const Keyword& k : table) {
      if (k.word == w) return k.kind;
    }
    return Data;
  };
  switch (w.size()) {
    case 3: return match(k3);
    case 4: return match(k4);
    case 6: return match(k6);
    case 7: return match(k7);
    case 8: return match(k8);
    case 9: return match(k9);
    case 10: return match(k10);
    case 11: return match(k11);
    default: return Data;
  }
}

HeaderKind word_kind(std::string_view word) noexcept {
  constexpr size_t kLongest = 11;
  if (word.size() < 3 || word.size() > kLongest) return HeaderKind::Data;
  char upper[kLongest];
  for (size_t i = 0; i < word.size(); ++i) upper[i] = ascii_upper(word[i]);
  return keyword_kind({upper, word.size()});
}

LineClass classify_line(std::string_view line) noexcept {
  const std::string_view text = trim_unicode_left(line);
  if (text.empty()) return {HeaderKind::Blank, {}, {}};
  size_t split = 0;
  while (split < text.size() && !is_field_separator(text[split])) ++split;
  LineClass result{word_kind(text.substr(0, split)), text.substr(0, split), text.substr(split)};
  switch (result.kind) {
    case HeaderKind::Rows:
    case HeaderKind::Columns:
    case HeaderKind::Rhs:
    case HeaderKind::Bounds:
    case HeaderKind::Ranges:
    case HeaderKind::EndData:
      // These headers stand alone; "ROWS extra" is data.
      if (!trim_unicode(result.rest).empty()) result.kind = HeaderKind::Data;
      break;
    default: break;
  }
  return result;
}

// ---------------------------------------------------------------------------
// Numbers

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

OptionalCount parse_count(std::string_view text) noexcept {
  text = trim_unicode(text);
  while (!text.empty() && text.front() == '(') text.remove_prefix(1);
  while (!text.empty() && text.back() == ')') text.remove_suffix(1);
  text = trim_unicode(text);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  if (text.empty()) return {};
  uint64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return {};
    const auto digit = static_cast<uint64_t>(c - '0');
    if (value > (UINT64_MAX - digit) / 10) return {};
    value = value * 10 + digit;
  }
  return {true, value};
}

// ---------------------------------------------------------------------------
// Size hints

namespace {

// Position just past `keyword` (upper case) in the upper-cased view of `line`.
size_t find_upper(std::string_view line, std::string_view keyword) noexcept {
  if (line.size() < keyword.size()) return std::string_view::npos;
  for (size_t i = 0; i + keyword.size() <= line.size(); ++i) {
    size_t k = 0;
    while (k < keyword.size() && ascii_upper(line[i + k]) == keyword[k]) ++k;
    if (k == keyword.size()) return i + k;
  }
  return std::string_view::npos;
}

}  // namespace

SizeHints scan_size_hints(std::string_view text) noexcept {
  constexpr int kHintLines = 20;
  SizeHints hints;
  LineCursor cursor = line_cursor(text);
  std::string_view line;
  for (int i = 0; i < kHintLines && next_line(cursor, line); ++i) {
    if (line.empty() || line.front() != '*') {
      if (trim_unicode_left(line).starts_with("NAME")) break;
      continue;
    }
    uint64_t* target = &hints.rows;
    bool* flag = &hints.has_rows;
    size_t after = find_upper(line, "ROWS:");
    if (after == std::string_view::npos) {
      target = &hints.columns;
      flag = &hints.has_columns;
      after = find_upper(line, "COLUMNS:");
    }
    if (after == std::string_view::npos) {
      target = &hints.nonzeros;
      flag = &hints.has_nonzeros;
      after = find_upper(line, "NONZERO:");
    }
    if (after == std::string_view::npos) continue;
    const OptionalCount count = parse_count(line.substr(after));
    if (count.present) {
      *target = count.value;
      *flag = true;
    }
  }
  const uint64_t length = text.size();
  if (!hints.has_nonzeros) hints.nonzeros = length / 30;
  if (!hints.has_columns) hints.columns = hints.nonzeros / 10;
  if (!hints.has_rows) hints.rows = hints.columns / 4;
  return hints;
}

Reservations capped_reservations(const SizeHints& hints, size_t text_length) noexcept {
  // A hint only sizes reservations, so it is capped by what the text could
  // hold: a matrix entry takes at least 4 bytes (" r 1"); a column or row is
  // given 16 bytes, a generous lower estimate for a line with a name and an
  // entry. Beyond the caps the arrays simply grow.
  const uint64_t length = text_length;
  return {static_cast<size_t>(std::min<uint64_t>(hints.nonzeros, length / 4)),
          static_cast<size_t>(std::min<uint64_t>(hints.columns, length / 16)),
          static_cast<size_t>(std::min<uint64_t>(hints.rows, length / 16))};
}

size_t count_row_lines(std::string_view rest, size_t text_length) noexcept {
  const size_t cap = text_length / 6;
  const char* p = rest.data();
  const char* const end = p + rest.size();
  auto blank = [](char c) { return c == ' ' || c == '\t'; };
  size_t rows = 0;
  while (p < end && rows < cap) {
    const auto* lf = static_cast<const char*>(std::memchr(p, '\n', static_cast<size_t>(end - p)));
    const char* const stop = lf != nullptr ? lf : end;
    const char first = *p;
    if (first != '\n' && first != '\r' && first != '*' && first != '$') {
      if (!blank(first)) break;
      const char* q = p;
      while (q < stop && blank(*q)) ++q;
      if (q == stop || (*q != 'E' && *q != 'G' && *q != 'L' && *q != 'N')) break;
      while (q < stop && !blank(*q) && *q != '\r') ++q;
      while (q < stop && blank(*q)) ++q;
      if (q == stop || *q == '\r') break;
      ++rows;
    }
    p = stop + 1;
  }
  return rows;
}

}  // namespace mopsel
