#pragma once
// The CPU quota of the process's cgroup, as a number of CPUs: a container given 1.5 CPUs
// of a 64-core host may run 64 threads but gets the time of 1.5, so its reads should
// not start more than two.
#include <optional>
#include <string>

namespace mopsel {

// The CPUs the cgroup of the process may use by its quotas, rounded up: the smallest
// over the cgroup and its parents of cgroup v2's cpu.max and cgroup v1's
// cpu.cfs_quota_us / cpu.cfs_period_us (the hierarchies found in /proc/self/mountinfo,
// the process's cgroups in /proc/self/cgroup); nothing when no quota applies or the
// files cannot be read. Paths are taken below `root` ("" for the running system; tests
// give a folder holding proc/self/cgroup, proc/self/mountinfo and the cgroup files).
// Throws std::bad_alloc.
std::optional<unsigned> cgroup_cpu_limit(const std::string& root);

}  // namespace mopsel
