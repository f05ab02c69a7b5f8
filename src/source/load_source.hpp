#pragma once
// Loads a model file into memory, plain or gzip-expanded.
#include <string_view>

#include "model/interrupt.hpp"
#include "model/owned_array.hpp"
#include "model/result.hpp"
#include "gzip/gzip_stream.hpp"

namespace mopsel {

// Whether a path names gzip data: it ends in ".gz", case-sensitively ("x.GZ" is
// plain). The content is not looked at. Reading and write_file both use this rule.
bool names_gzip(std::string_view path) noexcept;

// Returns the file's bytes (decompressed for a name ending in ".gz": every member,
// as gzip -d gives them), or a Load error: "Cannot open file: {}" / "Read error: {}"
// around the message of the failure; or Interrupted when `interruption` asked to stop.
Result<ByteBuffer> load_source(std::string_view path, const Interruption& interruption = {});

// The same with the format given by the caller (for example decided from the file's
// first bytes) instead of the name. Besides the Load message, the error keeps what the
// failure was: `reason` holds the inner text, `os_error` the error number of a system
// call, and a gzip stream that cannot be decoded has the cause CompressedData.
Result<ByteBuffer> load_source(std::string_view path, bool gzip, const Interruption& interruption = {});

// load_source of a gzip file whose text `reader` reads while it is inflated, when that
// fits (see decode_gzip_streamed, which sets `streamed`); the same result and errors.
Result<ByteBuffer> load_gzip_streamed(std::string_view path, const Interruption& interruption,
                                      const ArrivingTextReader& reader, bool& streamed);

}  // namespace mopsel
