#pragma once
// Text layer of the MPS reader: lines, comment and blank lines, header
// classification, field splitting, number conversion and the size-hint scan.
//
// Everything here works on views into the model text; nothing is copied except
// a numeric field that holds a Fortran "D" exponent (rare, out of line).
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace mopsel {

// ---------------------------------------------------------------------------
// Lines

// Cursor over the model text. Lines end at LF; a CR right before the LF is
// dropped with it, so CRLF and LF files read alike. A lone CR stays in the line.
struct LineCursor {
  const char* pos;
  const char* end;
};

inline LineCursor line_cursor(std::string_view text) noexcept {
  return {text.data(), text.data() + text.size()};
}

// Yields the next line without its terminator; false at the end of the text.
inline bool next_line(LineCursor& cursor, std::string_view& line) noexcept {
  const char* start = cursor.pos;
  if (start == cursor.end) return false;
  const auto* lf = static_cast<const char*>(std::memchr(start, '\n', cursor.end - start));
  const char* stop = cursor.end;
  if (lf != nullptr) {
    cursor.pos = lf + 1;
    stop = (lf != start && lf[-1] == '\r') ? lf - 1 : lf;
  } else {
    cursor.pos = cursor.end;
  }
  line = std::string_view(start, static_cast<size_t>(stop - start));
  return true;
}

// Only the very first byte counts: an asterisk after blanks is not a comment.
inline bool is_comment_line(std::string_view line) noexcept {
  return !line.empty() && (line.front() == '*' || line.front() == '$');
}

// ---------------------------------------------------------------------------
// Character classes

namespace detail {
inline constexpr std::array<bool, 256> kFieldSeparator = [] {
  std::array<bool, 256> table{};
  for (unsigned char c : {' ', '\t', '\n', '\f', '\r'}) table[c] = true;
  return table;
}();
}  // namespace detail

// Space, tab, LF, form feed and CR; vertical tab is not a separator.
inline bool is_field_separator(char c) noexcept {
  return detail::kFieldSeparator[static_cast<unsigned char>(c)];
}

// Code points with the Unicode White_Space property.
constexpr bool is_unicode_space(char32_t c) noexcept {
  return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
         (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F ||
         c == 0x205F || c == 0x3000;
}

// One decoded UTF-8 character; length 0 marks an invalid or truncated sequence.
struct Utf8Char {
  char32_t code;
  uint32_t length;
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

constexpr char ascii_upper(char c) noexcept {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - ('a' - 'A')) : c;
}

// ---------------------------------------------------------------------------
// Headers

enum class HeaderKind : uint8_t {
  Data = 0,
  Name = 1,
  ObjSense = 2,
  Rows = 3,
  Columns = 4,
  Rhs = 5,
  Bounds = 6,
  Ranges = 7,
  EndData = 8,
  Unsupported = 9,
  Blank = 10,
};

// Takes an upper-cased word; never returns Blank.
HeaderKind keyword_kind(std::string_view upper_word) noexcept;

// keyword_kind of the upper-cased word, without allocating: keywords are at most
// 11 bytes, so the copy lives on the stack.
HeaderKind word_kind(std::string_view word) noexcept;

struct LineClass {
  HeaderKind kind;
  std::string_view word;  // first word, as written
  std::string_view rest;  // everything after it, untrimmed
};

LineClass classify_line(std::string_view line) noexcept;

// ---------------------------------------------------------------------------
// Fields

inline constexpr size_t kMaxFields = 6;

struct Fields {
  std::array<std::string_view, kMaxFields> at;
  size_t count = 0;
};

namespace detail {

#if defined(__SSE2__)
// Bit i is set when byte i of v is a field separator.
inline uint32_t separator_bits(__m128i v) noexcept {
  const __m128i space = _mm_cmpeq_epi8(v, _mm_set1_epi8(' '));
  // Tab, LF, VT, FF, CR are 9 to 13; then vertical tab is taken out again.
  const __m128i shifted = _mm_sub_epi8(v, _mm_set1_epi8(9));
  const __m128i control = _mm_cmpeq_epi8(_mm_min_epu8(shifted, _mm_set1_epi8(4)), shifted);
  const __m128i vtab = _mm_cmpeq_epi8(v, _mm_set1_epi8(0x0B));
  return static_cast<uint32_t>(
      _mm_movemask_epi8(_mm_or_si128(space, _mm_andnot_si128(vtab, control))));
}

// Bit i is set when byte i of the 16 bytes at p is a field separator.
inline uint32_t separator_bits(const char* p) noexcept {
  return separator_bits(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
}
#endif

// Bit i is set when byte p[i] is a field separator or lies at or past `end`.
// Loads 64 bytes at once when they lie before `readable` (readable >= end).
inline uint64_t separator_window(const char* p, const char* end, const char* readable) noexcept {
  uint64_t bits = 0;
  const ptrdiff_t left = end - p;
#if defined(__SSE2__)
  if (readable - p >= 64) {
    bits = uint64_t{separator_bits(p)} | (uint64_t{separator_bits(p + 16)} << 16) |
           (uint64_t{separator_bits(p + 32)} << 32) | (uint64_t{separator_bits(p + 48)} << 48);
  } else
#else
  (void)readable;
#endif
  {
    const ptrdiff_t n = left < 64 ? left : 64;
    for (ptrdiff_t i = 0; i < n; ++i) bits |= uint64_t{is_field_separator(p[i])} << i;
  }
  if (left < 64) bits |= ~uint64_t{0} << left;
  return bits;
}

}  // namespace detail

// Maximal runs of non-separator bytes; only the first `keep` (at most kMaxFields)
// are stored into `fields` (its count set, entries past the count left as they
// were, so a Fields reused from line to line costs no clearing), the rest of the
// line is ignored. Bytes from the line's end up to `readable` may be loaded
// (never used), so the line is scanned in 64-byte windows of separator bits.
[[gnu::always_inline]] inline void split_fields_into(std::string_view line, size_t keep,
                                                    const char* readable, Fields& fields) noexcept {
  if (keep > kMaxFields) keep = kMaxFields;
  std::string_view* const out = fields.at.data();
  size_t count = 0;
  const char* p = line.data();
  const char* const end = p + line.size();
  const char* start = nullptr;  // start of a field that runs past the last window
  uint64_t before = 1;          // 1 when the byte before the window is a separator (or none)
  while (p < end && count < keep) {
    const uint64_t separators = detail::separator_window(p, end, readable);
    // Field starts: non-separators after a separator; field ends: separators
    // after a non-separator. Each end closes the oldest start not yet closed.
    const uint64_t shifted = (separators << 1) | before;
    uint64_t starts = ~separators & shifted;
    uint64_t ends = separators & ~shifted;
    before = separators >> 63;
    if (start != nullptr && ends != 0) {
      out[count++] = std::string_view(start, static_cast<size_t>(p + __builtin_ctzll(ends) - start));
      ends &= ends - 1;
      start = nullptr;
    }
    while (ends != 0 && count < keep) {
      const int first = __builtin_ctzll(starts);
      out[count++] = std::string_view(p + first, static_cast<size_t>(__builtin_ctzll(ends) - first));
      starts &= starts - 1;
      ends &= ends - 1;
    }
    // At most one start is left: a field that runs into the next window.
    if (starts != 0 && ends == 0) start = p + __builtin_ctzll(starts);
    if (end - p <= 64) break;
    p += 64;
  }
  if (start != nullptr && count < keep) {
    out[count++] = std::string_view(start, static_cast<size_t>(end - start));
  }
  fields.count = count;
}

// next_line and split_fields_into in one pass for a line that ends within the
// first 64 bytes, when those bytes lie inside the text: the line feed and the
// separators come from the same loads. Longer lines, and lines near the end of
// the text, take the two separate steps. The line is given as next_line gives it.
[[gnu::always_inline]] inline void next_line_fields(LineCursor& cursor, size_t keep, Fields& fields,
                                                    std::string_view& line) noexcept {
#if defined(__SSE2__)
  const char* const p = cursor.pos;
  if (cursor.end - p >= 64) {
    uint64_t separators = 0;
    uint64_t feeds = 0;
    const __m128i lf = _mm_set1_epi8('\n');
    for (int k = 0; k < 4; ++k) {
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * k));
      separators |= uint64_t{detail::separator_bits(v)} << (16 * k);
      feeds |= uint64_t{static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, lf)))} << (16 * k);
    }
    if (feeds != 0) [[likely]] {
      const int at = __builtin_ctzll(feeds);
      const char* stop = p + at;
      cursor.pos = stop + 1;
      if (at != 0 && stop[-1] == '\r') --stop;
      line = std::string_view(p, static_cast<size_t>(stop - p));
      // Bytes from the line feed on count as separators, so every field ends here.
      separators |= ~uint64_t{0} << at;
      if (keep > kMaxFields) keep = kMaxFields;
      std::string_view* const out = fields.at.data();
      size_t count = 0;
      const uint64_t shifted = (separators << 1) | 1;  // the line starts after a "separator"
      uint64_t starts = ~separators & shifted;
      uint64_t ends = separators & ~shifted;
      while (starts != 0 && count < keep) {
        const int first = __builtin_ctzll(starts);
        out[count++] = std::string_view(p + first, static_cast<size_t>(__builtin_ctzll(ends) - first));
        starts &= starts - 1;
        ends &= ends - 1;
      }
      fields.count = count;
      return;
    }
  }
