#pragma once
// Loads a model file into memory; paths ending in ".gz" are gzip-expanded.
#include <string_view>

#include "model/owned_array.hpp"
#include "model/result.hpp"

namespace mopsel {

// Returns the file's bytes (decompressed for ".gz"), or a Load error: "Cannot open
// file: {}" / "Read error: {}" around the message of the failure.
Result<ByteBuffer> load_source(std::string_view path);

}  // namespace mopsel
