#pragma once
// Open-addressing hash map from a name (a view into the model text) to a small
// integer, for the row and column references of the reader.
//
// Linear probing over a table kept at most 60% full. Names of up
// to 16 bytes are stored in the slot itself as two words that determine them
// (with the length), so a lookup compares two words and never touches the text
// the key came from: on large models that text is cold and each visit would be
// a cache miss. Longer names keep a pointer into the text, a 31-bit hash tag
// and their length, and are compared byte by byte only on a tag match.
//
// Probes are bounded (slot_table.hpp): a lookup gives up after the longest
// distance any stored name has from its home slot, and an insert that would
// store a name further than kMaxShift from home moves the map to the keyed hash
// first, so that no input can make the map quadratic.
#include <cstdint>
#include <cstring>
#include <string_view>
#include <utility>

#include "reader/names/name_key.hpp"
#include "reader/names/slot_table.hpp"

namespace mopsel {

template <class V>
struct NameMap {
  // Short name: `w0`, `w1` are the key words and `code` is length + 1 (1 to 17).
  // Long name: `w0` points at the text, `w1` is the length and `code` is
  // 0x80000000 | 31 bits of the hash. Code 0 marks a free slot.
  struct Slot {
    uint64_t w0 = 0;
    uint64_t w1 = 0;
    uint32_t code = 0;
    V value{};
  };
  SlotTable<Slot> slots;  // at least slots_for(count) slots, or none
  size_t count = 0;
  HashSeed seed = process_name_seed();
  size_t max_shift = 0;  // longest distance of a stored name from its home slot
};

namespace detail {

// What a slot holds for a name (see NameMap::Slot), made from its key.
struct SlotKey {
  uint64_t w0;
  uint64_t w1;
  uint32_t code;
};

inline SlotKey slot_key(const NameKey& key) noexcept {
  if (key.size <= kInlineName) return {key.a, key.b, static_cast<uint32_t>(key.size + 1)};
  return {reinterpret_cast<uint64_t>(key.data), key.size, 0x80000000u | static_cast<uint32_t>(key.hash >> 33)};
}

// Whether a slot whose code is `code` holds the name (w0, w1, code). Threads that
// share a map read the code atomically first and then call this.
template <class Slot>
[[gnu::always_inline]] inline bool slot_words_match(const Slot& slot, uint64_t w0, uint64_t w1, uint32_t code) noexcept {
  if ((code & 0x80000000u) == 0) return slot.w0 == w0 && slot.w1 == w1;
  return slot.w1 == w1 &&
         std::memcmp(reinterpret_cast<const char*>(slot.w0), reinterpret_cast<const char*>(w0), w1) == 0;
}

template <class Slot>
[[gnu::always_inline]] inline bool slot_matches(const Slot& slot, uint64_t w0, uint64_t w1, uint32_t code) noexcept {
  return slot.code == code && slot_words_match(slot, w0, w1, code);
}

template <class Slot>
void fill_slot(Slot& slot, const SlotKey& key) noexcept {
  slot.w0 = key.w0;
  slot.w1 = key.w1;
  slot.code = key.code;
}

// The slot holding (w0, w1, code) past its home slot `i`, or null. A stored
// name lies at most max_shift slots past its home, so the search ends there
// even inside a long run of used slots. The key comes as the words a slot
// holds, so that the caller's key stays in registers.
template <class Map>
[[gnu::noinline]] const auto* find_slot_after_home(const Map& map, uint64_t w0, uint64_t w1, uint32_t code,
                                                   size_t i) noexcept {
  const auto& slots = map.slots;
  const size_t size = slots.size();
  for (size_t shift = 1; shift <= map.max_shift; ++shift) {
    if (++i == size) i = 0;
    const auto& slot = slots[i];
    if (slot_matches(slot, w0, w1, code)) return &slot;
    if (slot.code == 0) break;
  }
  return static_cast<decltype(&slots[0])>(nullptr);
}

// The slot of `key`, or null. Most lookups end at the home slot; the walk past
// it is kept out of line.
template <class Map>
[[gnu::always_inline]] inline const auto* find_slot(const Map& map, const NameKey& key) noexcept {
  const size_t i = home_slot(key.hash, map.slots.size());
  const auto& slot = map.slots[i];
  const SlotKey k = slot_key(key);
  if (slot_matches(slot, k.w0, k.w1, k.code)) [[likely]] return &slot;
  if (slot.code == 0) return static_cast<decltype(&slot)>(nullptr);
  return find_slot_after_home(map, k.w0, k.w1, k.code, i);
}

// The hash of a stored name under `seed`, recomputed for rehashing: inline
// names are rebuilt from their words, which cover every byte.
template <class Slot>
uint64_t slot_hash(const Slot& slot, const HashSeed& seed) noexcept {
  if ((slot.code & 0x80000000u) != 0) {
    return name_key({reinterpret_cast<const char*>(slot.w0), static_cast<size_t>(slot.w1)}, seed).hash;
  }
  const size_t n = slot.code - 1 < kInlineName ? slot.code - 1 : kInlineName;
  char bytes[kInlineName];
  if (n >= 8) {
    std::memcpy(bytes, &slot.w0, 8);
    std::memcpy(bytes + n - 8, &slot.w1, 8);
  } else if (n >= 4) {
    const auto lo = static_cast<uint32_t>(slot.w0);
    const auto hi = static_cast<uint32_t>(slot.w1);
    std::memcpy(bytes, &lo, 4);
    std::memcpy(bytes + n - 4, &hi, 4);
  } else if (n > 0) {
    bytes[0] = static_cast<char>(slot.w0 >> 16);
    bytes[n >> 1] = static_cast<char>(slot.w0 >> 8);
    bytes[n - 1] = static_cast<char>(slot.w0);
  }
  return name_key({bytes, n}, seed).hash;
}

// Rebuilds the table with `slot_count` slots; stored names are distinct, so each
// goes to the first free slot from its home. Moves the map to the keyed hash
// (and starts over) when the fast mix puts a name too far from home.
template <class V>
void rehash(NameMap<V>& map, size_t slot_count) {
  SlotTable<typename NameMap<V>::Slot> old;
  old.swap(map.slots);
  for (;;) {
    map.slots.assign_free(slot_count);
    map.max_shift = 0;
    bool flooded = false;
    for (const auto& slot : old) {
      if (slot.code == 0) continue;
      size_t i = home_slot(slot_hash(slot, map.seed), slot_count);
      size_t shift = 0;
      while (map.slots[i].code != 0) {
        if (++i == slot_count) i = 0;
        ++shift;
      }
      map.slots[i] = slot;
      if (shift > map.max_shift) map.max_shift = shift;
      if (shift > kMaxShift && !map.seed.keyed) [[unlikely]] {
        flooded = true;
        break;
      }
    }
    if (!flooded) return;
    map.seed = keyed_name_seed();
  }
}

}  // namespace detail

// Makes room for `names` keys in total without further rehashing.
template <class V>
void reserve_names(NameMap<V>& map, size_t names) {
  const size_t wanted = slots_for(names);
  if (wanted > map.slots.size()) detail::rehash(map, wanted);
}

// Forgets every name and keeps the slots, cleared, for the map to be filled again:
// clearing memory already in use costs less than mapping a fresh table's pages.
template <class V>
void clear_names(NameMap<V>& map) noexcept {
  if (map.count != 0) std::memset(static_cast<void*>(&map.slots[0]), 0, map.slots.size() * sizeof(map.slots[0]));
  map.count = 0;
  map.max_shift = 0;
}

// Brings the slot of a prepared key into the cache ahead of its lookup.
template <class V>
void prefetch_name(const NameMap<V>& map, const NameKey& key) noexcept {
  if (!map.slots.empty()) __builtin_prefetch(&map.slots[home_slot(key.hash, map.slots.size())]);
}

// The key of `name` under the map's seed.
template <class V>
[[gnu::always_inline]] inline NameKey map_key(const NameMap<V>& map, std::string_view name) noexcept {
  return name_key(name, map.seed);
}

// The value stored for a key prepared with map_key, or nullptr.
template <class V>
[[gnu::always_inline]] inline const V* find_key(const NameMap<V>& map, const NameKey& key) noexcept {
  if (map.count == 0) return nullptr;
  const auto* slot = detail::find_slot(map, key);
  return slot != nullptr ? &slot->value : nullptr;
}

// The value stored for a prepared key, to be changed in place, or nullptr. The
// pointer is good until the next insertion.
template <class V>
[[gnu::always_inline]] inline V* find_key_mutable(NameMap<V>& map, const NameKey& key) noexcept {
  return const_cast<V*>(find_key(std::as_const(map), key));
}

// The value stored for `key`, or nullptr.
template <class V>
const V* find_name(const NameMap<V>& map, std::string_view key) noexcept {
  if (map.count == 0) return nullptr;
  return find_key(map, map_key(map, key));
}

// Inserts `name` or replaces its value; returns the value stored, good until the next
// insertion. `prepared`, when given, is the name's key under the map's present seed
// (see map_key).
template <class V>
V& assign_name(NameMap<V>& map, std::string_view name, V value, const NameKey* prepared = nullptr) {
  if (slots_for(map.count + 1) > map.slots.size()) [[unlikely]] {
    const bool keyed = map.seed.keyed;
    detail::rehash(map, map.slots.empty() ? 16 : map.slots.size() * 2);
    if (map.seed.keyed != keyed) prepared = nullptr;  // the rehash changed the seed
  }
  for (;;) {
    const NameKey name_key = prepared != nullptr ? *prepared : map_key(map, name);
    const detail::SlotKey key = detail::slot_key(name_key);
    const size_t size = map.slots.size();
    size_t i = home_slot(name_key.hash, size);
    size_t shift = 0;
    // The name, if stored, lies before the first free slot from its home.
    while (map.slots[i].code != 0 && !detail::slot_matches(map.slots[i], key.w0, key.w1, key.code)) {
      if (++i == size) i = 0;
      if (++shift > kMaxShift && !map.seed.keyed) [[unlikely]]
        break;
    }
    if (shift > kMaxShift && !map.seed.keyed) [[unlikely]] {
      // This is uncommon: names pile up near one slot. Start over under the
      // keyed hash.
      map.seed = keyed_name_seed();
      detail::rehash(map, size);
      prepared = nullptr;
      continue;
    }
    auto& slot = map.slots[i];
    if (slot.code == 0) {
      detail::fill_slot(slot, key);
      ++map.count;
      if (shift > map.max_shift) map.max_shift = shift;
    }
    slot.value = value;
    return slot.value;
  }
}

// The last name a lookup did not find. Maps only gain keys, so while the key
// count is unchanged the name is still absent: set names such as "RHS" or a
// bound-vector name, repeated on every record, then cost a compare, not a probe.
struct MissMemo {
  std::string_view name;
  size_t count = SIZE_MAX;
};

// find_name, answering repeated misses from the memo.
template <class V>
const V* find_name_memo(const NameMap<V>& map, MissMemo& memo, std::string_view key) noexcept {
  if (memo.count == map.count && same_name(memo.name, key)) return nullptr;
  const V* found = find_name(map, key);
  if (found == nullptr) memo = {key, map.count};
  return found;
}

}  // namespace mopsel