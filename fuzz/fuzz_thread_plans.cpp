// libFuzzer target: every input read on one thread and again with each threaded path
// of the reader forced, from memory, from a plain file loaded in parts and from gzip
// read while it is inflated; the outcomes must agree bit for bit (see check_thread_plans).
#include <cstdio>
#include <cstdlib>

#include "thread_plan_checks.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // One pair of scratch files per process, rewritten for every input.
  static mopsel::fuzz::ScratchFile plain(".mps");
  static mopsel::fuzz::ScratchFile gz(".mps.gz");
  const std::string fault = mopsel::fuzz::check_thread_plans(
      std::string_view(reinterpret_cast<const char*>(data), size), plain, gz);
  if (!fault.empty()) {
    std::fprintf(stderr, "fuzz_thread_plans: %s\n", fault.c_str());
    std::abort();
  }
  return 0;
}
