#include "reader/records/sos.hpp"

#include <cmath>
#include <limits>

#include "reader/records/named_column.hpp"
#include "reader/records/notices.hpp"
#include "reader/text/numbers.hpp"

namespace mopsel {

bool sos_priority_of(std::string_view field, int32_t& priority) noexcept {
  priority = 0;
  const double value = parse_number(field);
  if (!is_mps_number(field) || value != std::trunc(value) || value < std::numeric_limits<int32_t>::min() ||
      value > std::numeric_limits<int32_t>::max()) {
    return false;
  }
  priority = static_cast<int32_t>(value);
  return true;
}

bool sos_set(ReaderState& state, const Fields& fields) {
  const uint8_t type = sos_type_of(fields.at[0]);
  SosParts& sos = state.sos;
  if (type == 0 || sos.type.size() >= state.limits.max_entries) return false;
  int32_t priority = 0;
  if (fields.count >= 3) (void)sos_priority_of(fields.at[2], priority);
  sos.type.push_back(type);
  sos.priority.push_back(priority);
  sos.start.push_back(static_cast<uint32_t>(sos.index.size()));
  sos.names.push_back(fields.count >= 2 ? fields.at[1] : std::string_view());
  return true;
}

bool sos_member(ReaderState& state, const Fields& fields) {
  SosParts& sos = state.sos;
  if (sos.index.size() >= state.limits.max_entries) return false;
  // Members usually follow the column order.
  const uint32_t hint = sos.index.size() > sos.start[sos.start.size() - 1] ? sos.index[sos.index.size() - 1] + 1 : 0;
  uint32_t column = 0;
  if (!find_or_make_column(state, fields.at[0], hint, column)) return false;
  sos.index.push_back(column);
  sos.weight.push_back(fields.count >= 2 ? set_value(state.notices, fields.at[1]) : 0.0);
  return true;
}

}  // namespace mopsel
