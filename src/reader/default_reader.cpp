// The default reader: the section state machine with every line going straight to
// its step, the ROWS names queued for the row map (or left to threads), and large
// sections handed to the threaded readers.
#include "reader/default_reader.hpp"

#include <cstring>
#include <optional>

#include "platform/reading_threads.hpp"
#include "reader/grammar/section_reader.hpp"
#include "reader/names/inserts_ahead.hpp"
#include "reader/parallel/arriving_text.hpp"
#include "reader/parallel/parallel_columns.hpp"
#include "reader/parallel/parallel_records.hpp"
#include "reader/parallel/parallel_rows.hpp"
#include "reader/records/columns.hpp"
#include "reader/text/size_hints.hpp"
#include "reader/text/utf8.hpp"

namespace mopsel {

namespace {

// Whether the reader goes on after a threaded read of a section ended with `read`;
// when not, the read fails (to be made again for Restart).
bool goes_on(SectionReader& r, ParallelRead read) noexcept {
  switch (read) {
    case ParallelRead::Read:
    case ParallelRead::OneThread: return true;
    case ParallelRead::Restart: start_over(r); return false;
    case ParallelRead::Interrupted:
      r.interrupted = true;
      r.section = Section::Failed;
      r.header_taken = true;
      return false;
  }
  return false;
}

// A large COLUMNS, RHS or BOUNDS section of a whole text is read by several threads.
bool whole_section_begun(SectionReader& r, LineCursor& cursor) {
  const ThreadPlan plan = reading_thread_plan();
  return goes_on(r, r.section == Section::Columns ? read_columns_in_parallel(r, cursor, plan)
                                                  : read_records_in_parallel(r, cursor, true, plan));
}

// The same for text still arriving. A large COLUMNS section is cut into pieces as its
// lines arrive (read_columns_arriving); RHS and BOUNDS sections long enough for pieces
// wait for the whole text, which by then has usually come.
bool arriving_section_begun(SectionReader& r, TextWindow& w, LineCursor& cursor) {
  const std::optional<ArrivedLines> arrived = arrived_lines(r, w, cursor, false);
  if (!arrived) return false;
  if (arrived->complete) return whole_section_begun(r, cursor);
  const ThreadPlan plan = reading_thread_plan();
  if (r.section == Section::Columns) return goes_on(r, read_columns_arriving(r, w, cursor, plan));
  if (static_cast<size_t>(arrived->expected_end - cursor.pos) < plan.records_min_bytes || plan.threads < 2) return true;
  for (;;) {
    const std::optional<ArrivedLines> more = arrived_lines(r, w, cursor, true);
    if (!more) return false;
    if (more->complete) return whole_section_begun(r, cursor);
  }
}

// A COLUMNS line already split into r.fields.
[[gnu::always_inline]] inline void columns_fields(SectionReader& r, std::string_view line) {
  const Fields& fields = r.fields;
  if (fields.count == 0) return;
  const HeaderKind kind = header_or_record(r, line, fields);
  if (kind != HeaderKind::Data) [[unlikely]] {
    take_header(r, kind, fields.at[0], header_argument(fields));
    return;
  }
  ReaderState& state = r.state;
  ColumnsScratch& scratch = r.columns;
  // A row map too large for the caches: a line is applied only a few lines
  // later, when its row slots have arrived (end_columns applies the last ones).
  if (state.row_index.slots.size() >= kLookaheadSlots) {
    const RowKeys keys = prepare_row_keys(state, fields);
    if (!hold_columns_record(state, scratch, fields, keys)) [[unlikely]] {
      fail(r, column_limit_cause(state), fields.at[0]);
    }
    return;
  }
  if (!columns_record(state, scratch, fields)) [[unlikely]] fail(r, column_limit_cause(state), fields.at[0]);
}

// RHS, RANGES, BOUNDS, SOS and INDICATORS: the line is trimmed for splitting only;
// whether it is a header is still decided on the line as read. A quadratic
// section's lines are split as read, as COLUMNS lines are.
void trimmed_record_line(SectionReader& r, std::string_view line) {
  Fields& fields = r.fields;
  split_fields_into(r.section == Section::Quadratic ? line : trim_unicode(line), kMaxFields, r.text_end, fields);
  if (fields.count == 0) return;
  const HeaderKind kind = header_or_record(r, line, fields);
  if (kind != HeaderKind::Data) {
    take_header(r, kind, fields.at[0], header_argument(fields));
    return;
  }
  record_line(r, line, fields);
}

// The default reading's part of each line (the `Lines` of run_sections).
struct PlainLines {
  static constexpr bool kColumnsFastPath = true;
  static constexpr bool kParallelColumns = true;

