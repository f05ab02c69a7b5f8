#pragma once
// Keys of a run of names made a few names ahead of their insert, with each home
// slot fetched for writing meanwhile: entering millions of names into a map far
// larger than the caches otherwise waits on a miss per name. Shared by the
// threads that build the column map and the row map.
#include <cstddef>
#include <cstdint>

#include "model/name_list.hpp"
#include "reader/names/name_key.hpp"
#include "reader/names/slot_table.hpp"

namespace mopsel {

struct KeysAhead {
  static constexpr uint32_t kCount = 32;
  NameKey keys[kCount];
};

// Makes the keys of the first names of [from, to) and fetches their slots.
template <class Slot>
inline void start_keys_ahead(KeysAhead& ahead, const NameList& names, uint32_t from, uint32_t to, const HashSeed& seed,
                             const Slot* slots, size_t size) noexcept {
  for (uint32_t j = from; j < to && j - from < KeysAhead::kCount; ++j) {
    NameKey& key = ahead.keys[j % KeysAhead::kCount];
    key = name_key(names[j], seed);
    __builtin_prefetch(&slots[home_slot(key.hash, size)], 1);
  }
}

// The key of name j (j runs from `from` up to `to` in steps of one), and the
// key of the name kCount further on made in its place.
template <class Slot>
[[gnu::always_inline]] inline NameKey next_key_ahead(KeysAhead& ahead, const NameList& names, uint32_t j, uint32_t to,
                                                     const HashSeed& seed, const Slot* slots, size_t size) noexcept {
  NameKey& stored = ahead.keys[j % KeysAhead::kCount];
  const NameKey key = stored;
  if (to - j > KeysAhead::kCount) {
    stored = name_key(names[j + KeysAhead::kCount], seed);
    __builtin_prefetch(&slots[home_slot(stored.hash, size)], 1);
  }
  return key;
}

}  // namespace mopsel
