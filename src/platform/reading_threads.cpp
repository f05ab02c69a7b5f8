#include "platform/reading_threads.hpp"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <mutex>

#if defined(__linux__)
#include <sched.h>
#endif
#include <thread>

#include "platform/cgroup_quota.hpp"

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
  plan.lp_min_bytes = 0;
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
  plan.lp_min_bytes = SIZE_MAX;
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