  InsertsAhead<int32_t> row_names;  // ROWS names waiting for the row map
  SharedRows shared_rows;           // ROWS names left to the threads
  TextWindow* window = nullptr;     // text still arriving; null for a whole text
  // Whether large sections may be read by several threads (a read that has to
  // start over on one thread clears it).
  bool threads_allowed = true;

  // A large COLUMNS, RHS or BOUNDS section is read by several threads when allowed.
  bool section_begun(SectionReader& r, LineCursor& cursor) {
    if (!threads_allowed) return true;
    return window != nullptr ? arriving_section_begun(r, *window, cursor) : whole_section_begun(r, cursor);
  }

  static void start(SectionReader&, std::string_view) noexcept {}

  static void columns_fields(SectionReader& r, std::string_view line) { mopsel::columns_fields(r, line); }

  // An indented record of a quadratic section, already split into r.fields.
  static void quadratic_fields(SectionReader& r) {
    if (!quadratic_record(r.state, r.quadratic, r.fields)) [[unlikely]] {
      fail(r, column_limit_cause(r.state), r.fields.at[0]);
    }
  }

  // Queues a ROWS name for the row map; constraint rows of a shared ROWS section
  // are entered from row_names when it ends.
  [[gnu::always_inline]] void name_row(SectionReader& r, std::string_view name, int32_t value) {
    if (shared_rows.active) {
      if (value < 0) shared_rows.n_rows.push_back({name, value, r.state.num_row});
      return;
    }
    queue_insert(row_names, r.state.row_index, name, value);
  }

  void rows_line(SectionReader& r, std::string_view line) {
    if (!rows_line_record(r, line)) return;
    Fields& fields = r.fields;
    split_fields_into(line, 2, r.text_end, fields);
    if (fields.count < 2) return;
    // More than two fields (the line is trimmed): a name with a blank, perhaps, which
    // a careful reading tells.
    const std::string_view name = fields.at[1];
    if (name.data() + name.size() != line.data() + line.size()) [[unlikely]] r.state.notices.recheck = true;
    add_row(r, fields, [&](std::string_view row, int32_t value) { name_row(r, row, value); });
  }

  void dispatch(SectionReader& r, std::string_view line) {
    switch (r.section) {
      case Section::Outside: outside_line(r, line); break;
      case Section::ObjSense: objsense_line(r, line); break;
      case Section::Rows: rows_line(r, line); break;
      case Section::Columns:
        split_fields_into(line, kMaxFields, r.text_end, r.fields);
        mopsel::columns_fields(r, line);
        break;
      case Section::Rhs:
      case Section::Ranges:
      case Section::Bounds:
      case Section::Quadratic:
      case Section::Sos:
      case Section::Indicators: trimmed_record_line(r, line); break;
      case Section::Unsupported: unsupported_line(r, line); break;
      case Section::EndData:
      case Section::Failed: break;
    }
  }

  void complete_row_names(SectionReader& r) {
    if (shared_rows.active) {
      enter_shared_rows(shared_rows, r.state.row_index, r.state.row_names, reading_thread_plan());
      return;
    }
    insert_queued(row_names, r.state.row_index);
  }

