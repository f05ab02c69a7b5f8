#pragma once
// The LP parser: one token of lookahead over the lexer, applied to the model being
// built (lp_model.hpp). read_lp.cpp runs it over a whole text; a large objective or
// Subject To section is cut into pieces that parsers of their own read on several
// threads (parallel_sections.hpp).
//
// Included by read_lp.cpp alone (through parallel_sections.hpp), in an unnamed
// namespace: with internal linkage the compiler specialises the term loop for the
// objective and the rows and inlines its small steps (3% fewer instructions on nw04).
#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

#include "lp/lp_lexer.hpp"
#include "lp/lp_model.hpp"
#include "lp/lp_sections.hpp"
#include "lp/lp_values.hpp"
#include "model/interrupt.hpp"
#include "platform/reading_threads.hpp"
#include "reader/parallel/parallel_pieces.hpp"
#include "reader/records/findings.hpp"
#include "reader/records/quadratic.hpp"
#include "reader/text/numbers.hpp"

namespace mopsel::lp {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();

enum class Relation : uint8_t { Le, Ge, Eq };

inline std::optional<Relation> relation_of(Tok kind) noexcept {
  switch (kind) {
    case Tok::Le: return Relation::Le;
    case Tok::Ge: return Relation::Ge;
    case Tok::Eq: return Relation::Eq;
    default: return std::nullopt;
  }
}

inline std::string_view relation_text(Relation relation) noexcept {
  switch (relation) {
    case Relation::Le: return "<=";
    case Relation::Ge: return ">=";
    case Relation::Eq: return "=";
  }
  return "";
}

// How a token is named in a message: "'x'" for words and numbers, the operator
// itself, "the end of the text".
inline std::string describe(const Token& token) {
  switch (token.kind) {
    case Tok::End: return "the end of the text";
    case Tok::Name: return "the name " + mopsel::quoted(token.text());
    case Tok::Number: return "the number " + mopsel::quoted(token.text());
    case Tok::Other: return "the byte " + mopsel::quoted(token.text());
    default: return "'" + std::string(token.text()) + "'";
  }
}

// The parser: one token of lookahead (`cur`) over the lexer, the model being
// built, and the findings of a strict or collecting read. Every step returns
// false once reading has failed; `failure` then says why.
struct Parser {
  Parser(std::string_view model_text, const ReadOptions& read_options, const ReaderLimits& limits,
         const Interruption& stop)
      : text(model_text), lexer(lp::lexer_for(model_text)), findings(model_text, read_options), interruption(stop) {
    model.limits = limits;
    noting = findings.options.collect || findings.options.strict;
    next_poll = text.data() + kPollStride;
  }

  std::string_view text;
  lp::Lexer lexer;
  Token cur;
  LpModel model;
  Findings findings;
  Interruption interruption;
  Error failure = Error(ErrorKind::Parse, kLpParseFailure);
  bool noting = false;  // findings are wanted (strict or collecting)
  bool interrupted = false;
  const char* next_poll;
  std::vector<uint8_t> in_objective;  // columns with an objective term, when noting
  std::unordered_set<uint64_t> quadratic_seen;  // places of the expression's quadratic terms, when noting
  std::unordered_set<uint32_t> sos_seen;  // members of the set being read, when noting
  std::vector<uint64_t> indicator_at;  // offset of each indicator's variable, when noting

  // Threads: a large objective or Subject To section is cut into pieces, each read by a
  // parser of its own (parallel_sections.hpp). Such a parser looks up the columns that
  // the text before the section made in `shared`, which no thread changes while the
  // pieces are read, and makes the others in its own model, marked kPieceColumn; it keeps
  // the objective's terms and constants in text order. What a piece cannot read alone (a
  // quadratic part, an indicator, a row without a name) fails it; the section is then
  // read on one thread.
  ThreadPlan plan = plan_taking_no_path();  // of the whole read
  const NameMap<ColumnRef>* shared = nullptr;  // set in a piece's parser
  // In a piece of the objective: each term of a name `shared` lacks makes a column of its
  // own, without a lookup. The join finds the names met again (the first place keeps the
  // column), and the terms are added up into the columns there.
  bool term_columns = false;
  ColumnRef shared_ref{};                      // the column of a name found in `shared`
  bool restart = false;  // the threaded reading spoiled the model: read the text again on one thread

  uint64_t offset_of(const Token& token) const noexcept {
    return static_cast<uint64_t>(token.begin - text.data());
  }

  // Reads the next token; every kPollStride bytes asks whether to stop.
  [[gnu::always_inline]] bool advance() noexcept {
    cur = lexer.next();
    if (lexer.pos >= next_poll) [[unlikely]]
      return poll();
    return true;
  }
  // advance() after a term of the common shape, whose next term's sign is cut at once.
  [[gnu::always_inline]] bool advance_after_term() noexcept {
    if (!lexer.plain_sign(cur)) cur = lexer.next();
    if (lexer.pos >= next_poll) [[unlikely]]
      return poll();
    return true;
  }
  [[gnu::noinline]] bool poll() noexcept {
    next_poll = lexer.pos + kPollStride;
    if (!interruption.requested()) return true;
    interrupted = true;
    failure = interrupted_error();
    return false;
  }
  static Error interrupted_error() { return mopsel::interrupted(); }

  bool fail(FindingCode code, const Token& at, std::string reason) {
    if (findings.options.collect) {
      (void)report_at(findings, code, offset_of(at), 0, reason);
    }
    failure = reading_failure(code, std::move(reason), offset_of(at));
    failure.message = kLpParseFailure;
    return false;
  }
  bool syntax(const Token& at, std::string_view expected) {
    return fail(FindingCode::LpSyntax, at, "expected " + std::string(expected) + ", found " + describe(at));
  }

