#pragma once
// Renders a ModelRecord as MPS text with a fixed, byte-exact layout.
//
// Inconsistent records (an index out of range) raise InternalFault; the text
// produced up to that point stays in the sink.
#include <string_view>

#include "model/interrupt.hpp"
#include "model/model_record.hpp"
#include "model/owned_array.hpp"
#include "model/result.hpp"
#include "writer/write_options.hpp"

namespace mopsel {

// Appends the whole text (gzip-compressed with options.gzip) to `out`. The
// in-memory sink cannot fail (short of std::bad_alloc), so the status is success
// unless `interruption` asked to stop (Interrupted; the text so far stays in `out`).
Status write_mps_to_buffer(const ModelRecord& record, ByteBuffer& out, const WriteOptions& options = {},
                           const Interruption& interruption = {});

// The one path writer: creates or truncates the file at `path` (bytes used as
// given; mode 0666 before the umask) and writes the text (gzip-compressed with
// options.gzip) through an 8192-byte buffer. Fails with an Os error whose
// message is the bare text, e.g. "No space left on device (os error 28)", or
// "file name contained an unexpected NUL byte"; or with Interrupted.
Status write_mps_to_file(const ModelRecord& record, std::string_view path, const WriteOptions& options = {},
                         const Interruption& interruption = {});

}  // namespace mopsel
