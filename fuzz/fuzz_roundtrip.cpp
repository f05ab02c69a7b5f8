// libFuzzer target: read -> write -> read -> write on whatever reads (see
// check_round_trip).
#include <cstdio>
#include <cstdlib>

#include "fuzz_checks.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string fault =
      mopsel::fuzz::check_round_trip(std::string_view(reinterpret_cast<const char*>(data), size));
  if (!fault.empty()) {
    std::fprintf(stderr, "fuzz_roundtrip: %s\n", fault.c_str());
    std::abort();
  }
  return 0;
}
