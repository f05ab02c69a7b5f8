// The careful reader's records of the sections beyond a linear program (the quadratic
// sections, SOS, INDICATORS): each is inspected against what the reader holds before
// it, then applied by the default reader's steps. Where the peers split on a record
// (SCIP refuses what Gurobi reads, or the other way round), the default reading takes
// it as the peer that reads it does and the finding has the strict weight, so that
// strict reading refuses it.
#include <algorithm>
#include <string>

#include "model/model_record.hpp"
#include "reader/careful/careful_state.hpp"
#include "reader/records/bounds.hpp"
#include "reader/records/indicators.hpp"
#include "reader/records/quadratic.hpp"
#include "reader/records/sos.hpp"
#include "reader/text/locate.hpp"
#include "reader/text/numbers.hpp"
#include "reader/text/utf8.hpp"

namespace mopsel::careful {

namespace {

std::string_view quadratic_section_name(HeaderKind header) noexcept {
  switch (header) {
    case HeaderKind::QMatrix: return "QMATRIX";
    case HeaderKind::QSection: return "QSECTION";
    case HeaderKind::QcMatrix: return "QCMATRIX";
    default: return "QUADOBJ";
  }
}

// Extra fields: free-format records that have more than `uses` fields.
void more_than(CarefulLines& c, std::string_view section, std::string_view line, const Fields& fields, size_t uses,
               std::string_view what) {
  if (c.fixed) return;
  if (fields.count > uses || more_fields_after(line, fields)) {
    extra_fields(c, section, fields.at[fields.count > uses ? uses : kMaxFields - 1], what);
  }
}

// A column a record names, known or made here: the unknown-column finding (strict) and
// the UTF-8 check of the name a new column takes. False when the read ends here.
bool inspect_column(CarefulLines& c, SectionReader& r, std::string_view section, std::string_view name) {
  uint32_t column = 0;
  if (find_bound_column(r.state, name, column)) return true;
  if (!go_on(r, note(c, FindingCode::UnknownColumn, name,
                     "unknown column " + quoted(name) + " in " + std::string(section) + ": a new column is made"),
             FindingCode::UnknownColumn, name)) {
    return false;
  }
  return check_name(c, r, "column name", name);
}

// ---------------------------------------------------------------------------
// Quadratic sections

void careful_quadratic_record(CarefulLines& c, SectionReader& r, std::string_view line, const Fields& fields) {
  ReaderState& state = r.state;
  QuadraticScratch& scratch = r.quadratic;
  const std::string_view section = quadratic_section_name(scratch.header);
  if (fields.count < 3) {
    incomplete(c, fields.at[0], std::string(section) + " record without two columns and a value is ignored");
    return;
  }
  more_than(c, section, line, fields, 3, "two columns and a value");
  if (!inspect_column(c, r, section, fields.at[0])) return;
  // "w w 1" with w unknown makes one column.
  if (fields.at[1] != fields.at[0] && !inspect_column(c, r, section, fields.at[1])) return;
  const double value = parse_number(fields.at[2]);
  if (!check_value(c, r, fields.at[2], value, false)) return;
  uint32_t a = 0;
  uint32_t b = 0;
  if (!quadratic_columns(state, scratch, fields.at[0], fields.at[1], a, b) ||
      !add_quadratic_entry(state, scratch, a, b, value)) {
    fail(r, column_limit_cause(state), fields.at[0]);
    return;
  }
  if (value == 0.0 || !scratch.keep || !c.findings.options.collect) return;
  const uint32_t row = std::max(a, b);
  const uint32_t col = std::min(a, b);
  c.quadratic_notes.push_back({(uint64_t{col} << 32) | row, a > b, c.findings.lineno});
}

// The warnings of a quadratic section, once it is read: entries given again at one
// place (added up), and entries of a one-triangle section given in both triangles.
void quadratic_section_warnings(CarefulLines& c, SectionReader& r) {
  std::vector<QuadraticNote>& notes = c.quadratic_notes;
  const std::string_view section = quadratic_section_name(c.quadratic_header);
  const bool one_triangle = c.quadratic_header == HeaderKind::QuadObj || c.quadratic_header == HeaderKind::QSection;
  std::stable_sort(notes.begin(), notes.end(), [](const QuadraticNote& x, const QuadraticNote& y) {
    return x.place < y.place;
  });
  for (size_t first = 0; first < notes.size();) {
    size_t end = first + 1;
    while (end < notes.size() && notes[end].place == notes[first].place) ++end;
    const auto col = static_cast<uint32_t>(notes[first].place >> 32);
    const auto row = static_cast<uint32_t>(notes[first].place);
    std::string names = "(";
    names += quoted(r.state.col_names[col]);
    names += ", ";
    names += quoted(r.state.col_names[row]);
    names += ')';
    bool both_reported = false;
    for (size_t k = first + 1; k < end; ++k) {
      bool repeated = false;
      for (size_t e = first; e < k && !repeated; ++e) repeated = notes[e].above == notes[k].above;
      if (repeated || row == col) {
        (void)report_at(c.findings, FindingCode::RepeatedQuadraticEntry, kNoOffset, notes[k].lineno,
                        std::string(section) + " entry " + names + " is given again: the values add up");
      } else if (one_triangle && !both_reported) {
        both_reported = true;
        (void)report_at(c.findings, FindingCode::BothTriangles, kNoOffset, notes[k].lineno,
                        std::string(section) + " gives " + names +
                            " in both triangles: both values count (QMATRIX is the section that takes both halves)");
      }
    }
    first = end;
  }
  notes.clear();
}

// The warnings of a quadratic section header: the objective's H given by several
// sections, which add up; a section of an N row other than the objective.
void quadratic_header_warnings(CarefulLines& c, SectionReader& r) {
  const QuadraticScratch& scratch = r.quadratic;
  c.quadratic_header = scratch.header;
  const std::string_view section = quadratic_section_name(scratch.header);
  const bool named = scratch.header == HeaderKind::QSection || scratch.header == HeaderKind::QcMatrix;
  if (!named) {
    if (r.state.quadratic.objective && !r.state.quadratic.objective_named &&
        wants(c.findings, FindingCode::SeveralQuadraticSections)) {
      (void)note(c, FindingCode::SeveralQuadraticSections, {},
                 std::string(section) + " after another section of the objective's quadratic part: the entries of "
                                        "both add up");
    }
    return;
  }
  const int32_t* ref = scratch.row_name.empty() ? nullptr : find_name(r.state.row_index, scratch.row_name);
  if (ref != nullptr && *ref == EXTRA_N_ROW && wants(c.findings, FindingCode::IgnoredEntry)) {
    (void)note(c, FindingCode::IgnoredEntry, scratch.row_name,
               std::string(section) + " of the N row " + quoted(scratch.row_name) + " has no effect");
  }
}

// ---------------------------------------------------------------------------
// SOS

void careful_sos_set(CarefulLines& c, SectionReader& r, std::string_view line, const Fields& fields) {
  if (sos_type_of(fields.at[0]) == 0) {
    (void)go_on(r, note(c, FindingCode::UnknownSosType, fields.at[0],
                        failure_reason(FindingCode::UnknownSosType, fields.at[0], r.state.limits)),
                FindingCode::UnknownSosType, fields.at[0]);
    r.sos_set_open = false;
    return;
  }
  more_than(c, "SOS", line, fields, 3, "a type, a set name and a priority");
  if (fields.count >= 2 && !check_name(c, r, "SOS set name", fields.at[1])) return;
  int32_t priority = 0;
  if (fields.count >= 3 && !sos_priority_of(fields.at[2], priority) && wants(c.findings, FindingCode::BadNumber)) {
    if (!go_on(r, note(c, FindingCode::BadNumber, fields.at[2],
                       "SOS priority " + quoted(fields.at[2]) + " is not a whole number: read as 0"),
               FindingCode::BadNumber, fields.at[2])) {
      return;
    }
  }
  if (!sos_set(r.state, fields)) {
    fail(r, FindingCode::TooManyEntries, fields.at[0]);
    return;
  }
  r.sos_set_open = true;
}

void careful_sos_member(CarefulLines& c, SectionReader& r, std::string_view line, const Fields& fields) {
  ReaderState& state = r.state;
  const std::string_view name = fields.at[0];
  if (!r.sos_set_open) {
    (void)go_on(r, note(c, FindingCode::SosEntryOutsideSet, name,
                        "SOS member " + quoted(name) + " before any set header (S1 or S2): ignored"),
                FindingCode::SosEntryOutsideSet, name);
    return;
  }
  more_than(c, "SOS", line, fields, 2, "a column and a weight");
  if (!inspect_column(c, r, "SOS", name)) return;
  if (fields.count < 2) {
    incomplete(c, name, "SOS member " + quoted(name) + " has no weight: read as 0");
  } else if (!check_value(c, r, fields.at[1], parse_number(fields.at[1]), false)) {
    return;
  }
  if (!sos_member(state, fields)) {
    fail(r, column_limit_cause(state), name);
    return;
  }
  const uint32_t column = state.sos.index[state.sos.index.size() - 1];
  const auto set = static_cast<uint32_t>(state.sos.type.size());  // 1 + the set's index
  if (c.sos_set_of_column.size() < state.num_col) c.sos_set_of_column.resize(state.num_col, 0);
  if (c.sos_set_of_column[column] == set) {
    const std::string_view set_name = state.sos.names[set - 1];
    (void)go_on(r, note(c, FindingCode::RepeatedSosColumn, name,
                        "column " + quoted(name) + " is named again in SOS set " + quoted(set_name) +
                            ": both members are kept"),
                FindingCode::RepeatedSosColumn, name);
  }
  c.sos_set_of_column[column] = set;
}

void careful_sos_record(CarefulLines& c, SectionReader& r, std::string_view line, const Fields& fields) {
  if (c.fixed) {
    // The type stands in columns 2-3, a member's column from column 5 on.
    const bool header = !fixed_record(FixedLayout::SosSet, line).at[0].empty();
    c.fields = fixed_record(header ? FixedLayout::SosSet : FixedLayout::SosMember, line);
    if (c.fields.count == 0) {
      incomplete(c, line, "SOS record without the name it needs in fixed columns is ignored");
      return;
    }
    if (header) return careful_sos_set(c, r, line, c.fields);
    return careful_sos_member(c, r, line, c.fields);
  }
  if (is_sos_header(line, fields)) return careful_sos_set(c, r, line, fields);
  careful_sos_member(c, r, line, fields);
}

// ---------------------------------------------------------------------------
// INDICATORS

void careful_indicator_record(CarefulLines& c, SectionReader& r, std::string_view line, const Fields& fields) {
  ReaderState& state = r.state;
  const std::string_view record = trim_unicode(line);
  more_than(c, "INDICATORS", line, fields, 4, "IF, a row, a column and a value");
  const IndicatorLine indicator = indicator_line(state, fields);
  if (!indicator.well_formed) {
    (void)go_on(r, note(c, FindingCode::BadIndicator, record,
                        failure_reason(FindingCode::BadIndicator, record, state.limits)),
                FindingCode::BadIndicator, record);
    return;
  }
  const std::string_view row_name = fields.at[1];
  if (indicator.row == nullptr) {
    (void)go_on(r, note(c, FindingCode::UnknownRow, row_name,
                        "unknown row " + quoted(row_name) + " in INDICATORS: the indicator is ignored"),
                FindingCode::UnknownRow, row_name);
    return;
  }
  if (*indicator.row < 0) {
    (void)go_on(r, note(c, FindingCode::IndicatorOnNRow, row_name,
                        "INDICATORS row " + quoted(row_name) + " is an N row: the indicator is ignored"),
                FindingCode::IndicatorOnNRow, row_name);
    return;
  }
  if (fields.count < 4 || fields.at[3].empty()) {
    incomplete(c, fields.at[2], "INDICATORS record for row " + quoted(row_name) + " has no value: read as 1");
  }
  const auto row = static_cast<uint32_t>(*indicator.row);
  if (c.row_indicated.size() < state.num_row) c.row_indicated.resize(state.num_row, 0);
  if (c.row_indicated[row] != 0) {
    if (!go_on(r, note(c, FindingCode::RepeatedIndicator, row_name,
                       "row " + quoted(row_name) + " has another indicator: both are kept"),
               FindingCode::RepeatedIndicator, row_name)) {
      return;
    }
  }
  c.row_indicated[row] = 1;
  if (!apply_indicator(state, indicator)) {
    fail(r, FindingCode::TooManyEntries, fields.at[0]);
    return;
  }
  c.indicator_lines.push_back(c.findings.lineno);
}

bool is_binary(const ReaderState& state, uint32_t j) noexcept {
  return state.col_integrality[j] == code(IntegralityKind::INTEGER) && state.col_lower[j] >= 0.0 &&
         state.col_upper[j] <= 1.0;
}

}  // namespace

void careful_extra_record(CarefulLines& c, SectionReader& r, std::string_view line, const Fields& fields) {
  if (r.section == Section::Sos) {
    if (!c.fixed && !check_unicode_blanks(c, r, fields)) return;
    return careful_sos_record(c, r, line, fields);
  }
  const Fields* record = &fields;
  if (c.fixed) {
    c.fields = fixed_record(r.section == Section::Quadratic ? FixedLayout::Quadratic : FixedLayout::Bounds, line);
    if (c.fields.count == 0) {
      incomplete(c, line, "record without the names it needs in fixed columns is ignored");
      return;
    }
    record = &c.fields;
  }
  if (!check_unicode_blanks(c, r, *record)) return;
  if (r.section == Section::Quadratic) return careful_quadratic_record(c, r, line, *record);
  careful_indicator_record(c, r, line, *record);
}

void careful_sections_header(CarefulLines& c, SectionReader& r, Section left, std::string_view line) {
  if (left == Section::Quadratic) quadratic_section_warnings(c, r);
  if (r.section != Section::Quadratic) return;
  if (c.fixed && !r.quadratic.row_name.empty()) {
    const std::string_view name = r.quadratic.row_name;
    r.quadratic.row_name = trim_unicode(std::string_view(name.data(), static_cast<size_t>(line.data() + line.size() - name.data())));
  }
  quadratic_header_warnings(c, r);
}

bool careful_sections_finish(CarefulLines& c, SectionReader& r) {
  const ReaderState& state = r.state;
  if (!wants(c.findings, FindingCode::NonBinaryIndicator)) return true;
  const IndicatorParts& indicators = state.indicators;
  for (size_t k = 0; k < indicators.column.size() && k < c.indicator_lines.size(); ++k) {
    const uint32_t j = indicators.column[k];
    if (is_binary(state, j)) continue;
    const std::string kind = state.col_integrality[j] == code(IntegralityKind::INTEGER) ? "integer" : "not integer";
    if (!report_at(c.findings, FindingCode::NonBinaryIndicator, kNoOffset, c.indicator_lines[k],
                   "the indicator column " + quoted(state.col_names[j]) + " of row " +
                       quoted(state.row_names[indicators.row[k]]) + " is not binary (" + kind + ", bounds [" +
                       number_text(state.col_lower[j]) + ", " + number_text(state.col_upper[j]) + "])")) {
      return false;
    }
  }
  return true;
}

}  // namespace mopsel::careful

namespace mopsel {

void CarefulLines::section_problem(SectionReader& r, const SectionProblem& problem) {
  const uint64_t offset =
      problem.at.data() == nullptr ? findings.line_start : static_cast<uint64_t>(problem.at.data() - r.text_begin);
  // A record named again at the end of its section lies on an earlier line.
  const uint64_t lineno = offset < findings.line_start ? locate(findings.text, offset).lineno : findings.lineno;
  const bool ok = report_at(findings, problem.code, offset, lineno,
                            failure_reason(problem.code, problem.at, r.state.limits));
  (void)careful::go_on(r, ok, problem.code, problem.at);
}

}  // namespace mopsel
