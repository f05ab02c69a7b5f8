#include "reader/records.hpp"

#include <cmath>
#include <limits>

#include "model/model_record.hpp"

namespace mopsel {

bool bound_type_of(std::string_view field, BoundType& type) noexcept {
  static constexpr std::string_view kCodes[] = {"LO", "UP", "FX", "FR", "MI", "PL",
                                                "BV", "LI", "UI", "SC", "SI"};
  if (field.size() != 2) return false;
  for (size_t i = 0; i < std::size(kCodes); ++i) {
    if (field == kCodes[i]) {
      type = static_cast<BoundType>(i);
      return true;
    }
  }
  return false;
}

void apply_range(ReaderState& state, const Fields& fields) noexcept {
  const auto& f = fields.at;
  const size_t n = fields.count;
  // Without a vector name the record starts with a known row name.
  const size_t first = (n > 0 && find_name(state.row_index, f[0]) != nullptr) ? 0 : 1;
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
    }
  }
}

bool apply_bound(ReaderState& state, const Fields& fields) {
  const auto& f = fields.at;
  const size_t n = fields.count;
  if (n <= 1) return true;

  std::string_view column = f[1];
  std::string_view value_field;
  bool has_value = false;
  if (n >= 3) {
    if (find_name(state.col_index, f[1]) != nullptr) {
      value_field = f[2];
      has_value = true;
    } else {
      // f[1] names the bound vector, which is ignored.
      column = f[2];
      if (n >= 4) {
        value_field = f[3];
        has_value = true;
      }
    }
  }

  uint32_t j;
  if (const uint32_t* found = find_name(state.col_index, column)) {
    j = *found;
  } else {
    if (!append_column(state, column, code(IntegralityKind::CONTINUOUS), 0)) return false;
    j = state.num_col - 1;
    assign_name(state.col_index, column, j);
  }

  BoundType type;
  if (!bound_type_of(f[0], type)) return false;

  constexpr double inf = std::numeric_limits<double>::infinity();
  auto value = [&] { return has_value ? parse_number(value_field) : 0.0; };
  double& lower = state.col_lower[j];
  double& upper = state.col_upper[j];
  uint8_t& integrality = state.col_integrality[j];
  state.col_default_binary[j] = 0;
  switch (type) {
    case BoundType::LO: lower = value(); break;
    case BoundType::UP: upper = value(); break;
    case BoundType::FX: lower = upper = value(); break;
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
      lower = value();
      integrality = code(IntegralityKind::INTEGER);
      break;
    case BoundType::UI:
      upper = value();
      integrality = code(IntegralityKind::INTEGER);
      break;
    case BoundType::SC:
      upper = value();
      integrality = code(IntegralityKind::SEMI_CONTINUOUS);
      break;
    case BoundType::SI:
      upper = value();
      integrality = code(IntegralityKind::SEMI_INTEGER);
      break;
  }
  return true;
}

}  // namespace mopsel
