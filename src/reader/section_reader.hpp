#pragma once
// The section reader's own state, its steps per line, and the loop over the lines.
// The loop is a template over what it does with each line: the default reader
// (sections.cpp) runs the steps as they are; the careful reader (careful_lines.cpp)
// inspects each line first and reads fixed-format fields.
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "model/finding_code.hpp"
#include "model/result.hpp"
#include "reader/columns.hpp"
#include "reader/keywords.hpp"
#include "reader/lines.hpp"
#include "reader/parallel_rows.hpp"
#include "reader/reader_state.hpp"
#include "reader/size_hints.hpp"

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
  Unsupported,
  EndData,
  Failed,
};

// ROWS names waiting to enter the row map, in file order. Each name's home slot
// is asked for when the row is read and the name is inserted a few rows later,
// so that on a map beyond the caches the fetches of several rows overlap instead
// of each insert waiting for its own. Only the default reader queues: the careful
// reader looks names up between rows.
struct PendingRowNames {
  static constexpr size_t kDepth = 8;
  struct Entry {
    NameKey key;     // under the map's seed when queued
    bool keyed;      // whether that seed was the keyed one
    int32_t value;
  };
  Entry at[kDepth];
  size_t first = 0;
  size_t count = 0;
};

// Scratch state of the section being read; each entry into a section sets up
// its own part afresh, so "the first value wins" rules hold per section.
struct TextWindow;

struct SectionReader {
  SectionReader(ReaderState& s, std::string_view text)
      : state(s), text_begin(text.data()), text_end(text.data() + text.size()) {}
  ReaderState& state;
  const char* text_begin;
  const char* text_end;  // field scans may load up to here in blocks
  Section section = Section::Outside;
  bool objective_seen = false;        // ROWS
  bool rows_header = false;           // a ROWS header was just read
  PendingRowNames pending_rows;       // ROWS, default reader only
  SharedRows shared_rows;             // ROWS names left to the threads, default reader only
  bool columns_begun = false;         // a COLUMNS header was just read
  bool records_begun = false;         // an RHS or BOUNDS header was just read
  ColumnsScratch columns;             // COLUMNS
  std::vector<uint8_t> rhs_seen;      // RHS, one flag per constraint row
  bool objective_rhs_seen = false;    // RHS
  Fields fields;                      // the current line's fields, reused line to line
  // Why the read failed and where (a view into the text); set with `fail`.
  FindingCode failure = FindingCode::None;
  std::string_view failure_at;
  bool interrupted = false;  // the state's interruption asked to stop
  bool restart = false;      // the text must be read again from the start: on one
                             // thread, or once it has all arrived
  // Text still arriving (read_sections_arriving), null for a whole text.
  TextWindow* window = nullptr;
};

// Ends the read: the cause and the offending text are kept for the error.
inline void fail(SectionReader& r, FindingCode cause, std::string_view at) noexcept {
  r.section = Section::Failed;
  r.failure = cause;
  r.failure_at = at;
}

// The Error of a failed read (the reader's one message, with cause, reason, offset).
Error section_failure(const SectionReader& r);

// Leaves the current section through a header of kind `kind` and enters the
// section it opens.
void take_header(SectionReader& r, HeaderKind kind);

// Whether a line in a record section (COLUMNS, RHS, RANGES or BOUNDS) is a
// header, and of which kind, or a record (Data); see sections.hpp. `line` is the
// line as read (its first byte counts before any trimming); `fields` holds at
// least one field.
HeaderKind header_or_record(SectionReader& r, std::string_view line, const Fields& fields);

// The kind of a line outside the record sections (classify_line's class `c` of it),
// with one addition: a line that starts in the first column with RHS, RANGES or
// BOUNDS followed by one word that is not a number is that section's header, the
// word naming its set. `line` is the line as read.
HeaderKind rule_a_kind(std::string_view line, const LineClass& c) noexcept;

// The lines of the sections read with classify_line.
void outside_line(SectionReader& r, std::string_view line);
void objsense_line(SectionReader& r, std::string_view line);
void unsupported_line(SectionReader& r, std::string_view line);

// A ROWS record: the type in field 0, the name in field 1 (two fields or more).
// The name enters the row map at once.
void row_record(SectionReader& r, const Fields& fields);

