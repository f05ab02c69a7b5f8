// Profiling driver: the native half of write_str / write_file (write_mps into a byte buffer or a
// file) on one model, repeated, without Python, so that perf and callgrind see the core's own
// symbols. Reads FILE once, then writes it REPEAT times to memory and to OUT. Build and run:
//   cmake -S . -B build/bench -DMOPSEL_BENCH=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo
//   cmake --build build/bench -j2 --target profile_write
//   valgrind --tool=callgrind --toggle-collect='mopsel::write_mps_to_buffer*'
//     build/bench/profile_write FILE 1 [OUT] [buffer|file|both] [DIGITS] [gzip]
// DIGITS is WriteOptions::digits (13 by default, 0 for the exact mode); "gzip" compresses.
// In the "buffer" mode the last text written to memory is saved to OUT afterwards, so that the
// buffer sink's text can be compared with the file sink's.
// PROFILE_LP_PIECES="THREADS PIECE_TERMS" renders LP text in pieces of PIECE_TERMS terms on
// THREADS threads whatever the model's size (to compare the text with that of one thread).
// An OUT ending in ".lp" writes LP text (write_lp_to_buffer / write_lp_to_file), and a FILE
// ending in ".lp" is read as LP text. Rates are MB/s of uncompressed text.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <string_view>

#include "lp/read_lp.hpp"
#include "reader/read_mps.hpp"
#include "writer/lp_text.hpp"
#include "writer/lp_writer.hpp"
#include "writer/mps_writer.hpp"

namespace {

bool ends_with_lp(const char* path) { return std::string_view(path).ends_with(".lp"); }

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s FILE [REPEAT] [OUT] [buffer|file|both]\n", argv[0]);
    return 2;
  }
  const int repeat = argc > 2 ? std::atoi(argv[2]) : 1;
  const char* out_path = argc > 3 ? argv[3] : "/tmp/mopsel-profile-write.mps";
  const char* which = argc > 4 ? argv[4] : "both";
  mopsel::WriteOptions options;
  if (argc > 5) options.digits = std::atoi(argv[5]);
  options.gzip = argc > 6 && std::strcmp(argv[6], "gzip") == 0;
  const bool lp = ends_with_lp(out_path);
  if (const char* pieces = std::getenv("PROFILE_LP_PIECES")) {
    char* rest = nullptr;
    const auto threads = static_cast<unsigned>(std::strtoul(pieces, &rest, 10));
    const size_t piece_terms = std::strtoull(rest, nullptr, 10);
    mopsel::use_lp_text_plan_for_tests(mopsel::LpTextPlan{threads, 0, piece_terms});
  }
  auto write_buffer = lp ? &mopsel::write_lp_to_buffer : &mopsel::write_mps_to_buffer;
  auto write_file = lp ? &mopsel::write_lp_to_file : &mopsel::write_mps_to_file;
  auto model = ends_with_lp(argv[1]) ? mopsel::read_lp_file(argv[1], false) : mopsel::read_mps_file(argv[1]);
  if (!model.ok()) {
    std::fprintf(stderr, "%s\n", model.error().message.c_str());
    return 1;
  }
  // LP text is written only of a record whose names it can hold, as mopsel.write checks first.
  if (lp) {
    const auto start = std::chrono::steady_clock::now();
    if (const auto refused = mopsel::lp_unwritable_name(model.value())) {
      std::fprintf(stderr, "%s\n", refused->c_str());
      return 1;
    }
    const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("lp_unwritable_name: %.4f s\n", s);
  }
  const bool to_buffer = std::strcmp(which, "file") != 0;
  const bool to_file = std::strcmp(which, "buffer") != 0;
  double best_buffer = 1e30, best_file = 1e30;
  mopsel::ByteBuffer out;  // the text written to memory
  size_t bytes = 0;
  if (options.gzip) {  // the size of the text, uncompressed, for the rates
    mopsel::ByteBuffer plain;
    mopsel::WriteOptions uncompressed = options;
    uncompressed.gzip = false;
    (void)write_buffer(model.value(), plain, uncompressed, {});
    bytes = plain.size();
  }
  for (int i = 0; i < repeat; ++i) {
    if (to_buffer) {
      const auto start = std::chrono::steady_clock::now();
      (void)write_buffer(model.value(), out, options, {});
      const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
      if (!options.gzip) bytes = out.size();
      if (s < best_buffer) best_buffer = s;
      if (i + 1 < repeat) out = mopsel::ByteBuffer();
    }
    if (to_file) {
      const auto start = std::chrono::steady_clock::now();
      const auto status = write_file(model.value(), out_path, options, {});
      const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
      if (!status.ok()) {
        std::fprintf(stderr, "%s\n", status.error().message.c_str());
        return 1;
      }
      if (s < best_file) best_file = s;
    }
  }
  if (to_buffer && !to_file && argc > 3) {
    std::FILE* saved = std::fopen(out_path, "wb");
    if (saved == nullptr || std::fwrite(out.data(), 1, out.size(), saved) != out.size() || std::fclose(saved) != 0) {
      std::fprintf(stderr, "cannot save the text to %s\n", out_path);
      return 1;
    }
  }
  if (to_buffer) std::printf("buffer: %zu bytes, best %.4f s (%.0f MB/s)\n", bytes, best_buffer, bytes / 1e6 / best_buffer);
  if (to_file) std::printf("file: best %.4f s (%.0f MB/s)\n", best_file, bytes / 1e6 / best_file);
  return 0;
}
