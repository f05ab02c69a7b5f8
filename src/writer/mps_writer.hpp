#pragma once
// Renders a ModelRecord as MPS text with a fixed, byte-exact layout, or in fixed-format
// columns (WriteOptions::fixed_columns).
//
// Inconsistent records (an index out of range) raise InternalFault before any
// text is produced or any file is touched (record_checks.hpp); a record with a name
// the text cannot carry (name_checks.hpp), or in fixed columns with a number whose
// exact text does not fit, fails with an Unwritable error, with nothing written.
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

// The one path writer: writes the text (gzip-compressed with options.gzip) to
// the file at `path` (bytes used as given) through an 8192-byte buffer: a
// regular file is replaced whole once the text is complete, other files are
// written directly (output_file.hpp). Fails with an Os error whose message is
// the bare text, e.g. "No space left on device (os error 28)", or "file name
// contained an unexpected NUL byte"; or with Interrupted. After a failure an
// existing file is as it was.
Status write_mps_to_file(const ModelRecord& record, std::string_view path, const WriteOptions& options = {},
                         const Interruption& interruption = {});

// Writes finished bytes (text compressed elsewhere) to the file at `path` as
// write_mps_to_file writes its text, with the same failures.
Status write_bytes_to_file(std::string_view bytes, std::string_view path, const Interruption& interruption = {});

}  // namespace mopsel
