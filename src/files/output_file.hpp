#pragma once
// The file that write_file fills, replaced whole or not at all.
//
// A regular file (existing or new) is written as a temporary file beside it,
// which is renamed over it once complete: a reader opening the path meanwhile
// sees the old or the new content, never a torn one, and any failure (a full
// disk, an interrupt, an internal fault) leaves the old file as it was and
// removes the temporary. The new file keeps an existing file's permission bits
// (and its owner and group where the process may set them); a symbolic link is
// followed, and the file it names is replaced, not the link. Everything else is
// written directly, as before: devices (/dev/null), FIFOs, /dev/stdout and the
// other links of /proc, and, as a fallback, a file whose directory refuses a
// temporary (no write permission there, or a name too long for the suffix).
#include <string>
#include <string_view>

#include "model/interrupt.hpp"
#include "model/result.hpp"

namespace mopsel {

class OutputFile {
 public:
  // Opens the output for `path` (bytes used as given). Fails with an Os error
  // whose message is the bare text ("No such file or directory (os error 2)",
  // kNulInPath) or with Interrupted (opening a FIFO waits for its reader).
  static Result<OutputFile> open(std::string_view path, const Interruption& interruption = {});

  OutputFile(OutputFile&& other) noexcept;
  OutputFile& operator=(OutputFile&&) = delete;
  OutputFile(const OutputFile&) = delete;
  // Without commit: closes the descriptor if still held and removes the temporary.
  ~OutputFile();

  // The descriptor to write to, handed over: the caller closes it (before commit).
  [[nodiscard]] int release_descriptor() noexcept;

  // Puts the written file in place (renames the temporary over the target).
  // Fails with an Os error; the temporary is then removed.
  Status commit();

 private:
  OutputFile(int fd, std::string temporary, std::string target) noexcept;

  int fd_ = -1;
  std::string temporary_;  // empty when written directly
  std::string target_;
};

}  // namespace mopsel
