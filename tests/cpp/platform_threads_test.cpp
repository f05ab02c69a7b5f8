// The default thread count honours the CPU quota of the process's cgroup (v2 cpu.max,
// v1 cpu.cfs_quota_us over cpu.cfs_period_us, the tightest of the cgroup and its
// parents) as well as its CPU affinity, read from a fake cgroup tree.
#include <gtest/gtest.h>
#include <sched.h>

#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/cgroup_quota.hpp"
#include "platform/reading_threads.hpp"
#include "source_test_support.hpp"

namespace mopsel {
namespace {

using Files = std::vector<std::pair<std::string, std::string>>;

// A fake root: /proc/self/cgroup, /proc/self/mountinfo and the cgroup files.
void write_tree(const testing::TempDir& dir, const Files& files) {
  for (const auto& [path, text] : files) {
    std::filesystem::create_directories(std::filesystem::path(dir.file(path)).parent_path());
    (void)dir.write(path, text);
  }
}

const std::string kV2Mount = "30 23 0:26 / /sys/fs/cgroup rw,nosuid - cgroup2 cgroup2 rw,nsdelegate\n";
const std::string kV1Mount =
    "32 31 0:29 / /sys/fs/cgroup/cpu,cpuacct rw,relatime - cgroup cgroup rw,cpu,cpuacct\n"
    "33 31 0:30 / /sys/fs/cgroup/cpuset rw,relatime - cgroup cgroup rw,cpuset\n";

struct QuotaCase {
  const char* what;
  Files files;
  std::optional<unsigned> limit;
};

std::vector<QuotaCase> quota_cases() {
  const std::string v2_mountinfo = "22 1 0:21 / / rw - ext4 /dev/vda rw\n" + kV2Mount;
  const std::string v1_mountinfo = "22 1 0:21 / / rw - ext4 /dev/vda rw\n" + kV1Mount;
  return {
      {"v2: 1.5 CPUs round up to 2",
       {{"proc/self/mountinfo", v2_mountinfo}, {"proc/self/cgroup", "0::/job\n"},
        {"sys/fs/cgroup/job/cpu.max", "150000 100000\n"}},
       2u},
      {"v2: no quota", {{"proc/self/mountinfo", v2_mountinfo}, {"proc/self/cgroup", "0::/job\n"},
                        {"sys/fs/cgroup/job/cpu.max", "max 100000\n"}},
       std::nullopt},
      {"v2: a fifth of a CPU is one thread",
       {{"proc/self/mountinfo", v2_mountinfo}, {"proc/self/cgroup", "0::/job\n"},
        {"sys/fs/cgroup/job/cpu.max", "20000 100000\n"}},
       1u},
      {"v2: the parent's quota is tighter than the cgroup's",
       {{"proc/self/mountinfo", v2_mountinfo}, {"proc/self/cgroup", "0::/a/b/c\n"},
        {"sys/fs/cgroup/a/b/c/cpu.max", "800000 100000\n"}, {"sys/fs/cgroup/a/b/cpu.max", "max 100000\n"},
        {"sys/fs/cgroup/a/cpu.max", "300000 100000\n"}},
       3u},
      {"v2: the cgroup's quota is tighter than the parent's",
       {{"proc/self/mountinfo", v2_mountinfo}, {"proc/self/cgroup", "0::/a/b\n"},
        {"sys/fs/cgroup/a/b/cpu.max", "100000 50000\n"}, {"sys/fs/cgroup/a/cpu.max", "400000 100000\n"}},
       2u},
      {"v2: a container sees its cgroup as the root of the mount",
       {{"proc/self/mountinfo", v2_mountinfo}, {"proc/self/cgroup", "0::/\n"},
        {"sys/fs/cgroup/cpu.max", "250000 100000\n"}},
       3u},
      {"v2: unreadable numbers count as no quota",
       {{"proc/self/mountinfo", v2_mountinfo}, {"proc/self/cgroup", "0::/job\n"},
        {"sys/fs/cgroup/job/cpu.max", "lots 100000\n"}},
       std::nullopt},
      {"v2: a period of 0 counts as no quota",
       {{"proc/self/mountinfo", v2_mountinfo}, {"proc/self/cgroup", "0::/job\n"},
        {"sys/fs/cgroup/job/cpu.max", "100000 0\n"}},
       std::nullopt},
      {"v1: quota over period, the controllers mounted together",
       {{"proc/self/mountinfo", v1_mountinfo},
        {"proc/self/cgroup", "5:cpuset:/\n4:cpu,cpuacct:/job\n1:name=systemd:/job\n"},
        {"sys/fs/cgroup/cpu,cpuacct/job/cpu.cfs_quota_us", "250000\n"},
        {"sys/fs/cgroup/cpu,cpuacct/job/cpu.cfs_period_us", "100000\n"}},
       3u},
      {"v1: a quota of -1 is none",
       {{"proc/self/mountinfo", v1_mountinfo}, {"proc/self/cgroup", "4:cpu,cpuacct:/job\n"},
        {"sys/fs/cgroup/cpu,cpuacct/job/cpu.cfs_quota_us", "-1\n"},
        {"sys/fs/cgroup/cpu,cpuacct/job/cpu.cfs_period_us", "100000\n"}},
       std::nullopt},
      {"v1: a container whose mount's root is its own cgroup",
       {{"proc/self/mountinfo",
         "32 31 0:29 /docker/abc /sys/fs/cgroup/cpu rw - cgroup cgroup rw,cpu\n"},
        {"proc/self/cgroup", "3:cpu:/docker/abc\n"},
        {"sys/fs/cgroup/cpu/cpu.cfs_quota_us", "100000\n"},
        {"sys/fs/cgroup/cpu/cpu.cfs_period_us", "100000\n"}},
       1u},
      {"v1: a cgroup outside the mount's root reads the mount's own files",
       {{"proc/self/mountinfo", "32 31 0:29 /docker/abc /sys/fs/cgroup/cpu rw - cgroup cgroup rw,cpu\n"},
        {"proc/self/cgroup", "3:cpu:/docker/abcd\n"},
        {"sys/fs/cgroup/cpu/cpu.cfs_quota_us", "200000\n"},
        {"sys/fs/cgroup/cpu/cpu.cfs_period_us", "100000\n"}},
       2u},
      {"hybrid: v1's cpu quota, v2 mounted without the cpu controller",
       {{"proc/self/mountinfo", v1_mountinfo + kV2Mount},
        {"proc/self/cgroup", "4:cpu,cpuacct:/job\n0::/job\n"},
        {"sys/fs/cgroup/cpu,cpuacct/job/cpu.cfs_quota_us", "400000\n"},
        {"sys/fs/cgroup/cpu,cpuacct/job/cpu.cfs_period_us", "100000\n"}},
       4u},
      {"v1 and v2 both limiting: the tighter",
       {{"proc/self/mountinfo", "32 31 0:29 / /v1 rw - cgroup cgroup rw,cpu\n" + kV2Mount},
        {"proc/self/cgroup", "4:cpu:/job\n0::/job\n"},
        {"v1/job/cpu.cfs_quota_us", "400000\n"},
        {"v1/job/cpu.cfs_period_us", "100000\n"},
        {"sys/fs/cgroup/job/cpu.max", "200000 100000\n"}},
       2u},
      {"a cpuacct-only mount is not the cpu controller",
       {{"proc/self/mountinfo", "33 31 0:30 / /sys/fs/cgroup/cpuacct rw - cgroup cgroup rw,cpuacct\n"},
        {"proc/self/cgroup", "2:cpuacct:/job\n"},
        {"sys/fs/cgroup/cpuacct/job/cpu.cfs_quota_us", "100000\n"},
        {"sys/fs/cgroup/cpuacct/job/cpu.cfs_period_us", "100000\n"}},
       std::nullopt},
      {"no mountinfo", {{"proc/self/cgroup", "0::/job\n"}, {"sys/fs/cgroup/job/cpu.max", "100000 100000\n"}},
       std::nullopt},
      {"no cgroup file", {{"proc/self/mountinfo", v2_mountinfo}, {"sys/fs/cgroup/cpu.max", "100000 100000\n"}},
       std::nullopt},
      {"nothing at all", {}, std::nullopt},
  };
}

TEST(ReadingThreads, CgroupQuotaFromAFakeTree) {
  for (const QuotaCase& c : quota_cases()) {
    const testing::TempDir dir;
    write_tree(dir, c.files);
    EXPECT_EQ(cgroup_cpu_limit(dir.file("")), c.limit) << c.what;
  }
}

unsigned affinity() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof(set), &set) != 0) return 0;
  return static_cast<unsigned>(CPU_COUNT(&set));
}

// The count is the affinity's, cut to the quota; never 0.
TEST(ReadingThreads, DefaultCountIsTheAffinityWithinTheQuota) {
  const unsigned cpus = affinity();
  ASSERT_GT(cpus, 0u);
  const std::string mountinfo = kV2Mount;
  for (const char* cpu_max : {"100000 100000\n", "1000 100000\n", "max 100000\n", "400000000 100000\n"}) {
    const testing::TempDir dir;
    write_tree(dir, {{"proc/self/mountinfo", mountinfo}, {"proc/self/cgroup", "0::/job\n"},
                     {"sys/fs/cgroup/job/cpu.max", cpu_max}});
    const std::optional<unsigned> limit = cgroup_cpu_limit(dir.file(""));
    EXPECT_EQ(default_thread_count(dir.file("")), limit ? std::min(cpus, *limit) : cpus) << cpu_max;
  }
  const testing::TempDir one;
  write_tree(one, {{"proc/self/mountinfo", mountinfo}, {"proc/self/cgroup", "0::/\n"},
                   {"sys/fs/cgroup/cpu.max", "50000 100000\n"}});
  EXPECT_EQ(default_thread_count(one.file("")), 1u);
}

}  // namespace
}  // namespace mopsel
