#pragma once
// Column name -> column index, for BOUNDS records.
//
// Only BOUNDS looks columns up, and on large models it has few records against
// millions of columns, so this map is built for memory: a slot is one word, a
// 32-bit hash tag next to the column index plus one (0 marks a free slot). The
// name itself is not stored; a tag match is confirmed against the reader's
// copied column names. The map is brought up to date lazily (`sync_columns`),
// just before a lookup, so a model without BOUNDS never builds it and one that
// has them builds it after the COLUMNS scratch is gone.
//
// Columns enter in creation order and a name seen again takes the later
// column, so a repeated name maps to its last column at any point. When the map
// is first needed with millions of columns and little text left, it may hold
// only the columns named in that text (named_columns.hpp); every lookup is of a
// word of that text, so it gets the answer of the map of every column.
//
// Probes are bounded as in the row map (name_map.hpp): lookups stop after the
// longest distance of a stored name from home, and a name that would land
// further than kMaxShift moves the index to the keyed hash.
#include <atomic>
#include <cstdint>
#include <string_view>

#include "model/name_list.hpp"
#include "reader/names/keys_ahead.hpp"
#include "reader/names/name_key.hpp"
#include "reader/names/slot_table.hpp"

namespace mopsel {

struct ColumnIndex {
  SlotTable<uint64_t> slots;          // (tag << 32) | (column + 1), or 0
  size_t count = 0;                   // distinct names entered
  uint32_t indexed = 0;               // columns [0, indexed) have been looked at
  size_t entered = 0;                 // columns entered: all of [0, indexed), or those named in the text left
  HashSeed seed = process_name_seed();
  size_t max_shift = 0;               // longest distance of a stored name from its home slot
};

namespace detail {

inline uint64_t column_slot(uint64_t hash, uint32_t column) noexcept {
  return (hash << 32) | (uint64_t{column} + 1);
}

// The tag sits in the low half of the hash: the home slot comes from the high
// half, so neighbouring slots do not share tags.
inline bool column_tag_matches(uint64_t slot, uint64_t hash) noexcept {
  return (slot >> 32) == (hash & 0xffffffffu);
}

inline bool column_matches(uint64_t slot, const NameList& names, const NameKey& key) noexcept {
  return column_tag_matches(slot, key.hash) &&
         same_name(names[static_cast<uint32_t>(slot) - 1], {key.data, key.size});
}

// Position of `key` among the entered names, or SIZE_MAX.
inline size_t find_column_slot(const ColumnIndex& index, const NameList& names, const NameKey& key) noexcept {
  const size_t size = index.slots.size();
  size_t i = home_slot(key.hash, size);
  for (size_t shift = 0;; ++shift) {
    const uint64_t slot = index.slots[i];
    if (slot == 0 || shift > index.max_shift) return SIZE_MAX;
    if (column_matches(slot, names, key)) return i;
    if (++i == size) i = 0;
  }
}

// Puts `slot` for `hash` at the first free slot from its home (the name is not
// stored yet). False, with nothing stored, when under the fast mix that slot
// lies further than kMaxShift from home.
inline bool place_column(ColumnIndex& index, uint64_t hash, uint64_t slot) noexcept {
  const size_t size = index.slots.size();
  size_t i = home_slot(hash, size);
  size_t shift = 0;
  while (index.slots[i] != 0) {
    if (++i == size) i = 0;
    if (++shift > kMaxShift && !index.seed.keyed) [[unlikely]]
      return false;
  }
  index.slots[i] = slot;
  if (shift > index.max_shift) index.max_shift = shift;
  return true;
}

// Rebuilds the table with `slot_count` slots under the index's seed; stored
// names are unique, so no name compare is needed. Moves to the keyed hash (and
// starts over) when the fast mix puts a name too far from home.
inline void rehash_columns(ColumnIndex& index, const NameList& names, size_t slot_count) {
  SlotTable<uint64_t> old;
  old.swap(index.slots);
  for (;;) {
    index.slots.assign_free(slot_count);
    index.max_shift = 0;
    bool placed = true;
    for (const uint64_t slot : old) {
      if (slot == 0) continue;
      const uint32_t column = static_cast<uint32_t>(slot) - 1;
      const uint64_t hash = name_key(names[column], index.seed).hash;
      placed = place_column(index, hash, column_slot(hash, column));
      if (!placed) break;
    }
    if (placed) return;
    index.seed = keyed_name_seed();
  }
}

// Enters `key` for `column` (a name entered before takes the new column).
// False, with nothing changed, when under the fast mix its free slot lies
// further than kMaxShift from home.
[[gnu::always_inline]] inline bool try_enter_column(ColumnIndex& index, const NameList& names, const NameKey& key,
                                                    uint32_t column) noexcept {
  const size_t size = index.slots.size();
  size_t i = home_slot(key.hash, size);
  size_t shift = 0;
  // The name, if entered, lies before the first free slot from its home.
  for (uint64_t slot; (slot = index.slots[i]) != 0;) {
    if (column_matches(slot, names, key)) {
      index.slots[i] = column_slot(key.hash, column);
      return true;
    }
    if (++i == size) i = 0;
    if (++shift > kMaxShift && !index.seed.keyed) [[unlikely]]
      return false;
  }
  index.slots[i] = column_slot(key.hash, column);
  ++index.count;
  if (shift > index.max_shift) index.max_shift = shift;
  return true;
}

// This is uncommon: names pile up near one slot. Moves the index to the keyed
// hash and enters the name of `column` under it.
[[gnu::noinline]] inline void enter_column_keyed(ColumnIndex& index, const NameList& names, uint32_t column) {
  index.seed = keyed_name_seed();
  rehash_columns(index, names, index.slots.size());
  try_enter_column(index, names, name_key(names[column], index.seed), column);
}

}  // namespace detail

// Enters the columns [index.indexed, names.size()) in order. Throws std::bad_alloc.
inline void sync_columns(ColumnIndex& index, const NameList& names) {
  const size_t total = names.size();
  if (index.indexed >= total) return;
  const size_t wanted = slots_for(index.count + (total - index.indexed));
  if (wanted > index.slots.size()) {
    // Room for the new columns at once; growing by at least half keeps a run of
    // single BOUNDS-created columns from rehashing every time.
    const size_t grown = index.slots.size() + index.slots.size() / 2;
    detail::rehash_columns(index, names, wanted > grown ? wanted : grown);
  }
  // On large models each slot is a cache miss: keys are computed and their
  // slots fetched a few columns ahead of the insert.
  constexpr size_t kAhead = 8;
  NameKey ahead[kAhead];
  const size_t first = index.indexed;
  const size_t size = index.slots.size();
  for (size_t j = first; j < total && j - first < kAhead; ++j) {
    ahead[j % kAhead] = name_key(names[j], index.seed);
    __builtin_prefetch(&index.slots[home_slot(ahead[j % kAhead].hash, size)]);
  }
  for (size_t j = first; j < total; ++j) {
    const NameKey key = ahead[j % kAhead];
    if (j + kAhead < total) {
      ahead[j % kAhead] = name_key(names[j + kAhead], index.seed);
      __builtin_prefetch(&index.slots[home_slot(ahead[j % kAhead].hash, size)]);
    }
    if (!detail::try_enter_column(index, names, key, static_cast<uint32_t>(j))) [[unlikely]] {
      detail::enter_column_keyed(index, names, static_cast<uint32_t>(j));
      // The keys made ahead belong to the seed the index has left.
      for (size_t k = j + 1; k < total && k <= j + kAhead; ++k) ahead[k % kAhead] = name_key(names[k], index.seed);
    }
  }
  index.entered += total - index.indexed;
  index.indexed = static_cast<uint32_t>(total);
}

// Whether no two entered columns share a name (after sync_columns). Then a column
// whose name is looked up is that name's answer, without asking the map: every
// lookup is of a name the map was built for, so a column of that name was entered.
inline bool entered_names_distinct(const ColumnIndex& index) noexcept { return index.count == index.entered; }

// What one thread's enter_columns_shared did.
struct SharedEntry {
  size_t count = 0;      // names it stored in a free slot
  size_t max_shift = 0;  // the longest distance from home of those
};

// Enters the columns [from, to) into a map whose free slots are enough for every
// name, with atomic slot updates, so that threads may enter disjoint ranges at
// once; the map's count, max_shift, indexed and entered are the caller's to set from the
// threads' results. A name entered by several threads keeps its last column, as in
// sync_columns. Gives up (false) when `give_up` is set or, under the fast mix, a
// name would land further than kMaxShift from home: the caller then builds the map
// on one thread.
inline bool enter_columns_shared(ColumnIndex& index, const NameList& names, uint32_t from, uint32_t to,
                                 std::atomic<bool>& give_up, SharedEntry& out) noexcept {
  const size_t size = index.slots.size();
  uint64_t* slots = &index.slots[0];
  KeysAhead ahead;
  start_keys_ahead(ahead, names, from, to, index.seed, slots, size);
  for (uint32_t j = from; j < to; ++j) {
    if ((j & 4095) == 0 && give_up.load(std::memory_order_relaxed)) return false;
    const NameKey key = next_key_ahead(ahead, names, j, to, index.seed, slots, size);
    const uint64_t mine = detail::column_slot(key.hash, j);
    size_t i = home_slot(key.hash, size);
    for (size_t shift = 0;;) {
      uint64_t slot = __atomic_load_n(&slots[i], __ATOMIC_RELAXED);
      if (slot == 0) {
        if (__atomic_compare_exchange_n(&slots[i], &slot, mine, false, __ATOMIC_RELAXED, __ATOMIC_RELAXED)) {
          ++out.count;
          if (shift > out.max_shift) out.max_shift = shift;
          break;
        }
        // Another thread took the slot first: look at what it stored.
      }
      if (detail::column_matches(slot, names, key)) {
        // The same name: the later column stays.
        while (static_cast<uint32_t>(slot) - 1 < j &&
               !__atomic_compare_exchange_n(&slots[i], &slot, mine, false, __ATOMIC_RELAXED, __ATOMIC_RELAXED)) {
        }
        break;
      }
      if (++i == size) i = 0;
      if (++shift > kMaxShift && !index.seed.keyed) [[unlikely]] {
        give_up.store(true, std::memory_order_relaxed);
        return false;
      }
    }
  }
  return true;
}

// The column of `name` among the entered columns, or false. Call sync_columns
// first to see every column.
inline bool find_column_index(const ColumnIndex& index, const NameList& names, std::string_view name,
                              uint32_t& column) noexcept {
  if (index.count == 0) return false;
  const size_t i = detail::find_column_slot(index, names, name_key(name, index.seed));
  if (i == SIZE_MAX) return false;
  column = static_cast<uint32_t>(index.slots[i]) - 1;
  return true;
}

}  // namespace mopsel
