#include "reader/read_mps.hpp"

#include "reader/assemble.hpp"

namespace mopsel {

Result<ModelRecord> read_mps(std::string_view text) {
  return read_mps_with_limits(text, ReaderLimits{});
}

}  // namespace mopsel
