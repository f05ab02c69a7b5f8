#include "platform/reading_threads.hpp"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string_view>
#include <vector>

#if defined(__linux__)
#include <sched.h>
#endif
#include <thread>

namespace mopsel {

namespace {

std::atomic<unsigned> g_in_use{0};

std::mutex g_test_plan_lock;
std::optional<ThreadPlan> g_test_plan;

unsigned affinity_cpus() noexcept {
#if defined(__linux__)
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof(set), &set) == 0) {
    const int n = CPU_COUNT(&set);
    if (n > 0) return static_cast<unsigned>(n);
  }
#endif
  const unsigned n = std::thread::hardware_concurrency();
  return n > 0 ? n : 1;
}

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

std::optional<unsigned> cgroup_limit_below(const std::string& root) noexcept {
  try {
    return cgroup_cpu_limit(root);
  } catch (...) {
    return std::nullopt;  // no memory for a few lines: no limit known
  }
}

unsigned within_quota(unsigned cpus, std::optional<unsigned> quota) noexcept {
  return quota ? std::max(1u, std::min(cpus, *quota)) : cpus;
}

unsigned usable_cpus() noexcept {
  // The quota is read once per process; the affinity, which a program may change, every time.
  static const std::optional<unsigned> quota = cgroup_limit_below("");
  return within_quota(affinity_cpus(), quota);
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

unsigned default_thread_count(const std::string& cgroup_root) noexcept {
  return within_quota(affinity_cpus(), cgroup_limit_below(cgroup_root));
}

ThreadPlan plan_taking_every_path(unsigned threads, size_t piece_bytes) noexcept {
  ThreadPlan plan;
  plan.threads = threads;
  plan.min_bytes = 0;
  plan.chunk_bytes = piece_bytes;
  plan.records_min_bytes = 0;
  plan.shared_rows_min = 0;
  plan.named_columns_min = 0;
  plan.named_columns_per_byte = 0;
  plan.shared_map_min = 0;
  return plan;
}

ThreadPlan plan_taking_no_path() noexcept {
  ThreadPlan plan;
  plan.threads = 1;
  plan.min_bytes = SIZE_MAX;
  plan.load_min_bytes = SIZE_MAX;
  plan.records_min_bytes = SIZE_MAX;
  plan.shared_rows_min = SIZE_MAX;
  plan.named_columns_min = SIZE_MAX;
  plan.shared_map_min = SIZE_MAX;
  plan.prefault_min_bytes = SIZE_MAX;
  return plan;
}

std::optional<unsigned> parse_thread_count(const char* text) noexcept {
  if (text == nullptr || *text == '\0') return std::nullopt;
  unsigned value = 0;
  for (const char* p = text; *p != '\0'; ++p) {
    if (*p < '0' || *p > '9') return std::nullopt;
    value = value * 10 + static_cast<unsigned>(*p - '0');
    if (value > 1024) return std::nullopt;
  }
  if (value == 0) return std::nullopt;
  return value;
}

ThreadPlan reading_thread_plan() noexcept {
  {
    const std::lock_guard<std::mutex> hold(g_test_plan_lock);
    if (g_test_plan) return *g_test_plan;
  }
  ThreadPlan plan;
  const std::optional<unsigned> asked = parse_thread_count(std::getenv("MOPSEL_THREADS"));
  plan.threads = asked ? *asked : usable_cpus();
  return plan;
}

void use_thread_plan_for_tests(std::optional<ThreadPlan> plan) noexcept {
  const std::lock_guard<std::mutex> hold(g_test_plan_lock);
  g_test_plan = plan;
}

unsigned reading_threads_in_use() noexcept { return g_in_use.load(); }

ThreadLease::ThreadLease(unsigned wanted, unsigned total) noexcept {
  // The reading thread counts whatever the others hold: it runs anyway.
  g_in_use.fetch_add(1);
  grow(wanted, total);
}

void ThreadLease::grow(unsigned wanted, unsigned total) noexcept {
  unsigned held = g_in_use.load();
  const unsigned want = wanted > 0 ? wanted - 1 : 0;
  while (helpers_ < want && held < total) {
    if (g_in_use.compare_exchange_weak(held, held + 1)) {
      ++helpers_;
      ++held;
    }
  }
}

ThreadLease::~ThreadLease() { g_in_use.fetch_sub(helpers_ + 1); }

}  // namespace mopsel
