#include "platform/cgroup_quota.hpp"

#include <algorithm>
#include <fstream>
#include <string_view>
#include <vector>

namespace mopsel {
namespace {

std::vector<std::string> lines_of(const std::string& path) {
  std::vector<std::string> lines;
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::vector<std::string_view> split(std::string_view text, char at) {
  std::vector<std::string_view> parts;
  for (size_t start = 0;;) {
    const size_t end = text.find(at, start);
    parts.push_back(text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start));
    if (end == std::string_view::npos) return parts;
    start = end + 1;
  }
}

// A mounted cgroup hierarchy: where it is mounted and which cgroup is its root.
struct CgroupMount {
  std::string point;
  std::string root;
};

// A whole number, perhaps negative; nothing for anything else ("max" included).
std::optional<long long> number_in(std::string_view word) {
  if (word.empty() || word.size() > 18) return std::nullopt;
  long long value = 0;
  size_t i = word[0] == '-' ? 1 : 0;
  if (i == word.size()) return std::nullopt;
  for (; i < word.size(); ++i) {
    if (word[i] < '0' || word[i] > '9') return std::nullopt;
    value = value * 10 + (word[i] - '0');
  }
  return word[0] == '-' ? -value : value;
}

std::optional<unsigned> cpus_of(long long quota, long long period) {
  if (quota <= 0 || period <= 0) return std::nullopt;  // -1 (v1) or "max" (v2): no quota
  const long long cpus = (quota + period - 1) / period;
  return static_cast<unsigned>(std::min<long long>(cpus, 1 << 20));
}

// cgroup v2: "max 100000" or "150000 100000".
std::optional<unsigned> v2_limit(const std::string& dir) {
  const std::vector<std::string> lines = lines_of(dir + "/cpu.max");
  if (lines.empty()) return std::nullopt;
  const std::vector<std::string_view> words = split(lines[0], ' ');
  if (words.size() < 2) return std::nullopt;
  const std::optional<long long> quota = number_in(words[0]);
  const std::optional<long long> period = number_in(words[1]);
  if (!quota || !period) return std::nullopt;
  return cpus_of(*quota, *period);
}

// cgroup v1: cpu.cfs_quota_us (-1: none) over cpu.cfs_period_us.
std::optional<unsigned> v1_limit(const std::string& dir) {
  const std::vector<std::string> quota = lines_of(dir + "/cpu.cfs_quota_us");
  const std::vector<std::string> period = lines_of(dir + "/cpu.cfs_period_us");
  if (quota.empty() || period.empty()) return std::nullopt;
  const std::optional<long long> q = number_in(quota[0]);
  const std::optional<long long> p = number_in(period[0]);
  if (!q || !p) return std::nullopt;
  return cpus_of(*q, *p);
}

// The smallest limit of the cgroup at `path` (as /proc/self/cgroup gives it) and of its
// parents, up to the root of the mounted hierarchy.
template <class Limit>
std::optional<unsigned> walk_up(const std::string& root, const CgroupMount& mount, std::string_view path,
                                const Limit& limit) {
  // The cgroup's path below the mount's root; a path outside it (the mount of a
  // container shows only its own part) leaves the mount itself.
  if (mount.root != "/") {
    const bool inside = path.substr(0, mount.root.size()) == mount.root &&
                        (path.size() == mount.root.size() || path[mount.root.size()] == '/');
    path = inside ? path.substr(mount.root.size()) : std::string_view{};
  }
  std::optional<unsigned> smallest;
  for (std::string below(path);;) {
    while (!below.empty() && below.back() == '/') below.pop_back();
    if (const std::optional<unsigned> here = limit(root + mount.point + below)) {
      smallest = smallest ? std::min(*smallest, *here) : *here;
    }
    if (below.empty()) return smallest;
    below.erase(below.rfind('/') == std::string::npos ? 0 : below.rfind('/'));
  }
}

bool lists(std::string_view options, std::string_view option) {
  for (const std::string_view one : split(options, ',')) {
    if (one == option) return true;
  }
  return false;
}

}  // namespace

std::optional<unsigned> cgroup_cpu_limit(const std::string& root) {
  // mountinfo: "id parent major:minor root point options... - type source super-options".
  std::optional<CgroupMount> v2;
  std::optional<CgroupMount> v1_cpu;
  for (const std::string& line : lines_of(root + "/proc/self/mountinfo")) {
    const size_t dash = line.find(" - ");
    if (dash == std::string::npos) continue;
    const std::vector<std::string_view> fields = split(std::string_view(line).substr(0, dash), ' ');
    const std::vector<std::string_view> rest = split(std::string_view(line).substr(dash + 3), ' ');
    if (fields.size() < 5 || rest.size() < 3) continue;
    const CgroupMount mount{std::string(fields[4]), std::string(fields[3])};
    if (rest[0] == "cgroup2" && !v2) v2 = mount;
    if (rest[0] == "cgroup" && lists(rest[2], "cpu") && !v1_cpu) v1_cpu = mount;
  }
  std::optional<unsigned> smallest;
  const auto take = [&smallest](std::optional<unsigned> limit) {
    if (limit) smallest = smallest ? std::min(*smallest, *limit) : *limit;
  };
  // /proc/self/cgroup: "0::/path" (v2), "id:controller,controller:/path" (v1).
  for (const std::string& line : lines_of(root + "/proc/self/cgroup")) {
    const std::vector<std::string_view> fields = split(line, ':');
    if (fields.size() < 3) continue;
    const std::string_view path = std::string_view(line).substr(fields[0].size() + fields[1].size() + 2);
    if (fields[0] == "0" && fields[1].empty() && v2) take(walk_up(root, *v2, path, v2_limit));
    if (lists(fields[1], "cpu") && v1_cpu) take(walk_up(root, *v1_cpu, path, v1_limit));
  }
  return smallest;
}

}  // namespace mopsel
