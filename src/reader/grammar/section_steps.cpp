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
#include "reader/text/previous_line.hpp"
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
    case HeaderKind::QuadObj:
    case HeaderKind::QMatrix:
    case HeaderKind::QSection:
    case HeaderKind::QcMatrix: return Section::Quadratic;
    case HeaderKind::Sos: return Section::Sos;
    case HeaderKind::Indicators: return Section::Indicators;
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
// record (row, number) pairs, and no bound type is a section keyword; a record of
// the sections beyond a linear program is taken for a header when its second field,
// where a number or a column stands, is the set name a header carries.
bool is_set_header(SectionReader& r, HeaderKind kind, const Fields& fields) {
  if (kind != HeaderKind::Rhs && kind != HeaderKind::Ranges && kind != HeaderKind::Bounds) return false;
  switch (r.section) {
    case Section::Columns:
      return fields.count == 2 || (fields.at[1] != kMarker && !is_mps_number(fields.at[2]));
    case Section::Rhs:
    case Section::Ranges: return !is_set_record(r.state, fields);
    case Section::Bounds: return true;
    case Section::Quadratic:
    case Section::Sos:
    case Section::Indicators: return fields.count == 2 && !is_mps_number(fields.at[1]);
    default: return false;
  }
}

// The record (a line of the section being read) that names `place`: the first, from
// where the section's records begin, whose two column names are the place's.
std::string_view record_naming(SectionReader& r, LowerPlace place, const char* end) {
  ReaderState& state = r.state;
  sync_columns(state.col_index, state.col_names);  // columns the section made are looked up too
  LineCursor cursor{r.quadratic.records_begin, end};
  std::string_view line;
  while (next_line(cursor, line)) {
    if (line.empty() || is_comment_line(line)) continue;
    const Fields fields = split_fields(trim_unicode(line), 3);
    uint32_t a = 0;
    uint32_t b = 0;
    if (fields.count == 3 && find_column_index(state.col_index, state.col_names, fields.at[0], a) &&
        find_column_index(state.col_index, state.col_names, fields.at[1], b) && names_place(a, b, place)) {
      return trim_unicode(line);
    }
  }
  return {};
}

}  // namespace

Error section_failure(const SectionReader& r) {
  const uint64_t offset = static_cast<uint64_t>(r.failure_at.data() - r.text_begin);
  return reading_failure(r.failure, failure_reason(r.failure, r.failure_at, r.state.limits), offset);
}

FindingCode column_limit_cause(const ReaderState& state) noexcept {
  return state.num_col >= state.limits.max_columns ? FindingCode::TooManyColumns : FindingCode::TooManyEntries;
}

void take_header(SectionReader& r, HeaderKind kind, std::string_view word, std::string_view argument) {
  ReaderState& state = r.state;
  r.header_taken = true;
  r.misspelt = {};
  switch (r.section) {
    case Section::Rows: r.rows_left = true; break;
    case Section::Quadratic: r.quadratic_left = true; break;
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
    case Section::Unsupported: note_skipped_section(state.notices, word); break;
    case Section::Rows: r.objective_seen = false; break;
    case Section::Columns: begin_columns(state, r.columns); break;
    case Section::Rhs: begin_rhs(state, r.rhs); break;
    case Section::Quadratic:
      // Opened in after_header (begin_quadratic_section): the row it names may be one
      // of the ROWS names still to enter.
      r.quadratic.header = kind;
      r.quadratic.row_name = argument;
      break;
    case Section::Sos: r.sos_set_open = false; break;
    default: break;
  }
}

std::string_view header_argument(const LineClass& c) noexcept {
  const Fields fields = split_fields(c.rest, 1);
  return fields.count == 0 ? std::string_view() : fields.at[0];
}

SectionProblem end_quadratic_section(SectionReader& r) {
  // The records end where the line that left the section starts (its first field:
  // a header stands in the first column).
  const char* end = r.text_end;
  if (r.fields.count > 0 && r.fields.at[0].data() >= r.quadratic.records_begin) end = r.fields.at[0].data();
  const std::optional<LowerPlace> differ = end_quadratic(r.state, r.quadratic);
  if (!differ) return {};
  const std::string_view record = record_naming(r, *differ, end);
  return {FindingCode::AsymmetricMatrix, record.empty() ? std::string_view(r.quadratic.records_begin, 0) : record};
}

SectionProblem row_hessians_size_problem(const SectionReader& r, std::string_view endata) noexcept {
  const auto text = static_cast<uint64_t>(r.text_end - r.text_begin);
  if (!row_hessians_too_large(r.state.quadratic, r.state.num_col, text)) return {};
  return {FindingCode::RowHessiansTooLarge, endata};
}

