#pragma once
// The first stage of the LP reader: a cursor over the model text that yields
// tokens (views into the text, nothing allocated) one at a time. The parser
// (lp_reader.cpp) asks for the next token and may look ahead by copying the
// cursor, which is three words.
//
// Tokens: names, numbers, the operators + - * ^ / : [ ], the relations
// (<= =< < >= => > = ==) and the arrow -> of indicator constraints. A backslash
// starts a comment that runs to the end of the line. Lines matter only in one
// way: a token remembers whether it is the first of its line, because section
// keywords count only there.
//
// Names are runs of bytes that are neither blanks nor operators: letters,
// digits, and the punctuation LP names use (! " # $ % & ( ) , . ; ? @ _ ` ' { } |
// ~ and bytes of UTF-8 characters). A name cannot start with a digit or a point
// (that is a number: `2x` is the number 2 and the name x), nor with '/'. Brackets
// inside a name are part of it when they pair up (`x[0,1]`, as Gurobi writes
// indexed names); a bracket at the start of a token is an operator.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace mopsel::lp {

enum class Tok : uint8_t {
  End,       // the end of the text
  Name,
  Number,
  Plus,
  Minus,
  Times,     // *
  Power,     // ^
  Slash,     // /
  Colon,     // :
  Open,      // [
  Close,     // ]
  Le,        // <=, =<, <
  Ge,        // >=, =>, >
  Eq,        // =, ==
  Arrow,     // ->
  Other,     // a byte no token starts with (a stray '<' is a relation; this is for NUL and the like)
};

struct Token {
  Tok kind = Tok::End;
  bool line_start = false;  // the first token of its line
  bool glued = false;       // a number directly followed by a name (`2x`), or a name after such a number
  const char* begin = nullptr;
  uint32_t size = 0;

  [[nodiscard]] std::string_view text() const noexcept { return {begin, size}; }
};

namespace detail {

enum CharClass : uint8_t {
  kNameByte = 0,  // continues a name (and starts one)
  kBlank = 1,
  kNewline = 2,
  kDigit = 3,     // continues a name, starts a number
  kPoint = 4,     // continues a name, may start a number
  kOperator = 5,  // ends a name: + - * ^ < > = : [ ] and the comment mark
  kSlash = 6,     // continues a name, is an operator at the start of a token
};

inline constexpr std::array<uint8_t, 256> kCharClass = [] {
  std::array<uint8_t, 256> table{};
  for (unsigned char c : {' ', '\t', '\r', '\f', '\v'}) table[c] = kBlank;
  table[static_cast<unsigned char>('\n')] = kNewline;
  for (unsigned char c = '0'; c <= '9'; ++c) table[c] = kDigit;
  table[static_cast<unsigned char>('.')] = kPoint;
  for (unsigned char c : {'+', '-', '*', '^', '<', '>', '=', ':', '[', ']', '\\'}) table[c] = kOperator;
  table[static_cast<unsigned char>('/')] = kSlash;
  table[0] = kOperator;  // NUL ends a name and is no token of its own: Tok::Other
  return table;
}();

// Bytes that end a name: blanks, line feeds and operators (a '[' that pairs up is then
// taken back into the name).
inline constexpr std::array<bool, 256> kEndsName = [] {
  std::array<bool, 256> table{};
  for (size_t c = 0; c < 256; ++c) {
    table[c] = kCharClass[c] == kBlank || kCharClass[c] == kNewline || kCharClass[c] == kOperator;
  }
  return table;
}();

inline uint8_t char_class(char c) noexcept { return kCharClass[static_cast<unsigned char>(c)]; }
inline bool ends_name(char c) noexcept { return kEndsName[static_cast<unsigned char>(c)]; }
inline bool is_digit(char c) noexcept { return static_cast<unsigned char>(c - '0') < 10; }

}  // namespace detail

struct Lexer {
  const char* pos = nullptr;
  const char* end = nullptr;
  bool at_line_start = true;
  bool after_number = false;  // the previous token was a number that ended right here

  // The first byte from `p` on that is not a blank or a tab (line feeds end the search).
  [[nodiscard]] const char* after_blanks(const char* p) const noexcept {
    while (p != end && (*p == ' ' || *p == '\t')) ++p;
    return p;
  }

  // After a sign: the term `2 x` or `x` when it has the plain shape writers give nearly
  // every term, cut at once: blanks (not a line feed or a comment), perhaps an unsigned
  // number (digits, perhaps a point and digits, perhaps an exponent with digits) followed
  // by a blank, blanks, and a name that starts with a name byte and is not followed by
  // '['. The tokens are those next() would give. False, with nothing moved, for anything
  // else; next() then reads it.
  bool plain_term(Token& number, Token& name) noexcept {
    using namespace detail;
    const char* p = after_blanks(pos);
    number.kind = Tok::End;
    if (p != end && is_digit(*p)) {
      const char* q = scan_number(p, end);
      if (q == end || (*q != ' ' && *q != '\t')) return false;  // a glued name, a line end, `2e x`
      number = Token{Tok::Number, false, false, p, static_cast<uint32_t>(q - p)};
      p = after_blanks(q);
    }
    if (p == end || char_class(*p) != kNameByte) return false;
    const char* q = p + 1;
    while (q != end && !ends_name(*q)) ++q;
    if (q != end && *q == '[') return false;
    name = Token{Tok::Name, false, false, p, static_cast<uint32_t>(q - p)};
    pos = q;
    after_number = false;
    return true;
  }

