#pragma once
// Finding the first spot where a byte string stops being UTF-8, described as
// "invalid utf-8 sequence of {n} bytes from index {i}" or "incomplete utf-8 byte
// sequence from index {i}", with the reader's UTF-8 decoder. No Python dependency.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "reader/text/utf8.hpp"

namespace mopsel::python {

struct Utf8Problem {
  size_t valid_up_to;        // bytes before the bad spot form valid UTF-8
  std::optional<size_t> length;  // bytes that can never start a valid character there; none: the text ends inside a character
};

// The first problem in `bytes`, or none when they are valid UTF-8. Follows the
// "maximal subpart" rule: an invalid sequence is 1 to 3 bytes long.
inline std::optional<Utf8Problem> first_utf8_problem(std::string_view bytes) noexcept {
  const char* const begin = bytes.data();
  const char* const end = begin + bytes.size();
  for (const char* p = begin; p != end;) {
    const Utf8Char c = decode_utf8(p, end);
    if (c.length == 0) {
      const auto at = static_cast<size_t>(p - begin);
      if (c.invalid == 0) return Utf8Problem{at, std::nullopt};
      return Utf8Problem{at, c.invalid};
    }
    p += c.length;
  }
  return std::nullopt;
}

inline std::string describe_utf8_problem(const Utf8Problem& problem) {
  if (problem.length) {
    return "invalid utf-8 sequence of " + std::to_string(*problem.length) + " bytes from index " +
           std::to_string(problem.valid_up_to);
  }
  return "incomplete utf-8 byte sequence from index " + std::to_string(problem.valid_up_to);
}

}  // namespace mopsel::python
