// The careful reader's records of COLUMNS, RHS, RANGES and BOUNDS: each is inspected
// against what the reader holds before it, then applied by the default reader's steps.
#include <bit>
#include <cmath>
#include <cstdint>
#include <string>

#include "model/mps_codes.hpp"
#include "reader/careful/careful_state.hpp"
#include "reader/records/columns.hpp"
#include "reader/text/fixed_fields.hpp"
#include "reader/text/numbers.hpp"
#include "reader/records/bounds.hpp"
#include "reader/records/rhs_ranges.hpp"
#include "reader/text/utf8.hpp"

namespace mopsel::careful {

namespace {

// ---------------------------------------------------------------------------
// COLUMNS

bool is_marker_spelling(std::string_view field) noexcept {
  if (field.size() >= 2 && field.front() == '\'' && field.back() == '\'') field = field.substr(1, field.size() - 2);
  if (field.size() != 6) return false;
  for (size_t i = 0; i < 6; ++i) {
    if (ascii_upper(field[i]) != "MARKER"[i]) return false;
  }
  return true;
}

void careful_columns_record(CarefulLines& c, SectionReader& r, std::string_view line, const Fields& fields) {
  ReaderState& state = r.state;
  ColumnsScratch& scratch = r.columns;
  const auto& f = fields.at;
  if (is_marker_line(fields)) {
    if (marker_switch(fields) < 0 && wants(c.findings, FindingCode::Marker)) {
      (void)note(c, FindingCode::Marker, f[2], "marker " + quoted(f[2]) + " is neither 'INTORG' nor 'INTEND': ignored");
    }
    columns_record_line(r, fields, prepare_row_keys(state, fields));
    return;
  }
  if (fields.count >= 3 && is_marker_spelling(f[1]) && wants(c.findings, FindingCode::Marker)) {
    (void)note(c, FindingCode::Marker, f[1],
               std::string(f[1]) + " is not a marker (it is written 'MARKER', in capitals with apostrophes): the "
                                   "line makes a column " + quoted(f[0]));
  }
  const size_t pairs = column_pairs(fields);
  if (!c.fixed && record_looks_fixed(state.row_index, fields) && fixed_sign(c, r, span_of(f[0], f[1]))) return;
  const bool new_column = !scratch.column_open || !same_name(f[0], scratch.current_column);
  if (new_column) {
    if (!check_name(c, r, "column name", f[0])) return;
  }
  if (!c.fixed) {
    if (fields.count == 6 || more_fields_after(line, fields)) {
      extra_fields(c, "COLUMNS", f[5], "a column and two pairs");
    }
  }
  incomplete_pairs(c, "COLUMNS", fields, 1, 5);
  // Entries are checked against what the open column holds before this line. The row
  // keys are hashed once, for these checks and for applying the line.
  const RowKeys keys = prepare_row_keys(state, fields);
  double line_value[2] = {0.0, 0.0};
  int32_t line_row[2] = {0, 0};
  for (size_t i = 0; i < pairs; ++i) {
    const std::string_view row_name = f[1 + 2 * i];
    const std::string_view field = f[2 + 2 * i];
    if (row_name.empty()) continue;
    const int32_t* ref = find_key(state.row_index, keys.keys[i]);
    if (ref == nullptr) {
      note(state.notices, Notice::UnknownRow, row_name);
      if (!go_on(r, note(c, FindingCode::UnknownRow, row_name,
                          "unknown row " + quoted(row_name) + " in COLUMNS: the entry of column " + quoted(f[0]) +
                              " is ignored"),
                 FindingCode::UnknownRow, row_name)) {
        return;
      }
      line_row[i] = EXTRA_N_ROW;
      continue;
    }
    const double value = parse_number(field);
    if (!check_value(c, r, field, value, false)) return;
    line_row[i] = *ref;
    line_value[i] = value;
    if (value == 0.0 || *ref == EXTRA_N_ROW) continue;
    double earlier = 0.0;
    if (i == 1 && line_row[0] == *ref) earlier = line_value[0];
    if (earlier == 0.0 && !new_column) {
      earlier = *ref == OBJECTIVE_ROW ? scratch.pending_cost : scratch.pending_value[static_cast<uint32_t>(*ref)];
    }
    if (earlier != 0.0 && wants(c.findings, FindingCode::DuplicateEntry)) {
      const std::string what = *ref == OBJECTIVE_ROW ? "objective coefficient for column " + quoted(f[0])
                                                     : "entry for column " + quoted(f[0]) + " in row " + quoted(row_name);
      if (!go_on(r, note(c, FindingCode::DuplicateEntry, field,
                          "repeated " + what + ": the first value, " + number_text(earlier) + ", is kept"),
                 FindingCode::DuplicateEntry, field)) {
        return;
      }
    }
  }
  columns_record_line(r, fields, keys);
}

// ---------------------------------------------------------------------------
// RHS and RANGES

// One (row, value) pair of an RHS or RANGES record, before it is applied. False
// when the read ends here.
bool inspect_rhs_pair(CarefulLines& c, SectionReader& r, std::string_view row_name, std::string_view field,
                      uint32_t set, std::string_view set_name) {
  ReaderState& state = r.state;
  const bool ranges = r.section == Section::Ranges;
  const std::string_view section = ranges ? "RANGES" : "RHS";
  const int32_t* ref = find_name(state.row_index, row_name);
  if (ref == nullptr) {
    note(state.notices, Notice::UnknownRow, row_name);
    return go_on(r, note(c, FindingCode::UnknownRow, row_name,
                         "unknown row " + quoted(row_name) + " in " + std::string(section) + ": the value is ignored"),
                 FindingCode::UnknownRow, row_name);
  }
  const double value = parse_number(field);
  if (!check_value(c, r, field, value, true)) return false;
  const std::string in_set = set_name.empty() ? std::string() : " in set " + quoted(set_name);
  if (*ref == EXTRA_N_ROW || (ranges && *ref == OBJECTIVE_ROW)) {
    if (wants(c.findings, FindingCode::IgnoredEntry)) {
      (void)note(c, FindingCode::IgnoredEntry, row_name,
                 std::string(section) + " entry for the N row " + quoted(row_name) + " has no effect");
    }
    return true;
  }
  if (*ref == OBJECTIVE_ROW) {
    if (!r.rhs.objective_seen) {
      if (wants(c.findings, FindingCode::ObjectiveOffset)) {
        (void)note(c, FindingCode::ObjectiveOffset, field,
                   "the RHS of the objective row " + quoted(row_name) + " sets the objective offset to " +
                       number_text(-value));
      }
      c.objective_rhs_set = set + 1;
    } else if (c.objective_rhs_set == set + 1 && wants(c.findings, FindingCode::DuplicateRhs)) {
      (void)note(c, FindingCode::DuplicateRhs, field,
                 "repeated RHS for the objective row " + quoted(row_name) + in_set + ": the first value, " +
                     number_text(-state.obj_offset) + ", is kept");
    }
    return true;
  }
  const auto row = static_cast<uint32_t>(*ref);
  const auto type = static_cast<RowType>(state.row_types[row]);
  std::vector<uint32_t>& sets = ranges ? c.range_set : c.rhs_set;
  if (sets.size() < state.num_row) sets.resize(state.num_row, 0);
  if (ranges) {
    if (sets[row] == set + 1 && wants(c.findings, FindingCode::DuplicateRange)) {
      (void)note(c, FindingCode::DuplicateRange, field,
                 "repeated RANGES entry for row " + quoted(row_name) + in_set +
                     (type == RowType::E ? std::string(": an E row takes each entry on its bounds as they are then")
                                         : ": the later value, " + number_text(value) + ", decides"));
    }
    sets[row] = set + 1;
    return true;
  }
  const bool seen_here = r.rhs.seen[row] != 0;  // within this RHS section the first value is kept
  if (sets[row] == set + 1 && wants(c.findings, FindingCode::DuplicateRhs)) {
    const double earlier = type == RowType::G ? state.row_lower[row] : state.row_upper[row];
    (void)note(c, FindingCode::DuplicateRhs, field,
               "repeated RHS for row " + quoted(row_name) + in_set +
                   (seen_here ? ": the first value, " + number_text(earlier) + ", is kept"
                              : ": the later value, " + number_text(value) + ", replaces " + number_text(earlier)));
  }
  if (!seen_here) sets[row] = set + 1;
  return true;
}

// Inspects and applies the pairs one by one, so that each sees what the ones before
// it did.
void careful_rhs_pairs(CarefulLines& c, SectionReader& r, const Fields& fields, size_t first, uint32_t set,
                       std::string_view set_name) {
  for (size_t k = first; k + 1 < fields.count; k += 2) {
    if (fields.at[k].empty()) continue;
    Fields pair;
    pair.at[0] = fields.at[k];
    pair.at[1] = fields.at[k + 1];
    pair.count = 2;
    if (!inspect_rhs_pair(c, r, pair.at[0], pair.at[1], set, set_name)) return;
    if (r.section == Section::Ranges) {
      apply_range_pairs(r.state, pair, 0);
    } else {
      apply_rhs_pairs(r.state, r.rhs, pair, 0);
    }
  }
}

void careful_rhs_record(CarefulLines& c, SectionReader& r, std::string_view line, const Fields& fields) {
  ReaderState& state = r.state;
  const auto& f = fields.at;
  const bool ranges = r.section == Section::Ranges;
  const std::string_view section = ranges ? "RANGES" : "RHS";
  const size_t first = c.fixed ? 1 : set_record_start(state, fields);
  if (!c.fixed && first == 1 && record_looks_fixed(state.row_index, fields) &&
      fixed_sign(c, r, span_of(f[0], f[1]))) {
    return;
  }
  const std::string_view set_name = first == 1 ? f[0] : std::string_view();
  const uint32_t set = set_id(c, ranges ? kRangesSet : kRhsSet, set_name);
  if (set > 1 && c.findings.options.sets == Sets::First) return;  // a later set: passed over
  if (!c.fixed) {
    const bool extra = first == 1 ? fields.count == kMaxFields || more_fields_after(line, fields)
                                  : more_fields_after(line, fields);
    if (extra) extra_fields(c, section, f[kMaxFields - 1], first == 1 ? "a set name and two pairs" : "three pairs");
  }
  if (fields.count == first) {
    incomplete(c, f[0], std::string(section) + " record without a row and a value is ignored");
  } else {
    incomplete_pairs(c, section, fields, first, first == 0 ? kMaxFields : 5);
  }
  careful_rhs_pairs(c, r, fields, first, set, set_name);
}

// ---------------------------------------------------------------------------
// BOUNDS

struct SidePair {
  double lower;
  double upper;
};

// The duplicate-bound message: which sides the record repeats (bit 0 the lower, bit 1
// the upper), and what it does to each side it sets, with the values before and after.
std::string repeated_bound_message(std::string_view column, std::string_view set_name, BoundType type,
                                   unsigned repeated, SidePair before, SidePair after) {
  static constexpr const char* kSide[] = {"lower", "upper"};
  const double was[] = {before.lower, before.upper};
  const double now[] = {after.lower, after.upper};
  std::string message = "repeated ";
  message += repeated == 3 ? "lower and upper bounds" : std::string(kSide[repeated == 2 ? 1 : 0]) + " bound";
  message += " for column " + quoted(column) + (set_name.empty() ? std::string() : " in set " + quoted(set_name)) +
             ": the later record (" + std::string(bound_type_code(type)) + ") ";
  const unsigned sides = bound_sides(type);
  bool first = true;
  // The repeated sides first, then a side the record sets for the first time.
  for (const unsigned pass : {1u, 0u}) {
    for (unsigned side = 0; side < 2; ++side) {
      const unsigned bit = 1u << side;
      if ((sides & bit) == 0 || ((repeated & bit) != 0) != (pass == 1)) continue;
      const bool same = std::bit_cast<uint64_t>(was[side]) == std::bit_cast<uint64_t>(now[side]);
      if (!first) message += " and ";
      first = false;
      message += same ? "sets the " + std::string(kSide[side]) + " bound to " + number_text(now[side]) + " again"
                      : "makes the " + std::string(kSide[side]) + " bound " + number_text(now[side]) + " instead of " +
                            number_text(was[side]);
    }
  }
  return message + " (repeated=\"first\" keeps the first record)";
}

void careful_bound_record(CarefulLines& c, SectionReader& r, std::string_view line, const Fields& fields) {
  ReaderState& state = r.state;
  const auto& f = fields.at;
  BoundRecord record;
  std::string_view set_name;
  if (c.fixed) {
    record.type = f[0];
    record.column_name = f[2];
    record.value = f[3];
    record.has_value = !f[3].empty();
    set_name = f[1];
    find_bound_column(state, record);
  } else {
    if (fields.count <= 1) {
      incomplete(c, f[0], "BOUNDS record with only a type is ignored");
      return;
    }
    record = bound_layout(state, fields);
    const bool with_set = fields.count >= 3 && record.column_name.data() == f[2].data();
    if (with_set) set_name = f[1];
    if (with_set && !record.known && bounds_record_looks_fixed(fields, [&](std::string_view name) {
          uint32_t column;
          return find_bound_column(state, name, column);
        }) && fixed_sign(c, r, span_of(f[1], f[2]))) {
      return;
    }
    const size_t uses = with_set ? 4 : 3;
    if (fields.count > uses || more_fields_after(line, fields)) {
      extra_fields(c, "BOUNDS", f[fields.count > uses ? uses : kMaxFields - 1],
                   with_set ? "a type, a set name, a column and a value" : "a type, a column and a value");
    }
  }
  BoundType type;
  if (!bound_type_of(record.type, type)) {
    if (fail_at_misspelt(c, r)) return;
    (void)go_on(r, note(c, FindingCode::UnknownBoundType, record.type,
                        failure_reason(FindingCode::UnknownBoundType, record.type, state.limits)),
                FindingCode::UnknownBoundType, record.type);
    return;
  }
  const uint32_t set = set_id(c, kBoundsSet, set_name);
  const ReadOptions& options = c.findings.options;
  if (set > 1 && options.sets == Sets::First) return;  // a later set: passed over
  if (!record.known) {
    note(state.notices, Notice::UnknownColumn, record.column_name);
    if (!go_on(r, note(c, FindingCode::UnknownColumn, record.column_name,
                        "unknown column " + quoted(record.column_name) + " in BOUNDS: a new column is made"),
               FindingCode::UnknownColumn, record.column_name)) {
      return;
    }
    if (!check_name(c, r, "column name", record.column_name)) return;
  }
  double value = 0.0;
  if (bound_takes_value(type)) {
    if (!record.has_value) {
      incomplete(c, record.type, std::string(bound_type_code(type)) + " bound for column " +
                                     quoted(record.column_name) + " has no value: read as 0");
    } else {
      value = parse_number(record.value);
      if (!check_value(c, r, record.value, value, true)) return;
    }
  } else if (record.has_value && !(type == BoundType::BV && parse_number(record.value) == 1.0) &&
             wants(c.findings, FindingCode::ExtraFields)) {
    // Writers commonly put 1 after BV; that value says nothing new.
    (void)note(c, FindingCode::ExtraFields, record.value,
               std::string(bound_type_code(type)) + " bound takes no value: " + quoted(record.value) + " is ignored");
  }
  const size_t n = state.num_col + (record.known ? 0 : 1);
  if (c.bound_line.size() < n) {
    c.bound_line.resize(n, 0);
    c.lower_set.resize(n, 0);
    c.upper_set.resize(n, 0);
  }
  const uint32_t j = record.known ? record.column : state.num_col;
  const unsigned sides = bound_sides(type);
  // With repeated="first", a record that would set a side an earlier record set (in
  // any set) is passed over whole.
  if (record.known && options.repeated == Repeated::First &&
      (((sides & 1) != 0 && c.lower_set[j] != 0) || ((sides & 2) != 0 && c.upper_set[j] != 0))) {
    return;
  }
  const unsigned repeated = record.known ? ((c.lower_set[j] == set + 1 ? 1u : 0u) | (c.upper_set[j] == set + 1 ? 2u : 0u)) & sides : 0u;
  const double lower_before = record.known ? state.col_lower[j] : 0.0;
  const double upper_before = record.known ? state.col_upper[j] : 0.0;
  if (sides & 1) c.lower_set[j] = set + 1;
  if (sides & 2) c.upper_set[j] = set + 1;
  c.bound_line[j] = c.findings.lineno;
  if (!apply_bound_record(state, record)) {
    fail(r, FindingCode::TooManyColumns, record.column_name);
    return;
  }
  if (repeated != 0 && wants(c.findings, FindingCode::DuplicateBound)) {
    (void)note(c, FindingCode::DuplicateBound, record.type,
               repeated_bound_message(record.column_name, set_name, type, repeated, {lower_before, upper_before},
                                      {state.col_lower[j], state.col_upper[j]}));
  }
}

}  // namespace

// ---------------------------------------------------------------------------
// Record sections: COLUMNS, RHS, RANGES, BOUNDS

void careful_record_line(CarefulLines& c, SectionReader& r, std::string_view line) {
  // Whether the line is a header is decided as in free format, whatever the format; a
  // line that starts with a blank is a record, which fixed format cuts by column.
  Fields& fields = r.fields;
  const bool indented = line.front() == ' ' || line.front() == '\t';
  if (!(c.fixed && indented)) {
    const bool trims = r.section != Section::Columns && r.section != Section::Quadratic;
    const std::string_view split_from = trims ? trim_unicode(line) : line;
    split_fields_into(split_from, kMaxFields, r.text_end, fields);
    if (fields.count == 0) return;
    const HeaderKind kind = header_or_record(r, line, fields);
    if (kind != HeaderKind::Data) {
      take_header(r, kind, fields.at[0], header_argument(fields));
      return;
    }
    report_misspelt(c, r, line);
  }
  if (r.section == Section::Quadratic || r.section == Section::Sos || r.section == Section::Indicators) {
    careful_extra_record(c, r, line, fields);
    return;
  }
  if (c.fixed) {
    const size_t gap = fixed_gap_position(line);
    if (gap != std::string_view::npos && wants(c.findings, FindingCode::MisalignedField)) {
      (void)note(c, FindingCode::MisalignedField, line.substr(gap, 1),
                 "text in column " + std::to_string(gap + 1) +
                     ", between the fixed fields: this line does not follow the fixed columns");
    }
    c.fields = fixed_record(fixed_layout_of(r.section), line);
    if (c.fields.count == 0) {
      incomplete(c, line, "record without the name it needs in fixed columns is ignored");
      return;
    }
  }
  const Fields& record = c.fixed ? c.fields : fields;
  if (!check_unicode_blanks(c, r, record)) return;
  switch (r.section) {
    case Section::Columns: careful_columns_record(c, r, line, record); break;
    case Section::Rhs:
    case Section::Ranges: careful_rhs_record(c, r, line, record); break;
    case Section::Bounds: careful_bound_record(c, r, line, record); break;
    default: break;
  }
}

}  // namespace mopsel::careful
