// The careful reader line by line: the checks every line gets, the sections read with
// classify_line (outside, OBJSENSE, ROWS, skipped sections), the checks made once the
// text is read, and the entry read_sections_careful.
#include "reader/careful/careful_lines.hpp"

#include <cmath>
#include <string>
#include <vector>

#include "model/model_record.hpp"
#include "reader/careful/careful_state.hpp"
#include "reader/text/keywords.hpp"
#include "reader/text/locate.hpp"
#include "reader/text/utf8.hpp"

namespace mopsel {

using namespace careful;

namespace {

// Longer lines are reported: MPS lines are short, a very long one is usually a
// file with other line ends or not MPS at all.
constexpr size_t kLongLine = 4096;

// ---------------------------------------------------------------------------
// Sections read with classify_line

bool is_sense_word(std::string_view word) noexcept { return sense_word(word) != SenseWord::None; }

void careful_outside(CarefulLines& c, SectionReader& r, std::string_view line) {
  LineClass cls = classify_line(line);
  cls.kind = rule_a_kind(line, cls);
  if (cls.kind == HeaderKind::Data && wants(c.findings, FindingCode::IgnoredLine)) {
    (void)note(c, FindingCode::IgnoredLine, cls.word,
               "line outside any section is ignored: " + quoted(trim_unicode(line)));
  }
  if (cls.kind == HeaderKind::ObjSense) {
    const std::string_view word = first_unicode_token(cls.rest);
    if (!word.empty() && !is_sense_word(word) && wants(c.findings, FindingCode::UnknownSense)) {
      (void)note(c, FindingCode::UnknownSense, word, "OBJSENSE " + quoted(word) + " is not MAX or MIN: ignored");
    }
  }
  outside_line(r, line);
}

void careful_objsense(CarefulLines& c, SectionReader& r, std::string_view line) {
  const LineClass cls = classify_line(line);
  if (cls.kind == HeaderKind::Data && !is_sense_word(cls.word) && wants(c.findings, FindingCode::UnknownSense)) {
    (void)note(c, FindingCode::UnknownSense, cls.word, "OBJSENSE " + quoted(cls.word) + " is not MAX or MIN: ignored");
  }
  objsense_line(r, line);
}

void careful_rows(CarefulLines& c, SectionReader& r, std::string_view raw) {
  std::string_view line = raw;
  const std::optional<LineClass> record = rows_line_record(r, line);
  if (!record) return;
  report_misspelt(c, r, raw);
  const LineClass& cls = *record;
  Fields& fields = c.fields;
  if (c.fixed) {
    // Columns count from the line as read.
    fields = fixed_record(FixedLayout::Rows, raw);
  } else {
    split_fields_into(line, 3, r.text_end, fields);
  }
  if (!check_unicode_blanks(c, r, fields)) return;
  if (fields.count < 2) {
    incomplete(c, cls.word, "ROWS record without a type and a name is ignored");
    return;
  }
  if (fields.count > 2) {
    const std::string_view name(fields.at[1].data(), static_cast<size_t>(line.data() + line.size() - fields.at[1].data()));
    if (rows_record_looks_fixed(name) && fixed_sign(c, r, name)) return;
    extra_fields(c, "ROWS", fields.at[2], "a type and a name");
  }
  const std::string_view type = fields.at[0];
  const std::string_view name = fields.at[1];
  ReaderState& state = r.state;
  const std::optional<RowType> row_type = row_type_of(type);
  if (!row_type) {
    if (fail_at_misspelt(c, r)) return;
    // Collecting goes on without the row; otherwise the read ends here.
    (void)go_on(r, note(c, FindingCode::UnknownRowType, type, failure_reason(FindingCode::UnknownRowType, type, state.limits)),
                FindingCode::UnknownRowType, type);
    return;
  }
  if (*row_type != RowType::N || (r.objective_seen && state.keep_free_rows)) {
    if (!check_name(c, r, "row name", name)) return;
  } else if (r.objective_seen) {
    if (wants(c.findings, FindingCode::ExtraObjective)) {
      (void)note(c, FindingCode::ExtraObjective, name,
                 "N row " + quoted(name) + " besides the objective " + quoted(state.objective_name) +
                     ": its entries are ignored");
    }
  } else if (!check_name(c, r, "objective name", name)) {
    return;
  }
  if (find_name(state.row_index, name) != nullptr && wants(c.findings, FindingCode::DuplicateRow)) {
    (void)note(c, FindingCode::DuplicateRow, name,
               "row " + quoted(name) + " is declared again: the earlier one can no longer be named");
  }
  row_record(r, fields);
}

void careful_unsupported(CarefulLines& c, SectionReader& r, std::string_view line) {
  const LineClass cls = classify_line(trim_unicode(line));
  if (cls.kind == HeaderKind::Unsupported && wants(c.findings, FindingCode::SkippedSection)) {
    // A further unsupported header inside a skipped section is passed over too.
    (void)go_on(r, note(c, FindingCode::SkippedSection, cls.word,
                        "section " + std::string(cls.word) + " is not supported: its records are skipped"),
                FindingCode::SkippedSection, cls.word);
    if (r.section == Section::Failed) return;
  }
  unsupported_line(r, line);
}

bool is_fractional(double v) noexcept { return std::isfinite(v) && v != std::floor(v); }

// Columns whose name an earlier column has, at the line that made each. Found once the
// text is read: the column index, filled in one go, holds fewer names than there are
// columns exactly when a name repeats, and only then are the columns looked at one
// by one (per-column lookups while reading would miss the cache on large models).
void report_repeated_columns(CarefulLines& c, ReaderState& state) {
  if (!wants(c.findings, FindingCode::DuplicateColumn)) return;
  sync_columns(state.col_index, state.col_names);
  if (state.col_index.count == state.num_col) return;
  NameMap<uint8_t> seen;  // repeated names met so far
  for (uint32_t j = 0; j < state.num_col; ++j) {
    const std::string_view name = state.col_names[j];
    if (find_name(seen, name) == nullptr) {
      // The first column of a name that a later column has too is remembered.
      uint32_t last = j;
      if (find_column_index(state.col_index, state.col_names, name, last) && last != j) {
        assign_name(seen, name, uint8_t{1});
      }
      continue;
    }
    (void)report_at(c.findings, FindingCode::DuplicateColumn, kNoOffset, c.column_line[j],
                    "column " + quoted(name) +
                        " appears again after other columns: it becomes a second column of that name, and later "
                        "records refer to the last one");
  }
}

}  // namespace

// ---------------------------------------------------------------------------
// The steps the section loop calls

void CarefulLines::start(SectionReader& r, std::string_view line) {
  ++findings.lineno;
  findings.line_start = static_cast<uint64_t>(line.data() - r.text_begin);
  // The mark is skipped, so the first line starts after it.
  if (findings.lineno == 1 && line.data() - r.text_begin == static_cast<ptrdiff_t>(kByteOrderMark.size()) &&
      wants(findings, FindingCode::ByteOrderMark)) {
    (void)report(findings, FindingCode::ByteOrderMark, std::string_view(r.text_begin, kByteOrderMark.size()),
                 "the text starts with a UTF-8 byte-order mark");
  }
  const unsigned marks = line_marks(line, r.text_end);
  odd_bytes = (marks & 3) != 0;
  if (!cr_reported && (marks & 4) != 0) {
    cr_reported = true;
    if (wants(findings, FindingCode::CrLineEnd)) {
      (void)report(findings, FindingCode::CrLineEnd, {},
                   "a carriage return inside a line: lines end only at a line feed, so a text with CR line ends "
                   "reads as one line");
    }
  }
  if (line.size() > kLongLine && wants(findings, FindingCode::LongLine)) {
    (void)report(findings, FindingCode::LongLine, {},
                 "line of " + count_text(line.size()) + " bytes (longer than " + count_text(kLongLine) + ")");
  }
}

void CarefulLines::dispatch(SectionReader& r, std::string_view line) {
  const Section before = r.section;
  switch (r.section) {
    case Section::Outside: careful_outside(*this, r, line); break;
    case Section::ObjSense: careful_objsense(*this, r, line); break;
    case Section::Rows: careful_rows(*this, r, line); break;
    case Section::Columns:
    case Section::Rhs:
    case Section::Ranges:
    case Section::Bounds:
    case Section::Quadratic:
    case Section::Sos:
    case Section::Indicators: careful_record_line(*this, r, line); break;
    case Section::Unsupported: careful_unsupported(*this, r, line); break;
    case Section::EndData:
    case Section::Failed: break;
  }
  if (column_line.size() < r.state.num_col && findings.options.collect) column_line.resize(r.state.num_col, findings.lineno);
  if (r.header_taken && r.section != Section::Failed) careful_sections_header(*this, r, before, line);
  if (r.section == Section::Unsupported && before != Section::Unsupported) {
    const std::string_view word = classify_line(line).word;
    if (wants(findings, FindingCode::SkippedSection)) {
      (void)go_on(r, report(findings, FindingCode::SkippedSection, word,
                            "section " + std::string(word) + " is not supported: its records are skipped"),
                  FindingCode::SkippedSection, word);
    }
  }
  // A failure the steps found themselves (a size limit) is a finding too.
  if (r.section == Section::Failed && r.failure != FindingCode::FixedFormat && !findings.stop) {
    (void)report(findings, r.failure, r.failure_at, failure_reason(r.failure, r.failure_at, r.state.limits));
  }
}

bool CarefulLines::finish(SectionReader& r) { return end_checks(r); }

bool CarefulLines::end_checks(SectionReader& r) {
  ReaderState& state = r.state;
  if (!careful_sections_finish(*this, r)) return false;
  if (!is_valid_utf8(state.name)) {
    uint64_t bad = 0;
    const TextPosition where = locate(findings.text, static_cast<uint64_t>(state.name.data() - r.text_begin));
    const auto line_start = static_cast<uint64_t>(where.line.data() - r.text_begin);
    std::string message = invalid_utf8_message("model name", state.name, findings.text, line_start, bad);
    if (!report_at(findings, FindingCode::InvalidUtf8, bad, where.lineno, std::move(message))) return false;
  }
  if (findings.options.collect) {
    report_repeated_columns(*this, state);
    for (uint32_t j = 0; j < bound_line.size() && j < state.num_col; ++j) {
      if (bound_line[j] == 0) continue;
      const double lower = state.col_lower[j];
      const double upper = state.col_upper[j];
      const std::string name = quoted(state.col_names[j]);
      if (lower > upper) {
        (void)report_at(findings, FindingCode::BoundConflict, kNoOffset, bound_line[j],
                        "column " + name + ": lower bound " + number_text(lower) + " is above upper bound " +
                            number_text(upper));
      }
      const uint8_t kind = state.col_integrality[j];
      if ((kind == code(IntegralityKind::INTEGER) || kind == code(IntegralityKind::SEMI_INTEGER)) &&
          (is_fractional(lower) || is_fractional(upper))) {
        (void)report_at(findings, FindingCode::FractionalIntegerBound, kNoOffset, bound_line[j],
                        "integer column " + name + " has the fractional bound " +
                            number_text(is_fractional(lower) ? lower : upper));
      }
    }
  }
  return !findings.failed;
}

void CarefulLines::rows_begun(SectionReader& r, LineCursor& cursor) {
  (void)size_row_map(r, std::string_view(cursor.pos, static_cast<size_t>(cursor.end - cursor.pos)),
                     static_cast<size_t>(r.text_end - r.text_begin));
}

void CarefulLines::end_of_text(SectionReader& r) {
  (void)report_at(findings, FindingCode::NoEndData, static_cast<uint64_t>(r.text_end - r.text_begin),
                  findings.lineno == 0 ? 1 : findings.lineno, failure_reason(FindingCode::NoEndData, {}, r.state.limits));
  // A check lists what the whole text holds, ENDATA or not.
  if (findings.options.collect) (void)end_checks(r);
}

bool read_sections_careful(std::string_view text, ReaderState& state, Findings& findings, Format format,
                           bool detect_fixed, FixedTrigger& trigger, Error& failure) {
  SectionReader r(state, text);
  CarefulLines lines(findings, format, detect_fixed, trigger);
  // A strict finding kept while the format was open ends the read now.
  const bool ok = run_sections(text, r, lines) && !(findings.stop && !findings.options.collect);
  if (r.interrupted) {
    failure = interrupted();
    return false;
  }
  if (!ok && r.failure != FindingCode::None && r.failure != FindingCode::FixedFormat) failure = section_failure(r);
  return ok;
}

}  // namespace mopsel
