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
// column, so a repeated name maps to its last column at any point.
#include <cstdint>
#include <string_view>

#include "model/name_list.hpp"
#include "reader/name_key.hpp"
#include "reader/slot_table.hpp"

namespace mopsel {

struct ColumnIndex {
  SlotTable<uint64_t> slots;          // (tag << 32) | (column + 1), or 0
  size_t count = 0;                   // distinct names entered
  uint32_t indexed = 0;               // columns [0, indexed) have been entered
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

// Position of `key`, or of the free slot where it belongs.
inline size_t probe_column(const ColumnIndex& index, const NameList& names, const NameKey& key) noexcept {
  const size_t size = index.slots.size();
  size_t i = home_slot(key.hash, size);
  for (;;) {
    const uint64_t slot = index.slots[i];
    if (slot == 0) return i;
    if (column_tag_matches(slot, key.hash) &&
        same_name(names[static_cast<uint32_t>(slot) - 1], {key.data, key.size})) {
      return i;
    }
    if (++i == size) i = 0;
  }
}

// Rebuilds the table with `slot_count` slots; stored names are unique, so no
// name compare is needed.
inline void rehash_columns(ColumnIndex& index, const NameList& names, size_t slot_count) {
  SlotTable<uint64_t> old;
  old.swap(index.slots);
  index.slots.assign_free(slot_count);
  for (const uint64_t slot : old) {
    if (slot == 0) continue;
    const uint64_t hash = name_key(names[static_cast<uint32_t>(slot) - 1]).hash;
    size_t i = home_slot(hash, slot_count);
    while (index.slots[i] != 0) {
      if (++i == slot_count) i = 0;
    }
    index.slots[i] = slot;
  }
}

inline void enter_column(ColumnIndex& index, const NameList& names, const NameKey& key, uint32_t column) {
  uint64_t& slot = index.slots[probe_column(index, names, key)];
  if (slot == 0) ++index.count;
  slot = column_slot(key.hash, column);
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
    ahead[j % kAhead] = name_key(names[j]);
    __builtin_prefetch(&index.slots[home_slot(ahead[j % kAhead].hash, size)]);
  }
  for (size_t j = first; j < total; ++j) {
    const NameKey key = ahead[j % kAhead];
    if (j + kAhead < total) {
      ahead[j % kAhead] = name_key(names[j + kAhead]);
      __builtin_prefetch(&index.slots[home_slot(ahead[j % kAhead].hash, size)]);
    }
    detail::enter_column(index, names, key, static_cast<uint32_t>(j));
  }
  index.indexed = static_cast<uint32_t>(total);
}

// The column of `name` among the entered columns, or false. Call sync_columns
// first to see every column.
inline bool find_column_index(const ColumnIndex& index, const NameList& names, std::string_view name,
                              uint32_t& column) noexcept {
  if (index.count == 0) return false;
  const uint64_t slot = index.slots[detail::probe_column(index, names, name_key(name))];
  if (slot == 0) return false;
  column = static_cast<uint32_t>(slot) - 1;
  return true;
}

}  // namespace mopsel