  // A finding at `at`; false when it ends the read (strict reading).
  bool note(FindingCode code, const Token& at, std::string message) {
    return note_at(code, offset_of(at), std::move(message));
  }
  bool note_at(FindingCode code, uint64_t offset, std::string message) {
    if (report_at(findings, code, offset, 0, message)) return true;
    failure = reading_failure(code, std::move(message), offset);
    failure.message = kLpParseFailure;
    return false;
  }

  // The section whose keyword starts at `cur`, with the lexer moved past the
  // keyword's other words (the caller advances past `cur` itself); None otherwise.
  Section section_here() noexcept {
    if (!cur.line_start || cur.kind != Tok::Name) return Section::None;
    return lp::section_at(cur, lexer);
  }

  // --- values and columns ------------------------------------------------------

  // The column named by `token`, made when new. Fails at the column limit.
  [[gnu::always_inline]] bool column(const Token& token, lp::ColumnRef*& ref) {
    return column(token, map_key(model.column_of, token.text()), ref);
  }

  // The same with the name's key prepared under the map's present seed. `ref` is
  // good until the next column is made.
  [[gnu::always_inline]] bool column(const Token& token, const NameKey& key, lp::ColumnRef*& ref) {
    if (shared != nullptr) return piece_column(token, key, ref);
    ref = lp::find_column(model, key);
    if (ref != nullptr) [[likely]] return true;
    ref = lp::add_column(model, token.text(), key);
    if (ref == nullptr) {
      return fail(FindingCode::TooManyColumns, token, failure_reason(FindingCode::TooManyColumns, {}, model.limits));
    }
    if (noting) in_objective.push_back(0);
    return true;
  }

  // column() in a piece's parser: a column of `shared`, else one of the piece's own.
  bool piece_column(const Token& token, const NameKey& key, lp::ColumnRef*& ref) {
    // A key made under another seed would miss a name that `shared` holds.
    if (model.column_of.seed.keyed != shared->seed.keyed) return one_thread(token);
    if (const lp::ColumnRef* known = find_key(*shared, key)) {
      shared_ref = *known;
      ref = &shared_ref;
      return true;
    }
    if (term_columns) {
      if (model.num_col >= model.limits.max_columns) return one_thread(token);
      model.col_text.push_back(token.text());
      shared_ref = lp::ColumnRef{model.num_col++ | model.col_tag, lp::kNoEntry};
      ref = &shared_ref;
      return true;
    }
    ref = lp::find_column(model, key);
    if (ref != nullptr) return true;
    ref = lp::add_column(model, token.text(), key);
    if (ref == nullptr) return one_thread(token);
    return true;
  }

  // Fails a piece's parser for something the section's reading on one thread decides.
  bool one_thread(const Token& at) { return fail(FindingCode::LpSyntax, at, "read on one thread"); }

  // A column that a Bounds or type section names: one that no expression used is
  // made, with a finding.
  bool listed_column(const Token& token, uint32_t& col, Section where) {
    const uint32_t before = model.num_col;
    lp::ColumnRef* ref;
    if (!column(token, ref)) return false;
    col = ref->col;
    if (col < before || !noting) return true;
    return note(FindingCode::UnknownColumn, token,
                "variable " + mopsel::quoted(token.text()) + " in " + std::string(lp::section_name(where)) +
                    " appears in no objective or constraint: a new column is made");
  }

  [[gnu::always_inline]] bool glued(const Token& number, const Token& name) {
    if (!noting || !name.glued) [[likely]] return true;
    return note_glued(number, name);
  }
  [[gnu::noinline]] bool note_glued(const Token& number, const Token& name) {
    return note(FindingCode::GluedCoefficient, number,
                mopsel::quoted(std::string(number.text()) + std::string(name.text())) + " reads as " +
                    std::string(number.text()) + " times " + mopsel::quoted(name.text()) +
                    " (Gurobi reads one variable of that name)");
  }

  // Reads the signs at `cur` ('+' and '-', any number of them): `sign` is -1 after an odd
  // number of '-', else 1; `signed_term` whether there was any. False when reading failed.
  [[gnu::always_inline]] bool signs(double& sign, bool& signed_term) {
    sign = 1.0;
    signed_term = false;
    while (cur.kind == Tok::Plus || cur.kind == Tok::Minus) {
      if (cur.kind == Tok::Minus) sign = -sign;
      signed_term = true;
      if (!advance()) return false;
    }
    return true;
  }

  // A value: signs, then a number or inf/infinity. Magnitudes of kLpInfinity and more
  // are infinite. False (nothing consumed beyond the signs) when no value is there.
  // A weight (`bound` false) is a number alone, kept as it is.
  bool value(double& out, bool& found, bool bound = true) {
    found = false;
    const Token first = cur;
    double sign;
    bool signed_value;
    if (!signs(sign, signed_value)) return false;
    if (cur.kind == Tok::Number) {
      out = sign * parse_number(cur.text());
    } else if (bound && cur.kind == Tok::Name && lp::is_infinity_word(cur.text())) {
      out = sign * kInf;
    } else {
      return true;
    }
    found = true;
    if (bound && std::fabs(out) >= kLpInfinity && std::isfinite(out)) {
      const double given = out;
      out = sign * kInf;
      if (noting && !note(FindingCode::InfiniteValue, first,
                          "value " + number_text(given) + " reads as " + (sign > 0 ? "+" : "-") +
                              "infinity (a bound or right-hand side of 1e20 or more is infinite)")) {
        return false;
      }
    }
    return advance();
  }

