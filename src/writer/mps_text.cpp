#include "writer/mps_text.hpp"

#include <string_view>
#include <utility>
#include <vector>

#include "model/fault.hpp"
#include "writer/bound_rules.hpp"
#include "writer/buffer_sink.hpp"
#include "writer/file_sink.hpp"
#include "writer/number_format.hpp"
#include "writer/row_class.hpp"
#include "writer/set_names.hpp"

namespace mopsel {
namespace {

using Entry = std::pair<std::string_view, double>;

template <class Sink>
void put_number(Sink& sink, double value) {
  char text[kMaxNumberChars];
  sink.put({text, static_cast<size_t>(format_number(value, text) - text)});
}

inline bool is_integral(uint8_t code) noexcept {
  return code == static_cast<uint8_t>(IntegralityKind::INTEGER) ||
         code == static_cast<uint8_t>(IntegralityKind::SEMI_INTEGER);
}

// "    M{:07}  'MARKER'                 'INTORG'" (or 'INTEND').
template <class Sink>
void put_marker(Sink& sink, uint32_t counter, bool opening) {
  char digits[16];
  char* end = digits + sizeof digits;
  char* p = end;
  do {
    *--p = static_cast<char>('0' + counter % 10);
    counter /= 10;
  } while (counter != 0);
  while (end - p < 7) *--p = '0';
  sink.put("    M");
  sink.put({p, static_cast<size_t>(end - p)});
  sink.put(opening ? "  'MARKER'                 'INTORG'\n" : "  'MARKER'                 'INTEND'\n");
}

// "    {col}  {row}  {value}" for one pair, followed by a second pair when given.
template <class Sink>
void put_entry_line(Sink& sink, std::string_view column, const Entry* first, const Entry* second) {
  sink.put("    ");
  sink.put(column);
  sink.put("  ");
  sink.put(first->first);
  sink.put("  ");
  put_number(sink, first->second);
  if (second != nullptr) {
    sink.put("  ");
    sink.put(second->first);
    sink.put("  ");
    put_number(sink, second->second);
  }
  sink.put("\n");
}

template <class Sink>
bool write_rows(const ModelRecord& record, const std::vector<RowClass>& rows,
                std::string_view objective, Sink& sink) {
  sink.put("ROWS\n");
  sink.put(" N  ");
  sink.put(objective);
  sink.put("\n");
  for (size_t i = 0; i < rows.size(); ++i) {
    check_index(record.row_names.size(), i);
    sink.put(" ");
    sink.put({&kSenseLetters[static_cast<uint8_t>(rows[i].sense)], 1});
    sink.put("  ");
    sink.put(record.row_names[i]);
    sink.put("\n");
    if (!sink.ok()) return false;
  }
  return true;
}

template <class Sink>
bool write_columns(const ModelRecord& record, std::string_view objective, Sink& sink) {
  const SparseMatrixRecord& matrix = record.a_matrix;
  std::vector<Entry> entries;  // reused for every column
  uint32_t marker = 0;
  bool in_integral_run = false;

  sink.put("COLUMNS\n");
  for (size_t j = 0; j < record.num_col; ++j) {
    check_index(record.col_integrality.size(), j);
    const bool integral = is_integral(record.col_integrality[j]);
    if (integral != in_integral_run) {
      put_marker(sink, ++marker, integral);
      in_integral_run = integral;
      if (!sink.ok()) return false;
    }
    check_index(record.col_names.size(), j);
    check_index(record.col_cost.size(), j);
    check_index(matrix.start.size(), j);
    check_index(matrix.start.size(), j + 1);
    const std::string_view column = record.col_names[j];

    entries.clear();
    const double cost = record.col_cost[j];
    if (cost != 0.0) entries.emplace_back(objective, cost);  // NaN is kept
    for (size_t k = matrix.start[j]; k < matrix.start[j + 1]; ++k) {
      check_index(matrix.index.size(), k);
      const uint32_t row = matrix.index[k];
      check_index(matrix.value.size(), k);
      const double value = matrix.value[k];
      if (value == 0.0) continue;
      check_index(record.row_names.size(), row);
      entries.emplace_back(record.row_names[row], value);
    }

    if (entries.empty()) {
      // Every column appears in the section, even one without any entry.
      sink.put("    ");
      sink.put(column);
      sink.put("  ");
      sink.put(objective);
      sink.put("  0.000000000000e+00\n");
    } else {
      const size_t pairs = entries.size() / 2;
      for (size_t p = 0; p < pairs; ++p) put_entry_line(sink, column, &entries[2 * p], &entries[2 * p + 1]);
      if (entries.size() % 2 != 0) put_entry_line(sink, column, &entries.back(), nullptr);
    }
    if (!sink.ok()) return false;
  }
  if (in_integral_run) put_marker(sink, ++marker, false);
  return sink.ok();
}

// "    {set}  {row}  {value}"
template <class Sink>
void put_set_line(Sink& sink, std::string_view set, std::string_view row, double value) {
  sink.put("    ");
  sink.put(set);
  sink.put("  ");
  sink.put(row);
  sink.put("  ");
  put_number(sink, value);
  sink.put("\n");
}

template <class Sink>
bool write_rhs_and_ranges(const ModelRecord& record, const std::vector<RowClass>& rows,
                          std::string_view objective, const SetNames& sets, Sink& sink) {
  sink.put("RHS\n");
  if (record.obj_offset != 0.0) {
    // The objective row's right-hand side is the negated constant term.
    put_set_line(sink, sets.rhs, objective, -record.obj_offset);
    if (!sink.ok()) return false;
  }
  bool any_range = false;
  for (size_t i = 0; i < rows.size(); ++i) {
    any_range |= rows[i].has_range;
    if (rows[i].rhs == 0.0) continue;  // NaN is written
    check_index(record.row_names.size(), i);
    put_set_line(sink, sets.rhs, record.row_names[i], rows[i].rhs);
    if (!sink.ok()) return false;
  }
  if (!any_range) return true;
  sink.put("RANGES\n");
  for (size_t i = 0; i < rows.size(); ++i) {
    if (!rows[i].has_range) continue;
    check_index(record.row_names.size(), i);
    put_set_line(sink, sets.range, record.row_names[i], rows[i].range);
    if (!sink.ok()) return false;
  }
  return true;
}

template <class Sink>
bool write_bounds(const ModelRecord& record, std::string_view bound_set, Sink& sink) {
  sink.put("BOUNDS\n");
  for (size_t j = 0; j < record.num_col; ++j) {
    check_index(record.col_lower.size(), j);
    check_index(record.col_upper.size(), j);
    check_index(record.col_integrality.size(), j);
    const BoundLines lines =
        column_bound_lines(record.col_lower[j], record.col_upper[j], is_integral(record.col_integrality[j]));
    if (lines.count == 0) continue;
    check_index(record.col_names.size(), j);
    const std::string_view column = record.col_names[j];
    for (uint8_t n = 0; n < lines.count; ++n) {
      sink.put(bound_type_text(lines.line[n].type));  // " UP "
      sink.put(bound_set);
      sink.put("  ");
      sink.put(column);
      if (bound_has_value(lines.line[n].type)) {
        sink.put("  ");
        put_number(sink, lines.line[n].value);
      }
      sink.put("\n");
    }
    if (!sink.ok()) return false;
  }
  return true;
}

}  // namespace

template <class Sink>
void write_mps(const ModelRecord& record, Sink& sink) {
  const std::string_view objective =
      record.objective_name.empty() ? std::string_view("OBJ") : std::string_view(record.objective_name);

  sink.put("NAME          ");
  sink.put(record.name);
  sink.put("\n");
  if (!record.obj_sense_minimize) {
    sink.put("OBJSENSE\n");
    sink.put("    MAX\n");
  }
  if (!sink.ok()) return;

  const std::vector<RowClass> rows = classify_rows(record);
  if (!write_rows(record, rows, objective, sink)) return;
  if (!write_columns(record, objective, sink)) return;
  const SetNames sets = choose_set_names(record, objective);
  if (!write_rhs_and_ranges(record, rows, objective, sets, sink)) return;
  if (!write_bounds(record, sets.bound, sink)) return;
  sink.put("ENDATA\n");
}

template void write_mps<BufferSink>(const ModelRecord&, BufferSink&);
template void write_mps<FileSink>(const ModelRecord&, FileSink&);

}  // namespace mopsel
