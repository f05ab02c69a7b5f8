#pragma once
// The section state machine every reading path shares: the reader's position in
// the text, its steps per line, and the loop over the lines.
//
// How a header is told from other lines depends on where the reader is:
//  - Outside any section, in OBJSENSE, ROWS and skipped sections, the line is
//    classified with classify_line; any kind but Data is a header, a blank-only
//    line included. Indentation does not matter.
//  - In the record sections (COLUMNS, RHS, RANGES, BOUNDS, the quadratic sections,
//    SOS and INDICATORS), a line whose first byte, as read, is a space or tab is
//    always a record; otherwise the first field is looked up as a keyword, and a
//    section keyword only counts when it stands alone (NAME, OBJSENSE, QSECTION,
//    QCMATRIX and the other keywords of header_takes_fields may carry more
//    fields). In RHS the word RHS is never a header.
//  - Either way, RHS, RANGES and BOUNDS in the first column may carry the name
//    of their set ("RHS RIGHT"): in a record section when the line cannot be a
//    well-formed record there, elsewhere when one word that is not a number
//    follows.
//
// The loop is a template over what a reading path does with each line (its
// `Lines`): the default reader (reader/default_reader.cpp) runs the steps as they
// are and hands large sections to threads; the careful reader (reader/careful/)
// inspects each line first and reads fixed-format fields. Both take their lines
// through the steps below, so each rule of the grammar is written once.
#include <cstdint>
#include <optional>
#include <string_view>

#include "model/finding_code.hpp"
#include "model/result.hpp"
#include "reader/records/bounds.hpp"
#include "reader/records/columns.hpp"
#include "reader/records/indicators.hpp"
#include "reader/records/quadratic.hpp"
#include "reader/records/reader_state.hpp"
#include "reader/records/rhs_ranges.hpp"
#include "reader/records/rows.hpp"
#include "reader/records/sos.hpp"
#include "reader/text/keywords.hpp"
#include "reader/text/lines.hpp"
#include "reader/text/size_hints.hpp"

