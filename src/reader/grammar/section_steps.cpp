// The steps of the section state machine that every reading path takes: headers
// and the sections read with classify_line (outside any section, OBJSENSE, ROWS,
// skipped sections).
#include <cstdint>
#include <string_view>

#include "model/mps_codes.hpp"
#include "reader/grammar/section_reader.hpp"
#include "reader/records/bounds.hpp"
#include "reader/records/findings.hpp"
#include "reader/text/keywords.hpp"
#include "reader/text/lines.hpp"
#include "reader/text/numbers.hpp"
#include "reader/text/utf8.hpp"

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

}  // namespace

Error section_failure(const SectionReader& r) {
  const uint64_t offset = static_cast<uint64_t>(r.failure_at.data() - r.text_begin);
  return reading_failure(r.failure, failure_reason(r.failure, r.failure_at, r.state.limits), offset);
}

FindingCode column_limit_cause(const ReaderState& state) noexcept {
  return state.num_col >= state.limits.max_columns ? FindingCode::TooManyColumns : FindingCode::TooManyEntries;
}

void take_header(SectionReader& r, HeaderKind kind) {
  ReaderState& state = r.state;
  r.header_taken = true;
  switch (r.section) {
    case Section::Rows: r.rows_left = true; break;
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
    case Section::Rows: r.objective_seen = false; break;
    case Section::Columns: begin_columns(state, r.columns); break;
    case Section::Rhs: begin_rhs(state, r.rhs); break;
    default: break;
  }
}

void end_rows(SectionReader& r) {
  if (!r.objective_seen) assign_name(r.state.row_index, kArtificialObjective, OBJECTIVE_ROW);
}

HeaderKind first_column_kind(SectionReader& r, const Fields& fields) {
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
      if (sense_word(first_unicode_token(c.rest)) == SenseWord::Max) r.state.obj_sense_minimize = 0;
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
  switch (sense_word(c.word)) {
    case SenseWord::Max: r.state.obj_sense_minimize = 0; break;
    case SenseWord::Min: r.state.obj_sense_minimize = 1; break;
    case SenseWord::None: break;
  }
  if (const HeaderKind kind = rule_a_kind(line, c); kind != HeaderKind::Data) take_header(r, kind);
}

std::optional<LineClass> rows_line_record(SectionReader& r, std::string_view& line) {
  const std::string_view as_read = line;
  line = trim_unicode(line);
  const LineClass c = classify_line(line);
  if (const HeaderKind kind = rule_a_kind(as_read, c); kind != HeaderKind::Data) {
    take_header(r, kind);
    return std::nullopt;
  }
  return c;
}

void row_record(SectionReader& r, const Fields& fields) {
  NameMap<int32_t>& map = r.state.row_index;
  add_row(r, fields, [&map](std::string_view name, int32_t value) { assign_name(map, name, value); });
}

size_t size_row_map(SectionReader& r, std::string_view rest, size_t text_length) {
  NameMap<int32_t>& map = r.state.row_index;
  const size_t rows = count_row_lines(rest, text_length);
  reserve_names(map, map.count + rows + 1);
  return rows;
}

void columns_record_line(SectionReader& r, const Fields& fields, const RowKeys& keys) {
  if (!columns_record(r.state, r.columns, fields, keys)) [[unlikely]] {
    fail(r, column_limit_cause(r.state), fields.at[0]);
  }
}

void unsupported_line(SectionReader& r, std::string_view line) {
  const HeaderKind kind = rule_a_kind(line, classify_line(trim_unicode(line)));
  if (kind == HeaderKind::Data || kind == HeaderKind::Unsupported) return;
  take_header(r, kind);
}

}  // namespace mopsel
