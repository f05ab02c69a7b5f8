#pragma once
// The check of the thread-plan fuzz target (fuzz/fuzz_thread_plans.cpp), shared with
// the replay of saved reproducers in tests/cpp/fuzz_regressions_test.cpp.
//
// The threaded paths of the reader take only large texts with the usual plan, so a
// fuzzer with small inputs never reaches them. Here every input is read once on one
// thread with every other path out of reach, then again with plans that force each
// path on its own and all of them at once: COLUMNS, RHS, BOUNDS and the quadratic
// sections in small pieces, ROWS names entered by threads, the column map of the names
// BOUNDS uses, the map of every column built by threads; then from a plain file loaded in parts and from a
// gzip file read while a second thread inflates it (COLUMNS pieces cut as the lines
// arrive). Every read must give the one thread's outcome: the same record field by
// field and bit for bit (NaN payloads and the sign of zero included), or the same
// failure (kind, message, cause, reason, offset, line number and line), and leave no
// thread of the process's count taken.
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_checks.hpp"
#include "gzip/gzip_stream.hpp"
#include "platform/reading_threads.hpp"

namespace mopsel::fuzz {

// "" when both reads gave the same outcome, else what differs.
inline std::string compare_outcomes(const Result<ModelRecord>& a, const Result<ModelRecord>& b) {
  if (a.ok() != b.ok()) {
    return a.ok() ? "fails where one thread reads: " + b.error().reason
                  : "reads where one thread fails with: " + a.error().reason;
  }
  if (a.ok()) return compare_exact(a.value(), b.value());
  const Error& x = a.error();
  const Error& y = b.error();
  if (x.kind != y.kind) return "the error kind differs";
  if (x.message != y.message) return "message '" + y.message + "' against '" + x.message + "'";
  if (x.cause != y.cause) return "the cause differs";
  if (x.reason != y.reason) return "reason '" + y.reason + "' against '" + x.reason + "'";
  if (x.offset != y.offset) return "offset " + std::to_string(y.offset) + " against " + std::to_string(x.offset);
  if (x.lineno != y.lineno) return "line " + std::to_string(y.lineno) + " against " + std::to_string(x.lineno);
  if (x.line != y.line) return "the line shown differs";
  if (x.os_error != y.os_error) return "the error number differs";
  return {};
}

struct ForcedPlan {
  const char* name;
  ThreadPlan plan;
};

// A plan with `threads` threads that takes no threaded path until the caller opens one.
inline ThreadPlan closed_plan(unsigned threads) {
  ThreadPlan plan = plan_taking_no_path();
  plan.threads = threads;
  return plan;
}

// The plans every text is read with, from text: each threaded path alone, and all of
// them with pieces small enough that a text of a few lines is cut several times.
inline std::vector<ForcedPlan> text_plans(size_t text_size) {
  std::vector<ForcedPlan> plans;
  ThreadPlan pieces = closed_plan(3);
  pieces.min_bytes = pieces.records_min_bytes = 0;
  // A piece per line, or a few lines each, or (for the replay's large texts) 64 pieces.
  pieces.chunk_bytes = text_size < 4096 ? 1 : std::max<size_t>(61, text_size / 64);
  plans.push_back({"COLUMNS, RHS, BOUNDS and quadratic sections in small pieces", pieces});
  pieces.threads = 2;
  pieces.chunk_bytes = text_size / 5 + 1;
  plans.push_back({"COLUMNS, RHS, BOUNDS and quadratic sections in five pieces", pieces});
  ThreadPlan rows = closed_plan(2);
  rows.shared_rows_min = 0;
  plans.push_back({"ROWS names entered by threads", rows});
  ThreadPlan named = closed_plan(1);
  named.named_columns_min = named.named_columns_per_byte = 0;
  plans.push_back({"the column map of the names used, one thread", named});
  named.threads = 2;
  plans.push_back({"the column map of the names used, two threads", named});
  ThreadPlan shared_map = closed_plan(3);
  shared_map.shared_map_min = 0;
  plans.push_back({"the map of every column built by threads", shared_map});
  shared_map.records_min_bytes = 0;
  shared_map.chunk_bytes = 16;
  plans.push_back({"the map of every column built by threads, BOUNDS in pieces", shared_map});
  plans.push_back({"every path, pieces of 40 bytes", plan_taking_every_path(4, 40)});
  return plans;
}

// Restores the usual plans however the check ends.
struct UsualPlansAfter {
  UsualPlansAfter() = default;
  UsualPlansAfter(const UsualPlansAfter&) = delete;
  UsualPlansAfter& operator=(const UsualPlansAfter&) = delete;
  ~UsualPlansAfter() {
    use_thread_plan_for_tests(std::nullopt);
    use_gzip_stream_plan_for_tests(nullptr);
  }
};

// read_mps_file with an escaping exception turned into a fault description.
inline Result<ModelRecord> guarded_file_read(const std::string& path, bool gzip, std::string& fault) {
  try {
    return read_mps_file(path, gzip);
  } catch (const InternalFault& f) {
    fault = "read_mps_file raised an internal fault: " + f.message();
  } catch (const std::exception& e) {
    fault = std::string("read_mps_file threw: ") + e.what();
  }
  return Error{ErrorKind::Parse, "(exception)"};
}

// One gzip member of `text` (zlib's gzip wrapper, fastest level).
inline std::string gzip_text(std::string_view text) {
  z_stream zs{};
  if (deflateInit2(&zs, 1, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK) std::abort();
  std::string out(deflateBound(&zs, text.size()) + 32, '\0');
  zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
  zs.avail_in = static_cast<uInt>(text.size());
  zs.next_out = reinterpret_cast<Bytef*>(out.data());
  zs.avail_out = static_cast<uInt>(out.size());
  if (deflate(&zs, Z_FINISH) != Z_STREAM_END) std::abort();
  out.resize(zs.total_out);
  deflateEnd(&zs);
  return out;
}

inline std::string check_thread_plans(std::string_view text, ScratchFile& plain, ScratchFile& gz) {
  const UsualPlansAfter restore;
  std::string fault;
  use_thread_plan_for_tests(plan_taking_no_path());
  const Result<ModelRecord> one = guarded_read(text, fault);
  if (!fault.empty()) return "one thread: " + fault;

  const auto compare = [&](const char* what, const Result<ModelRecord>& other) -> std::string {
    if (!fault.empty()) return std::string(what) + ": " + fault;
    if (reading_threads_in_use() != 0) return std::string(what) + ": threads still counted as in use";
    const std::string difference = compare_outcomes(one, other);
    return difference.empty() ? difference : std::string(what) + ": " + difference;
  };
  for (const ForcedPlan& forced : text_plans(text.size())) {
    use_thread_plan_for_tests(forced.plan);
    const std::string difference = compare(forced.name, guarded_read(text, fault));
    if (!difference.empty()) return difference;
  }

  // The same text from a plain file loaded in parts, every path of the reader taken.
  plain.fill(reinterpret_cast<const uint8_t*>(text.data()), text.size());
  ThreadPlan parts = plan_taking_every_path(3, std::max<size_t>(97, text.size() / 64));
  parts.load_min_bytes = 1;
  parts.load_part_bytes = 509;
  use_thread_plan_for_tests(parts);
  if (std::string d = compare("a plain file loaded in parts", guarded_file_read(plain.path(), false, fault));
      !d.empty()) {
    return d;
  }

  // From gzip: inflated first (one thread), then read while it is inflated, by the
  // one-thread reader and with COLUMNS pieces cut as their lines arrive (helpers
  // joining when the text is complete, or from the start).
  const std::string packed = gzip_text(text);
  gz.fill(reinterpret_cast<const uint8_t*>(packed.data()), packed.size());
  const size_t small = std::max<size_t>(29, text.size() / 64);
  const GzipStreamPlan tiny{0, SIZE_MAX, small + 8};
  use_gzip_stream_plan_for_tests(&tiny);
  const ForcedPlan gzip_plans[] = {
      {"gzip inflated first", closed_plan(1)},
      {"gzip streamed to one reading thread", closed_plan(2)},
      {"gzip streamed, every path, helpers once it is whole", plan_taking_every_path(2, small)},
      {"gzip streamed, every path, helpers from the start", plan_taking_every_path(4, small + 7)},
  };
  for (const ForcedPlan& forced : gzip_plans) {
    use_thread_plan_for_tests(forced.plan);
    const uint64_t streamed = gzip_texts_streamed();
    if (std::string d = compare(forced.name, guarded_file_read(gz.path(), true, fault)); !d.empty()) return d;
    // A text that streams must have taken that path (else the plans test nothing new).
    const bool streams = forced.plan.threads > 1 && !text.empty();
    if (streams && gzip_texts_streamed() != streamed + 1) return std::string(forced.name) + ": the text did not stream";
  }
  return {};
}

}  // namespace mopsel::fuzz
