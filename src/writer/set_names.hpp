#pragma once
// Names of the right-hand-side, range and bound vectors the writer emits.
//
// The reader tells a vector name from a row or column name by looking the
// first field up among the rows (RHS, RANGES) or columns (BOUNDS). A model
// with a row called "RHS1" would therefore read its right-hand sides back
// wrongly, so the writer keeps "RHS1", "RNG1" and "BND1" unless the model
// uses that name, and then counts up to the first unused one ("RHS2", ...).
#include <string>
#include <string_view>

#include "model/model_record.hpp"

namespace mopsel {

struct SetNames {
  std::string rhs = "RHS1";
  std::string range = "RNG1";
  std::string bound = "BND1";
};

// `objective` is the objective row's name as written (it is a row name too).
SetNames choose_set_names(const ModelRecord& record, std::string_view objective);

}  // namespace mopsel