  // After a term that plain_term cut: the sign of the next term when it follows on the
  // same line (blanks, then '+' or a '-' that starts no arrow), as next() would give it.
  // False, with nothing moved, for anything else.
  bool plain_sign(Token& sign) noexcept {
    const char* p = after_blanks(pos);
    if (p == end || (*p != '+' && *p != '-') || (*p == '-' && p + 1 != end && p[1] == '>')) return false;
    sign = Token{*p == '+' ? Tok::Plus : Tok::Minus, false, false, p, 1};
    pos = p + 1;
    return true;
  }

  // After a name: a colon that follows on the same line (after blanks) is consumed. False,
  // with nothing moved, for anything else.
  bool plain_colon() noexcept {
    const char* p = after_blanks(pos);
    if (p == end || *p != ':') return false;
    pos = p + 1;
    after_number = false;
    return true;
  }

  // Reads the next token. The text from `pos` on is scanned once.
  Token next() noexcept {
    using namespace detail;
    bool glued = after_number;
    after_number = false;
    // Blanks, newlines and comments.
    for (;;) {
      if (pos == end) return {Tok::End, true, false, pos, 0};
      const uint8_t cls = char_class(*pos);
      if (cls == kBlank) {
        ++pos;
        glued = false;
      } else if (cls == kNewline) {
        ++pos;
        at_line_start = true;
        glued = false;
      } else if (*pos == '\\') {
        skip_comment();
        glued = false;
      } else {
        break;
      }
    }
    Token token;
    token.begin = pos;
    token.line_start = at_line_start;
    at_line_start = false;
    const char c = *pos;
    const uint8_t cls = char_class(c);
    if (cls == kDigit || (cls == kPoint && pos + 1 != end && is_digit(pos[1]))) {
      token.kind = Tok::Number;
      pos = scan_number(pos, end);
      // A name right after the number (`2x`): the next token says so.
      after_number = pos != end && (char_class(*pos) == kNameByte || char_class(*pos) == kPoint);
    } else if (cls == kOperator || cls == kSlash) {
      token.kind = operator_token(c);
    } else {
      token.kind = Tok::Name;
      token.glued = glued;
      pos = scan_name(pos, end);
    }
    token.size = static_cast<uint32_t>(pos - token.begin);
    return token;
  }

 private:
  void skip_comment() noexcept {
    while (pos != end && *pos != '\n') ++pos;
  }

  // The operator at `pos`, which is consumed.
  Tok operator_token(char c) noexcept {
    const char follow = pos + 1 != end ? pos[1] : '\0';
    ++pos;
    switch (c) {
      case '+': return Tok::Plus;
      case '-':
        if (follow == '>') return ++pos, Tok::Arrow;
        return Tok::Minus;
      case '*': return Tok::Times;
      case '^': return Tok::Power;
      case '/': return Tok::Slash;
      case ':': return Tok::Colon;
      case '[': return Tok::Open;
      case ']': return Tok::Close;
      case '<':
        if (follow == '=') ++pos;
        return Tok::Le;
      case '>':
        if (follow == '=') ++pos;
        return Tok::Ge;
      case '=':
        if (follow == '<') return ++pos, Tok::Le;
        if (follow == '>') return ++pos, Tok::Ge;
        if (follow == '=') ++pos;
        return Tok::Eq;
      default: return Tok::Other;
    }
  }

  // Digits, an optional point and digits, an optional exponent: "e" or "E", an
  // optional sign and at least one digit (`2e1x` is 20 and x, `2ex` is 2 and ex).
  static const char* scan_number(const char* p, const char* stop) noexcept {
    using detail::is_digit;
    while (p != stop && is_digit(*p)) ++p;
    if (p != stop && *p == '.') {
      ++p;
      while (p != stop && is_digit(*p)) ++p;
    }
    if (p != stop && (*p == 'e' || *p == 'E')) {
      const char* q = p + 1;
      if (q != stop && (*q == '+' || *q == '-')) ++q;
      if (q != stop && is_digit(*q)) {
        while (q != stop && is_digit(*q)) ++q;
        p = q;
      }
    }
    return p;
  }

  // A name: bytes up to a blank or an operator; brackets that pair up inside it
  // belong to it.
  static const char* scan_name(const char* p, const char* stop) noexcept {
    using detail::ends_name;
    ++p;  // the first byte starts the name whatever it is
    int depth = 0;
    for (;;) {
      while (p != stop && !ends_name(*p)) ++p;
      if (p == stop) return p;
      if (*p == '[') {
        if (!bracket_closes(p, stop)) return p;
        ++depth;
      } else if (*p == ']' && depth > 0) {
        --depth;
      } else {
        return p;
      }
      ++p;
    }
  }

  // True when the '[' at `p` is closed by a ']' before the next blank.
  static bool bracket_closes(const char* p, const char* stop) noexcept {
    for (++p; p != stop; ++p) {
      if (*p == ']') return true;
      const uint8_t cls = detail::char_class(*p);
      if (cls == detail::kBlank || cls == detail::kNewline || *p == '[' || *p == '\\') return false;
    }
    return false;
  }
};

// A cursor at the start of `text`; a UTF-8 byte-order mark is skipped.
inline Lexer lexer_for(std::string_view text) noexcept {
  const size_t skip = text.starts_with("\xEF\xBB\xBF") ? 3 : 0;
  return {text.data() + skip, text.data() + text.size(), true, false};
}

}  // namespace mopsel::lp
