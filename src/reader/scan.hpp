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

// Maximal runs of non-separator bytes; only the first `keep` (at most kMaxFields)
// are stored, the rest of the line is ignored.
inline Fields split_fields(std::string_view line, size_t keep) noexcept {
  Fields fields;
  if (keep > kMaxFields) keep = kMaxFields;
  const char* p = line.data();
  const char* const end = p + line.size();
  while (fields.count < keep) {
    while (p != end && is_field_separator(*p)) ++p;
    if (p == end) break;
    const char* start = p;
    while (p != end && !is_field_separator(*p)) ++p;
    fields.at[fields.count++] = std::string_view(start, static_cast<size_t>(p - start));
  }
  return fields;
}

// ---------------------------------------------------------------------------
// Numbers

// Decimal text to double, correctly rounded. Grammar: optional sign, digits with
// optional point and fraction (at least one digit), optional exponent; or the
// words inf, infinity, nan after the optional sign. A "D" or "d" is read as the
// exponent letter. Anything else (also a valid prefix followed by more text)
// reads as 0.0.
double parse_number(std::string_view field) noexcept;

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

struct ReaderState;

// Reserves capacity (never length) in the reader's per-entry, per-column and
// per-row arrays from the capped hints.
void reserve_from_hints(const SizeHints& hints, size_t text_length, ReaderState& state);

}  // namespace mopsel
