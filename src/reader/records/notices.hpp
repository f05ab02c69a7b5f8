#pragma once
// What a reading passes over or guesses, counted as it reads: lines in the first column
// read as records, malformed numbers read as 0, entries naming unknown rows and columns,
// repeated entries, skipped sections, dropped free rows, and records that make sense
// only as fixed-format text. Each count keeps the place it was first met (a view into
// the text); the line is worked out only when the counts are handed on.
//
// The default reader counts where it already takes a rare branch (a value read as 0, a
// repeated entry, a header that opens a skipped section, ...), out of line, so a text
// without any costs nothing but those branches. Unknown rows and columns, and records
// that may hold a name with a blank, it only marks (`recheck`): in the loop over COLUMNS
// records even a call out of line costs the usual lines their registers, and telling
// such records apart takes lookups. A text so marked is read again by the careful
// reader (reader/careful/), which counts everything, when the counts are wanted. Every
// reading path counts through the same steps; a threaded piece counts apart and is added
// in (merge), the first place being the earlier one, so that every thread plan gives
// the counts of one thread.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "model/finding_code.hpp"
#include "reader/text/numbers.hpp"

namespace mopsel {

enum class Notice : uint8_t {
  UnknownSection,  // a line in column 1 with no section keyword, where the records are indented
  BadNumber,       // a value field that is no number, read as 0
  UnknownRow,      // a COLUMNS, RHS or RANGES entry for a row ROWS does not declare
  UnknownColumn,   // a BOUNDS record for a column COLUMNS does not have (it is made)
  DuplicateEntry,  // a second nonzero value for one column and row (or the objective)
  SkippedSection,  // a section the reader does not support
  ExtraFreeRow,    // an N row besides the objective, dropped with its entries
  FixedFormat,     // a record that only makes sense with names holding blanks
  Count,
};

inline constexpr size_t kNoticeCount = static_cast<size_t>(Notice::Count);

// The finding of the careful reader each notice counts.
inline constexpr std::array<FindingCode, kNoticeCount> kNoticeCodes = {
    FindingCode::UnknownSection, FindingCode::BadNumber,      FindingCode::UnknownRow,
    FindingCode::UnknownColumn,  FindingCode::DuplicateEntry, FindingCode::SkippedSection,
    FindingCode::ExtraObjective, FindingCode::FixedFormat,
};

// The names of skipped sections kept for the message; more are counted, not named.
inline constexpr size_t kSkippedNamesKept = 8;

struct NoticeTally {
  uint64_t count = 0;
  std::string_view first;  // where it was first met in the text (the earliest place)
};

struct Notices {
  std::array<NoticeTally, kNoticeCount> tally{};
  std::vector<std::string_view> skipped;  // distinct names of skipped sections, as written
  // Whether the careful reader counts the signs of fixed-format text: so in a free-format
  // reading; a fixed one has no such signs, and the automatic choice acts on them.
  bool fixed_signs = false;
  // Set where the default reader meets what only a careful reading tells apart (an
  // unknown row or column, a record that may hold a name with a blank).
  bool recheck = false;

  [[nodiscard]] uint64_t count(Notice kind) const noexcept { return tally[static_cast<size_t>(kind)].count; }
};

// Counts `count` notices, the first met at `at` (a view into the text).
[[gnu::cold, gnu::noinline]] void note(Notices& notices, Notice kind, std::string_view at, uint64_t count = 1) noexcept;

// A value field that read as 0: a bad number unless it is a number (an empty field,
// a missing value of fixed format, is no bad number).
[[gnu::cold, gnu::noinline]] void note_zero_value(Notices& notices, std::string_view field) noexcept;

// A value read from `field` (of an RHS, RANGES or quadratic record), a value of 0
// looked at as a malformed number.
[[gnu::always_inline]] inline double set_value(Notices& notices, std::string_view field) {
  const double value = parse_number(field);
  if (value == 0.0) [[unlikely]] note_zero_value(notices, field);
  return value;
}

// A header that opens (or, inside a skipped section, names) a section that is skipped.
[[gnu::cold, gnu::noinline]] void note_skipped_section(Notices& notices, std::string_view word);

// Adds what a threaded piece counted.
void merge(Notices& into, const Notices& piece);

}  // namespace mopsel
