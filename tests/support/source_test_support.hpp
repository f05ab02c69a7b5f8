#pragma once
// Helpers shared by the loader tests: a temporary directory and a named pipe fed in
// pieces of a given size by a writer thread.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>

namespace mopsel::testing {

// A fresh directory under the system's temporary folder, removed with its contents.
class TempDir {
 public:
  TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "mopsel-source-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
  }
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  std::string file(const std::string& name) const { return (path_ / name).string(); }
  std::string write(const std::string& name, std::string_view bytes) const {
    const std::string path = file(name);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return path;
  }

 private:
  std::filesystem::path path_;
};

// Creates a FIFO at `path` and a thread that writes `content` into it `chunk` bytes at
// a time; join the thread after the reader is done.
inline std::thread feed_pipe(const std::string& path, const std::string& content, size_t chunk) {
  if (::mkfifo(path.c_str(), 0600) != 0) throw std::runtime_error("mkfifo failed");
  return std::thread([path, &content, chunk] {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
    for (size_t at = 0; fd >= 0 && at < content.size(); at += chunk) {
      const size_t n = std::min(chunk, content.size() - at);
      if (::write(fd, content.data() + at, n) != static_cast<ssize_t>(n)) break;
    }
    if (fd >= 0) ::close(fd);
  });
}

}  // namespace mopsel::testing
