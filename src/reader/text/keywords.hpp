#pragma once
// Section keywords: the kind of a header word, and the classification of a line
// as a header of some kind, a blank line or data. Keywords are matched without
// regard to case.
#include <cstdint>
#include <string_view>

namespace mopsel {

constexpr char ascii_upper(char c) noexcept {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - ('a' - 'A')) : c;
}

// The objective sense a word names: a word of at least three bytes that begins,
// in any case, with MAX (maximise) or MIN (minimise); None for any other word.
enum class SenseWord : uint8_t { None, Max, Min };

constexpr SenseWord sense_word(std::string_view word) noexcept {
  if (word.size() < 3 || ascii_upper(word[0]) != 'M') return SenseWord::None;
  const char b = ascii_upper(word[1]);
  const char c = ascii_upper(word[2]);
  if (b == 'A' && c == 'X') return SenseWord::Max;
  if (b == 'I' && c == 'N') return SenseWord::Min;
  return SenseWord::None;
}

// The kind of a line; doubles as the section a header opens.
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
  // The sections beyond a linear program that the model holds.
  QuadObj = 11,     // the objective's H, one triangle
  QMatrix = 12,     // the objective's H, both triangles
  QSection = 13,    // one triangle of the H of the row it names
  QcMatrix = 14,    // the full Q of x'Qx in the row it names
  Sos = 15,         // special ordered sets
  Indicators = 16,  // indicator constraints
};

// Whether a header of `kind` may carry more fields on its line (NAME and OBJSENSE
// their value, QSECTION and QCMATRIX a row name; any section header words the reader
// does not use), where the other section keywords stand alone.
constexpr bool header_takes_fields(HeaderKind kind) noexcept {
  switch (kind) {
    case HeaderKind::Name:
    case HeaderKind::ObjSense:
    case HeaderKind::Unsupported:
    case HeaderKind::QuadObj:
    case HeaderKind::QMatrix:
    case HeaderKind::QSection:
    case HeaderKind::QcMatrix:
    case HeaderKind::Sos:
    case HeaderKind::Indicators: return true;
    default: return false;
  }
}

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

// The kind of the line's first word (Unicode whitespace before it skipped, a
// field separator after it), with the rest of the line. ROWS, COLUMNS, RHS,
// BOUNDS, RANGES and ENDATA count only when nothing but whitespace follows them.
LineClass classify_line(std::string_view line) noexcept;

}  // namespace mopsel
