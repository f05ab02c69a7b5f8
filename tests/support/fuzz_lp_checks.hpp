#pragma once
// The properties the LP fuzz target (fuzz/fuzz_read_lp.cpp) checks, shared with the replay
// of saved reproducers in tests/cpp/fuzz_regressions_test.cpp. As in fuzz_checks.hpp, each
// check returns "" when the input behaved and otherwise what went wrong.
#include <algorithm>
#include <limits>
#include <string>
#include <string_view>

#include "fuzz_checks.hpp"
#include "thread_plan_checks.hpp"
#include "lp/read_lp.hpp"
#include "writer/lp_writer.hpp"

namespace mopsel::fuzz {

inline constexpr double kInfinity = std::numeric_limits<double>::infinity();

// Runs read_lp (strict or not) and turns an escaping exception into a fault description.
inline Result<ModelRecord> guarded_read_lp(std::string_view text, std::string& fault, bool strict = false) {
  return guarded("read_lp", text, fault, [&](std::string_view t) { return read_lp(t, LpReadOptions{strict}); });
}

// read_lp fails with kLpParseFailure (kind Parse) at a line and column within the text, or
// returns a record meeting every invariant; check_lp finds a fatal finding exactly when the
// reading fails, and strict reading fails exactly when it finds an error of either weight.
inline std::string check_read_lp(std::string_view text) {
  std::string fault;
  Result<ModelRecord> plain = guarded_read_lp(text, fault);
  if (!fault.empty()) return fault;
  if (!plain.ok()) {
    const Error& e = plain.error();
    if (e.message != kLpParseFailure) return "unexpected failure message: " + e.message;
    if (e.kind != ErrorKind::Parse) return "the read failure is not of kind Parse";
    if (e.offset != kNoOffset && (e.offset > text.size() || e.lineno == 0 || e.column == 0)) {
      return "the failure has no line and column within the text";
    }
  } else if (std::string broken = check_reader_record(plain.value()); !broken.empty()) {
    return "record breaks an invariant: " + broken;
  }
  CheckReport report;
  try {
    report = check_lp(text, 1000);
  } catch (const std::exception& e) {
    return std::string("check_lp threw: ") + e.what();
  }
  bool fatal = false;
  bool error = false;
  for (const Finding& f : report.findings) {
    fatal = fatal || finding_weight(f.code) == Weight::Fatal;
    error = error || finding_weight(f.code) == Weight::Fatal || finding_weight(f.code) == Weight::Strict;
  }
  if (fatal == plain.ok()) return fatal ? "check finds a fatal error where reading succeeds" : "reading fails where check finds no fatal error";
  Result<ModelRecord> strict = guarded_read_lp(text, fault, true);
  if (!fault.empty()) return "strict: " + fault;
  if (strict.ok() == error) return strict.ok() ? "strict reading succeeds where check finds an error" : "strict reading fails where check finds no error";
  if (strict.ok()) {
    if (std::string diff = compare_exact(plain.value(), strict.value()); !diff.empty()) {
      return "strict reading gives another record: " + diff;
    }
  }
  return {};
}

inline std::string write_lp_text(const ModelRecord& record, ByteBuffer& out, const char* which) {
  WriteOptions exact;
  exact.digits = 0;
  return guarded_write(which, out, nullptr, [&] { return write_lp_to_buffer(record, out, exact); });
}

// A text that reads and that LP text can hold (lp_unwritable_name) is written in the exact
// mode; the written text reads to the same record bit for bit (unless a row is two-sided:
// it is written as two rows), and is written again as the identical text.
inline std::string check_lp_round_trip(std::string_view text) {
  std::string fault;
  Result<ModelRecord> first = guarded_read_lp(text, fault);
  if (!fault.empty() || !first.ok()) return fault;
  const ModelRecord& r1 = first.value();
  if (lp_unwritable_name(r1)) return {};
  ByteBuffer text1;
  if (fault = write_lp_text(r1, text1, "first"); !fault.empty()) return fault;
  Result<ModelRecord> second = guarded_read_lp(as_view(text1), fault);
  if (!fault.empty()) return "reading the written text: " + fault;
  if (!second.ok()) {
    return "the written text does not read: " + second.error().reason + " (line " +
           std::to_string(second.error().lineno) + ")";
  }
  const ModelRecord& r2 = second.value();
  // Rows with two binding bounds that differ (+inf binds as a lower bound, -inf as an upper one).
  bool two_sided = false;
  for (uint32_t i = 0; i < r1.num_row; ++i) {
    const double lower = r1.row_lower[i];
    const double upper = r1.row_upper[i];
    two_sided = two_sided || (lower > -kInfinity && upper < kInfinity && !(is_finite(lower) && same_bits(lower, upper)));
  }
  if (!two_sided) {
    if (std::string diff = compare_exact(r1, r2); !diff.empty()) return "round trip changed the model: " + diff;
  }
  ByteBuffer text2;
  if (fault = write_lp_text(r2, text2, "second"); !fault.empty()) return fault;
  if (!two_sided && as_view(text1) != as_view(text2)) {
    return "second written text differs from the first: " + first_difference(as_view(text1), as_view(text2));
  }
  return {};
}

// The text read on one thread and again with its Subject To section in pieces read by
// two and three threads, cut every few bytes (at each label line), at a few sizes: every
// reading gives the one thread's outcome bit for bit and leaves no thread counted.
inline std::string check_lp_thread_plans(std::string_view text) {
  const UsualPlansAfter restore;
  std::string fault;
  use_thread_plan_for_tests(plan_taking_no_path());
  const Result<ModelRecord> one = guarded_read_lp(text, fault);
  if (!fault.empty()) return "one thread: " + fault;
  for (const unsigned threads : {2u, 3u}) {
    for (const size_t piece : {size_t{1}, std::max<size_t>(13, text.size() / 7)}) {
      ThreadPlan plan = plan_taking_no_path();
      plan.threads = threads;
      plan.lp_min_bytes = 0;
      plan.chunk_bytes = piece;
      use_thread_plan_for_tests(plan);
      const Result<ModelRecord> other = guarded_read_lp(text, fault);
      const std::string what = std::to_string(threads) + " threads, pieces of " + std::to_string(piece) + " bytes: ";
      if (!fault.empty()) return what + fault;
      if (reading_threads_in_use() != 0) return what + "threads still counted as in use";
      if (std::string difference = compare_outcomes(one, other); !difference.empty()) return what + difference;
    }
  }
  return {};
}

}  // namespace mopsel::fuzz
