// libFuzzer target: read_lp and check_lp on arbitrary bytes, LP written by mopsel read
// back to the same model, and the Subject To section read by threads as by one
// (see check_read_lp, check_lp_round_trip and check_lp_thread_plans).
#include <cstdio>
#include <cstdlib>

#include "fuzz_lp_checks.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  std::string fault = mopsel::fuzz::check_read_lp(text);
  if (fault.empty()) fault = mopsel::fuzz::check_lp_round_trip(text);
  if (fault.empty()) fault = mopsel::fuzz::check_lp_thread_plans(text);
  if (!fault.empty()) {
    std::fprintf(stderr, "fuzz_read_lp: %s\n", fault.c_str());
    std::abort();
  }
  return 0;
}
