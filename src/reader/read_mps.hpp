#pragma once
// Entry of the MPS reader: model text (or a model file) in, complete ModelRecord
// or a failure out. The steps below it, in order: the size-hint scan
// (size_hints), the section reader (sections, which applies the COLUMNS, RANGES
// and BOUNDS records to the fields lines.hpp cuts), then assembly (assemble).
// Reading with options other than the default (strict, fixed or automatic format)
// and checking take the careful section reader (careful_lines).
//
// A failure is the Parse error kParseFailure carrying its cause, its reason, the
// byte offset and the line (number and text) where reading failed: these details
// are worked out only once a read has failed.
#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "model/interrupt.hpp"
#include "model/model_record.hpp"
#include "model/result.hpp"
#include "reader/records/findings.hpp"
#include "reader/records/read_options.hpp"
#include "reader/records/reader_state.hpp"

namespace mopsel {

// What a read passed over or guessed (reader/records/notices.hpp): one entry per kind
// met, with the count, the line where it was first met and the text there (a name, a
// number; for skipped sections their names, comma-separated).
struct ReadNotice {
  FindingCode code;
  uint64_t count;
  uint64_t lineno;
  std::string first;
};
using ReadNotices = std::vector<ReadNotice>;

// Reads free-format MPS text. The text must stay alive for the duration of the
// call only: the returned record owns copies of every name. Fails with the Parse
// error kParseFailure, or with Interrupted when `interruption` asked to stop (every
// entry below takes one and stops so too).
Result<ModelRecord> read_mps(std::string_view text, const Interruption& interruption = {});

// read_mps with size limits other than the representable ones (tests lower them
// to reach them with small texts).
Result<ModelRecord> read_mps_with_limits(std::string_view text, const ReaderLimits& limits,
                                         const Interruption& interruption = {});

// Reads with `options` (`collect` is ignored). The default options read exactly as
// read_mps. Free and automatic formats with the default rules take the default reader;
// the automatic format reads the text again carefully when it shows the signs of fixed
// columns, giving what a careful automatic read gives. `notices`, when given, receives
// what the read passed over (also when it failed).
Result<ModelRecord> read_mps(std::string_view text, const ReadOptions& options,
                             const ReaderLimits& limits = ReaderLimits{}, const Interruption& interruption = {},
                             ReadNotices* notices = nullptr);

// read_mps_with_limits for options the default reader takes (ReadOptions::default_reader:
// free or automatic format), filling `notices` as read_mps does.
Result<ModelRecord> read_mps_with_limits(std::string_view text, const ReaderLimits& limits,
                                         const Interruption& interruption, const ReadOptions& options,
                                         ReadNotices* notices);

// Loads the file at `path` (gzip-expanded when the name ends in ".gz") and reads
// it; the loaded text is released before the call returns. Fails with the Load
// error of load_source, the Parse error of read_mps, or Interrupted.
Result<ModelRecord> read_mps_file(std::string_view path, const Interruption& interruption = {});

// The same with the format given by the caller instead of the name. gzip text is
// read while it is inflated on a helper thread when that fits (gzip_stream.hpp), with
// the same outcome.
Result<ModelRecord> read_mps_file(std::string_view path, bool gzip, const Interruption& interruption = {});

// The same with `options` and `notices` as read_mps takes them.
Result<ModelRecord> read_mps_file(std::string_view path, bool gzip, const ReadOptions& options,
                                  const Interruption& interruption, ReadNotices* notices);

// What a check found (CheckReport, findings.hpp). A text that cannot be read gives
// its failures as findings.
// An interruption ends the check early: the report then holds what was found so far.
CheckReport check_mps(std::string_view text, ReadOptions options, const ReaderLimits& limits = ReaderLimits{},
                      const Interruption& interruption = {});

}  // namespace mopsel