namespace mopsel {

// The reader's position in the text. Section states are entered by the header
// of the same kind; Outside is the start state and the state after a NAME header
// or a blank-only line that ends a section; Failed means the read failed.
enum class Section : uint8_t {
  Outside,
  ObjSense,
  Rows,
  Columns,
  Rhs,
  Bounds,
  Ranges,
  Quadratic,  // QUADOBJ, QMATRIX, QSECTION, QCMATRIX
  Sos,
  Indicators,
  Unsupported,
  EndData,
  Failed,
};

// The state of the section being read; each entry into a section sets up its own
// part afresh, so "the first value wins" rules hold per section.
struct SectionReader {
  SectionReader(ReaderState& s, std::string_view text)
      : state(s), text_begin(text.data()), text_end(text.data() + text.size()) {}
  ReaderState& state;
  const char* text_begin;
  const char* text_end;  // field scans may load up to here in blocks
  Section section = Section::Outside;
  // Set by take_header and fail: the line changed the section (or ended the read),
  // and the loop hands the change to the reading path once the line is done.
  bool header_taken = false;
  bool rows_left = false;       // ROWS was left: its names are completed before any lookup
  bool objective_seen = false;  // ROWS
  // The first word of the last line of this section that starts in the first column
  // with no section keyword where records are indented (column_one_record): a misspelt
  // header, likely. A failure later in the section is reported there.
  std::string_view misspelt;
  ColumnsScratch columns;       // COLUMNS
  RhsScratch rhs;               // RHS
  QuadraticScratch quadratic;   // the quadratic sections
  bool quadratic_left = false;  // a quadratic section was left: its end is checked before anything else
  bool sos_set_open = false;    // SOS: a set header was read in this section
  Fields fields;                // the current line's fields, reused line to line
  // Why the read failed and where (a view into the text); set with `fail`.
  FindingCode failure = FindingCode::None;
  std::string_view failure_at;
  bool interrupted = false;  // the state's interruption asked to stop
  bool restart = false;      // the text must be read again from the start: on one
                             // thread, or once it has all arrived
};

// Ends the read: the cause and the offending text are kept for the error.
inline void fail(SectionReader& r, FindingCode cause, std::string_view at) noexcept {
  r.section = Section::Failed;
  r.header_taken = true;
  r.failure = cause;
  r.failure_at = at;
}

// Ends the read at a record of this section that cannot be read (an unknown row or
// bound type): after a misspelt header in the section, the read fails there, where
// it went wrong.
inline void fail_at_record(SectionReader& r, FindingCode cause, std::string_view at) noexcept {
  if (!r.misspelt.empty()) {
    fail(r, FindingCode::UnknownSection, r.misspelt);
  } else {
    fail(r, cause, at);
  }
}

// Ends the read to be made again (on one thread, or once the text is whole).
inline void start_over(SectionReader& r) noexcept {
  r.section = Section::Failed;
  r.header_taken = true;
  r.restart = true;
}

// The Error of a failed read (the reader's one message, with cause, reason, offset).
Error section_failure(const SectionReader& r);

// Which limit a failed COLUMNS or BOUNDS step reached.
FindingCode column_limit_cause(const ReaderState& state) noexcept;

// Leaves the current section through a header of kind `kind` (whose first word is
// `word`) and enters the section it opens; `argument` is the field after the keyword
// (the row a QSECTION or QCMATRIX header names). Leaving ROWS only marks it (rows_left): the reading path
// first completes the row map its way, then end_rows runs. Leaving a quadratic
// section marks it too (quadratic_left); its end and the begin of a quadratic
// section are taken in after_header, once the row map is complete.
void take_header(SectionReader& r, HeaderKind kind, std::string_view word, std::string_view argument = {});

// The field after a header's keyword, from its class (rule A) or its fields (rule B).
std::string_view header_argument(const LineClass& c) noexcept;
inline std::string_view header_argument(const Fields& fields) noexcept {
  return fields.count > 1 ? fields.at[1] : std::string_view();
}

// A problem found when a quadratic section begins or ends: the finding (None when
// there is none) and the text it concerns (the row name, or the offending record).
struct SectionProblem {
  FindingCode code = FindingCode::None;
  std::string_view at;
};

// Closes the quadratic section that was left (quadratic_left): a full section whose
// halves differ gives AsymmetricMatrix at a record of the offending place.
SectionProblem end_quadratic_section(SectionReader& r);

// Opens the quadratic section just entered: UnknownQuadraticRow or
// RepeatedQuadraticRow at the header's row name (or keyword) when it cannot be read.
SectionProblem begin_quadratic_section(SectionReader& r);

// At ENDATA (the line `endata`): RowHessiansTooLarge when the rows' quadratic parts
// would take more column starts than the text can warrant (see kRowHessianStartsPerByte).
SectionProblem row_hessians_size_problem(const SectionReader& r, std::string_view endata) noexcept;

// A line of a section read as a record although it starts in the first column and its
// first word, `word`, is no section keyword: where the records before it are indented,
// that is a misspelt section header, likely (counted, and kept in r.misspelt). `line`
// is the line as read.
[[gnu::cold, gnu::noinline]] void column_one_record(SectionReader& r, std::string_view line, std::string_view word);

// The same for a threaded piece: counts into `notices` and says whether the line looks
// like a misspelt header (its records before it are indented). `text_begin` is the
// start of the text that holds `line`.
[[gnu::cold, gnu::noinline]] bool column_one_misspelt(const char* text_begin, std::string_view line,
                                                      std::string_view word, Notices& notices) noexcept;

// After ROWS: without an N row, the artificial objective name refers to the
// objective (objective_name keeps its default).
void end_rows(SectionReader& r);

// The kind of a line in a record section that starts in the first column: a
// header, or a record (Data). `line` is the line as read; `fields` holds at least one field.
[[gnu::noinline]] HeaderKind first_column_kind(SectionReader& r, std::string_view line, const Fields& fields);

// Whether a line in a record section (COLUMNS, RHS, RANGES or BOUNDS) is a
// header, and of which kind, or a record (Data). `line` is the line as read (its
// first byte counts before any trimming); `fields` holds at least one field.
[[gnu::always_inline]] inline HeaderKind header_or_record(SectionReader& r, std::string_view line,
                                                          const Fields& fields) {
  if (line.front() == ' ' || line.front() == '\t') [[likely]] return HeaderKind::Data;
  return first_column_kind(r, line, fields);
}

// Whether a line of `section` may end it, without the state the lines before it
// leave: one that starts in the first column with a section keyword (in RHS, other
// than RHS). The threaded readers hand such a line to the one-thread reader.
[[nodiscard]] inline bool may_be_header(Section section, std::string_view line, const Fields& fields) noexcept {
  if (line.front() == ' ' || line.front() == '\t') return false;
  const HeaderKind kind = word_kind(fields.at[0]);
  return kind != HeaderKind::Data && !(section == Section::Rhs && kind == HeaderKind::Rhs);
}

// The kind of a line outside the record sections (classify_line's class `c` of it),
// with one addition: a line that starts in the first column with RHS, RANGES or
// BOUNDS followed by one word that is not a number is that section's header, the
// word naming its set. `line` is the line as read.
HeaderKind rule_a_kind(std::string_view line, const LineClass& c) noexcept;

// The lines of the sections read with classify_line.
void outside_line(SectionReader& r, std::string_view line);
void objsense_line(SectionReader& r, std::string_view line);
void unsupported_line(SectionReader& r, std::string_view line);

// A ROWS line as read: nothing when it is a header (then taken); else its class,
// with `line` trimmed of Unicode whitespace for splitting.
std::optional<LineClass> rows_line_record(SectionReader& r, std::string_view& line);

// A ROWS record: the type in field 0, the name in field 1 (two fields or more).
// `name_row(name, value)` enters the name into the row map, now or a little
// later (value: the row, OBJECTIVE_ROW or EXTRA_N_ROW).
template <class NameRow>
[[gnu::always_inline]] inline void add_row(SectionReader& r, const Fields& fields, NameRow&& name_row) {
  ReaderState& state = r.state;
  const std::string_view row_name = fields.at[1];
  const std::optional<RowType> type = row_type_of(fields.at[0]);
  if (!type) [[unlikely]] {
    fail_at_record(r, FindingCode::UnknownRowType, fields.at[0]);  // the read fails
    return;
  }
  if (*type == RowType::N) {
    if (!r.objective_seen) {
      state.objective_name = row_name;
      name_row(row_name, OBJECTIVE_ROW);
      r.objective_seen = true;
      return;
    }
    if (!state.keep_free_rows) [[likely]] {
      note(state.notices, Notice::ExtraFreeRow, row_name);
      name_row(row_name, EXTRA_N_ROW);
      return;
    }
    // Kept: a row without bounds.
  }
  if (state.num_row >= state.limits.max_rows) [[unlikely]] {
    fail(r, FindingCode::TooManyRows, row_name);
    return;
  }
  const RowBounds bounds = initial_row_bounds(*type);
  name_row(row_name, static_cast<int32_t>(state.num_row));
  state.row_names.push_back(row_name);
  state.row_lower.push_back(bounds.lower);
  state.row_upper.push_back(bounds.upper);
  state.row_types.push_back(static_cast<uint8_t>(*type));
  ++state.num_row;
}

// A ROWS record whose name enters the row map at once.
void row_record(SectionReader& r, const Fields& fields);

// Sizes the row map for the ROWS records in `rest` (the text after a ROWS header),
// a text of `text_length` bytes in all: once for the rows that follow (and an
// artificial objective name), since growing by doubling would rehash every row
// several times and leave the table up to twice as large. Returns the rows counted.
size_t size_row_map(SectionReader& r, std::string_view rest, size_t text_length);

// A COLUMNS record (not a header), with its row keys already prepared.
void columns_record_line(SectionReader& r, const Fields& fields, const RowKeys& keys);

// A record of a quadratic section, SOS or INDICATORS, from its free-format fields;
// `line` as read (where an SOS record starts tells a set header from a member).
void extra_record_line(SectionReader& r, std::string_view line, const Fields& fields);

// An RHS, RANGES or BOUNDS record (not a header) laid out from its free-format
// fields and applied; the records of the sections beyond a linear program go to
// extra_record_line.
[[gnu::always_inline]] inline void record_line(SectionReader& r, std::string_view line, const Fields& fields) {
  switch (r.section) {
    case Section::Rhs:
      // Without a set name the record starts with a row name; any other first
      // field is a set name, and every set applies.
      apply_rhs_pairs(r.state, r.rhs, fields, set_record_start(r.state, fields));
      break;
    case Section::Ranges: apply_range(r.state, fields); break;
    case Section::Bounds:
      if (!apply_bound(r.state, fields)) [[unlikely]] {
        BoundType type;
        if (bound_type_of(fields.at[0], type)) {
          fail(r, FindingCode::TooManyColumns, fields.at[0]);
        } else {
          fail_at_record(r, FindingCode::UnknownBoundType, fields.at[0]);
        }
      }
      break;
    case Section::Quadratic:
    case Section::Sos:
    case Section::Indicators: extra_record_line(r, line, fields); break;
    default: break;
  }
}

// True when the next line starts with a blank: the usual COLUMNS record.
inline bool starts_indented(const LineCursor& cursor) noexcept {
  return *cursor.pos == ' ' || *cursor.pos == '\t';
}

// What the loop does after a line that changed the section (or ended the read):
// the ROWS names are completed, a quadratic section left is closed, then the section
// entered gets its start. A problem closing or opening a quadratic section goes to
// `lines.section_problem(r, problem)` (the default reading fails there). With
// `Lines::kParallelColumns`, `section_begun(r, cursor)` runs right after a COLUMNS,
// RHS, BOUNDS or quadratic section header and may read on from the cursor (false:
// the read ends there). True to go on with the next line.
template <class Lines>
bool after_header(SectionReader& r, LineCursor& cursor, Lines& lines) {
  r.header_taken = false;
  if (r.rows_left) {
    r.rows_left = false;
    lines.complete_row_names(r);
    end_rows(r);
  }
  if (r.quadratic_left) {
    r.quadratic_left = false;
    if (const SectionProblem problem = end_quadratic_section(r); problem.code != FindingCode::None) {
      lines.section_problem(r, problem);
    }
  }
  switch (r.section) {
    case Section::Quadratic:
      r.quadratic.records_begin = cursor.pos;
      if (const SectionProblem problem = begin_quadratic_section(r); problem.code != FindingCode::None) {
        lines.section_problem(r, problem);
        break;
      }
      if constexpr (Lines::kParallelColumns) {
        if (!lines.section_begun(r, cursor)) return false;
      }
      break;
    case Section::Rows: lines.rows_begun(r, cursor); break;
    case Section::Columns:
    case Section::Rhs:
    case Section::Bounds:
      if constexpr (Lines::kParallelColumns) {
        if (!lines.section_begun(r, cursor)) return false;
      }
      break;
    default: break;
  }
  return r.section != Section::Failed && r.section != Section::EndData;
}

// Runs the section state machine over the lines from the cursor to its end, or until
// the read ends: then true when it succeeded (after ENDATA), false when it failed;
// nothing when it reached the cursor's end, to go on when more text has come (the
// state carries over from one stretch to the next). See run_sections.
template <class Lines>
std::optional<bool> run_section_lines(LineCursor& at, SectionReader& r, Lines& lines) {
  ReaderState& state = r.state;
  LineCursor cursor = at;  // a copy the compiler may keep in registers
  std::optional<bool> done;
  std::string_view line;
  // The loop tests the position against the next poll point rather than the end
  // of the text, so asking the interruption costs nothing per line.
  const char* poll_at = cursor.pos;
  for (;;) {
    if (cursor.pos >= poll_at) [[unlikely]] {
      if (cursor.pos == cursor.end) break;
      if (state.interruption.requested()) {
        r.section = Section::Failed;
        r.interrupted = true;
        done = false;
        break;
      }
      poll_at = static_cast<size_t>(cursor.end - cursor.pos) > kPollStride ? cursor.pos + kPollStride : cursor.end;
    }
    if (Lines::kColumnsFastPath && r.section == Section::Columns && starts_indented(cursor)) {
      // The usual COLUMNS record: the line end is found in the field scan.
      next_line_fields(cursor, kMaxFields, r.fields, line);
      lines.columns_fields(r, line);
    } else if (Lines::kColumnsFastPath && r.section == Section::Quadratic && starts_indented(cursor)) {
      // The usual record of a quadratic section (which may be half the text), alike.
      next_line_fields(cursor, kMaxFields, r.fields, line);
      lines.quadratic_fields(r);
    } else {
      next_line(cursor, line);
      lines.start(r, line);
      if (line.empty() || is_comment_line(line)) continue;
      lines.dispatch(r, line);
    }
    if (!r.header_taken) [[likely]] continue;
    // This is uncommon: the line was a header, or the read ended.
    if (after_header(r, cursor, lines)) {
      poll_at = cursor.pos;  // the cursor may have moved on, to the end even
      continue;
    }
    if (r.section == Section::EndData) {
      // The rest of the text is never read.
      apply_binary_default(state);
      if (const SectionProblem problem = row_hessians_size_problem(r, line); problem.code != FindingCode::None)
          [[unlikely]] {
        lines.section_problem(r, problem);
      }
      done = r.section != Section::Failed && lines.finish(r);
    } else {
      done = false;
    }
    break;
  }
  at = cursor;
  return done;
}

// Runs the section state machine over `text` up to ENDATA. `Lines` says what is done
// with each line: `start(r, line)` sees every line as read; `dispatch(r, line)` every
// line that is neither empty nor a comment; `complete_row_names(r)` when ROWS is
// left, `rows_begun(r, cursor)` when it is entered (the cursor at its first record);
// `finish(r)` runs after ENDATA (after the binary default), `end_of_text(r)` when
// the text ends first. With `kColumnsFastPath`, indented COLUMNS records take
// `columns_fields(r, line)` with the line split while its end is found, and indented
// records of quadratic sections `quadratic_fields(r)` alike; with
// `kParallelColumns`, see after_header. True when the read succeeded; when it was
// interrupted, r.interrupted is set.
template <class Lines>
bool run_sections(std::string_view text, SectionReader& r, Lines& lines) {
  LineCursor cursor = line_cursor(text);
  if (const std::optional<bool> done = run_section_lines(cursor, r, lines)) return *done;
  fail(r, FindingCode::NoEndData, std::string_view(cursor.end, 0));
  lines.end_of_text(r);
  return false;
}

}  // namespace mopsel