  // --- expressions -------------------------------------------------------------

  // Where a term goes: the objective, or the row being read.
  enum class Target : uint8_t { Objective, Row };

  [[gnu::always_inline]] bool term(Target target, lp::ColumnRef& ref, double coefficient, const Token& at) {
    const uint32_t col = ref.col;
    if (target == Target::Row) {
      if (shared != nullptr) {
        if (!lp::push_entry(model, col, coefficient)) [[unlikely]]
          return one_thread(at);
        return true;
      }
      if (noting && lp::row_has(model, ref) &&
          !note(FindingCode::RepeatedTerm, at,
                "variable " + mopsel::quoted(at.text()) + " appears again in this constraint: the terms are summed")) {
        return false;
      }
      if (!lp::add_entry(model, ref, coefficient)) [[unlikely]]
        return fail(FindingCode::TooManyEntries, at, failure_reason(FindingCode::TooManyEntries, {}, model.limits));
      return true;
    }
    if (shared != nullptr) {
      model.objective_terms.push_back({col, coefficient});
      model.zero_cost_term |= coefficient == 0.0;
      return true;
    }
    if (noting) {
      if (in_objective[col] != 0 &&
          !note(FindingCode::RepeatedTerm, at,
                "variable " + mopsel::quoted(at.text()) + " appears again in the objective: the terms are summed")) {
        return false;
      }
      in_objective[col] = 1;
    }
    model.col_cost[col] += coefficient;
    model.zero_cost_term |= coefficient == 0.0;
    return true;
  }

  // Terms of a linear expression, until a token that cannot continue it: a
  // relation, a section keyword at the start of a line, the end. Constants are
  // summed into `constant`; `terms` counts the variable terms.
  // A term of the common shape, `+ 2 x` or `- x` (the sign only for the first term
  // optional), lexed ahead of its application: its name's key is made and the map's
  // slot for it fetched while the terms before it are applied. On large models the
  // name map is beyond the caches, and a lookup waits for memory unless its slot was
  // asked for a few terms before.
  struct AheadTerm {
    Token name;
    Token number;  // Tok::End when the term has no number
    double coefficient;
    NameKey key;
    bool keyed;  // the map's seed when the key was made
  };
  static constexpr size_t kTermsAhead = 16;

  // Lexes a term of the common shape from `cur` on; false (nothing consumed) for
  // anything else, which the general steps read. A name at the start of a line is
  // left to them: it may be a keyword or a constraint's label.
  bool ahead_term(bool first, AheadTerm& out) noexcept {
    // The shape writers use for nearly every term, `+ 2 x` after its sign, is cut by the
    // lexer's plain_term without the general steps.
    if ((cur.kind == Tok::Plus || cur.kind == Tok::Minus) && lexer.plain_term(out.number, out.name)) [[likely]] {
      const double sign = cur.kind == Tok::Minus ? -1.0 : 1.0;
      out.coefficient = out.number.kind == Tok::Number ? sign * parse_number(out.number.text()) : sign;
      keyed_ahead(out);
      return true;
    }
    lp::Lexer la = lexer;
    Token t = cur;
    double sign = 1.0;
    bool signed_term = false;
    while (t.kind == Tok::Plus || t.kind == Tok::Minus) {
      if (t.kind == Tok::Minus) sign = -sign;
      signed_term = true;
      t = la.next();
    }
    if (!first && !signed_term) return false;
    out.number.kind = Tok::End;
    out.coefficient = sign;
    if (t.kind == Tok::Number) {
      out.number = t;
      out.coefficient = sign * parse_number(t.text());
      t = la.next();
    }
    if (t.kind != Tok::Name || t.line_start) return false;
    out.name = t;
    keyed_ahead(out);
    lexer = la;
    return true;
  }

  // The term's key made and the map's slot for it asked for (in a piece, the slot of
  // the shared map too).
  [[gnu::always_inline]] void keyed_ahead(AheadTerm& out) noexcept {
    out.key = map_key(model.column_of, out.name.text());
    out.keyed = model.column_of.seed.keyed;
    if (shared != nullptr) prefetch_name(*shared, out.key);
    prefetch_name(model.column_of, out.key);
  }

  bool apply_ahead(Target target, const AheadTerm& t) {
    if (t.number.kind == Tok::Number && !glued(t.number, t.name)) return false;
    lp::ColumnRef* ref;
    const bool same_seed = t.keyed == model.column_of.seed.keyed;
    if (!(same_seed ? column(t.name, t.key, ref) : column(t.name, ref))) return false;
    return term(target, *ref, t.coefficient, t.name);
  }

  bool expression(Target target, double& constant, uint64_t& terms) {
    bool first = true;
    AheadTerm ahead[kTermsAhead];
    size_t oldest = 0;
    size_t waiting = 0;
    for (;;) {
      AheadTerm& next = ahead[(oldest + waiting) % kTermsAhead];
      if (waiting < kTermsAhead && ahead_term(first, next)) {
        ++waiting;
        ++terms;
        first = false;
        if (!advance_after_term()) return false;
        if (waiting == kTermsAhead) {
          if (!apply_ahead(target, ahead[oldest])) return false;
          oldest = (oldest + 1) % kTermsAhead;
          --waiting;
        }
        continue;
      }
      // Anything else: the terms lexed ahead are applied first, in order.
      for (; waiting > 0; --waiting, oldest = (oldest + 1) % kTermsAhead) {
        if (!apply_ahead(target, ahead[oldest])) return false;
      }
      if (!expression_step(target, constant, terms, first)) return false;
      if (finished) {
        finished = false;
        return true;
      }
      first = false;
    }
  }