#endif
  next_line(cursor, line);
  split_fields_into(line, keep, cursor.end, fields);
}

inline Fields split_fields(std::string_view line, size_t keep, const char* readable) noexcept {
  Fields fields;
  split_fields_into(line, keep, readable, fields);
  return fields;
}

inline Fields split_fields(std::string_view line, size_t keep) noexcept {
  return split_fields(line, keep, line.data() + line.size());
}

// ---------------------------------------------------------------------------
// Numbers

// Decimal text to double, correctly rounded. Grammar: optional sign, digits with
// optional point and fraction (at least one digit), optional exponent; or the
// words inf, infinity, nan after the optional sign. A "D" or "d" is read as the
// exponent letter. Anything else (also a valid prefix followed by more text)
// reads as 0.0.
double parse_number_general(std::string_view field) noexcept;

namespace detail {
// Exact powers of ten: every one up to 1e22 is a double.
inline constexpr double kPow10[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                    1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                    1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
inline bool is_digit(char c) noexcept { return static_cast<unsigned char>(c - '0') < 10; }
}  // namespace detail

// The common case of parse_number: an optional "-", at most 19 digits with an
// optional point, an optional "e"/"E" exponent, and a value that one exact
// multiplication or division by a power of ten gives correctly rounded. False
// (value untouched) for anything else, which the general path then reads.
inline bool parse_plain_decimal(std::string_view field, double& value) noexcept {
  using detail::is_digit;
  const char* p = field.data();
  const char* const end = p + field.size();
  const bool negative = p != end && *p == '-';
  if (negative) ++p;
  uint64_t mantissa = 0;
  const char* const digits = p;
  while (p != end && is_digit(*p)) mantissa = mantissa * 10 + static_cast<uint64_t>(*p++ - '0');
  ptrdiff_t count = p - digits;
  ptrdiff_t fraction = 0;
  if (p != end && *p == '.') {
    const char* const first = ++p;
    while (p != end && is_digit(*p)) mantissa = mantissa * 10 + static_cast<uint64_t>(*p++ - '0');
    fraction = p - first;
    count += fraction;
  }
  // More than 19 digits could overflow the mantissa.
  if (count == 0 || count > 19) [[unlikely]] return false;
  int64_t exponent = 0;
  if (p != end) {
    if (*p != 'e' && *p != 'E') return false;
    ++p;
    const bool minus = p != end && *p == '-';
    if (p != end && (*p == '-' || *p == '+')) ++p;
    const char* const first = p;
    while (p != end && is_digit(*p)) {
      if (exponent < 100000) exponent = exponent * 10 + (*p - '0');
      ++p;
    }
    if (p == first || p != end) return false;
    if (minus) exponent = -exponent;
  }
  // One correctly rounded operation on two exact doubles (zero included).
  const int64_t power = exponent - fraction;
  double result = static_cast<double>(mantissa);
  if (mantissa != 0) {
    if (mantissa > (uint64_t{1} << 53) || power < -22 || power > 22) return false;
    if (power < 0) {
      result /= detail::kPow10[-power];
    } else if (power > 0) {
      result *= detail::kPow10[power];
    }
  }
  value = negative ? -result : result;
  return true;
}

// Decimal text to double, correctly rounded (see parse_number_general for the
// grammar); plain decimals are read inline.
inline double parse_number(std::string_view field) noexcept {
  // Short unsigned integers ("1", "25", "2046") are most of the numbers in many
  // models: read them without the general decimal machinery (exact below 10^4).
  const size_t n = field.size();
  if (n - 1 < 4) {
    const auto* p = reinterpret_cast<const unsigned char*>(field.data());
    uint32_t digits = 0;
    uint32_t bad = 0;
    for (size_t i = 0; i < n; ++i) {
      const uint32_t d = static_cast<uint32_t>(p[i]) - '0';
      bad |= d >= 10 ? 1u : 0u;
      digits = digits * 10 + d;
    }
    if (bad == 0) return static_cast<double>(digits);
  }
  double value;
  if (parse_plain_decimal(field, value)) [[likely]] return value;
  return parse_number_general(field);
}

struct OptionalCount {
  bool present = false;
  uint64_t value = 0;
};

// Hint values: whitespace and surrounding parentheses removed, optional "+",
// decimal digits only, fitting 64 bits.
OptionalCount parse_count(std::string_view text) noexcept;

// ---------------------------------------------------------------------------
// Size hints

struct SizeHints {
  uint64_t nonzeros = 0;
  uint64_t columns = 0;
  uint64_t rows = 0;
  bool has_nonzeros = false;  // the value came from the text, not the default
  bool has_columns = false;
  bool has_rows = false;
};

// Reads "* ROWS: n", "* COLUMNS: n" and "* NONZERO: n" comments among the first
// 20 lines, up to the NAME line; missing values get defaults from the text length.
SizeHints scan_size_hints(std::string_view text) noexcept;

// The reservations actually taken: the hints, capped by what the text can hold
// (entries by a quarter of its length, columns and rows by a sixteenth), so a
// hint alone never makes the reader reserve more than a small multiple of the
// text size.
struct Reservations {
  size_t entries;
  size_t columns;
  size_t rows;
};

Reservations capped_reservations(const SizeHints& hints, size_t text_length) noexcept;

// The number of row records at the start of `rest` (the text after a ROWS
// header): lines that begin with a blank, whose first field starts with E, G, L
// or N and that have a second field; empty and comment lines are passed over.
// Counting stops at the first other line. An estimate for sizing the row map
// (a header indented like a record may let it count on), so it is capped by a
// sixth of the text length (" L r1" and its line end).
size_t count_row_lines(std::string_view rest, size_t text_length) noexcept;

}  // namespace mopsel
