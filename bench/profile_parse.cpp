// Profiling driver: the native half of parse_file (read_mps_file: load_source + read_mps)
// on one file, repeated, without Python, so that perf and callgrind see the core's own
// symbols. Build and run:
//   cmake -S . -B build/bench -DMOPSEL_BENCH=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo
//   cmake --build build/bench -j2 --target profile_parse
//   valgrind --tool=callgrind --toggle-collect='mopsel::read_mps_with_limits*'
//     build/bench/profile_parse FILE 1
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "reader/read_mps.hpp"
#include "source/load_source.hpp"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s FILE [REPEAT]\n", argv[0]);
    return 2;
  }
  const int repeat = argc > 2 ? std::atoi(argv[2]) : 1;
  struct Run {
    double seconds;
    uint32_t rows, columns;
  };
  std::vector<Run> runs;
  for (int i = 0; i < repeat; ++i) {
    const auto start = std::chrono::steady_clock::now();
    auto model = mopsel::read_mps_file(argv[1]);
    if (!model.ok()) {
      std::fprintf(stderr, "%s\n", model.error().message.c_str());
      return 1;
    }
    const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    runs.push_back({s, model.value().num_row, model.value().num_col});
  }
  // The text's size, for the MB/s figures, from one more load after the timed runs
  // (before them it would change what the allocator does in the first run).
  const auto text = mopsel::load_source(argv[1]);
  const size_t bytes = text.ok() ? text.value().size() : 0;
  for (const Run& run : runs) {
    std::printf("%zu bytes, %u rows, %u columns in %.4f s (%.0f MB/s)\n", bytes, run.rows, run.columns,
                run.seconds, bytes / 1e6 / run.seconds);
  }
  return 0;
}
