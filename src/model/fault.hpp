#pragma once
// Internal faults: broken invariants, indices out of range. They are a different
// kind from bad input (which is an Error value): one exception type, thrown from
// one helper, turned into Python's PanicException at the module boundary.
#include <cstddef>
#include <exception>
#include <source_location>
#include <string>

namespace mopsel {

class InternalFault : public std::exception {
 public:
  InternalFault(std::string message, std::source_location where)
      : message_(std::move(message)), where_(where) {}
  [[nodiscard]] const char* what() const noexcept override { return message_.c_str(); }
  [[nodiscard]] const std::string& message() const noexcept { return message_; }
  [[nodiscard]] const std::source_location& where() const noexcept { return where_; }

 private:
  std::string message_;
  std::source_location where_;
};

[[noreturn]] void raise_fault(std::string message,
                              std::source_location where = std::source_location::current());

// Faults with "index out of bounds: the len is {len} but the index is {index}".
[[noreturn]] void raise_index_fault(size_t len, size_t index, std::source_location where);

// Faults as raise_index_fault unless index < len. Only the comparison is inline,
// so that the check stays small in hot loops.
inline void check_index(size_t len, size_t index,
                        std::source_location where = std::source_location::current()) {
  if (index >= len) [[unlikely]]
    raise_index_fault(len, index, where);
}

}  // namespace mopsel
