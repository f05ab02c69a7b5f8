#pragma once
// How many threads a read may use, and the process-wide count of those in use.
//
// A read whose COLUMNS section is large splits it across threads
// (parallel_columns.hpp), and so does loading a large plain file (parallel_read.hpp).
// By default a process uses as many threads as it may run on: its CPU affinity, and
// no more than the CPU quota of its cgroup (a container limited to 1.5 CPUs reads
// with two threads, not with one per core of the host). The environment variable
// MOPSEL_THREADS sets another number (1 keeps every read on one thread). Reads
// running at the same time share that number: a read takes helper threads only
// while the process's readers hold fewer than it, so that several Python threads
// each reading a large file do not start more threads than there are cores.
#include <cstddef>
#include <optional>
#include <string>

namespace mopsel {

// The sizes from which each threaded path of a read pays for its threads. Each is a
// field of ThreadPlan, so that a test can send small texts down one path alone. The
// figures were measured on the project's 2-core VM; bench/README.md has the runs.
//
// COLUMNS text (from the header to the end of the text) that is cut into pieces read
// by several threads. The pieces cost work of their own: few-rows-60MB takes 746.1 M
// instructions with two threads against 722.8 M with one (+3.2%, the entries copied
// once more when the pieces are appended), which only a free core repays; below it
// (nw04, 26 MB) the spare core maps the arrays ahead instead (kPrefaultMin). Above,
// the reading thread of few-rows-1GB takes 0.52-0.61 s of CPU against 0.83-1.00 s on
// one thread ("Reading with threads").
inline constexpr size_t kColumnsPiecesMin = size_t{32} << 20;
// RHS, BOUNDS or quadratic-section text cut into pieces, for the same reason as
// COLUMNS and from the same size: the pieces cost a copy of their records; few-rows-1GB's reading thread went
// from 0.68-0.89 s to 0.54-0.62 s of CPU with its 60 MB BOUNDS section in pieces
// ("Round 3: the reading thread's remaining work").
inline constexpr size_t kRecordsPiecesMin = size_t{32} << 20;
// ROWS lines (of the first ROWS section) from which the names enter the row map from
// every thread while a helper maps the map's slots. The map is then 10 MB or more,
// beyond the caches, and every insert a miss. many-rows-150MB (558,532 rows) read in
// 0.33-0.40 s sharing from this count against 0.40-0.54 s with the first threshold of
// a million rows ("Round 4: many-rows models").
inline constexpr size_t kSharedRowsMin = size_t{1} << 18;
// Columns from which a short BOUNDS section gets the column map of the names the text
// after it uses instead of the map of every column (named_columns.hpp), when the
// text left has at most 1/kNamedColumnsPerByte byte per column. many-rows-150MB (1.13 M
// columns, 47.7 KB left, 23 columns per byte): 28.1 M instructions against 45.9 M for
// the map of every column; many-rows-1GB: 23-26 ms of CPU against 174-393 ms ("Round
// 4: the column index of the names used"). The set of words costs per byte of the
// text left, the walk per column: from 8 columns per byte on the walk dominates.
inline constexpr size_t kNamedColumnsMin = size_t{1} << 18;
inline constexpr size_t kNamedColumnsPerByte = 8;
// Columns from which the map of every column is built by every thread at once (for
// BOUNDS when the map of the names used does not fit). A million columns cost about
// as much to enter as 32 MiB of text to read; each thread's share then costs 37% of
// the one-thread build, and few-rows-1GB's reading thread lost its 688 ms of
// `sync_columns` ("Round 3: the reading thread's remaining work").
inline constexpr size_t kSharedMapMin = size_t{1} << 20;
// Text from which a read on one thread has a helper map its arrays ahead of it
// (prefault.hpp), up to the size that the COLUMNS threads take. nw04 (26 MB) fresh:
// reading thread 16.6-18.4 ms of CPU against 20.5-21.5 ms, 950-1,550 page faults
// against 3,410 ("The helper that maps the arrays"); at 4 MiB the faults come to
// about 1 ms, below that less than starting the helper saves.
inline constexpr size_t kPrefaultMin = size_t{4} << 20;
// A plain file from this size on is loaded in parts by several threads. Below it a
// load takes under 10 ms, of which a helper saves at most half, and at load 3-4 it
// saved nothing (few-rows-100MB: reading thread 11.7-13.5 ms against 23.8-25.7 ms of
// CPU, wall 25.8-28.4 ms against 24.1-28.0 ms; "Loading large plain files in parts").
inline constexpr size_t kLoadPartsMin = size_t{64} << 20;

// LP text of an objective or Subject To section (from its first term or row to the end
// of the text) cut into pieces that threads read (lp/parallel_sections.hpp). The pieces
// cost CPU of their own (their columns are entered twice, the rows copied once more):
// two threads read many-rows-100MB (58 MB of LP) in 0.26-0.28 s against 0.37-0.39 s,
// and as HiGHS writes it (44 MB) in 0.26-0.30 s against 0.33-0.56 s; on 20 MB of the
// latter they gained 3% ("LP reading on threads").
inline constexpr size_t kLpPiecesMin = size_t{32} << 20;
struct ThreadPlan {
  unsigned threads = 1;                  // threads a process's readers may use together
  size_t min_bytes = kColumnsPiecesMin;  // COLUMNS text (to the end of the text) cut into pieces
  size_t chunk_bytes = 0;                // bytes per piece of work; 0: chosen from the text and threads
  size_t load_min_bytes = kLoadPartsMin;  // size of a plain file from which its parts are read by threads
  size_t load_part_bytes = 0;             // bytes per part of such a load; 0: chosen from the size
  size_t records_min_bytes = kRecordsPiecesMin;  // RHS, BOUNDS or quadratic text (to the end) in pieces
  size_t shared_rows_min = kSharedRowsMin;       // ROWS lines entered into the row map by threads
  size_t named_columns_min = kNamedColumnsMin;   // columns from which BOUNDS maps the names used
  size_t named_columns_per_byte = kNamedColumnsPerByte;  // ... with this many per byte left; 0: any
  size_t shared_map_min = kSharedMapMin;          // columns whose map every thread builds
  size_t prefault_min_bytes = kPrefaultMin;       // text read with a helper mapping the arrays
  size_t lp_min_bytes = kLpPiecesMin;             // LP Subject To text (to the end) in pieces
};

// A plan for tests that sends every text down every threaded path of the reader (not
// the loading in parts): pieces of `piece_bytes` (0: the usual size), the shared row
// map, and for BOUNDS the map of the names used.
ThreadPlan plan_taking_every_path(unsigned threads, size_t piece_bytes) noexcept;

// A plan for tests that keeps every read on the one-thread reader of a small text.
ThreadPlan plan_taking_no_path() noexcept;

// The plan of the next read: the one fixed for tests, else MOPSEL_THREADS or the
// number of CPUs the process may run on, with the default sizes.
ThreadPlan reading_thread_plan() noexcept;

// For tests only: later reads use `plan` (a low min_bytes sends small texts through
// the threaded path); nothing returns to the default.
void use_thread_plan_for_tests(std::optional<ThreadPlan> plan) noexcept;

// The threads a process's readers use at present (tests check that it drops back).
unsigned reading_threads_in_use() noexcept;

// Threads taken from the process's count for one read: the reading thread itself
// and up to `wanted` - 1 helpers, as many as the count leaves. Given back when the
// lease ends.
class ThreadLease {
 public:
  ThreadLease(unsigned wanted, unsigned total) noexcept;
  ~ThreadLease();
  ThreadLease(const ThreadLease&) = delete;
  ThreadLease& operator=(const ThreadLease&) = delete;
  [[nodiscard]] unsigned helpers() const noexcept { return helpers_; }
  // Takes more helpers, up to `wanted` - 1 in all, as many as the count leaves now.
  void grow(unsigned wanted, unsigned total) noexcept;

 private:
  unsigned helpers_ = 0;
};

// The threads a process's reads use without MOPSEL_THREADS: the CPUs of its affinity,
// no more than cgroup_cpu_limit(cgroup_root) (cgroup_quota.hpp), at least one.
// (reading_thread_plan reads the quota of the running system once per process, the
// affinity every time.)
unsigned default_thread_count(const std::string& cgroup_root) noexcept;

// The thread count MOPSEL_THREADS asks for: a whole number from 1 to 1024, or
// nothing when it is unset or not such a number.
std::optional<unsigned> parse_thread_count(const char* text) noexcept;

}  // namespace mopsel
