#pragma once
// The careful reader's own state, and the checks its steps share (careful_checks.cpp).
// Internal to the careful reader: careful_lines.cpp runs it line by line and reads
// the sections classify_line tells apart, careful_records.cpp inspects the records of
// COLUMNS, RHS, RANGES and BOUNDS.
#include <cmath>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "model/finding_code.hpp"
#include "reader/careful/fixed_trigger.hpp"
#include "reader/records/fixed_layout.hpp"
#include "reader/records/fixed_signs.hpp"
#include "reader/records/findings.hpp"
#include "reader/records/read_options.hpp"
#include "reader/records/reader_state.hpp"
#include "reader/text/lines.hpp"
#include "reader/names/name_map.hpp"
#include "reader/grammar/section_reader.hpp"

namespace mopsel {

namespace careful {

// Values from here on are infinite for several solvers; here they stay finite.
inline constexpr double kLargeValue = 1e20;

enum SetKind : uint8_t { kRhsSet, kRangesSet, kBoundsSet };

// The sets of one record section kind: ids by name (0 for records without a set
// name), and the first named set, for the several-sets warning.
struct SetTrack {
  NameMap<uint32_t> ids;
  uint32_t next = 1;
  std::string_view first;
};

// An entry of the quadratic section being read, for the warnings made at its end:
// its place in the lower triangle (column << 32 | row), the triangle it was given in
// and its line.
struct QuadraticNote {
  uint64_t place;
  bool above;  // given above the diagonal (the first column's index is the larger)
  uint64_t lineno;
};

}  // namespace careful

// What the careful reader does with each line (the `Lines` of run_sections), and
// what it keeps between lines.
struct CarefulLines {
  static constexpr bool kColumnsFastPath = false;
  static constexpr bool kParallelColumns = false;

  CarefulLines(Findings& f, Format format, bool detect, FixedTrigger& t)
      : findings(f), fixed(format == Format::Fixed), detect_fixed(detect), trigger(t) {}

  Findings& findings;
  bool fixed;
  bool detect_fixed;
  FixedTrigger& trigger;
  careful::SetTrack sets[3];
  std::vector<uint32_t> rhs_set;      // per row: 1 + id of the set that gave its RHS, 0 none
  uint32_t objective_rhs_set = 0;
  std::vector<uint32_t> range_set;    // per row, as rhs_set for RANGES
  std::vector<uint32_t> lower_set;    // per column, the set of the last lower bound
  std::vector<uint32_t> upper_set;    // and of the last upper bound
  std::vector<uint64_t> bound_line;   // per column: line of its last BOUNDS record, 0 none
  std::vector<uint64_t> column_line;  // per column: the line that made it
  Fields fields;                      // a record's fields as the steps take them
  std::vector<careful::QuadraticNote> quadratic_notes;  // the quadratic section being read
  HeaderKind quadratic_header = HeaderKind::QuadObj;     // and its header
  std::vector<uint32_t> sos_set_of_column;  // per column: 1 + the SOS set that named it last, 0 none
  std::vector<uint8_t> row_indicated;       // per row: 1 once an indicator names it
  std::vector<uint64_t> indicator_lines;    // per indicator kept, its line
  bool cr_reported = false;
  bool odd_bytes = false;             // the current line holds a byte >= 0x80 or a vertical tab

