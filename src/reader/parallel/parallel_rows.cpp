#include "reader/parallel/parallel_rows.hpp"

#include <algorithm>
#include <atomic>

#include "reader/names/keys_ahead.hpp"
#include "reader/names/shared_slots.hpp"
#include "platform/helper_threads.hpp"

namespace mopsel {
namespace {

using RowMap = NameMap<int32_t>;
using RowSlot = RowMap::Slot;

struct ThreadEntry {
  size_t count = 0;      // names stored
  size_t max_shift = 0;  // the longest distance from home of those
};

// Enters names [from, to) (values from, from + 1, ...) into a map with room for
// every name, claiming free slots atomically so that threads may enter disjoint
// runs at once. Gives up (false) when `give_up` is set, when a name is already
// there (a repeated name: the caller builds the map in file order instead) or,
// under the fast mix, when a name would land further than kMaxShift from home.
bool enter_run(RowMap& map, const NameList& names, uint32_t from, uint32_t to, std::atomic<bool>& give_up,
               ThreadEntry& out) noexcept {
  const size_t size = map.slots.size();
  RowSlot* slots = &map.slots[0];
  KeysAhead ahead;
  start_keys_ahead(ahead, names, from, to, map.seed, slots, size);
  for (uint32_t j = from; j < to; ++j) {
    if ((j & 4095) == 0 && give_up.load(std::memory_order_relaxed)) return false;
    const NameKey key = next_key_ahead(ahead, names, j, to, map.seed, slots, size);
    const detail::SlotKey mine = detail::slot_key(key);
    size_t i = home_slot(key.hash, size);
    for (size_t shift = 0;;) {
      RowSlot& slot = slots[i];
      uint32_t code;
      if (claim_slot(slot, mine, static_cast<int32_t>(j), code)) {
        ++out.count;
        out.max_shift = std::max(out.max_shift, shift);
        break;
      }
      if (code == mine.code && detail::slot_words_match(slot, mine.w0, mine.w1, mine.code)) {
        give_up.store(true, std::memory_order_relaxed);
        return false;
      }
      if (++i == size) i = 0;
      if (++shift > kMaxShift && !map.seed.keyed) [[unlikely]] {
        give_up.store(true, std::memory_order_relaxed);
        return false;
      }
    }
  }
  return true;
}

// The one-thread build: every name in file order, as the reader enters them when
// it does not defer (a repeated name keeps its last value).
void enter_in_file_order(const SharedRows& shared, RowMap& map, const NameList& names) {
  const size_t slot_count = map.slots.size();
  map.slots.assign_free(slot_count);
  map.count = 0;
  map.max_shift = 0;
  size_t next_n = 0;
  for (size_t i = 0; i <= names.size(); ++i) {
    for (; next_n < shared.n_rows.size() && shared.n_rows[next_n].position == i; ++next_n) {
      assign_name(map, shared.n_rows[next_n].name, shared.n_rows[next_n].value);
    }
    if (i < names.size()) assign_name(map, names[i], static_cast<int32_t>(i));
  }
}

}  // namespace

bool rows_worth_sharing(size_t rows, const ThreadPlan& plan) noexcept {
  return plan.threads >= 2 && rows > 0 && rows >= plan.shared_rows_min;
}

void begin_shared_rows(SharedRows& shared, const NameMap<int32_t>& map, const ThreadPlan& plan) {
  shared.active = true;
  shared.used = true;
  shared.n_rows.clear();
  if (!map.slots.empty()) {
    shared.prefault.emplace(std::vector<MemoryRange>{{map.slots.begin(), map.slots.size() * sizeof(RowSlot)}}, plan);
  }
}

void enter_shared_rows(SharedRows& shared, NameMap<int32_t>& map, const NameList& names, const ThreadPlan& plan) {
  shared.active = false;
  shared.prefault.reset();
  reserve_names(map, map.count + names.size() + shared.n_rows.size() + 1);
  // The N rows first, on this thread (a handful in usual models); a name among
  // them that is already there is a repeat.
  bool repeated = false;
  for (const SharedRows::NRow& n : shared.n_rows) {
    repeated = repeated || find_name(map, n.name) != nullptr;
    assign_name(map, n.name, n.value);
  }
  const auto total = static_cast<uint32_t>(names.size());
  ThreadLease lease(plan.threads, plan.threads);
  const size_t threads = lease.helpers() + 1;
  std::vector<ThreadEntry> results(threads);
  std::atomic<bool> give_up{repeated};
  std::atomic<bool> all_entered{!repeated};
  if (!repeated && total > 0) {
    const auto enter = [&](size_t t) {
      const auto from = static_cast<uint32_t>(uint64_t{total} * t / threads);
      const auto to = static_cast<uint32_t>(uint64_t{total} * (t + 1) / threads);
      if (!enter_run(map, names, from, to, give_up, results[t])) all_entered.store(false);
    };
    run_on_threads(threads, enter);
  }
  if (!all_entered.load()) {
    // This is uncommon: a repeated row name, or names piling up near one slot.
    enter_in_file_order(shared, map, names);
    return;
  }
  for (const ThreadEntry& e : results) {
    map.count += e.count;
    map.max_shift = std::max(map.max_shift, e.max_shift);
  }
}

}  // namespace mopsel
