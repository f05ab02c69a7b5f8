#pragma once
// Open-addressing hash map from a name (a view into the model text) to a small
// integer, for the row and column references of the reader.
//
// Linear probing over a power-of-two table kept at most half full; each slot
// keeps 32 bits of its hash so that probing compares bytes only on a real candidate.
// Keys are views, never copies: the text outlives the map.
#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

namespace mopsel {

namespace detail {

inline uint64_t load64(const char* p) noexcept {
  uint64_t v;
  std::memcpy(&v, p, 8);
  return v;
}
inline uint64_t load32(const char* p) noexcept {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}
// 64x64 -> 128 multiply, folded: the mixing step of the wyhash family.
inline uint64_t fold_multiply(uint64_t a, uint64_t b) noexcept {
  const unsigned __int128 r = static_cast<unsigned __int128>(a) * b;
  return static_cast<uint64_t>(r) ^ static_cast<uint64_t>(r >> 64);
}

inline constexpr uint64_t kSeed0 = 0xa0761d6478bd642fULL;
inline constexpr uint64_t kSeed1 = 0xe7037ed1a0b428dbULL;
inline constexpr uint64_t kSeed2 = 0x8ebc6af09c88c6e3ULL;

}  // namespace detail

// Reads only the bytes of the name (overlapping loads inside it, never past it).
inline uint64_t hash_name(std::string_view name) noexcept {
  using namespace detail;
  const char* p = name.data();
  const size_t n = name.size();
  uint64_t seed = kSeed0 ^ (n * kSeed1);
  uint64_t a;
  uint64_t b;
  if (n <= 16) [[likely]] {
    if (n >= 8) {
      a = load64(p);
      b = load64(p + n - 8);
    } else if (n >= 4) {
      a = load32(p);
      b = load32(p + n - 4);
    } else if (n > 0) {
      a = (uint64_t{static_cast<unsigned char>(p[0])} << 16) |
          (uint64_t{static_cast<unsigned char>(p[n >> 1])} << 8) |
          uint64_t{static_cast<unsigned char>(p[n - 1])};
      b = 0;
    } else {
      a = b = 0;
    }
  } else {
    // Long names: 16 bytes per round, then the last 16 bytes (overlapping).
    size_t i = 0;
    for (; i + 16 < n; i += 16) {
      seed = fold_multiply(load64(p + i) ^ kSeed1, load64(p + i + 8) ^ seed);
    }
    a = load64(p + n - 16);
    b = load64(p + n - 8);
  }
  return fold_multiply(kSeed1 ^ n, fold_multiply(a ^ kSeed1, b ^ seed) ^ kSeed2);
}

template <class V>
struct NameMap {
  struct Slot {
    const char* data = nullptr;  // nullptr marks a free slot
    size_t size = 0;
    uint32_t tag = 0;  // high bits of hash_name, to skip most byte comparisons
    V value{};
  };
  std::vector<Slot> slots;  // power-of-two size, or empty
  size_t count = 0;
};

namespace detail {

// Keys are never null: an empty view gets a static address so that
// data == nullptr keeps meaning "free slot".
inline const char* key_address(std::string_view key) noexcept {
  return key.data() != nullptr ? key.data() : "";
}

// Position of `key`, or of the free slot where it belongs. The table is never
// full (at most half), so the probe always ends.
template <class Slot>
size_t probe(const std::vector<Slot>& slots, std::string_view key, uint64_t hash) noexcept {
  const size_t mask = slots.size() - 1;
  size_t i = static_cast<size_t>(hash) & mask;
  const auto tag = static_cast<uint32_t>(hash >> 32);
  for (;;) {
    const Slot& slot = slots[i];
    if (slot.data == nullptr) return i;
    if (slot.tag == tag && slot.size == key.size() &&
        std::memcmp(slot.data, key.data(), key.size()) == 0) {
      return i;
    }
    i = (i + 1) & mask;
  }
}

template <class V>
void rehash(NameMap<V>& map, size_t slot_count) {
  std::vector<typename NameMap<V>::Slot> old;
  old.swap(map.slots);
  map.slots.assign(slot_count, {});
  const size_t mask = slot_count - 1;
  for (const auto& slot : old) {
    if (slot.data == nullptr) continue;
    size_t i = static_cast<size_t>(hash_name({slot.data, slot.size})) & mask;
    while (map.slots[i].data != nullptr) i = (i + 1) & mask;
    map.slots[i] = slot;
  }
}

}  // namespace detail

// Makes room for `names` keys in total without further rehashing.
template <class V>
void reserve_names(NameMap<V>& map, size_t names) {
  size_t wanted = 16;
  while (wanted / 2 < names) wanted *= 2;
  if (wanted > map.slots.size()) detail::rehash(map, wanted);
}

// The value stored for `key`, or nullptr.
template <class V>
const V* find_name(const NameMap<V>& map, std::string_view key) noexcept {
  if (map.count == 0) return nullptr;
  key = {detail::key_address(key), key.size()};
  const uint64_t hash = hash_name(key);
  const auto& slot = map.slots[detail::probe(map.slots, key, hash)];
  return slot.data != nullptr ? &slot.value : nullptr;
}

// Inserts `key` or replaces its value.
template <class V>
void assign_name(NameMap<V>& map, std::string_view key, V value) {
  if ((map.count + 1) * 2 > map.slots.size()) [[unlikely]] {
    detail::rehash(map, map.slots.empty() ? 16 : map.slots.size() * 2);
  }
  key = {detail::key_address(key), key.size()};
  const uint64_t hash = hash_name(key);
  auto& slot = map.slots[detail::probe(map.slots, key, hash)];
  if (slot.data == nullptr) {
    slot.data = key.data();
    slot.size = key.size();
    slot.tag = static_cast<uint32_t>(hash >> 32);
    ++map.count;
  }
  slot.value = value;
}

}  // namespace mopsel