  bool finished = false;  // set by expression_step when the expression has ended
  bool finish() noexcept {
    finished = true;
    return true;
  }

  // One term (or the end of the expression, `finished`) by the general rules.
  bool expression_step(Target target, double& constant, uint64_t& terms, bool first) {
    if (cur.kind == Tok::Colon && !first) return colon_after_term();
    {
      double sign;
      bool signed_term;
      if (!signs(sign, signed_term)) return false;
      // A section keyword at the start of a line ends the expression.
      if (cur.line_start && !signed_term && cur.kind == Tok::Name && keyword_ahead()) return finish();
      if (cur.kind == Tok::Number) {
        const Token number = cur;
        const double coefficient = sign * parse_number(number.text());
        if (!advance()) return false;
        if (cur.kind == Tok::Times) {
          if (!advance()) return false;
          if (cur.kind != Tok::Name) return syntax(cur, "a variable after '*'");
        }
        if (cur.kind == Tok::Name && !(cur.line_start && keyword_ahead())) {
          if (!first && !signed_term) return syntax(number, "'+' or '-' between two terms");
          lp::ColumnRef* ref;
          if (!glued(number, cur) || !column(cur, ref) || !term(target, *ref, coefficient, cur)) return false;
          ++terms;
          if (!advance()) return false;
        } else {
          if (!first && !signed_term) return syntax(number, "'+' or '-' between two terms");
          if (shared != nullptr && target == Target::Objective) {
            model.objective_terms.push_back({lp::kConstantTerm, coefficient});  // added up in text order
          } else {
            constant += coefficient;
          }
        }
      } else if (cur.kind == Tok::Name) {
        if (!first && !signed_term) {
          // The label of the next constraint ends an expression that ends a constraint
          // (`3 >= x` then `c2: ...`).
          if (label_ahead()) return finish();
          return syntax(cur, "'+' or '-' between two terms");
        }
        lp::ColumnRef* ref;
        if (!column(cur, ref) || !term(target, *ref, sign, cur)) return false;
        ++terms;
        if (!advance()) return false;
      } else if (cur.kind == Tok::Open) {
        if (shared != nullptr) return one_thread(cur);
        if (!first && !signed_term) return syntax(cur, "'+' or '-' between two terms");
        // In the objective a '-' negates the part, as HiGHS, Gurobi and CPLEX read it; in a
        // row HiGHS and SCIP refuse it.
        if (sign < 0 && target == Target::Row) {
          return fail(FindingCode::LpSyntax, cur, "a '-' before '[' in a constraint: the signs of a quadratic part go inside the brackets");
        }
        if (!quadratic(target, terms, sign)) return false;
      } else {
        if (signed_term) return syntax(cur, "a number or a variable after the sign");
        return finish();
      }
      if (cur.kind == Tok::Colon) return colon_after_term();
      return true;
    }
  }

  // `[ terms ]`, in the objective `[ terms ] / 2`, from `cur` at '['; `sign` is the sign
  // written before it (-1 only in the objective). A term is `c x ^ 2` or `c x * y`; the
  // bracket holds 1/2 x'Hx (the objective's, with the halving written out) or 1/2 x'H_r x
  // (a row's), so x ^ 2 gives H's diagonal its coefficient (a row's doubled at the end) and
  // x * y gives each of the two places of H half of it. The objective's bracket without
  // `/ 2` is x'Hx / 2 as written, H doubled, as HiGHS and Gurobi read it (CPLEX halves it,
  // SCIP refuses it).
  bool quadratic(Target target, uint64_t& terms, double sign = 1.0) {
    const Token open = cur;
    const size_t begin = model.quadratic.entries.size();
    if (!advance()) return false;
    for (bool first = true;; first = false) {
      if (cur.kind == Tok::Close) {
        if (first) return syntax(cur, "a quadratic term after '['");
        if (!advance()) return false;
        break;
      }
      double coefficient;
      bool signed_term;
      if (!signs(coefficient, signed_term)) return false;
      if (!first && !signed_term) return syntax(cur, "'+', '-' or ']' after a quadratic term");
      coefficient *= sign;
      if (cur.kind == Tok::Number) {
        const Token number = cur;
        coefficient *= parse_number(number.text());
        if (!advance()) return false;
        if (cur.kind == Tok::Name && !glued(number, cur)) return false;
      }
      if (cur.kind != Tok::Name) return syntax(cur, "a variable in the quadratic part");
      const Token left = cur;
      uint32_t a;
      if (!quadratic_column(a)) return false;
      uint32_t b = a;
      double value = coefficient;
      if (cur.kind == Tok::Power) {
        if (!advance()) return false;
        if (cur.kind != Tok::Number) return syntax(cur, "'2' after '^'");
        if (parse_number(cur.text()) != 2.0) {
          return fail(FindingCode::LpUnsupported, cur,
                      "only squares ('^ 2') and products ('x * y') are read, found '^ " + std::string(cur.text()) + "'");
        }
        if (!advance()) return false;
      } else if (cur.kind == Tok::Times) {
        if (!advance()) return false;
        if (cur.kind != Tok::Name) return syntax(cur, "a variable after '*'");
        if (!quadratic_column(b)) return false;
        if (a != b) value = coefficient / 2;
      } else {
        return syntax(cur, "'^ 2' or '* variable' after " + mopsel::quoted(left.text()) + " in the quadratic part");
      }
      if (noting && !quadratic_seen.insert((uint64_t{std::max(a, b)} << 32) | std::min(a, b)).second &&
          !note(FindingCode::RepeatedQuadraticEntry, left,
                "the product of " + mopsel::quoted(model.col_names[a]) + " and " + mopsel::quoted(model.col_names[b]) +
                    " appears again in this quadratic part: the terms are summed")) {
        return false;
      }
      if (!lp::add_quadratic(model, a, b, value)) {
        return fail(FindingCode::TooManyEntries, left, failure_reason(FindingCode::TooManyEntries, {}, model.limits));
      }
      ++terms;
    }
    if (target == Target::Objective) {
      // The objective's bracket is halved, as CPLEX's format has it: `[ ... ] / 2`.
      if (cur.kind == Tok::Slash) {
        if (!advance()) return false;
        if (cur.kind != Tok::Number || parse_number(cur.text()) != 2.0) return syntax(cur, "'2' after '/'");
        if (!advance()) return false;
      } else {
        lp::double_quadratic_entries(model, begin);
        if (noting && !note(FindingCode::UnhalvedQuadratic, open,
                            "the quadratic part of the objective has no '/ 2': it is read as written, as HiGHS and "
                            "Gurobi read it (CPLEX halves it)")) {
          return false;
        }
      }
      lp::end_objective_quadratic(model, begin);
    }
    return true;
  }

