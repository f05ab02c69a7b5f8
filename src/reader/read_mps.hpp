#pragma once
// Entry of the MPS reader: model text in, complete ModelRecord or the one
// failure message ("Failed to parse MPS file") out.
#include <string_view>

#include "model/model_record.hpp"
#include "model/result.hpp"

namespace mopsel {

inline constexpr const char* kParseFailure = "Failed to parse MPS file";

// Reads free-format MPS text. The text must stay alive for the duration of the
// call only: the returned record owns copies of every name.
Result<ModelRecord> read_mps(std::string_view text);

}  // namespace mopsel
