// libFuzzer target: read_mps on arbitrary bytes (see check_read_mps).
#include <cstdio>
#include <cstdlib>

#include "fuzz_checks.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string fault =
      mopsel::fuzz::check_read_mps(std::string_view(reinterpret_cast<const char*>(data), size));
  if (!fault.empty()) {
    std::fprintf(stderr, "fuzz_read_mps: %s\n", fault.c_str());
    std::abort();
  }
  return 0;
}
