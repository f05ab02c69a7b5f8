// The description of the first non-UTF-8 spot in text the writer produced.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <string_view>

#include "python/utf8_error.hpp"

namespace {

using mopsel::python::describe_utf8_problem;
using mopsel::python::first_utf8_problem;

struct Case {
  std::string_view bytes;
  const char* expected;  // nullptr: valid UTF-8
};

const Case kCases[] = {
    {"", nullptr},
    {"plain ASCII\n", nullptr},
    {"\xc3\xa9t\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80", nullptr},  // two-, three- and four-byte characters
    {"\xef\xbf\xbf\xf4\x8f\xbf\xbf", nullptr},                     // U+FFFF and U+10FFFF
    {"\xff", "invalid utf-8 sequence of 1 bytes from index 0"},
    {"\x80", "invalid utf-8 sequence of 1 bytes from index 0"},
    {"ab\xc0\x80", "invalid utf-8 sequence of 1 bytes from index 2"},    // overlong lead byte
    {"\xe0\x80\x80", "invalid utf-8 sequence of 1 bytes from index 0"},  // overlong three-byte form
    {"\xed\xa0\x80", "invalid utf-8 sequence of 1 bytes from index 0"},  // surrogate
    {"\xf0\x80\x80\x80", "invalid utf-8 sequence of 1 bytes from index 0"},
    {"\xf4\x90\x80\x80", "invalid utf-8 sequence of 1 bytes from index 0"},  // above U+10FFFF
    {"\xf5\x80\x80\x80", "invalid utf-8 sequence of 1 bytes from index 0"},
    {"\xe2\x28\xa1", "invalid utf-8 sequence of 1 bytes from index 0"},
    {"xy\xe2\x82\x41", "invalid utf-8 sequence of 2 bytes from index 2"},
    {"\xf0\x9f\x41", "invalid utf-8 sequence of 2 bytes from index 0"},
    {"\xf0\x9f\x98\x41", "invalid utf-8 sequence of 3 bytes from index 0"},
    {"x\xe2\x82\xac\xff", "invalid utf-8 sequence of 1 bytes from index 4"},
    {"ab\xc3", "incomplete utf-8 byte sequence from index 2"},
    {"\xe2\x82", "incomplete utf-8 byte sequence from index 0"},
    {"\xe0", "incomplete utf-8 byte sequence from index 0"},
    {"ok \xf0\x9f\x98", "incomplete utf-8 byte sequence from index 3"},
};

TEST(Utf8Problem, FirstProblemIsDescribedExactly) {
  for (const Case& c : kCases) {
    const auto problem = first_utf8_problem(c.bytes);
    if (c.expected == nullptr) {
      EXPECT_FALSE(problem.has_value()) << describe_utf8_problem(*problem);
    } else {
      ASSERT_TRUE(problem.has_value()) << c.expected;
      EXPECT_EQ(describe_utf8_problem(*problem), c.expected);
    }
  }
}

TEST(Utf8Problem, NeverLooksPastTheEnd) {
  // A lead byte at the very end of a view into a longer buffer: the bytes after the
  // view would complete the character, but they are not part of the text.
  const std::string buffer = "ab\xe2\x82\xac";
  for (size_t cut = 3; cut < buffer.size(); ++cut) {
    const auto problem = first_utf8_problem(std::string_view(buffer).substr(0, cut));
    ASSERT_TRUE(problem.has_value());
    EXPECT_EQ(problem->valid_up_to, 2u);
    EXPECT_FALSE(problem->length.has_value());
  }
  EXPECT_FALSE(first_utf8_problem(buffer).has_value());
}

}  // namespace
