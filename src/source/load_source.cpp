#include "source/load_source.hpp"

namespace mopsel {

// Placeholder until the loader lands.
Result<ByteBuffer> load_source(std::string_view) { return Error{"Read error: loader not built yet"}; }

}  // namespace mopsel
