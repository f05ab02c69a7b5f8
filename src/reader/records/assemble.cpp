#include "reader/records/assemble.hpp"

#include <string>

#include "model/fault.hpp"
#include "reader/records/quadratic.hpp"
#include "reader/text/utf8.hpp"

namespace mopsel {

namespace {

// The names lie back to back, so one pass over them settles the usual all-ASCII case; otherwise each name is checked on its
// own, since a sequence cut between two names is valid only in the concatenation.
bool all_utf8(const NameList& names) noexcept {
  if (is_ascii(as_view(names.bytes))) return true;
  for (size_t i = 0; i < names.size(); ++i) {
    if (!is_valid_utf8(names[i])) return false;
  }
  return true;
}

}  // namespace

bool record_names_are_utf8(const ModelRecord& record) noexcept {
  return is_valid_utf8(record.name) && is_valid_utf8(record.objective_name) &&
         all_utf8(record.row_names) && all_utf8(record.col_names) && (!record.sos || all_utf8(record.sos->names));
}

void assemble_sos_and_indicators(SosParts& sos, IndicatorParts& indicators, ModelRecord& record) {
  if (!sos.type.empty()) {
    sos.start.push_back(static_cast<uint32_t>(sos.index.size()));
    record.sos = SosRecord{std::move(sos.type),  std::move(sos.priority), std::move(sos.start),
                           std::move(sos.index), std::move(sos.weight),   std::move(sos.names)};
  }
  if (!indicators.row.empty()) {
    record.indicators =
        IndicatorRecord{std::move(indicators.row), std::move(indicators.column), std::move(indicators.value)};
  }
}

ModelRecord finish_model(ReaderState&& state) {
  // Every column receives its cost and start slot when it is created, whatever
  // the section order, so only the closing entry of the start array is missing.
  if (state.col_start.size() != state.num_col || state.col_cost.size() != state.num_col ||
      state.entry_row.size() != state.nnz || state.entry_value.size() != state.nnz) {
    raise_fault("reader state out of step: " + std::to_string(state.num_col) + " columns, " +
                std::to_string(state.col_start.size()) + " starts, " +
                std::to_string(state.col_cost.size()) + " costs, " + std::to_string(state.nnz) +
                " entries");
  }
  // The name maps and per-read arrays are done with: free them before anything
  // else is allocated, so they never add to the peak of a large read.
  state.row_index = NameMap<int32_t>{};
  state.col_index = ColumnIndex{};
  state.col_default_binary = OwnedArray<uint8_t>{};
  state.row_types = OwnedArray<uint8_t>{};
  state.col_start.push_back(state.nnz);

  ModelRecord record;
  record.name = std::string(state.name);
  record.objective_name = std::string(state.objective_name);
  record.row_names = std::move(state.row_names);
  record.col_names = std::move(state.col_names);

  record.num_row = state.num_row;
  record.num_col = state.num_col;
  record.obj_sense_minimize = state.obj_sense_minimize != 0;
  record.obj_offset = state.obj_offset;
  record.col_cost = std::move(state.col_cost);
  record.col_lower = std::move(state.col_lower);
  record.col_upper = std::move(state.col_upper);
  record.row_lower = std::move(state.row_lower);
  record.row_upper = std::move(state.row_upper);
  record.col_integrality = std::move(state.col_integrality);
  record.a_matrix.start = std::move(state.col_start);
  record.a_matrix.index = std::move(state.entry_row);
  record.a_matrix.value = std::move(state.entry_value);

  // The parts beyond a linear program, when the text gives any.
  assemble_quadratic(state, record);
  assemble_sos_and_indicators(state.sos, state.indicators, record);

  // The indexes and per-read arrays refer to the text; drop them now.
  state = ReaderState{};
  return record;
}

}  // namespace mopsel
