#include "lp/lp_sections.hpp"

#include <array>

#include "model/lp_words.hpp"

namespace mopsel::lp {
namespace {

using mopsel::equals_ascii_lower;

struct Keyword {
  std::string_view word;
  Section section;
};

// One-word keywords.
constexpr std::array<Keyword, 25> kKeywords = {{
    {"minimize", Section::Minimize}, {"minimise", Section::Minimize}, {"minimum", Section::Minimize},
    {"min", Section::Minimize},      {"maximize", Section::Maximize}, {"maximise", Section::Maximize},
    {"maximum", Section::Maximize},  {"max", Section::Maximize},      {"st", Section::SubjectTo},
    {"s.t.", Section::SubjectTo},    {"bounds", Section::Bounds},     {"bound", Section::Bounds},
    {"general", Section::General},   {"generals", Section::General},  {"gen", Section::General},
    {"integer", Section::General},   {"integers", Section::General},  {"int", Section::General},
    {"binary", Section::Binary},     {"binaries", Section::Binary},   {"bin", Section::Binary},
    {"semicontinuous", Section::Semi}, {"semis", Section::Semi},      {"sos", Section::Sos},
    {"end", Section::End},
}};

// Whether the next token of `lexer` is the word `lower`; consumed when it is.
bool take_word(Lexer& lexer, std::string_view lower) noexcept {
  Lexer ahead = lexer;
  const Token token = ahead.next();
  if (token.kind != Tok::Name || token.line_start || !equals_ascii_lower(token.text(), lower)) return false;
  lexer = ahead;
  return true;
}

bool colon_follows(const Lexer& lexer) noexcept {
  Lexer ahead = lexer;
  return ahead.next().kind == Tok::Colon;
}

// Whether a word starting with `c` may be a keyword: every keyword starts with one of
// b e g i l m s u (in any case). Most names at the start of a line (a Bounds or Binary
// section lists a variable per line) are turned away here.
bool may_start_keyword(char c) noexcept {
  switch (c | 0x20) {
    case 'b': case 'e': case 'g': case 'i': case 'l': case 'm': case 's': case 'u': return true;
    default: return false;
  }
}

}  // namespace

Section section_at(const Token& first, Lexer& lexer) noexcept {
  if (first.kind != Tok::Name || !first.line_start || first.size > 14 || !may_start_keyword(*first.begin)) {
    return Section::None;
  }
  const std::string_view word = first.text();
  Lexer ahead = lexer;
  Section found = Section::None;
  if (equals_ascii_lower(word, "subject")) {
    if (take_word(ahead, "to")) found = Section::SubjectTo;
  } else if (equals_ascii_lower(word, "such")) {
    if (take_word(ahead, "that")) found = Section::SubjectTo;
  } else if (equals_ascii_lower(word, "lazy")) {
    if (take_word(ahead, "constraints")) found = Section::Lazy;
  } else if (equals_ascii_lower(word, "user")) {
    if (take_word(ahead, "cuts")) found = Section::Lazy;
  } else if (equals_ascii_lower(word, "semi")) {
    // "semi-continuous" is three tokens; "semi" alone is a keyword too.
    Lexer dash = ahead;
    if (dash.next().kind == Tok::Minus && take_word(dash, "continuous")) ahead = dash;
    found = Section::Semi;
  } else {
    for (const Keyword& keyword : kKeywords) {
      if (equals_ascii_lower(word, keyword.word)) {
        found = keyword.section;
        break;
      }
    }
  }
  if (found == Section::None || colon_follows(ahead)) return Section::None;
  lexer = ahead;
  return found;
}

std::string_view section_name(Section section) noexcept {
  switch (section) {
    case Section::None: return "";
    case Section::Minimize: return "Minimize";
    case Section::Maximize: return "Maximize";
    case Section::SubjectTo: return "Subject To";
    case Section::Bounds: return "Bounds";
    case Section::General: return "General";
    case Section::Binary: return "Binary";
    case Section::Semi: return "Semi-Continuous";
    case Section::Sos: return "SOS";
    case Section::Lazy: return "Lazy Constraints";
    case Section::End: return "End";
  }
  return "";
}

}  // namespace mopsel::lp