  // The column of the variable `cur` names in a quadratic part, made when new; `cur` moves on.
  bool quadratic_column(uint32_t& col) {
    lp::ColumnRef* ref;
    if (!column(cur, ref)) return false;
    col = ref->col;
    return advance();
  }

  bool colon_after_term() {
    return fail(FindingCode::LpSyntax, cur,
                "a ':' after a term: a constraint name where the expression goes on (a missing section keyword?)");
  }

  // Whether `cur` (a name) is followed by ':'; the lexer is untouched.
  bool label_ahead() noexcept {
    lp::Lexer ahead = lexer;
    return ahead.next().kind == Tok::Colon;
  }

  // Whether `cur` (a name at the start of a line) is a section keyword; the lexer is untouched.
  bool keyword_ahead() noexcept {
    lp::Lexer ahead = lexer;
    return lp::section_at(cur, ahead) != Section::None;
  }

  // --- sections ----------------------------------------------------------------

  bool objective(bool minimize) {
    model.minimize = minimize;
    if (cur.kind == Tok::Name && !(cur.line_start && keyword_ahead())) {
      if (label_ahead()) {
        model.objective_name = cur.text();
        if (!advance() || !advance()) return false;
      }
    }
    if (noting) in_objective.assign(model.num_col, 0);
    quadratic_seen.clear();
    switch (objective_on_threads()) {
      case ParallelRead::Read: return true;
      case ParallelRead::Interrupted: return interrupted_here();
      case ParallelRead::Restart: return restart_here();
      case ParallelRead::OneThread: break;
    }
    const char* const begin = cur.begin;
    double constant = 0.0;
    uint64_t terms = 0;
    if (!expression(Target::Objective, constant, terms)) return false;
    model.obj_offset += constant;
    if (relation_of(cur.kind)) return syntax(cur, "a term of the objective (it has no relation)");
    if (shared == nullptr) {
      const char* const end = text.data() + text.size();
      reserve_names(model.column_of, lp::names_after_objective(model.num_col, static_cast<size_t>(cur.begin - begin),
                                                               static_cast<size_t>(end - cur.begin), model.zero_cost_term));
    }
    return true;
  }

  // A large objective on several threads (parallel_sections.hpp), when this parser reads
  // a whole text without findings.
  ParallelRead objective_on_threads();

  bool interrupted_here() {
    interrupted = true;
    failure = interrupted_error();
    return false;
  }
  // The threaded reading spoiled the model: the text is read again on one thread.
  bool restart_here() {
    restart = true;
    return false;
  }

  bool constraints() {
    for (;;) {
      if (cur.kind == Tok::End || section_peek()) return true;
      std::string_view name;
      if (cur.kind == Tok::Name) {
        // The label and its colon: most often the colon follows on the line, and is cut at once.
        if (lexer.plain_colon()) {
          name = cur.text();
          if (!advance()) return false;
        } else if (label_ahead()) {
          name = cur.text();
          if (!advance() || !advance()) return false;
        }
      }
      if (shared != nullptr && (name.empty() || (cur.kind == Tok::Name && indicator_ahead()))) return one_thread(cur);
      if (!(cur.kind == Tok::Name && indicator_ahead() ? indicator(name) : constraint(name))) return false;
    }
  }

  // Subject To: on several threads when the text is large (parallel_sections.hpp).
  bool subject_to();

  // `b = 1 -> constraint` (or `b = 0`): the constraint is a row that holds when the
  // variable b takes the value.
  bool indicator(std::string_view name) {
    const Token variable = cur;
    lp::ColumnRef* ref;
    if (!column(variable, ref)) return false;
    const uint32_t col = ref->col;
    if (!advance() || !advance()) return false;  // the variable and '='
    double sign;
    bool signed_value;
    if (!signs(sign, signed_value)) return false;
    const double value = sign * parse_number(cur.text());
    if (value != 0.0 && value != 1.0) {
      return fail(FindingCode::BadIndicator, cur,
                  "the variable of an indicator constraint takes the value 0 or 1, found " + mopsel::quoted(cur.text()));
    }
    if (!advance() || !advance()) return false;  // the value and '->'
    if (!constraint(name)) return false;
    IndicatorParts& indicators = model.indicators;
    indicators.row.push_back(model.num_row - 1);
    indicators.column.push_back(col);
    indicators.value.push_back(value == 1.0 ? 1 : 0);
    if (noting) indicator_at.push_back(offset_of(variable));
    return true;
  }

