#include "reader/records/bounds.hpp"

#include <limits>

#include "model/model_record.hpp"
#include "model/mps_codes.hpp"
#include "reader/text/numbers.hpp"

namespace mopsel {

namespace {

[[gnu::always_inline]] inline bool find_column(ReaderState& state, std::string_view name, uint32_t& column) {
  sync_columns(state.col_index, state.col_names);
  return find_column_near(state.col_index, state.col_names, state.num_col, state.last_bound_column, state.col_miss,
                          name, column);
}

// Inlined into apply_bound, the default reader's path, so that the laid-out record
// never goes through memory there.
[[gnu::always_inline]] inline BoundRecord layout_of(ReaderState& state, const Fields& fields) {
  return bound_layout_with(fields, [&](std::string_view name, uint32_t& column) {
    return find_column(state, name, column);
  });
}

// One side of a column as `side` of a bound rule sets it (`now` kept, `value` taken).
template <BoundSide side>
[[gnu::always_inline]] inline void set_side(double& bound, double value) noexcept {
  constexpr double inf = std::numeric_limits<double>::infinity();
  if constexpr (side == BoundSide::Value) bound = value;
  if constexpr (side == BoundSide::MinusInfinity) bound = -inf;
  if constexpr (side == BoundSide::PlusInfinity) bound = inf;
  if constexpr (side == BoundSide::Zero) bound = 0.0;
  if constexpr (side == BoundSide::One) bound = 1.0;
}

// Column j as a record of `type` leaves it: the row of kBoundRules, applied with
// what it says known when compiling, so that each type costs what a hand-written
// case would.
template <BoundType type>
[[gnu::always_inline]] inline void set_bound_as(ReaderState& state, uint32_t j, double value) noexcept {
  constexpr BoundRule rule = bound_rule(type);
  set_side<rule.lower>(state.col_lower[j], value);
  set_side<rule.upper>(state.col_upper[j], value);
  if constexpr (rule.kind != kKeepKind) state.col_integrality[j] = static_cast<uint8_t>(rule.kind);
  state.col_default_binary[j] = rule.binary_default ? 1 : 0;
}

[[gnu::always_inline]] inline void set_bound(ReaderState& state, uint32_t j, BoundType type, double value) noexcept {
  state.last_bound_column = j;
  switch (type) {
    case BoundType::LO: set_bound_as<BoundType::LO>(state, j, value); break;
    case BoundType::UP: set_bound_as<BoundType::UP>(state, j, value); break;
    case BoundType::FX: set_bound_as<BoundType::FX>(state, j, value); break;
    case BoundType::FR: set_bound_as<BoundType::FR>(state, j, value); break;
    case BoundType::MI: set_bound_as<BoundType::MI>(state, j, value); break;
    case BoundType::PL: set_bound_as<BoundType::PL>(state, j, value); break;
    case BoundType::BV: set_bound_as<BoundType::BV>(state, j, value); break;
    case BoundType::LI: set_bound_as<BoundType::LI>(state, j, value); break;
    case BoundType::UI: set_bound_as<BoundType::UI>(state, j, value); break;
    case BoundType::SC: set_bound_as<BoundType::SC>(state, j, value); break;
    case BoundType::SI: set_bound_as<BoundType::SI>(state, j, value); break;
  }
}

[[gnu::always_inline]] inline bool apply_laid_out(ReaderState& state, const BoundRecord& record) {
  uint32_t j = record.column;
  if (!record.known) [[unlikely]] {
    state.notices.recheck = true;
    if (!append_column(state, record.column_name, code(IntegralityKind::CONTINUOUS), 0)) return false;
    j = state.num_col - 1;  // entered into col_index by the next lookup
  }

  BoundType type;
  if (!bound_type_of(record.type, type)) return false;
  set_bound(state, j, type, bound_value(record, type, state.notices));
  return true;
}

}  // namespace

bool set_name_reading_fits(const Fields& fields) noexcept {
  BoundType type;
  if (!bound_type_of(fields.at[0], type)) return false;
  if (fields.count >= 4) return is_mps_number(fields.at[3]);
  return !bound_takes_value(type);
}

bool find_bound_column(ReaderState& state, std::string_view name, uint32_t& column) {
  return find_column(state, name, column);
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
