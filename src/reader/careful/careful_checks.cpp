// The checks the careful reader's steps share: the marks of a line, Unicode blanks in
// fields, names, values, records that lack or carry too many fields, set names, and
// the fields of fixed-format records.
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "reader/careful/careful_state.hpp"
#include "reader/text/fixed_fields.hpp"
#include "reader/text/numbers.hpp"
#include "reader/text/utf8.hpp"

namespace mopsel::careful {

namespace {

constexpr std::string_view kFixedAdvice =
    " (names with blanks? a fixed-format file reads with format=\"fixed\")";

constexpr std::string_view kSetSection[] = {"RHS", "RANGES", "BOUNDS"};

}  // namespace

// Which bytes a line holds that call for a closer look: bit 0 a byte >= 0x80, bit 1 a
// vertical tab, bit 2 a carriage return. Most lines hold none: they are passed 16
// bytes at a time (where the text allows loading them), and only a line that holds
// one is looked at byte by byte.
unsigned line_marks(std::string_view line, const char* readable) noexcept {
  const char* p = line.data();
  const char* const end = p + line.size();
#if defined(__SSE2__)
  const __m128i vtab = _mm_set1_epi8('\v');
  const __m128i cr = _mm_set1_epi8('\r');
  for (; p < end && readable - p >= 16; p += 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i marked = _mm_or_si128(v, _mm_or_si128(_mm_cmpeq_epi8(v, vtab), _mm_cmpeq_epi8(v, cr)));
    const ptrdiff_t left = end - p;
    const uint32_t valid = left >= 16 ? 0xFFFFu : (1u << left) - 1;
    if ((static_cast<uint32_t>(_mm_movemask_epi8(marked)) & valid) != 0) break;
  }
  if (p >= end) return 0;
#else
  (void)readable;
#endif
  unsigned marks = 0;
  for (p = line.data(); p < end; ++p) {
    const auto b = static_cast<unsigned char>(*p);
    marks |= (b >= 0x80 ? 1u : 0u) | (b == '\v' ? 2u : 0u) | (b == '\r' ? 4u : 0u);
  }
  return marks;
}

// Stops the read where a finding ends it (report returned false).
bool go_on(SectionReader& r, bool reported_ok, FindingCode code, std::string_view at) noexcept {
  if (!reported_ok && r.section != Section::Failed) fail(r, code, at);
  return reported_ok;
}

bool note(CarefulLines& c, FindingCode code, std::string_view at, std::string message) {
  return report(c.findings, code, at, std::move(message));
}



// A Unicode blank that is not a field separator, inside one of the fields: it glues
// two words into one field, or makes a name or number that is not meant.
bool find_unicode_blanks(CarefulLines& c, SectionReader& r, const Fields& fields) {
  if (!wants(c.findings, FindingCode::UnicodeBlank)) return true;
  for (size_t i = 0; i < fields.count; ++i) {
    const std::string_view field = fields.at[i];
    const char* p = field.data();
    const char* const end = p + field.size();
    while (p != end) {
      const Utf8Char ch = decode_utf8(p, end);
      const uint32_t length = ch.length == 0 ? 1 : ch.length;
      if (ch.length != 0 && is_unicode_space(ch.code) && !is_field_separator(*p)) {
        char code[16];
        std::snprintf(code, sizeof code, "U+%04X", static_cast<unsigned>(ch.code));
        const uint64_t column = static_cast<uint64_t>(p - r.text_begin) - c.findings.line_start + 1;
        if (!go_on(r, note(c, FindingCode::UnicodeBlank, {p, length},
                           std::string(code) + " at column " + std::to_string(column) +
                               " is not a field separator: it stays inside the field " + quoted(field)),
                   FindingCode::UnicodeBlank, {p, length})) {
          return false;
        }
        break;  // one report per field
      }
      p += length;
    }
  }
  return true;
}


// A name that will be part of the model must be valid UTF-8.
bool check_name(CarefulLines& c, SectionReader& r, std::string_view what, std::string_view name) {
  if (is_valid_utf8(name)) return true;
  uint64_t bad = 0;
  std::string message = invalid_utf8_message(what, name, c.findings.text, c.findings.line_start, bad);
  const std::string_view at(r.text_begin + bad, 1);
  return go_on(r, report(c.findings, FindingCode::InvalidUtf8, at, std::move(message)), FindingCode::InvalidUtf8,
               at);
}

// A value field: malformed, NaN, very large. `what` says whose value it is.
bool inspect_value(CarefulLines& c, SectionReader& r, std::string_view field, double value, bool large_is_news) {
  if (value == 0.0 && !is_mps_number(field)) {
    if (field.empty()) return true;  // a missing value is reported with the record
    if (!wants(c.findings, FindingCode::BadNumber)) return true;
    return go_on(r, note(c, FindingCode::BadNumber, field, bad_number_message(field)), FindingCode::BadNumber,
                 field);
  }
  if (std::isnan(value)) {
    if (wants(c.findings, FindingCode::NanValue)) {
      (void)note(c, FindingCode::NanValue, field, "value " + quoted(field) + " is NaN");
    }
  } else if (large_is_news && std::isfinite(value) && std::fabs(value) >= kLargeValue &&
             wants(c.findings, FindingCode::LargeValue)) {
    (void)note(c, FindingCode::LargeValue, field,
               "value " + number_text(value) + " is kept as a finite number (some solvers take it for infinity)");
  }
  return true;
}


// Fields beyond the sixth, which splitting does not keep.
bool more_fields_after(std::string_view line, const Fields& fields) noexcept {
  if (fields.count < kMaxFields) return false;
  const std::string_view last = fields.at[kMaxFields - 1];
  const char* p = last.data() + last.size();
  const char* const end = line.data() + line.size();
  for (; p < end; ++p) {
    if (!is_field_separator(*p)) return true;
  }
  return false;
}

void extra_fields(CarefulLines& c, std::string_view section, std::string_view at, std::string_view uses) {
  if (!wants(c.findings, FindingCode::ExtraFields)) return;
  std::string message = std::string(section) + " record with more fields than it uses (" + std::string(uses) +
                        "): the rest of the line is ignored";
  if (!c.fixed && !c.detect_fixed) message += kFixedAdvice;
  (void)note(c, FindingCode::ExtraFields, at, std::move(message));
}

void incomplete(CarefulLines& c, std::string_view at, std::string message) {
  if (wants(c.findings, FindingCode::IncompleteRecord)) (void)note(c, FindingCode::IncompleteRecord, at, std::move(message));
}

// The id of a set name (0 for a record without one); a further named set of the same
// section kind is reported once.
uint32_t set_id(CarefulLines& c, SetKind kind, std::string_view name) {
  if (name.empty()) return 0;
  SetTrack& track = c.sets[kind];
  if (const uint32_t* id = find_name(track.ids, name)) return *id;
  const uint32_t id = track.next++;
  assign_name(track.ids, name, id);
  if (id == 1) {
    track.first = name;
  } else if (wants(c.findings, FindingCode::SeveralSets)) {
    static constexpr std::string_view kHow[] = {
        "every set applies; within one RHS section the first value for a row is kept",
        "every set applies, each record on the row's bounds as they are then",
        "every set applies; a later bound replaces an earlier one (repeated=\"first\" keeps the first)"};
    (void)note(c, FindingCode::SeveralSets, name,
               std::string(kSetSection[kind]) + " set " + quoted(name) + " besides " + quoted(track.first) + ": " +
                   std::string(kHow[kind]) + "; sets=\"first\" applies only " + quoted(track.first));
  }
  return id;
}

// The (row, value) pairs of an RHS, RANGES or COLUMNS record, among the fields up to
// `end` that the section uses, that lack a half.
void find_incomplete_pairs(CarefulLines& c, std::string_view section, const Fields& fields, size_t first,
                           size_t used) {
  for (size_t k = first; k < used; k += 2) {
    const std::string_view name = fields.at[k];
    const std::string_view value = k + 1 < fields.count ? fields.at[k + 1] : std::string_view();
    if (!name.empty() && value.empty()) {
      incomplete(c, name, std::string(section) + " record: row " + quoted(name) + " has no value" +
                              (c.fixed ? ": read as 0" : ": the row is ignored"));
    } else if (name.empty() && !value.empty()) {
      incomplete(c, value, std::string(section) + " record: value " + quoted(value) + " has no row: ignored");
    }
  }
}

bool fixed_sign(CarefulLines& c, SectionReader& r, std::string_view name) {
  if (detecting(c)) {
    needs_fixed(c, r, name);
    return true;
  }
  if (r.state.notices.fixed_signs) note(r.state.notices, Notice::FixedFormat, name);
  return false;
}

namespace {

std::string_view section_word(Section section) noexcept {
  switch (section) {
    case Section::Rows: return "ROWS";
    case Section::Columns: return "COLUMNS";
    case Section::Rhs: return "RHS";
    case Section::Ranges: return "RANGES";
    case Section::Bounds: return "BOUNDS";
    default: return "section";
  }
}

}  // namespace

void report_misspelt(CarefulLines& c, const SectionReader& r, std::string_view line) {
  const std::string_view word = r.misspelt;
  if (word.empty() || word.data() < line.data() || word.data() >= line.data() + line.size()) return;
  if (!wants(c.findings, FindingCode::UnknownSection)) return;
  (void)note(c, FindingCode::UnknownSection, word,
             quoted(word) + " in column 1 is no section keyword: the line is read as a " +
                 std::string(section_word(r.section)) + " record (a misspelt section header?)");
}

bool fail_at_misspelt(CarefulLines& c, SectionReader& r) {
  Findings& findings = c.findings;
  if (r.misspelt.empty() || findings.options.collect) return false;
  findings.failed = true;
  if (!findings.stop) {
    const auto offset = static_cast<uint64_t>(r.misspelt.data() - r.text_begin);
    // Line 0: worked out from the offset with the failure's line.
    findings.stop = Finding{FindingCode::UnknownSection, offset, 0,
                            failure_reason(FindingCode::UnknownSection, r.misspelt, r.state.limits)};
  }
  fail(r, FindingCode::UnknownSection, r.misspelt);
  return true;
}

// Stops a free read that turns out to need fixed columns.
void needs_fixed(CarefulLines& c, SectionReader& r, std::string_view name) {
  c.trigger.found = true;
  c.trigger.offset = static_cast<uint64_t>(name.data() - r.text_begin);
  c.trigger.lineno = c.findings.lineno;
  c.trigger.message = quoted(name) + " looks like a name with a blank inside: the text is read in fixed columns";
  fail(r, FindingCode::FixedFormat, name);
}

}  // namespace mopsel::careful
