#include "reader/read_mps.hpp"

namespace mopsel {

// Placeholder until the reader lands.
Result<ModelRecord> read_mps(std::string_view) { return Error{kParseFailure}; }

}  // namespace mopsel
