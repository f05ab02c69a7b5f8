#include "files/output_file.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <utility>

#include "files/posix_file.hpp"
#include "platform/system_random.hpp"

namespace mopsel {
namespace {

constexpr int kCreateFlags = O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC;
constexpr int kMaxLinks = 40;  // as many links as the kernel follows in one path

std::string directory_of(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string_view base_name_of(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string_view(path) : std::string_view(path).substr(slash + 1);
}

bool inside_proc(const std::string& canonical) {
  return canonical == "/proc" || canonical.starts_with("/proc/");
}

// The file a path names once symbolic links in its last component are followed
// (it may not exist yet: a new file, or a link to a missing file); nothing when
// the path is better written directly: a link of /proc (/dev/stdout leads to
// /proc/self/fd/1, whose target is no path), too many links, or a failed lookup,
// which the direct open then reports.
std::optional<std::string> final_target(std::string path) {
  for (int hop = 0; hop < kMaxLinks; ++hop) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0) {
      if (errno == ENOENT) return path;
      return std::nullopt;
    }
    if (!S_ISLNK(info.st_mode)) return path;
    char* canonical = ::realpath(directory_of(path).c_str(), nullptr);
    if (canonical == nullptr) return std::nullopt;
    const std::string directory(canonical);
    std::free(canonical);
    if (inside_proc(directory)) return std::nullopt;
    char buffer[PATH_MAX];
    const ssize_t length = ::readlink(path.c_str(), buffer, sizeof buffer);
    if (length <= 0 || length >= static_cast<ssize_t>(sizeof buffer)) return std::nullopt;
    const std::string link(buffer, static_cast<size_t>(length));
    path = link.front() == '/' ? link : (directory == "/" ? "/" : directory + "/") + link;
  }
  return std::nullopt;
}

// A fresh temporary file beside `target`, ".{name}.{16 hex digits}.tmp", mode
// 0666 before the umask. Returns its descriptor and fills `temporary`, or the
// errno of the failure (EINTR when `interruption` said stop while waiting).
int create_temporary(const std::string& target, std::string& temporary, const Interruption& interruption) {
  const std::string directory = directory_of(target);
  for (int attempt = 0; attempt < 100; ++attempt) {
    uint64_t random = 0;
    system_random(&random, sizeof random);
    char suffix[24];
    std::snprintf(suffix, sizeof suffix, ".%016llx.tmp", static_cast<unsigned long long>(random));
    temporary = (directory == "/" ? "" : directory) + "/." + std::string(base_name_of(target)) + suffix;
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) return fd;
    if (errno == EEXIST) continue;
    if (errno == EINTR && !interruption.requested(true)) continue;
    const int error = errno;
    temporary.clear();
    return -error;
  }
  temporary.clear();
  return -EEXIST;
}

}  // namespace

OutputFile::OutputFile(int fd, std::string temporary, std::string target) noexcept
    : fd_(fd), temporary_(std::move(temporary)), target_(std::move(target)) {}

OutputFile::OutputFile(OutputFile&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)),
      temporary_(std::move(other.temporary_)),
      target_(std::move(other.target_)) {
  other.temporary_.clear();
}

OutputFile::~OutputFile() {
  if (fd_ >= 0) ::close(fd_);
  if (!temporary_.empty()) ::unlink(temporary_.c_str());
}

int OutputFile::release_descriptor() noexcept { return std::exchange(fd_, -1); }

Result<OutputFile> OutputFile::open(std::string_view path, const Interruption& interruption) {
  if (path.find('\0') != std::string_view::npos) return Error{ErrorKind::Os, std::string(kNulInPath)};
  auto direct = [&]() -> Result<OutputFile> {
    Result<int> fd = open_path(path, kCreateFlags, interruption);
    if (!fd) return fd.error();
    return OutputFile(fd.value(), {}, std::string(path));
  };
  if (path.empty()) return direct();  // no file can have that name; open(2) says so
  const std::optional<std::string> target = final_target(std::string(path));
  if (!target) return direct();
  struct stat existing {};
  const bool exists = ::lstat(target->c_str(), &existing) == 0;
  const int lookup_error = exists ? 0 : errno;
  if (exists ? !S_ISREG(existing.st_mode) : lookup_error != ENOENT) return direct();

  std::string temporary;
  const int fd = create_temporary(*target, temporary, interruption);
  if (fd < 0) {
    // A directory that takes no new file while the file itself may be writable,
    // or a name too long for the suffix: write in place, as before.
    if (fd == -EACCES || fd == -EPERM || fd == -ENAMETOOLONG) return direct();
    if (fd == -EINTR) return interrupted();
    return os_error(-fd);
  }
  OutputFile output(fd, std::move(temporary), *target);
  if (exists) {
    // The replacement keeps what it can of the file it replaces (owner first: a
    // change of owner clears set-id bits); what the process may not set stays as
    // created.
    struct stat created {};
    if (::fstat(fd, &created) == 0 && (created.st_uid != existing.st_uid || created.st_gid != existing.st_gid)) {
      (void)!::fchown(fd, existing.st_uid, existing.st_gid);
    }
    (void)!::fchmod(fd, existing.st_mode & 07777);
  }
  return output;
}

Status OutputFile::commit() {
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
  if (temporary_.empty()) return Status::success();
  const std::string temporary = std::exchange(temporary_, {});
  if (::rename(temporary.c_str(), target_.c_str()) == 0) return Status::success();
  const int error = errno;
  ::unlink(temporary.c_str());
  return os_error(error);
}

}  // namespace mopsel