  // Indicator variables that are not binary once every section is read: Gurobi and SCIP
  // read them as they are, a binary variable is what was surely meant.
  bool non_binary_indicators() {
    const IndicatorParts& indicators = model.indicators;
    for (size_t k = 0; k < indicators.column.size(); ++k) {
      const uint32_t j = indicators.column[k];
      const bool binary = model.col_integrality[j] == code(IntegralityKind::INTEGER) && model.col_lower[j] >= 0.0 &&
                          model.col_upper[j] <= 1.0;
      if (binary) continue;
      const std::string kind = model.col_integrality[j] == code(IntegralityKind::INTEGER) ? "integer" : "not integer";
      const std::string message = "the indicator variable " + mopsel::quoted(model.col_names[j]) + " of row " +
                                  mopsel::quoted(model.row_names[indicators.row[k]]) + " is not binary (" + kind + ", bounds [" +
                                  number_text(model.col_lower[j]) + ", " + number_text(model.col_upper[j]) + "])";
      if (!note_at(FindingCode::NonBinaryIndicator, indicator_at[k], message)) return false;
    }
    return true;
  }

  // `cur` is a section keyword at the start of a line (the lexer untouched).
  bool section_peek() noexcept { return cur.line_start && cur.kind == Tok::Name && keyword_ahead(); }

  // `b = 1 ->` ahead (the value perhaps signed).
  bool indicator_ahead() noexcept {
    lp::Lexer ahead = lexer;
    if (ahead.next().kind != Tok::Eq) return false;
    Token value = ahead.next();
    while (value.kind == Tok::Plus || value.kind == Tok::Minus) value = ahead.next();
    if (value.kind != Tok::Number) return false;
    return ahead.next().kind == Tok::Arrow;
  }

  // Sets the row's bound that `relation` gives. A right-hand side that moving the
  // constants made of magnitude kLpInfinity or more is infinite, as a written one is.
  static void apply(Relation relation, double value, double& lower, double& upper) noexcept {
    if (std::fabs(value) >= kLpInfinity) value = std::copysign(kInf, value);
    if (relation != Relation::Ge) upper = value;
    if (relation != Relation::Le) lower = value;
  }

  // One constraint after its name: `expression relation value`, or
  // `value relation expression [relation value]`.
  bool constraint(std::string_view name) {
    lp::open_row(model);
    quadratic_seen.clear();
    const Token start = cur;
    double left_constant = 0.0;
    uint64_t terms = 0;
    if (!expression(Target::Row, left_constant, terms)) return false;
    const std::optional<Relation> first = relation_of(cur.kind);
    if (!first) {
      return syntax(cur, terms == 0 && cur.begin == start.begin ? "a constraint" : "'<=', '>=' or '=' after the expression");
    }
    if (!advance()) return false;
    double lower = -kInf;
    double upper = kInf;
    if (terms > 0) {
      double rhs;
      bool found;
      if (!value(rhs, found)) return false;
      if (!found) return syntax(cur, "a number after '" + std::string(relation_text(*first)) + "'");
      // A constant on the left moves to the right-hand side.
      apply(*first, rhs - left_constant, lower, upper);
      if (relation_of(cur.kind)) {
        return syntax(cur, "the end of the constraint (a ranged constraint is written 'lower <= expression <= upper')");
      }
    } else {
      // `value relation expression`: the left side was one constant.
      double right_constant = 0.0;
      if (!expression(Target::Row, right_constant, terms)) return false;
      if (terms == 0) return syntax(cur, "a variable after '" + std::string(relation_text(*first)) + "'");
      // value <= expr reads expr >= value.
      const Relation flipped = *first == Relation::Le ? Relation::Ge : (*first == Relation::Ge ? Relation::Le : Relation::Eq);
      apply(flipped, left_constant - right_constant, lower, upper);
      if (const std::optional<Relation> second = relation_of(cur.kind)) {
        if (*second != *first || *first == Relation::Eq) {
          return fail(FindingCode::LpSyntax, cur,
                      "a ranged constraint takes two '<=' or two '>=', found '" + std::string(relation_text(*first)) +
                          "' and '" + std::string(relation_text(*second)) + "'");
        }
        if (!advance()) return false;
        double rhs;
        bool found;
        if (!value(rhs, found)) return false;
        if (!found) return syntax(cur, "a number after '" + std::string(relation_text(*second)) + "'");
        apply(*second, rhs - right_constant, lower, upper);
      }
    }
    if (shared != nullptr) lp::sum_repeated_terms(model);
    if (!lp::close_row(model, name, lower, upper)) {
      return fail(FindingCode::TooManyRows, start, failure_reason(FindingCode::TooManyRows, {}, model.limits));
    }
    return true;
  }

  static void bound(Relation relation, double value, LpModel& model, uint32_t col) noexcept {
    if (relation != Relation::Ge) model.col_upper[col] = value;
    if (relation != Relation::Le) model.col_lower[col] = value;
  }

  // `-inf <= x`: a name that is an infinity word, with a relation and a variable after it.
  bool infinity_first() noexcept {
    if (cur.kind != Tok::Name || !lp::is_infinity_word(cur.text())) return false;
    lp::Lexer ahead = lexer;
    if (!relation_of(ahead.next().kind)) return false;
    const Token after = ahead.next();
    return after.kind == Tok::Name && !lp::is_infinity_word(after.text());
  }

