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
#include <cstdint>
#include <cstring>
#include <string_view>

#include "reader/name_key.hpp"
#include "reader/slot_table.hpp"

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
};

namespace detail {

inline uint32_t slot_code(const NameKey& key) noexcept {
  return key.size <= kInlineName ? static_cast<uint32_t>(key.size + 1)
                                 : (0x80000000u | static_cast<uint32_t>(key.hash >> 33));
}

template <class Slot>
bool slot_matches(const Slot& slot, const NameKey& key, uint32_t code) noexcept {
  if (slot.code != code) return false;
  if (key.size <= kInlineName) return slot.w0 == key.a && slot.w1 == key.b;
  return slot.w1 == key.size &&
         std::memcmp(reinterpret_cast<const char*>(slot.w0), key.data, key.size) == 0;
}

template <class Slot>
void fill_slot(Slot& slot, const NameKey& key, uint32_t code) noexcept {
  slot.code = code;
  if (key.size <= kInlineName) {
    slot.w0 = key.a;
    slot.w1 = key.b;
  } else {
    slot.w0 = reinterpret_cast<uint64_t>(key.data);
    slot.w1 = key.size;
  }
}
// Position of `key`, or of the free slot where it belongs. The table is never
// full, so the probe always ends.
template <class Table>
size_t probe(const Table& slots, const NameKey& key) noexcept {
  const size_t size = slots.size();
  const uint32_t code = slot_code(key);
  size_t i = home_slot(key.hash, size);
  for (;;) {
    const auto& slot = slots[i];
    if (slot.code == 0 || slot_matches(slot, key, code)) return i;
    if (++i == size) i = 0;
  }
}

// The hash of a stored name, recomputed for rehashing: inline names from
// their words alone would not give the same hash, so they are rebuilt.
template <class Slot>
uint64_t slot_hash(const Slot& slot) noexcept {
  if ((slot.code & 0x80000000u) != 0) {
    return name_key({reinterpret_cast<const char*>(slot.w0), static_cast<size_t>(slot.w1)}).hash;
  }
  // Rebuild the name's bytes from its words (they cover every byte).
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
  return name_key({bytes, n}).hash;
}

template <class V>
void rehash(NameMap<V>& map, size_t slot_count) {
  SlotTable<typename NameMap<V>::Slot> old;
  old.swap(map.slots);
  map.slots.assign_free(slot_count);
  for (const auto& slot : old) {
    if (slot.code == 0) continue;
    size_t i = home_slot(slot_hash(slot), slot_count);
    while (map.slots[i].code != 0) {
      if (++i == slot_count) i = 0;
    }
    map.slots[i] = slot;
  }
}

}  // namespace detail

// Makes room for `names` keys in total without further rehashing.
template <class V>
void reserve_names(NameMap<V>& map, size_t names) {
  const size_t wanted = slots_for(names);
  if (wanted > map.slots.size()) detail::rehash(map, wanted);
}

// Brings the slot of a prepared key into the cache ahead of its lookup.
template <class V>
void prefetch_name(const NameMap<V>& map, const NameKey& key) noexcept {
  if (!map.slots.empty()) __builtin_prefetch(&map.slots[home_slot(key.hash, map.slots.size())]);
}

// The value stored for a prepared key, or nullptr.
template <class V>
const V* find_key(const NameMap<V>& map, const NameKey& key) noexcept {
  if (map.count == 0) return nullptr;
  const auto& slot = map.slots[detail::probe(map.slots, key)];
  return slot.code != 0 ? &slot.value : nullptr;
}

// The value stored for `key`, or nullptr.
template <class V>
const V* find_name(const NameMap<V>& map, std::string_view key) noexcept {
  if (map.count == 0) return nullptr;
  return find_key(map, name_key(key));
}

// Inserts a prepared key or replaces its value.
template <class V>
void assign_key(NameMap<V>& map, const NameKey& key, V value) {
  if (slots_for(map.count + 1) > map.slots.size()) [[unlikely]] {
    detail::rehash(map, map.slots.empty() ? 16 : map.slots.size() * 2);
  }
  auto& slot = map.slots[detail::probe(map.slots, key)];
  if (slot.code == 0) {
    detail::fill_slot(slot, key, detail::slot_code(key));
    ++map.count;
  }
  slot.value = value;
}

// Inserts `name` or replaces its value.
template <class V>
void assign_name(NameMap<V>& map, std::string_view name, V value) {
  assign_key(map, name_key(name), value);
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