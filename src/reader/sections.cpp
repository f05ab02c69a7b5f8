#include "reader/sections.hpp"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>
#include <optional>
#include <vector>

#include "model/mps_codes.hpp"
#include "reader/columns.hpp"
#include "reader/findings.hpp"
#include "reader/keywords.hpp"
#include "reader/lines.hpp"
#include "reader/numbers.hpp"
#include "reader/parallel_columns.hpp"
#include "reader/parallel_records.hpp"
#include "source/reading_threads.hpp"
#include "reader/records.hpp"
#include "reader/section_reader.hpp"
#include "reader/size_hints.hpp"
#include "reader/utf8.hpp"
#include "source/gzip_stream.hpp"

namespace mopsel {

namespace {

Section section_of(HeaderKind kind) noexcept {
  switch (kind) {
    case HeaderKind::ObjSense: return Section::ObjSense;
    case HeaderKind::Rows: return Section::Rows;
    case HeaderKind::Columns: return Section::Columns;
    case HeaderKind::Rhs: return Section::Rhs;
    case HeaderKind::Bounds: return Section::Bounds;
    case HeaderKind::Ranges: return Section::Ranges;
    case HeaderKind::EndData: return Section::EndData;
    case HeaderKind::Unsupported: return Section::Unsupported;
    case HeaderKind::Data:
    case HeaderKind::Name:
    case HeaderKind::Blank: break;
  }
  return Section::Outside;
}

constexpr double kInf = std::numeric_limits<double>::infinity();

// True when the first three bytes of `word`, upper-cased, are `prefix`.
bool starts_with_upper(std::string_view word, std::string_view prefix) noexcept {
  if (word.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    if (ascii_upper(word[i]) != prefix[i]) return false;
  }
  return true;
}

// Which limit a failed COLUMNS or BOUNDS step reached.
FindingCode column_limit_cause(const ReaderState& state) noexcept {
  return state.num_col >= state.limits.max_columns ? FindingCode::TooManyColumns : FindingCode::TooManyEntries;
}

}  // namespace

Error section_failure(const SectionReader& r) {
  const uint64_t offset = static_cast<uint64_t>(r.failure_at.data() - r.text_begin);
  return reading_failure(r.failure, failure_reason(r.failure, r.failure_at, r.state.limits), offset);
}

void take_header(SectionReader& r, HeaderKind kind) {
  ReaderState& state = r.state;
  switch (r.section) {
    case Section::Rows:
      flush_row_names(r);
      // Without an N row, this name refers to the objective; objective_name
      // keeps its default.
      if (!r.objective_seen) assign_name(state.row_index, kArtificialObjective, OBJECTIVE_ROW);
      break;
    case Section::Columns:
      if (!end_columns(state, r.columns)) [[unlikely]] {
        fail(r, column_limit_cause(state), r.fields.at[0]);
        return;
      }
      break;
    default: break;
  }
  r.section = section_of(kind);
  switch (r.section) {
    case Section::Rows:
      if (r.shared_rows.used) [[unlikely]] {
        // Names entered by the threads point into row_names, which this section
        // would grow: the one-thread reader starts over.
        r.restart = true;
        r.section = Section::Failed;
        return;
      }
      r.objective_seen = false;
      r.rows_header = true;
      break;
    case Section::Columns:
      begin_columns(state, r.columns);
      r.columns_begun = true;
      break;
    case Section::Rhs:
      r.rhs_seen.assign(state.num_row, 0);
      r.objective_rhs_seen = false;
      r.records_begun = true;
      break;
    case Section::Bounds: r.records_begun = true; break;
    default: break;
  }
}

namespace {

// Whether a line that starts with RHS, RANGES or BOUNDS followed by more fields,
// in a record section, is that section's header carrying the name of its set
// ("RHS RIGHT", "BOUNDS BND"): so it is when it cannot be a well-formed record
// of the current section. A COLUMNS record needs a value, an RHS or RANGES
// record (row, number) pairs, and no bound type is a section keyword.
bool is_set_header(SectionReader& r, HeaderKind kind, const Fields& fields) {
  if (kind != HeaderKind::Rhs && kind != HeaderKind::Ranges && kind != HeaderKind::Bounds) return false;
  switch (r.section) {
    case Section::Columns:
      return fields.count == 2 || (fields.at[1] != kMarker && !is_mps_number(fields.at[2]));
    case Section::Rhs:
    case Section::Ranges: return !is_set_record(r.state, fields);
    case Section::Bounds: return true;
    default: return false;
  }
}

// The kind of a line in a record section that starts in the first column: a
// header, or a record (Data); see header_kind.
[[gnu::noinline]] HeaderKind first_column_kind(SectionReader& r, const Fields& fields) {
  const HeaderKind kind = word_kind(fields.at[0]);
  switch (kind) {
    case HeaderKind::Data: return HeaderKind::Data;
    case HeaderKind::Name:
    case HeaderKind::ObjSense:
    case HeaderKind::Unsupported: return kind;
    case HeaderKind::Rhs:
      // The usual name of the right-hand-side set, never a header inside RHS.
      if (r.section == Section::Rhs) return HeaderKind::Data;
      [[fallthrough]];
    default:
      // A section keyword with more fields is a record (a column may be called
      // ROWS), unless it is a header that names its set.
      if (fields.count == 1) return kind;
      return is_set_header(r, kind, fields) ? kind : HeaderKind::Data;
  }
}

// The steps the default reader runs per line have internal linkage, so that the
// compiler may specialise them for their one caller; the careful reader calls
// them through the exported names below.
[[gnu::always_inline]] inline HeaderKind header_kind(SectionReader& r, std::string_view line,
                                                     const Fields& fields) {
  if (line.front() == ' ' || line.front() == '\t') [[likely]] return HeaderKind::Data;
  return first_column_kind(r, fields);
}

}  // namespace

HeaderKind header_or_record(SectionReader& r, std::string_view line, const Fields& fields) {
  return header_kind(r, line, fields);
}

HeaderKind rule_a_kind(std::string_view line, const LineClass& c) noexcept {
  if (c.kind != HeaderKind::Data || line.empty() || line.front() == ' ' || line.front() == '\t') return c.kind;
  const HeaderKind kind = word_kind(c.word);
  if (kind != HeaderKind::Rhs && kind != HeaderKind::Ranges && kind != HeaderKind::Bounds) return c.kind;
  const std::string_view set = trim_unicode(c.rest);
  for (const char byte : set) {
    if (is_field_separator(byte)) return c.kind;
  }
  return is_mps_number(set) ? c.kind : kind;
}

void outside_line(SectionReader& r, std::string_view line) {
  LineClass c = classify_line(line);
  c.kind = rule_a_kind(line, c);
  switch (c.kind) {
    case HeaderKind::Name: {
      const std::string_view token = first_unicode_token(c.rest);
      if (!token.empty()) r.state.name = token;
      return;
    }
    case HeaderKind::ObjSense: {
      // Inline form: only a word beginning with MAX is understood.
      if (starts_with_upper(first_unicode_token(c.rest), "MAX")) r.state.obj_sense_minimize = 0;
      take_header(r, c.kind);
      return;
    }
    case HeaderKind::Data:
    case HeaderKind::Blank:
      return;  // text before the first section and between sections carries nothing
    default: take_header(r, c.kind); return;
  }
}

void objsense_line(SectionReader& r, std::string_view line) {
  const LineClass c = classify_line(line);
  if (starts_with_upper(c.word, "MAX")) {
    r.state.obj_sense_minimize = 0;
  } else if (starts_with_upper(c.word, "MIN")) {
    r.state.obj_sense_minimize = 1;
  }
  if (const HeaderKind kind = rule_a_kind(line, c); kind != HeaderKind::Data) take_header(r, kind);
}

namespace {

// Inserts the oldest queued name.
void insert_oldest_row_name(SectionReader& r) {
  PendingRowNames& q = r.pending_rows;
  const PendingRowNames::Entry& e = q.at[q.first];
  NameMap<int32_t>& map = r.state.row_index;
  const std::string_view name(e.key.data, e.key.size);
  assign_name(map, name, e.value, e.keyed == map.seed.keyed ? &e.key : nullptr);
  q.first = (q.first + 1) % PendingRowNames::kDepth;
  --q.count;
}

// Queues `name` for the row map (or, with `queued` false, inserts it at once).
template <bool queued>
[[gnu::always_inline]] inline void name_row(SectionReader& r, std::string_view name, int32_t value) {
  NameMap<int32_t>& map = r.state.row_index;
  if constexpr (!queued) {
    assign_name(map, name, value);
  } else if (r.shared_rows.active) {
    // Constraint rows are entered from row_names when ROWS ends.
    if (value < 0) r.shared_rows.n_rows.push_back({name, value, r.state.num_row});
  } else {
    PendingRowNames& q = r.pending_rows;
    if (q.count == PendingRowNames::kDepth) insert_oldest_row_name(r);
    PendingRowNames::Entry& e = q.at[(q.first + q.count) % PendingRowNames::kDepth];
    e.key = map_key(map, name);
    e.keyed = map.seed.keyed;
    e.value = value;
    ++q.count;
    prefetch_name(map, e.key);
  }
}

template <bool queued>
[[gnu::always_inline]] inline void add_row(SectionReader& r, const Fields& fields) {
  ReaderState& state = r.state;
  const std::string_view row_name = fields.at[1];
  double lower;
  double upper;
  RowType type;
  // Only the first byte of the type field counts (EQ reads as E).
  switch (fields.at[0].front()) {
    case 'E':
      type = RowType::E;
      lower = 0.0;
      upper = 0.0;
      break;
    case 'G':
      type = RowType::G;
      lower = 0.0;
      upper = kInf;
      break;
    case 'L':
      type = RowType::L;
      lower = -kInf;
      upper = 0.0;
      break;
    case 'N':
      if (!r.objective_seen) {
        state.objective_name = row_name;
        name_row<queued>(r, row_name, OBJECTIVE_ROW);
        r.objective_seen = true;
      } else {
        name_row<queued>(r, row_name, EXTRA_N_ROW);
      }
      return;
    default:
      fail(r, FindingCode::UnknownRowType, fields.at[0]);  // the read fails
      return;
  }
  if (state.num_row >= state.limits.max_rows) [[unlikely]] {
    fail(r, FindingCode::TooManyRows, fields.at[1]);
    return;
  }
  name_row<queued>(r, row_name, static_cast<int32_t>(state.num_row));
  state.row_names.push_back(row_name);
  state.row_lower.push_back(lower);
  state.row_upper.push_back(upper);
  state.row_types.push_back(static_cast<uint8_t>(type));
  ++state.num_row;
}

void rows_line(SectionReader& r, std::string_view line) {
  const std::string_view as_read = line;
  line = trim_unicode(line);
  const LineClass c = classify_line(line);
  if (const HeaderKind kind = rule_a_kind(as_read, c); kind != HeaderKind::Data) {
    take_header(r, kind);
    return;
  }
  Fields& fields = r.fields;
  split_fields_into(line, 2, r.text_end, fields);
  if (fields.count < 2) return;
  add_row<true>(r, fields);
}

// A COLUMNS line already split into r.fields.
[[gnu::always_inline]] inline void columns_fields(SectionReader& r, std::string_view line) {
  const Fields& fields = r.fields;
  if (fields.count == 0) return;
  const HeaderKind kind = header_kind(r, line, fields);
  if (kind != HeaderKind::Data) [[unlikely]] {
    take_header(r, kind);
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

void columns_line(SectionReader& r, std::string_view line) {
  split_fields_into(line, kMaxFields, r.text_end, r.fields);
  columns_fields(r, line);
}

}  // namespace

void columns_record_line(SectionReader& r, const Fields& fields, const RowKeys& keys) {
  if (!columns_record(r.state, r.columns, fields, keys)) [[unlikely]] {
    fail(r, column_limit_cause(r.state), fields.at[0]);
  }
}

namespace {

size_t first_rhs_pair(ReaderState& state, const Fields& fields) noexcept {
  return set_record_start(state, fields);
}

[[gnu::always_inline]] inline void apply_rhs_value(SectionReader& r, int32_t ref, double value) {
  ReaderState& state = r.state;
  if (ref == OBJECTIVE_ROW) {
    if (!r.objective_rhs_seen) {
      state.obj_offset = -value;
      r.objective_rhs_seen = true;
    }
    return;
  }
  if (ref < 0) return;  // an extra N row
  const auto row = static_cast<uint32_t>(ref);
  if (r.rhs_seen[row] != 0) return;  // the first value in a section wins
  r.rhs_seen[row] = 1;
  switch (static_cast<RowType>(state.row_types[row])) {
    case RowType::E:
      state.row_lower[row] = value;
      state.row_upper[row] = value;
      break;
    case RowType::G: state.row_lower[row] = value; break;
    case RowType::L: state.row_upper[row] = value; break;
    case RowType::N: break;  // never stored: N rows are not constraint rows
  }
}

[[gnu::always_inline]] inline void apply_rhs_pairs(SectionReader& r, const Fields& fields, size_t first) {
  const auto& f = fields.at;
  for (size_t k = first; k + 1 < fields.count; k += 2) {
    const int32_t* ref = find_name(r.state.row_index, f[k]);
    if (ref == nullptr) continue;
    apply_rhs_value(r, *ref, parse_number(f[k + 1]));
  }
}

[[gnu::always_inline]] inline void record_line(SectionReader& r, const Fields& fields) {
  switch (r.section) {
    case Section::Rhs:
      // Without a set name the record starts with a row name; any other first
      // field is a set name, and every set applies.
      apply_rhs_pairs(r, fields, first_rhs_pair(r.state, fields));
      break;
    case Section::Ranges: apply_range(r.state, fields); break;
    case Section::Bounds:
      if (!apply_bound(r.state, fields)) [[unlikely]] {
        BoundType type;
        fail(r, bound_type_of(fields.at[0], type) ? FindingCode::TooManyColumns : FindingCode::UnknownBoundType,
             fields.at[0]);
      }
      break;
    default: break;
  }
}

// RHS, RANGES and BOUNDS: the line is trimmed for splitting only; whether it is
// a header is still decided on the line as read.
void trimmed_record_line(SectionReader& r, std::string_view line) {
  Fields& fields = r.fields;
  split_fields_into(trim_unicode(line), kMaxFields, r.text_end, fields);
  if (fields.count == 0) return;
  const HeaderKind kind = header_kind(r, line, fields);
  if (kind != HeaderKind::Data) {
    take_header(r, kind);
    return;
  }
  record_line(r, fields);
}

}  // namespace

void row_record(SectionReader& r, const Fields& fields) { add_row<false>(r, fields); }

void flush_row_names(SectionReader& r) {
  if (r.shared_rows.active) {
    enter_shared_rows(r.shared_rows, r.state.row_index, r.state.row_names, reading_thread_plan());
    return;
  }
  while (r.pending_rows.count > 0) insert_oldest_row_name(r);
}

size_t rhs_first_pair(ReaderState& state, const Fields& fields) noexcept { return first_rhs_pair(state, fields); }

void rhs_pairs(SectionReader& r, const Fields& fields, size_t first) { apply_rhs_pairs(r, fields, first); }

void rhs_value(SectionReader& r, int32_t row, double value) { apply_rhs_value(r, row, value); }

void unsupported_line(SectionReader& r, std::string_view line) {
  const HeaderKind kind = rule_a_kind(line, classify_line(trim_unicode(line)));
  if (kind == HeaderKind::Data || kind == HeaderKind::Unsupported) return;
  take_header(r, kind);
}

namespace {

// Whether the reader goes on after a threaded read of a section ended with `read`;
// when not, the read fails (to be made again for Restart).
bool goes_on(SectionReader& r, ParallelRead read) noexcept {
  switch (read) {
    case ParallelRead::Read:
    case ParallelRead::OneThread: return true;
    case ParallelRead::Restart: r.restart = true; break;
    case ParallelRead::Interrupted: r.interrupted = true; break;
  }
  r.section = Section::Failed;
  return false;
}

// A large COLUMNS, RHS or BOUNDS section of a whole text is read by several threads.
bool whole_section_begun(SectionReader& r, LineCursor& cursor) {
  const ThreadPlan plan = reading_thread_plan();
  return goes_on(r, r.section == Section::Columns ? read_columns_in_parallel(r, cursor, plan)
                                                  : read_records_in_parallel(r, cursor, plan));
}

bool arriving_section_begun(SectionReader& r, LineCursor& cursor);

// The default reading: every line goes straight to its section's step.
struct PlainLines {
  static constexpr bool kColumnsFastPath = true;
  static constexpr bool kParallelColumns = true;

  // A large COLUMNS, RHS or BOUNDS section is read by several threads when the state allows.
  static bool section_begun(SectionReader& r, LineCursor& cursor) {
    r.columns_begun = r.records_begun = false;
    if (!r.state.threads_allowed) return true;
    return r.window != nullptr ? arriving_section_begun(r, cursor) : whole_section_begun(r, cursor);
  }

  static void start(SectionReader&, std::string_view) noexcept {}

  static void columns_fields(SectionReader& r, std::string_view line) { mopsel::columns_fields(r, line); }

  static void dispatch(SectionReader& r, std::string_view line) {
    switch (r.section) {
      case Section::Outside: outside_line(r, line); break;
      case Section::ObjSense: objsense_line(r, line); break;
      case Section::Rows: rows_line(r, line); break;
      case Section::Columns: columns_line(r, line); break;
      case Section::Rhs:
      case Section::Ranges:
      case Section::Bounds: trimmed_record_line(r, line); break;
      case Section::Unsupported: unsupported_line(r, line); break;
      case Section::EndData:
      case Section::Failed: break;
    }
  }

  static bool finish(SectionReader&) noexcept { return true; }

  static void end_of_text(SectionReader&) noexcept {}
};

}  // namespace

// Text still arriving, as the section reader sees it: the window of whole lines it
// may read ends at the cursor's end (and r.text_end).
struct TextWindow {
  const ArrivingText& text;
  size_t length;      // the text's length once complete; until then the room reserved
  size_t ready = 0;   // bytes that have arrived
  bool complete = false;
};

namespace {

// The window has given up: the read fails, to be made again once the text is whole.
void abandon(SectionReader& r) noexcept {
  r.section = Section::Failed;
  r.restart = true;
}

// Waits for more text; false when it was abandoned.
bool wait_for_more(TextWindow& w) {
  const Arrival arrival = w.text.next(w.ready);
  if (arrival.state == ArrivalState::Abandoned) return false;
  w.ready = arrival.ready;
  w.complete = arrival.state == ArrivalState::Complete;
  if (w.complete) w.length = w.ready;
  return true;
}

// The end of the whole lines that have arrived (of all the text once it is complete),
// not before `from`.
const char* whole_lines_end(const TextWindow& w, const char* from) noexcept {
  const char* const ready = w.text.data + w.ready;
  if (w.complete) return ready;
  const void* lf = ::memrchr(from, '\n', static_cast<size_t>(ready - from));
  return lf != nullptr ? static_cast<const char*>(lf) + 1 : from;
}

// Moves the window's end on over the whole lines that arrive next, waiting for them.
// False at the end of the text, or when it was abandoned: the read then fails with
// r.restart set.
bool extend_window(SectionReader& r, LineCursor& cursor) {
  TextWindow& w = *r.window;
  while (!w.complete) {
    if (!wait_for_more(w)) {
      abandon(r);
      return false;
    }
    const char* const end = whole_lines_end(w, cursor.end);
    if (end > cursor.end) {
      cursor.end = end;
      r.text_end = end;
      return true;
    }
  }
  return false;
}

// The same for text still arriving. A large COLUMNS section is cut into pieces as its
// lines arrive (read_columns_arriving); RHS and BOUNDS sections long enough for pieces
// wait for the whole text, which by then has usually come.
bool arriving_section_begun(SectionReader& r, LineCursor& cursor) {
  const std::optional<ArrivedLines> arrived = arrived_lines(r, cursor, false);
  if (!arrived) return false;
  if (arrived->complete) return whole_section_begun(r, cursor);
  const ThreadPlan plan = reading_thread_plan();
  if (r.section == Section::Columns) return goes_on(r, read_columns_arriving(r, cursor, plan));
  if (static_cast<size_t>(arrived->expected_end - cursor.pos) < plan.min_bytes || plan.threads < 2) return true;
  for (;;) {
    const std::optional<ArrivedLines> more = arrived_lines(r, cursor, true);
    if (!more) return false;
    if (more->complete) return whole_section_begun(r, cursor);
  }
}

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

}  // namespace

bool text_is_whole(const SectionReader& r) noexcept { return r.window == nullptr || r.window->complete; }

std::optional<ArrivedLines> arrived_lines(SectionReader& r, LineCursor& cursor, bool wait) {
  TextWindow& w = *r.window;
  if (!w.complete) {
    if (wait) {
      if (!wait_for_more(w)) {
        abandon(r);
        return std::nullopt;
      }
    } else {
      const Arrival arrival = w.text.now();
      if (arrival.state == ArrivalState::Abandoned) {
        abandon(r);
        return std::nullopt;
      }
      w.ready = std::max(w.ready, arrival.ready);
      w.complete = arrival.state == ArrivalState::Complete;
      if (w.complete) w.length = w.ready;
    }
  }
  cursor.end = whole_lines_end(w, cursor.end);
  r.text_end = cursor.end;
  return ArrivedLines{cursor.end, w.text.data + w.length, w.complete};
}

void size_row_map(SectionReader& r, LineCursor& cursor, bool shared) {
  // Sized once for the rows that follow (and an artificial objective name):
  // growing by doubling would rehash every row several times and leave the
  // table up to twice as large.
  NameMap<int32_t>& map = r.state.row_index;
  if (r.window == nullptr) {
    const std::string_view rest(cursor.pos, static_cast<size_t>(cursor.end - cursor.pos));
    const auto length = static_cast<size_t>(r.text_end - r.text_begin);
    const size_t rows = count_row_lines(rest, length);
    reserve_names(map, map.count + rows + 1);
    if (shared && r.state.threads_allowed && map.count == 0 && r.state.num_row == 0) {
      if (const ThreadPlan plan = reading_thread_plan(); rows_worth_sharing(rows, plan)) {
        // Room for the rows first: an array that grows while the helper maps the
        // row map's memory waits for it (mremap needs the process's memory map).
        reserve_rows(r.state, rows);
        begin_shared_rows(r.shared_rows, map, plan);
      }
    }
    return;
  }
  // Arriving text: the rows are counted as they come, up to the line that ends them.
  TextWindow& w = *r.window;
  size_t rows = 0;
  const char* from = cursor.pos;
  for (;;) {
    const std::string_view more(from, static_cast<size_t>(cursor.end - from));
    const RowLineCount count = count_row_lines_so_far(more, w.length, rows);
    rows = count.rows;
    from = cursor.end;
    if (!count.open || !extend_window(r, cursor)) break;
  }
  if (r.section != Section::Failed) reserve_names(map, map.count + rows + 1);
}

std::optional<Status> read_sections_arriving(const ArrivingText& text, ReaderState& state) {
  TextWindow w{text, text.expected_size};
  // The size hints stand among the first lines: they are read once those have come.
  do {
    if (!wait_for_more(w)) return std::nullopt;
  } while (!w.complete && !holds_hint_lines(text.data, w.ready));
  reserve_from_hints(scan_size_hints(std::string_view(text.data, w.ready), w.length), w.length, state);

  const char* const first_end = whole_lines_end(w, text.data);
  SectionReader r(state, std::string_view(text.data, static_cast<size_t>(first_end - text.data)));
  r.window = &w;
  PlainLines lines;
  LineCursor cursor = line_cursor(std::string_view(text.data, static_cast<size_t>(first_end - text.data)));
  for (;;) {
    if (const std::optional<bool> done = run_section_lines(cursor, r, lines)) {
      if (*done) return Status::success();
      break;
    }
    if (!extend_window(r, cursor)) {
      if (!r.restart) fail(r, FindingCode::NoEndData, std::string_view(cursor.end, 0));
      break;
    }
  }
  if (r.restart) return std::nullopt;
  if (r.interrupted) return interrupted();
  return section_failure(r);
}

Status read_sections(std::string_view text, ReaderState& state) {
  {
    SectionReader r(state, text);
    PlainLines lines;
    if (run_sections(text, r, lines)) return Status::success();
    if (r.interrupted) return interrupted();
    if (!r.restart) return section_failure(r);
  }
  // This is uncommon: threads met a size limit (or might have); the one-thread
  // reader finds where, from the start.
  ReaderState fresh;
  fresh.limits = state.limits;
  fresh.interruption = state.interruption;
  fresh.threads_allowed = false;
  reserve_from_hints(scan_size_hints(text), text.size(), fresh);
  state = std::move(fresh);
  return read_sections(text, state);
}

}  // namespace mopsel