  void start(SectionReader& r, std::string_view line);
  static void columns_fields(SectionReader&, std::string_view) noexcept {}
  static void quadratic_fields(SectionReader&) noexcept {}
  void dispatch(SectionReader& r, std::string_view line);
  // ROWS names enter the row map at once: there is nothing to complete.
  static void complete_row_names(SectionReader&) noexcept {}
  void rows_begun(SectionReader& r, LineCursor& cursor);
  void section_problem(SectionReader& r, const SectionProblem& problem);
  bool finish(SectionReader& r);
  void end_of_text(SectionReader& r);
  // What is found once the text is read (names, repeated columns, bound conflicts);
  // false when a failure is found.
  bool end_checks(SectionReader& r);
};

namespace careful {

// Which bytes a line holds that call for a closer look: bit 0 a byte >= 0x80, bit 1 a
// vertical tab, bit 2 a carriage return.
unsigned line_marks(std::string_view line, const char* readable) noexcept;

// Records a finding (report at `at`); false when the read must stop.
bool note(CarefulLines& c, FindingCode code, std::string_view at, std::string message);

// Ends the read where a finding ends it (`reported_ok` false); returns `reported_ok`.
bool go_on(SectionReader& r, bool reported_ok, FindingCode code, std::string_view at) noexcept;

// Stops a free read that turns out to need fixed columns, at `name`.
void needs_fixed(CarefulLines& c, SectionReader& r, std::string_view name);

// A record that shows fixed-format text (fixed_signs.hpp) at `name`: the automatic
// format switches (the read stops here: true); a free-format reading counts it.
bool fixed_sign(CarefulLines& c, SectionReader& r, std::string_view name);

// The unknown-section finding for a line that the grammar took for a misspelt header
// (column_one_record), when `line` is that line.
void report_misspelt(CarefulLines& c, const SectionReader& r, std::string_view line);

// After a misspelt header in the section, a record that cannot be read fails the
// read at the misspelt line, as the default reading does (not when collecting, where
// both are listed). True when the read ended so.
bool fail_at_misspelt(CarefulLines& c, SectionReader& r);

// Unicode blanks inside the fields (check_unicode_blanks below calls it only for a
// line that holds non-ASCII bytes or a vertical tab). False when the read ends here.
bool find_unicode_blanks(CarefulLines& c, SectionReader& r, const Fields& fields);

// A name that goes into the model must be valid UTF-8. False when the read ends.
bool check_name(CarefulLines& c, SectionReader& r, std::string_view what, std::string_view name);

// A value that reads as 0, NaN or a very large number, looked at closely.
bool inspect_value(CarefulLines& c, SectionReader& r, std::string_view field, double value, bool large_is_news);

// Fields beyond the sixth, which splitting does not keep.
bool more_fields_after(std::string_view line, const Fields& fields) noexcept;

// The extra-fields warning for a record of `section`, which uses `uses`.
void extra_fields(CarefulLines& c, std::string_view section, std::string_view at, std::string_view uses);

// The incomplete-record warning.
void incomplete(CarefulLines& c, std::string_view at, std::string message);

// The id of a set name (0 for a record without one); a further named set of the same
// section kind is reported once.
uint32_t set_id(CarefulLines& c, SetKind kind, std::string_view name);

// The fixed-format layout of a record of `section` (COLUMNS, RHS, RANGES or BOUNDS).
inline FixedLayout fixed_layout_of(Section section) noexcept {
  switch (section) {
    case Section::Columns: return FixedLayout::Columns;
    case Section::Bounds: return FixedLayout::Bounds;
    default: return FixedLayout::SetPairs;
  }
}

// The pairs among fields [first, used) that lack a half.
void find_incomplete_pairs(CarefulLines& c, std::string_view section, const Fields& fields, size_t first,
                           size_t used);

// A COLUMNS, RHS, RANGES or BOUNDS line (careful_records.cpp).
void careful_record_line(CarefulLines& c, SectionReader& r, std::string_view line);

// A record of a quadratic section, SOS or INDICATORS (careful_sections.cpp): `line` as
// read, `fields` its free-format fields (cut again from the columns in fixed format).
void careful_extra_record(CarefulLines& c, SectionReader& r, std::string_view line, const Fields& fields);

// What the careful reader adds when a header (`line`) is taken (careful_sections.cpp):
// the warnings of the quadratic section left, and those of the quadratic section
// entered, whose row name in fixed format is the rest of the line (it may hold blanks).
void careful_sections_header(CarefulLines& c, SectionReader& r, Section left, std::string_view line);

// The checks made once the text is read (careful_sections.cpp): indicators on columns
// that are not binary. False when the read ends here.
bool careful_sections_finish(CarefulLines& c, SectionReader& r);

// The text from the start of `a` to the end of `b` (both views into one line).
inline std::string_view span_of(std::string_view a, std::string_view b) noexcept {
  return {a.data(), static_cast<size_t>(b.data() + b.size() - a.data())};
}

// The automatic format looks for records that need fixed columns until the first
// failure: a read that fails in free format fails, whatever follows.
inline bool detecting(const CarefulLines& c) noexcept { return c.detect_fixed && !c.findings.failed; }

// Unicode blanks inside the fields of a record. False when the read ends here.
inline bool check_unicode_blanks(CarefulLines& c, SectionReader& r, const Fields& fields) {
  return !c.odd_bytes || find_unicode_blanks(c, r, fields);
}

// A malformed field reads as 0.0, so only zeros need the grammar check; NaN and very
// large values are reported too. False when the read ends here.
inline bool check_value(CarefulLines& c, SectionReader& r, std::string_view field, double value, bool large_is_news) {
  if (value != 0.0 && !std::isnan(value) && !(large_is_news && std::fabs(value) >= kLargeValue)) return true;
  return inspect_value(c, r, field, value, large_is_news);
}

// The (row, value) pairs of a record, among the fields up to `end` that the section
// uses, that lack a half.
inline void incomplete_pairs(CarefulLines& c, std::string_view section, const Fields& fields, size_t first,
                             size_t end) {
  const size_t used = fields.count < end ? fields.count : end;
  // Free-format fields are never empty: only an odd count leaves a half alone.
  if (c.fixed || (used - first) % 2 != 0) find_incomplete_pairs(c, section, fields, first, used);
}

}  // namespace careful
}  // namespace mopsel
