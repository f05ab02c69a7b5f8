#pragma once
// Entry of the MPS reader: model text (or a model file) in, complete ModelRecord
// or a failure out. The steps below it, in order: the size-hint scan
// (size_hints), the section reader (sections, which applies the COLUMNS, RANGES
// and BOUNDS records to the fields lines.hpp cuts), then assembly (assemble).
#include <string_view>

#include "model/model_record.hpp"
#include "model/result.hpp"
#include "reader/reader_state.hpp"

namespace mopsel {

// Reads free-format MPS text. The text must stay alive for the duration of the
// call only: the returned record owns copies of every name. Fails with the Parse
// error kParseFailure.
Result<ModelRecord> read_mps(std::string_view text);

// read_mps with size limits other than the representable ones (tests lower them
// to reach them with small texts).
Result<ModelRecord> read_mps_with_limits(std::string_view text, const ReaderLimits& limits);

// Loads the file at `path` (gzip-expanded when the name ends in ".gz") and reads
// it; the loaded text is released before the call returns. Fails with the Load
// error of load_source or the Parse error of read_mps.
Result<ModelRecord> read_mps_file(std::string_view path);

}  // namespace mopsel
