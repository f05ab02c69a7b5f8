#pragma once
// Entry of the LP reader: LP text (or an LP file) in, a complete ModelRecord or a
// failure out. The text is read in one pass: the lexer (lp_lexer.hpp) cuts tokens,
// a recursive-descent loop over the sections (read_lp.cpp) applies them to the
// model being built (lp_model.hpp), whose rows become the column-wise matrix at
// the end. docs/compatibility.md gives the dialect, rule by rule.
//
// A failure is the Parse error kLpParseFailure with its cause (a finding code),
// its reason ("expected a number after '<='"), the byte offset, and the line,
// line number and column where reading failed.
#include <array>
#include <cstdint>
#include <string_view>
#include <vector>

#include "lp/lp_values.hpp"
#include "model/finding_code.hpp"
#include "model/interrupt.hpp"
#include "model/model_record.hpp"
#include "model/result.hpp"
#include "reader/records/findings.hpp"
#include "reader/records/reader_state.hpp"

namespace mopsel {


struct LpReadOptions {
  // Fail at the first finding that the default reading passes over (repeated
  // terms, bounds of variables no expression uses, a missing End line, SOS).
  bool strict = false;
};

// Reads LP text. The text must stay alive for the duration of the call only.
Result<ModelRecord> read_lp(std::string_view text, const LpReadOptions& options = {},
                            const ReaderLimits& limits = ReaderLimits{}, const Interruption& interruption = {});

// Loads the file at `path` (gzip-expanded when `gzip`) and reads it as LP text.
Result<ModelRecord> read_lp_file(std::string_view path, bool gzip, const LpReadOptions& options = {},
                                 const Interruption& interruption = {});

// Every finding of one reading, in file order (at most `limit` of each code), and
// the count of each code. Reading stops at the first syntax error, which is then
// the last finding.
CheckReport check_lp(std::string_view text, size_t limit, const ReaderLimits& limits = ReaderLimits{},
                       const Interruption& interruption = {});

}  // namespace mopsel
