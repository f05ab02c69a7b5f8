#include "reader/records/indicators.hpp"

#include "reader/records/bounds.hpp"
#include "reader/text/numbers.hpp"

namespace mopsel {

IndicatorLine indicator_line(ReaderState& state, const Fields& fields) {
  IndicatorLine line;
  if (fields.count < 3 || fields.at[0] != "IF") return line;
  line.row = find_name(state.row_index, fields.at[1]);
  line.column_known = find_bound_column(state, fields.at[2], line.column);
  if (fields.count >= 4 && !fields.at[3].empty()) {
    const double value = parse_number(fields.at[3]);
    line.value_ok = (value == 0.0 || value == 1.0) && is_mps_number(fields.at[3]);
    line.value = value == 0.0 ? 0 : 1;
  }
  line.well_formed = line.column_known && line.value_ok;
  return line;
}

bool apply_indicator(ReaderState& state, const IndicatorLine& line) {
  if (!line.well_formed) return false;
  if (line.row == nullptr || *line.row < 0) return true;
  IndicatorParts& indicators = state.indicators;
  if (indicators.row.size() >= state.limits.max_entries) return false;
  indicators.row.push_back(static_cast<uint32_t>(*line.row));
  indicators.column.push_back(line.column);
  indicators.value.push_back(line.value);
  return true;
}

}  // namespace mopsel
