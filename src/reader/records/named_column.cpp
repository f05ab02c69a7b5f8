#include "reader/records/named_column.hpp"


namespace mopsel {

bool make_named_column(ReaderState& state, std::string_view name, uint32_t& column) {
  if (!append_column(state, name, code(IntegralityKind::CONTINUOUS), 0)) return false;
  column = state.num_col - 1;  // entered into col_index by the next lookup
  return true;
}

}  // namespace mopsel
