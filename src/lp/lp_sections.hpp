#pragma once
// Section keywords of LP text. A keyword counts only as the first token of a
// line, in any case, and not when a ':' follows it (then it names a constraint).
#include <cstdint>
#include <string_view>

#include "lp/lp_lexer.hpp"
#include "model/lp_words.hpp"

namespace mopsel::lp {

enum class Section : uint8_t {
  None,         // not a keyword
  Minimize,     // minimize minimise minimum min
  Maximize,     // maximize maximise maximum max
  SubjectTo,    // subject to, such that, st, s.t.
  Bounds,       // bounds bound
  General,      // general generals gen integer integers int
  Binary,       // binary binaries bin
  Semi,         // semi-continuous semicontinuous semis semi
  Sos,          // sos
  Lazy,         // lazy constraints, user cuts: rows, as SCIP and Gurobi read them
  End,          // end
};

// The section that the line-start token `first` opens, reading the words that
// belong to the keyword from `lexer` (`to` after `subject`, `-continuous` after
// `semi`); None, with `lexer` untouched, when it opens none.
Section section_at(const Token& first, Lexer& lexer) noexcept;

// The keyword's name as shown in messages ("Bounds").
std::string_view section_name(Section section) noexcept;

// True for the words that stand for infinity in a value: inf and infinity, in any case.
inline bool is_infinity_word(std::string_view word) noexcept {
  return equals_ascii_lower(word, "inf") || equals_ascii_lower(word, "infinity");
}

// True for the word `free`, in any case.
inline bool is_free_word(std::string_view word) noexcept { return equals_ascii_lower(word, "free"); }

}  // namespace mopsel::lp
