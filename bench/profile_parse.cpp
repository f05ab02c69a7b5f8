// Profiling driver: the native half of parse_file (load_source + read_mps) on one file, repeated,
// without Python, so that perf and callgrind see the core's own symbols. Build and run:
//   cmake -S . -B build/bench -DCMAKE_BUILD_TYPE=RelWithDebInfo && cmake --build build/bench -j2
//   g++ -std=c++20 -O2 -g -Isrc bench/profile_parse.cpp build/bench/libmopsel_reader.a
//     build/bench/libmopsel_source.a build/bench/libmopsel_model.a -lz -o build/bench/profile_parse
//   valgrind --tool=callgrind build/bench/profile_parse FILE 1
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "reader/read_mps.hpp"
#include "source/load_source.hpp"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s FILE [REPEAT]\n", argv[0]);
    return 2;
  }
  const int repeat = argc > 2 ? std::atoi(argv[2]) : 1;
  for (int i = 0; i < repeat; ++i) {
    const auto start = std::chrono::steady_clock::now();
    auto text = mopsel::load_source(argv[1]);
    if (!text.ok()) {
      std::fprintf(stderr, "%s\n", text.error().message.c_str());
      return 1;
    }
    const auto bytes = text.value().size();
    auto model = mopsel::read_mps(mopsel::as_view(text.value()));
    if (!model.ok()) {
      std::fprintf(stderr, "%s\n", model.error().message.c_str());
      return 1;
    }
    const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%zu bytes, %u rows, %u columns in %.4f s (%.0f MB/s)\n", bytes, model.value().num_row,
                model.value().num_col, s, bytes / 1e6 / s);
  }
  return 0;
}
