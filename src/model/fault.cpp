#include "model/fault.hpp"

namespace mopsel {

// Kept out of line so that the checks inlined into hot loops stay small.
void raise_fault(std::string message, std::source_location where) {
  throw InternalFault(std::move(message), where);
}

}  // namespace mopsel
