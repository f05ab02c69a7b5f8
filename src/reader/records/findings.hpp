#pragma once
// Findings of a careful read (strict reading, the checker, fixed and automatic
// formats): where each was found and what it says, and whether it ends the read.
// Also the texts that describe a failure of the default reading.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "model/finding_code.hpp"
#include "model/result.hpp"
#include "reader/records/read_options.hpp"
#include "reader/records/reader_state.hpp"

namespace mopsel {

struct Finding {
  FindingCode code;
  uint64_t offset;  // byte offset in the text
  uint64_t lineno;  // 1-based
  std::string message;
};

struct Findings {
  Findings(std::string_view model_text, const ReadOptions& read_options)
      : text(model_text), options(read_options) {}

  std::string_view text;
  ReadOptions options;
  uint64_t lineno = 0;      // the line being read, kept by the careful reader
  uint64_t line_start = 0;  // its offset
  std::vector<Finding> list;  // in the order found, at most options.limit per code
  std::array<uint64_t, kFindingCodeCount> counts{};
  std::optional<Finding> stop;  // the finding that ended the read
  bool failed = false;          // a Fatal finding was made (collecting reads on past it)
  // While the automatic format is still free to choose fixed columns, a strict reading
  // keeps its first Strict finding in `stop` and reads on: the read fails with it only
  // if the text turns out not to need fixed columns.
  bool defer_strict = false;
};

// What a check found, in one pass over the text: the findings in file order (at
// most options.limit of each code) and the count of each code, omitted ones
// included.
struct CheckReport {
  std::vector<Finding> findings;
  std::array<uint64_t, kFindingCodeCount> counts{};
};

// Whether a finding of `code` would be recorded or would end the read: callers skip
// building the message otherwise.
[[nodiscard]] bool wants(const Findings& findings, FindingCode code) noexcept;

// Records a finding at `at`, a view into the text (empty: the start of the current
// line). Returns false when the read must stop: a Fatal finding, or a Strict one in
// strict reading, while not collecting.
[[nodiscard]] bool report(Findings& findings, FindingCode code, std::string_view at, std::string message);

// The same at a position given directly (findings made after the text was read).
[[nodiscard]] bool report_at(Findings& findings, FindingCode code, uint64_t offset, uint64_t lineno,
                             std::string message);

// The findings sorted into file order (stable, so one line keeps its order).
std::vector<Finding> findings_in_file_order(std::vector<Finding> list);

// The reader's failure value: the fixed message, the cause, its reason and offset.
Error reading_failure(FindingCode cause, std::string reason, uint64_t offset);

// The reason of a failure that the default reading detects: `field` is the
// offending text (a row or bound type), `limits` give the numbers of the size limits.
std::string failure_reason(FindingCode cause, std::string_view field, const ReaderLimits& limits);

// Message pieces: a name in single quotes (long names shortened), a number as the
// shortest text that reads back the same, a count with thousands separators.
std::string quoted(std::string_view name);
std::string number_text(double value);
std::string count_text(uint64_t count);

// Why a field that is not a number reads as 0 ("'9/10' is a fraction, ..."), for
// the bad-number finding.
std::string bad_number_message(std::string_view field);

// "{what} is not valid UTF-8 (byte 0xC3 at column 7)" for the first bad byte of
// `name`, a view into the current line starting at `line_start` (offset in `text`).
std::string invalid_utf8_message(std::string_view what, std::string_view name, std::string_view text,
                                 uint64_t line_start, uint64_t& bad_offset);

}  // namespace mopsel