  void rows_begun(SectionReader& r, LineCursor& cursor) {
    if (shared_rows.used) [[unlikely]] {
      // Names entered by the threads point into row_names, which this section
      // would grow: the one-thread reader starts over.
      start_over(r);
      return;
    }
    if (window != nullptr) {
      size_row_map_arriving(r, *window, cursor);
      return;
    }
    const std::string_view rest(cursor.pos, static_cast<size_t>(cursor.end - cursor.pos));
    const size_t rows = size_row_map(r, rest, static_cast<size_t>(r.text_end - r.text_begin));
    ReaderState& state = r.state;
    if (threads_allowed && state.row_index.count == 0 && state.num_row == 0) {
      if (const ThreadPlan plan = reading_thread_plan(); rows_worth_sharing(rows, plan)) {
        // Room for the rows first: an array that grows while the helper maps the
        // row map's memory waits for it (mremap needs the process's memory map).
        reserve_rows(state, rows);
        begin_shared_rows(shared_rows, state.row_index, plan);
      }
    }
  }

  // A quadratic section that cannot be read ends the read.
  static void section_problem(SectionReader& r, const SectionProblem& problem) noexcept {
    fail(r, problem.code, problem.at);
  }

  static bool finish(SectionReader&) noexcept { return true; }

  static void end_of_text(SectionReader&) noexcept {}
};

// Whether the first `size` bytes at `data` hold the lines scan_size_hints reads.
bool holds_hint_lines(const char* data, size_t size) noexcept {
  const char* const end = data + size;
  for (int lines = 0; lines < 20; ++lines) {
    const void* lf = std::memchr(data, '\n', static_cast<size_t>(end - data));
    if (lf == nullptr) return false;
    data = static_cast<const char*>(lf) + 1;
  }
  return true;
}

Status read_whole(std::string_view text, ReaderState& state, bool threads_allowed, bool& restart) {
  SectionReader r(state, text);
  PlainLines lines;
  lines.threads_allowed = threads_allowed;
  restart = false;
  if (run_sections(text, r, lines)) return Status::success();
  if (r.interrupted) return interrupted();
  restart = r.restart;
  return section_failure(r);
}

}  // namespace

std::optional<Status> read_sections_arriving(const ArrivingText& text, ReaderState& state) {
  TextWindow w{text, text.expected_size};
  // The size hints stand among the first lines: they are read once those have come.
  do {
    if (!wait_for_more(w)) return std::nullopt;
  } while (!w.complete && !holds_hint_lines(text.data, w.ready));
  reserve_from_hints(scan_size_hints(std::string_view(text.data, w.ready), w.length), w.length, state);

  const std::string_view first(text.data, static_cast<size_t>(whole_lines_end(w, text.data) - text.data));
  SectionReader r(state, first);
  PlainLines lines;
  lines.window = &w;
  LineCursor cursor = line_cursor(first);
  for (;;) {
    if (const std::optional<bool> done = run_section_lines(cursor, r, lines)) {
      if (*done) return Status::success();
      break;
    }
    if (!extend_window(r, w, cursor)) {
      if (!r.restart) fail(r, FindingCode::NoEndData, std::string_view(cursor.end, 0));
      break;
    }
  }
  if (r.restart) return std::nullopt;
  if (r.interrupted) return interrupted();
  return section_failure(r);
}

Status read_sections(std::string_view text, ReaderState& state) {
  bool restart = false;
  Status read = read_whole(text, state, true, restart);
  if (!restart) return read;
  // This is uncommon: threads met a size limit (or might have); the one-thread
  // reader finds where, from the start.
  ReaderState fresh;
  fresh.limits = state.limits;
  fresh.interruption = state.interruption;
  fresh.keep_free_rows = state.keep_free_rows;
  reserve_from_hints(scan_size_hints(text), text.size(), fresh);
  state = std::move(fresh);
  return read_whole(text, state, false, restart);
}

}  // namespace mopsel
