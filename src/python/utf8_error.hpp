#pragma once
// Finding the first spot where a byte string stops being UTF-8, described as
// "invalid utf-8 sequence of {n} bytes from index {i}" or "incomplete utf-8 byte
// sequence from index {i}". No Python dependency.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace mopsel::python {

struct Utf8Problem {
  size_t valid_up_to;        // bytes before the bad spot form valid UTF-8
  std::optional<size_t> length;  // bytes that can never start a valid character there; none: the text ends inside a character
};

// The first problem in `bytes`, or none when they are valid UTF-8. Follows the
// "maximal subpart" rule: an invalid sequence is 1 to 3 bytes long.
inline std::optional<Utf8Problem> first_utf8_problem(std::string_view bytes) noexcept {
  const auto* v = reinterpret_cast<const uint8_t*>(bytes.data());
  const size_t n = bytes.size();
  const auto continuation = [](uint8_t b) { return (b & 0xC0) == 0x80; };
  size_t i = 0;
  while (i < n) {
    const uint8_t first = v[i];
    if (first < 0x80) {
      ++i;
      continue;
    }
    const size_t start = i;
    size_t width = 0;
    if (first >= 0xC2 && first <= 0xDF) width = 2;
    else if (first >= 0xE0 && first <= 0xEF) width = 3;
    else if (first >= 0xF0 && first <= 0xF4) width = 4;
    if (width == 0) return Utf8Problem{start, 1};
    if (start + 1 >= n) return Utf8Problem{start, std::nullopt};
    const uint8_t second = v[start + 1];
    bool second_ok = continuation(second);
    if (width == 3) {
      if (first == 0xE0) second_ok = second >= 0xA0 && second <= 0xBF;
      if (first == 0xED) second_ok = second >= 0x80 && second <= 0x9F;
    } else if (width == 4) {
      if (first == 0xF0) second_ok = second >= 0x90 && second <= 0xBF;
      if (first == 0xF4) second_ok = second >= 0x80 && second <= 0x8F;
    }
    if (!second_ok) return Utf8Problem{start, 1};
    for (size_t k = 2; k < width; ++k) {
      if (start + k >= n) return Utf8Problem{start, std::nullopt};
      if (!continuation(v[start + k])) return Utf8Problem{start, k};
    }
    i = start + width;
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
