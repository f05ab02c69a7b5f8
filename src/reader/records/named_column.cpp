#include "reader/records/named_column.hpp"

#include "model/model_record.hpp"
#include "reader/records/bounds.hpp"

namespace mopsel {

bool find_or_make_column(ReaderState& state, std::string_view name, uint32_t hint, uint32_t& column) {
  sync_columns(state.col_index, state.col_names);
  if (find_column_near(state.col_index, state.col_names, state.num_col, hint, state.col_miss, name, column)) {
    return true;
  }
  if (!append_column(state, name, code(IntegralityKind::CONTINUOUS), 0)) return false;
  column = state.num_col - 1;  // entered into col_index by the next lookup
  return true;
}

}  // namespace mopsel