// Inserts the queued ROWS names into the row map (take_header does on leaving ROWS).
void flush_row_names(SectionReader& r);

// A COLUMNS record (not a header), with its row keys already prepared.
void columns_record_line(SectionReader& r, const Fields& fields, const RowKeys& keys);

// Where the (row, value) pairs of a free-format RHS or RANGES record start: 0 when
// the first field names a row, else 1 (the first field is the set's name).
size_t rhs_first_pair(ReaderState& state, const Fields& fields) noexcept;

// The pairs of an RHS record from field `first` on.
void rhs_pairs(SectionReader& r, const Fields& fields, size_t first);

// One RHS value for the row map's entry `row` (a row, OBJECTIVE_ROW or EXTRA_N_ROW).
void rhs_value(SectionReader& r, int32_t row, double value);

// True when the next line starts with a blank: the usual COLUMNS record.
inline bool starts_indented(const LineCursor& cursor) noexcept {
  return *cursor.pos == ' ' || *cursor.pos == '\t';
}

// Text still arriving (r.window set), as far as its whole lines have come.
struct ArrivedLines {
  const char* end = nullptr;           // the end of the whole lines that have arrived
  const char* expected_end = nullptr;  // where the text ends once complete (its length as stored until then)
  bool complete = false;               // the text has all arrived: `end` is its end
};

// Whether the reader holds the whole text: it was whole from the start, or it has
// all arrived (the cursor's end is then the text's end).
bool text_is_whole(const SectionReader& r) noexcept;

// Moves the cursor's end (and r.text_end) on over the whole lines of arriving text
// that have come; with `wait`, waits until more text has come or the text is complete.
// Nothing when the text was abandoned: the read then fails with r.restart set.
std::optional<ArrivedLines> arrived_lines(SectionReader& r, LineCursor& cursor, bool wait);

// Sizes the row map for the ROWS records that follow a ROWS header (at the cursor);
// with text still arriving, once they have all arrived. With `shared`, a large first
// ROWS section of a whole text leaves its names to the threads (parallel_rows.hpp).
void size_row_map(SectionReader& r, LineCursor& cursor, bool shared);

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
      if (r.section == Section::Columns) continue;
    } else {
      next_line(cursor, line);
      lines.start(r, line);
      if (line.empty() || is_comment_line(line)) continue;
      lines.dispatch(r, line);
      if constexpr (Lines::kParallelColumns) {
        if (r.columns_begun || r.records_begun) [[unlikely]] {
          if (!lines.section_begun(r, cursor)) {
            done = false;
            break;
          }
          poll_at = cursor.pos;  // the cursor may have moved on, to the end even
          continue;
        }
      }
    }
    if (r.rows_header) [[unlikely]] {
      r.rows_header = false;
      size_row_map(r, cursor, Lines::kParallelColumns);
    }
    if (r.section == Section::EndData) {
      // The rest of the text is never read.
      apply_binary_default(state);
      done = lines.finish(r);
      break;
    }
    if (r.section == Section::Failed) {
      done = false;
      break;
    }
  }
  at = cursor;
  return done;
}

// Runs the section state machine over `text` up to ENDATA. `Lines` says what is done
// with each line: `start(r, line)` sees every line as read; `dispatch(r, line)` every
// line that is neither empty nor a comment; `finish(r)` runs after ENDATA (after the
// binary default), `end_of_text(r)` when the text ends first. With
// `kColumnsFastPath`, indented COLUMNS records take `columns_fields(r, line)` with
// the line split while its end is found. With `kParallelColumns`, `section_begun(r,
// cursor)` runs right after a COLUMNS, RHS or BOUNDS header and may read on from the
// cursor (false: the read ends there). True when the read succeeded; when it was interrupted,
// r.interrupted is set.
template <class Lines>
bool run_sections(std::string_view text, SectionReader& r, Lines& lines) {
  LineCursor cursor = line_cursor(text);
  if (const std::optional<bool> done = run_section_lines(cursor, r, lines)) return *done;
  fail(r, FindingCode::NoEndData, std::string_view(cursor.end, 0));
  lines.end_of_text(r);
  return false;
}

}  // namespace mopsel
