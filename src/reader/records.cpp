#include "reader/records.hpp"

#include <cmath>
#include <limits>

#include "model/model_record.hpp"
#include "model/mps_codes.hpp"
#include "reader/numbers.hpp"

namespace mopsel {

bool pairs_are_numbers(const Fields& fields, size_t first) noexcept {
  if (first + 1 >= fields.count) return false;
  for (size_t k = first + 1; k < fields.count; k += 2) {
    if (!is_mps_number(fields.at[k])) return false;
  }
  return true;
}

namespace {

bool names_a_row(ReaderState& state, const Fields& fields) noexcept {
  return fields.count > 0 && find_name_memo(state.row_index, state.row_miss, fields.at[0]) != nullptr;
}

}  // namespace

size_t set_record_start(ReaderState& state, const Fields& fields) noexcept {
  return set_record_start_with(fields, [&] { return names_a_row(state, fields); });
}

bool is_set_record(ReaderState& state, const Fields& fields) noexcept {
  return (names_a_row(state, fields) && pairs_are_numbers(fields, 0)) || pairs_are_numbers(fields, 1);
}

void apply_range(ReaderState& state, const Fields& fields) noexcept {
  apply_range_pairs(state, fields, set_record_start(state, fields));
}

void apply_range_pairs(ReaderState& state, const Fields& fields, size_t first) noexcept {
  const auto& f = fields.at;
  const size_t n = fields.count;
  for (size_t k = first; k + 1 < n; k += 2) {
    const int32_t* ref = find_name(state.row_index, f[k]);
    if (ref == nullptr || *ref < 0) continue;  // unknown, or an N row: no effect
    const auto r = static_cast<uint32_t>(*ref);
    const double range = parse_number(f[k + 1]);
    const double size = std::fabs(range);
    switch (static_cast<RowType>(state.row_types[r])) {
      case RowType::L: state.row_lower[r] = state.row_upper[r] - size; break;
      case RowType::G: state.row_upper[r] = state.row_lower[r] + size; break;
      case RowType::E:
        // NaN and -0.0 take the second branch.
        if (range < 0) {
          state.row_lower[r] = state.row_upper[r] - size;
        } else {
          state.row_upper[r] = state.row_lower[r] + size;
        }
        break;
      case RowType::N: break;  // never stored: N rows are not constraint rows
    }
  }
}

namespace {

// The column named `name`, as col_index gives it. BOUNDS records usually follow
// the column order, so the previous record's column and the one after it are
// tried first; while every entered column has a name of its own (the map holds
// as many names as it has columns) a name match there is the map's answer.
bool find_column(ReaderState& state, std::string_view name, uint32_t& column) {
  ColumnIndex& index = state.col_index;
  sync_columns(index, state.col_names);
  MissMemo& memo = state.col_miss;
  if (memo.count == index.count && same_name(memo.name, name)) return false;
  if (entered_names_distinct(index)) {
    const uint32_t last = state.last_bound_column;
    for (uint32_t j = last; j < state.num_col && j <= last + 1; ++j) {
      if (same_name(state.col_names[j], name)) {
        column = j;
        return true;
      }
    }
  }
  if (find_column_index(index, state.col_names, name, column)) return true;
  memo = {name, index.count};
  return false;
}

// Inlined into apply_bound, the default reader's path, so that the laid-out record
// never goes through memory there.
[[gnu::always_inline]] inline BoundRecord layout_of(ReaderState& state, const Fields& fields) {
  return bound_layout_with(fields, [&](std::string_view name, uint32_t& column) {
    return find_column(state, name, column);
  });
}

[[gnu::always_inline]] inline void set_bound(ReaderState& state, uint32_t j, BoundType type, double value) noexcept {
  state.last_bound_column = j;
  constexpr double inf = std::numeric_limits<double>::infinity();
  double& lower = state.col_lower[j];
  double& upper = state.col_upper[j];
  uint8_t& integrality = state.col_integrality[j];
  state.col_default_binary[j] = 0;
  switch (type) {
    case BoundType::LO: lower = value; break;
    case BoundType::UP: upper = value; break;
    case BoundType::FX: lower = upper = value; break;
    case BoundType::FR:
      lower = -inf;
      upper = inf;
      break;
    case BoundType::MI: lower = -inf; break;
    case BoundType::PL: upper = inf; break;
    case BoundType::BV:
      lower = 0.0;
      upper = 1.0;
      integrality = code(IntegralityKind::INTEGER);
      state.col_default_binary[j] = 1;
      break;
    case BoundType::LI:
      lower = value;
      integrality = code(IntegralityKind::INTEGER);
      break;
    case BoundType::UI:
      upper = value;
      integrality = code(IntegralityKind::INTEGER);
      break;
    case BoundType::SC:
      upper = value;
      integrality = code(IntegralityKind::SEMI_CONTINUOUS);
      break;
    case BoundType::SI:
      upper = value;
      integrality = code(IntegralityKind::SEMI_INTEGER);
      break;
  }
}

[[gnu::always_inline]] inline bool apply_laid_out(ReaderState& state, const BoundRecord& record) {
  uint32_t j = record.column;
  if (!record.known) {
    if (!append_column(state, record.column_name, code(IntegralityKind::CONTINUOUS), 0)) return false;
    j = state.num_col - 1;  // entered into col_index by the next lookup
  }

  BoundType type;
  if (!bound_type_of(record.type, type)) return false;
  set_bound(state, j, type, bound_value(record, type));
  return true;
}

}  // namespace

bool set_name_reading_fits(const Fields& fields) noexcept {
  BoundType type;
  if (!bound_type_of(fields.at[0], type)) return false;
  if (fields.count >= 4) return is_mps_number(fields.at[3]);
  return !bound_takes_value(type);
}

BoundRecord bound_layout(ReaderState& state, const Fields& fields) { return layout_of(state, fields); }

void find_bound_column(ReaderState& state, BoundRecord& record) {
  record.known = find_column(state, record.column_name, record.column);
}

void set_column_bound(ReaderState& state, uint32_t j, BoundType type, double value) noexcept {
  set_bound(state, j, type, value);
}

bool apply_bound_record(ReaderState& state, const BoundRecord& record) { return apply_laid_out(state, record); }

bool apply_bound(ReaderState& state, const Fields& fields) {
  if (fields.count <= 1) return true;
  return apply_laid_out(state, layout_of(state, fields));
}

}  // namespace mopsel