SectionProblem begin_quadratic_section(SectionReader& r) {
  const FindingCode code = begin_quadratic(r.state, r.quadratic);
  if (code == FindingCode::None) return {};
  if (!r.quadratic.row_name.empty()) return {code, r.quadratic.row_name};
  // A header without a row name: the header line itself, which ends where the
  // section's records begin.
  const char* end = r.quadratic.records_begin;
  if (end > r.text_begin && end[-1] == '\n') --end;
  const char* begin = end;
  while (begin > r.text_begin && begin[-1] != '\n') --begin;
  return {code, trim_unicode(std::string_view(begin, static_cast<size_t>(end - begin)))};
}

void end_rows(SectionReader& r) {
  if (!r.objective_seen) assign_name(r.state.row_index, kArtificialObjective, OBJECTIVE_ROW);
}

bool column_one_misspelt(const char* text_begin, std::string_view line, std::string_view word,
                         Notices& notices) noexcept {
  if (!follows_indented_line(text_begin, line.data())) return false;
  note(notices, Notice::UnknownSection, word);
  return true;
}

void column_one_record(SectionReader& r, std::string_view line, std::string_view word) {
  if (column_one_misspelt(r.text_begin, line, word, r.state.notices)) r.misspelt = word;
}

HeaderKind first_column_kind(SectionReader& r, std::string_view line, const Fields& fields) {
  const HeaderKind kind = word_kind(fields.at[0]);
  if (header_takes_fields(kind)) return kind;
  switch (kind) {
    case HeaderKind::Data:
      column_one_record(r, line, fields.at[0]);
      return HeaderKind::Data;
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
      take_header(r, c.kind, c.word, header_argument(c));
      return;
    }
    case HeaderKind::Data:
    case HeaderKind::Blank:
      return;  // text before the first section and between sections carries nothing
    default: take_header(r, c.kind, c.word, header_argument(c)); return;
  }
}

void objsense_line(SectionReader& r, std::string_view line) {
  const LineClass c = classify_line(line);
  switch (sense_word(c.word)) {
    case SenseWord::Max: r.state.obj_sense_minimize = 0; break;
    case SenseWord::Min: r.state.obj_sense_minimize = 1; break;
    case SenseWord::None: break;
  }
  if (const HeaderKind kind = rule_a_kind(line, c); kind != HeaderKind::Data) {
    take_header(r, kind, c.word, header_argument(c));
  }
}

std::optional<LineClass> rows_line_record(SectionReader& r, std::string_view& line) {
  const std::string_view as_read = line;
  line = trim_unicode(line);
  const LineClass c = classify_line(line);
  if (const HeaderKind kind = rule_a_kind(as_read, c); kind != HeaderKind::Data) {
    take_header(r, kind, c.word, header_argument(c));
    return std::nullopt;
  }
  if (as_read.front() != ' ' && as_read.front() != '\t') [[unlikely]] {
    if (word_kind(c.word) == HeaderKind::Data) column_one_record(r, as_read, c.word);
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
  const LineClass c = classify_line(trim_unicode(line));
  const HeaderKind kind = rule_a_kind(line, c);
  if (kind == HeaderKind::Data) return;
  if (kind == HeaderKind::Unsupported) {
    note_skipped_section(r.state.notices, c.word);  // skipped with the section it is in
    return;
  }
  take_header(r, kind, c.word, header_argument(c));
}

void extra_record_line(SectionReader& r, std::string_view line, const Fields& fields) {
  ReaderState& state = r.state;
  bool ok = true;
  switch (r.section) {
    case Section::Quadratic: ok = quadratic_record(state, r.quadratic, fields); break;
    case Section::Sos:
      if (is_sos_header(line, fields)) {
        if (!sos_set(state, fields)) {
          fail(r, sos_type_of(fields.at[0]) == 0 ? FindingCode::UnknownSosType : FindingCode::TooManyEntries,
               fields.at[0]);
          return;
        }
        r.sos_set_open = true;
      } else if (r.sos_set_open) {
        ok = sos_member(state, fields);
      }
      break;
    case Section::Indicators: {
      const IndicatorLine record = indicator_line(state, fields);
      if (!record.well_formed) {
        fail(r, FindingCode::BadIndicator, trim_unicode(line));
        return;
      }
      ok = apply_indicator(state, record);
      break;
    }
    default: break;
  }
  if (!ok) [[unlikely]] fail(r, column_limit_cause(state), fields.at[0]);
}

}  // namespace mopsel
