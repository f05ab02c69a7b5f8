// Profiling driver: the native half of parse_file (read_mps_file: load_source + read_mps)
// on one file, repeated, without Python, so that perf and callgrind see the core's own
// symbols. MODE reads with other options instead: strict, fixed, auto (read_mps with
// ReadOptions), check (check_mps), or lp and lp-check (read_lp and check_lp: the file is LP
// text); the file is loaded before the clock starts then
// ("file", the default, is read_mps_file). The name maps take a random seed per
// process, so the probe counts (and with them the instruction count) vary a little
// from run to run; a SEED fixes them.
// Build and run:
//   cmake -S . -B build/bench -DMOPSEL_BENCH=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo
//   cmake --build build/bench -j2 --target profile_parse
//   valgrind --tool=callgrind --toggle-collect='mopsel::read_mps_with_limits*'
//     build/bench/profile_parse FILE 1 [file SEED]
//   valgrind --tool=callgrind --toggle-collect='mopsel::check_mps*' build/bench/profile_parse FILE 1 check
//   valgrind --tool=callgrind --toggle-collect='mopsel::read_lp*' build/bench/profile_parse FILE.lp 1 lp
#include <time.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <vector>

#include "lp/read_lp.hpp"
#include "reader/names/name_seed.hpp"
#include "reader/read_mps.hpp"
#include "source/load_source.hpp"

namespace {

// CPU seconds of the calling thread and of the whole process so far: with threads,
// the reading thread's share is the wall time the read needs when every helper has
// a core of its own, however busy the machine was.
double cpu_seconds(clockid_t clock) {
  timespec t{};
  clock_gettime(clock, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

struct Run {
  double seconds;
  double thread_cpu = 0;
  double process_cpu = 0;
  uint32_t rows, columns;
  size_t findings;
};

// One read of `text` in `mode`; false (with the message printed) when it fails.
bool run_mode(std::string_view mode, std::string_view text, Run& run) {
  if (mode == "lp" || mode == "lp-check") {
    if (mode == "lp-check") {
      run.findings = mopsel::check_lp(text, 100).findings.size();
      return true;
    }
    auto model = mopsel::read_lp(text);
    if (!model.ok()) {
      std::fprintf(stderr, "%s: %s (line %llu)\n", model.error().message.c_str(), model.error().reason.c_str(),
                   static_cast<unsigned long long>(model.error().lineno));
      return false;
    }
    run.rows = model.value().num_row;
    run.columns = model.value().num_col;
    return true;
  }
  mopsel::ReadOptions options;
  if (mode == "check") {
    const mopsel::CheckReport report = mopsel::check_mps(text, options);
    run.findings = report.findings.size();
    return true;
  }
  options.strict = mode == "strict";
  options.format = mode == "fixed" ? mopsel::Format::Fixed : mode == "auto" ? mopsel::Format::Auto : mopsel::Format::Free;
  auto model = mopsel::read_mps(text, options);
  if (!model.ok()) {
    std::fprintf(stderr, "%s: %s\n", model.error().message.c_str(), model.error().reason.c_str());
    return false;
  }
  run.rows = model.value().num_row;
  run.columns = model.value().num_col;
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s FILE [REPEAT [file|strict|fixed|auto|check|lp|lp-check [SEED]]]\n", argv[0]);
    return 2;
  }
  const int repeat = argc > 2 ? std::atoi(argv[2]) : 1;
  const std::string_view mode = argc > 3 ? argv[3] : "file";
  if (argc > 4) mopsel::use_fixed_name_seed(std::strtoull(argv[4], nullptr, 0));
  std::vector<Run> runs;
  if (mode == "file") {
    for (int i = 0; i < repeat; ++i) {
      const double thread_start = cpu_seconds(CLOCK_THREAD_CPUTIME_ID);
      const double process_start = cpu_seconds(CLOCK_PROCESS_CPUTIME_ID);
      const auto start = std::chrono::steady_clock::now();
      auto model = mopsel::read_mps_file(argv[1]);
      if (!model.ok()) {
        std::fprintf(stderr, "%s\n", model.error().message.c_str());
        return 1;
      }
      const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
      runs.push_back({s, cpu_seconds(CLOCK_THREAD_CPUTIME_ID) - thread_start,
                      cpu_seconds(CLOCK_PROCESS_CPUTIME_ID) - process_start, model.value().num_row,
                      model.value().num_col, 0});
    }
  } else {
    const auto text = mopsel::load_source(argv[1]);
    if (!text.ok()) {
      std::fprintf(stderr, "%s\n", text.error().message.c_str());
      return 1;
    }
    for (int i = 0; i < repeat; ++i) {
      Run run{0, 0, 0, 0, 0, 0};
      const double thread_start = cpu_seconds(CLOCK_THREAD_CPUTIME_ID);
      const double process_start = cpu_seconds(CLOCK_PROCESS_CPUTIME_ID);
      const auto start = std::chrono::steady_clock::now();
      if (!run_mode(mode, mopsel::as_view(text.value()), run)) return 1;
      run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
      run.thread_cpu = cpu_seconds(CLOCK_THREAD_CPUTIME_ID) - thread_start;
      run.process_cpu = cpu_seconds(CLOCK_PROCESS_CPUTIME_ID) - process_start;
      runs.push_back(run);
    }
  }
  // The text's size, for the MB/s figures, from one more load after the timed runs
  // (before them it would change what the allocator does in the first run).
  const auto text = mopsel::load_source(argv[1]);
  const size_t bytes = text.ok() ? text.value().size() : 0;
  for (const Run& run : runs) {
    std::printf("%zu bytes, %u rows, %u columns, %zu findings in %.4f s (%.0f MB/s); CPU s: reading thread %.4f, "
                "process %.4f\n",
                bytes, run.rows, run.columns, run.findings, run.seconds, bytes / 1e6 / run.seconds, run.thread_cpu,
                run.process_cpu);
  }
  return 0;
}
