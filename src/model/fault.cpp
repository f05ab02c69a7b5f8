#include "model/fault.hpp"

namespace mopsel {

// Kept out of line so that the checks inlined into hot loops stay small.
void raise_fault(std::string message, std::source_location where) {
  throw InternalFault(std::move(message), where);
}

void raise_index_fault(size_t len, size_t index, std::source_location where) {
  raise_fault("index out of bounds: the len is " + std::to_string(len) + " but the index is " +
                  std::to_string(index),
              where);
}

}  // namespace mopsel
