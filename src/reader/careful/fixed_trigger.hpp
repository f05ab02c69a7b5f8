#pragma once
// Where the automatic choice of format found that a text needs fixed columns: filled
// by the careful reader, read by read_mps to read the text again in fixed columns.
#include <cstdint>
#include <string>

namespace mopsel {

struct FixedTrigger {
  bool found = false;
  uint64_t offset = 0;
  uint64_t lineno = 0;
  std::string message;
};

}  // namespace mopsel