  bool bounds() {
    const char* scout = lexer.pos;
    for (size_t i = 0; i < kTermsAhead; ++i) scout_ahead(scout);
    for (;;) {
      scout_ahead(scout);
      if (cur.kind == Tok::End || section_peek()) return true;
      if (cur.kind == Tok::Name && !infinity_first()) {
        const Token variable = cur;
        uint32_t col;
        if (!listed_column(variable, col, Section::Bounds) || !advance()) return false;
        if (cur.kind == Tok::Name && !cur.line_start && lp::is_free_word(cur.text())) {
          model.col_lower[col] = -kInf;
          model.col_upper[col] = kInf;
          if (!advance()) return false;
          continue;
        }
        const std::optional<Relation> relation = relation_of(cur.kind);
        if (!relation) return syntax(cur, "'<=', '>=', '=' or 'free' after the variable " + mopsel::quoted(variable.text()));
        if (!advance()) return false;
        double v;
        bool found;
        if (!value(v, found)) return false;
        if (!found) return syntax(cur, "a number after '" + std::string(relation_text(*relation)) + "'");
        bound(*relation, v, model, col);
        if (!conflict(variable, col)) return false;
        continue;
      }
      double v;
      bool found;
      if (!value(v, found)) return false;
      if (!found) return syntax(cur, "a bound (a variable or a number)");
      const std::optional<Relation> relation = relation_of(cur.kind);
      if (!relation) {
        return syntax(cur, cur.kind == Tok::Name ? "'<=', '>=' or '=' after the number (a bound takes no coefficient)"
                                                 : "'<=', '>=' or '=' after the number");
      }
      if (!advance()) return false;
      if (cur.kind != Tok::Name) return syntax(cur, "a variable after '" + std::string(relation_text(*relation)) + "'");
      const Token variable = cur;
      uint32_t col;
      if (!listed_column(variable, col, Section::Bounds) || !advance()) return false;
      const Relation flipped =
          *relation == Relation::Le ? Relation::Ge : (*relation == Relation::Ge ? Relation::Le : Relation::Eq);
      bound(flipped, v, model, col);
      if (const std::optional<Relation> second = relation_of(cur.kind)) {
        if (!advance()) return false;
        if (!value(v, found)) return false;
        if (!found) return syntax(cur, "a number after '" + std::string(relation_text(*second)) + "'");
        bound(*second, v, model, col);
      }
      if (!conflict(variable, col)) return false;
    }
  }

  bool conflict(const Token& variable, uint32_t col) {
    if (!noting || !(model.col_lower[col] > model.col_upper[col])) return true;
    return note(FindingCode::BoundConflict, variable,
                "variable " + mopsel::quoted(variable.text()) + ": lower bound " + number_text(model.col_lower[col]) +
                    " is above upper bound " + number_text(model.col_upper[col]));
  }

  // General, Binary, Semi-Continuous: a list of variables.
  // Asks for the map slot of the next name from `scout` on and moves past it: in the
  // Bounds and type sections it runs kTermsAhead names ahead of `cur` (see AheadTerm).
  // Only a hint, so the bytes are not lexed: a name is a run of name bytes that starts
  // with a letter or the like, other than `free` and the infinity words, so that the
  // scout keeps its lead over lines such as `-inf <= x <= inf` (the words of comments and
  // keywords are asked for too, and a bracket ends the name).
  void scout_ahead(const char*& scout) noexcept {
    using lp::detail::char_class;
    const char* const end = text.data() + text.size();
    const char* p = scout;
    for (;;) {
      while (p != end && char_class(*p) != lp::detail::kNameByte) ++p;
      const char* const name = p;
      while (p != end && !lp::detail::ends_name(*p)) ++p;
      const std::string_view word(name, static_cast<size_t>(p - name));
      if (word.empty()) break;
      if (lp::is_free_word(word) || lp::is_infinity_word(word)) continue;
      prefetch_name(model.column_of, map_key(model.column_of, word));
      break;
    }
    scout = p;
  }

  bool kinds(Section section) {
    const char* scout = lexer.pos;
    for (size_t i = 0; i < kTermsAhead; ++i) scout_ahead(scout);
    for (;;) {
      if (cur.kind == Tok::End || section_peek()) return true;
      if (cur.kind != Tok::Name) return syntax(cur, "a variable name in " + std::string(lp::section_name(section)));
      uint32_t col;
      if (!listed_column(cur, col, section)) return false;
      uint8_t& kind = model.col_integrality[col];
      const bool semi = kind == code(IntegralityKind::SEMI_CONTINUOUS) || kind == code(IntegralityKind::SEMI_INTEGER);
      const bool integer = kind == code(IntegralityKind::INTEGER) || kind == code(IntegralityKind::SEMI_INTEGER);
      if (section == Section::Semi) {
        kind = code(integer ? IntegralityKind::SEMI_INTEGER : IntegralityKind::SEMI_CONTINUOUS);
      } else {
        kind = code(semi ? IntegralityKind::SEMI_INTEGER : IntegralityKind::INTEGER);
        if (section == Section::Binary) {
          model.col_lower[col] = 0.0;
          model.col_upper[col] = 1.0;
        }
      }
      if (!advance()) return false;
      scout_ahead(scout);
    }
  }

