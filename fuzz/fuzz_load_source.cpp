// libFuzzer target: load_source on arbitrary bytes written to a ".gz" file and to
// a plain file (see check_load_source).
#include <cstdio>
#include <cstdlib>

#include "fuzz_checks.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // One pair of scratch files per process, rewritten for every input.
  static mopsel::fuzz::ScratchFile gz(".gz");
  static mopsel::fuzz::ScratchFile plain(".mps");
  const std::string fault = mopsel::fuzz::check_load_source(data, size, gz, plain);
  if (!fault.empty()) {
    std::fprintf(stderr, "fuzz_load_source: %s\n", fault.c_str());
    std::abort();
  }
  return 0;
}