  // SOS: sets `name: S1:: x:1 y:2 z:3` (S2 for type 2; the name may be left out, the
  // set is then SOS and its 1-based position). Where a set ends is told by the tokens
  // that follow, not by lines: a member is `variable : weight`, a set begins with
  // `name : S1 ::` or `S1 ::`.
  bool sos_section() {
    SosParts& sos = model.sos;
    for (;;) {
      if (cur.kind == Tok::End || section_peek()) return true;
      std::string_view name;
      if (cur.kind == Tok::Name && label_ahead() && !sos_type_ahead()) {
        name = cur.text();
        if (!advance() || !advance()) return false;
      }
      if (cur.kind != Tok::Name || !sos_type_ahead()) return syntax(cur, "an SOS set ('name: S1:: x:1 y:2')");
      const Token type = cur;
      const uint8_t kind = type.text() == "S1" ? 1 : (type.text() == "S2" ? 2 : 0);
      if (kind == 0) {
        return fail(FindingCode::UnknownSosType, type, failure_reason(FindingCode::UnknownSosType, type.text(), model.limits));
      }
      if (!advance() || !advance() || !advance()) return false;  // the type and '::'
      sos_seen.clear();
      const uint32_t set = static_cast<uint32_t>(sos.type.size());
      sos.type.push_back(kind);
      sos.priority.push_back(0);
      sos.start.push_back(static_cast<uint32_t>(sos.index.size()));
      if (name.empty()) {
        sos.names.push_back("SOS" + std::to_string(set + 1));
      } else {
        sos.names.push_back(name);
      }
      while (cur.kind == Tok::Name && member_ahead()) {
        const Token variable = cur;
        uint32_t col;
        if (!listed_column(variable, col, Section::Sos) || !advance() || !advance()) return false;
        double weight;
        bool found;
        if (!value(weight, found, false)) return false;
        if (!found) return syntax(cur, "a weight after ':'");
        if (noting && !sos_seen.insert(col).second &&
            !note(FindingCode::RepeatedSosColumn, variable,
                  "variable " + mopsel::quoted(variable.text()) + " appears again in SOS set " + mopsel::quoted(sos.names[set]))) {
          return false;
        }
        if (sos.index.size() >= model.limits.max_entries) {
          return fail(FindingCode::TooManyEntries, variable, failure_reason(FindingCode::TooManyEntries, {}, model.limits));
        }
        sos.index.push_back(col);
        sos.weight.push_back(weight);
      }
    }
  }

  // `cur` (a name) is followed by '::'.
  bool sos_type_ahead() noexcept {
    lp::Lexer ahead = lexer;
    return ahead.next().kind == Tok::Colon && ahead.next().kind == Tok::Colon;
  }

  // `cur` (a name) is followed by ':' that is not the start of a set (`S1 ::` or
  // `name : S1 ::`): a member, whose weight should follow.
  bool member_ahead() noexcept {
    lp::Lexer ahead = lexer;
    if (ahead.next().kind != Tok::Colon) return false;
    const Token after = ahead.next();
    if (after.kind == Tok::Colon) return false;
    return after.kind != Tok::Name || ahead.next().kind != Tok::Colon || ahead.next().kind != Tok::Colon;
  }

  bool run() {
    if (text.starts_with("\xEF\xBB\xBF") && noting) {
      (void)report_at(findings, FindingCode::ByteOrderMark, 0, 1, "the text starts with a UTF-8 byte-order mark");
    }
    model.name = problem_name(text);
    if (!advance()) return false;
    bool ended = false;
    while (cur.kind != Tok::End) {
      const Token keyword = cur;
      const Section section = section_here();
      if (section == Section::None) {
        return syntax(cur, "a section keyword (Minimize, Maximize, Subject To, Bounds, General, Binary, "
                           "Semi-Continuous, SOS, Lazy Constraints, User Cuts or End)");
      }
      if (!advance()) return false;
      bool ok = true;
      switch (section) {
        case Section::Minimize:
        case Section::Maximize: ok = objective(section == Section::Minimize); break;
        case Section::SubjectTo: ok = subject_to(); break;
        case Section::Lazy:
          if (noting && !note(FindingCode::LazyRows, keyword,
                              "the rows of this section are read as constraints, as SCIP and Gurobi read them "
                              "(CPLEX adds them only when a solution breaks them)")) {
            return false;
          }
          ok = subject_to();
          break;
        case Section::Bounds: ok = bounds(); break;
        case Section::General:
        case Section::Binary:
        case Section::Semi: ok = kinds(section); break;
        case Section::Sos: ok = sos_section(); break;
        case Section::End: ended = true; break;
        case Section::None: break;
      }
      if (!ok) return false;
      if (ended) break;  // what follows End is not read
    }
    if (!ended && noting && !note(FindingCode::NoEnd, cur, "the text ends without an End line (a truncated file?)")) {
      return false;
    }
    if (row_hessians_too_large(model.quadratic, model.num_col, text.size())) {
      return fail(FindingCode::RowHessiansTooLarge, cur, failure_reason(FindingCode::RowHessiansTooLarge, {}, model.limits));
    }
    return !noting || non_binary_indicators();
  }

  // The model name of a comment line "\Problem name: NAME" (as CPLEX writes it)
  // or "\ Model NAME" (Gurobi) among the comment lines that open the text.
  static std::string_view problem_name(std::string_view text) noexcept {
    size_t at = text.starts_with("\xEF\xBB\xBF") ? 3 : 0;
    while (at < text.size()) {
      const size_t stop = std::min(text.find('\n', at), text.size());
      std::string_view line = text.substr(at, stop - at);
      at = stop + 1;
      while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t')) line.remove_suffix(1);
      size_t i = 0;
      while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
      if (i == line.size()) continue;
      if (line[i] != '\\') return {};
      std::string_view rest = line.substr(i + 1);
      auto skip_blanks = [](std::string_view s) {
        while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
        return s;
      };
      rest = skip_blanks(rest);
      for (const std::string_view lead : {std::string_view("Problem name"), std::string_view("Model ")}) {
        if (!rest.starts_with(lead)) continue;
        std::string_view name = skip_blanks(rest.substr(lead.size()));
        if (lead.front() == 'P') {
          if (name.empty() || name.front() != ':') continue;
          name = skip_blanks(name.substr(1));
        }
        if (name.find_first_of(" \t") != std::string_view::npos) continue;
        return name;
      }
    }
    return {};
  }
};

}  // namespace
}  // namespace mopsel::lp
