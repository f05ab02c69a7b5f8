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
#include <cstdlib>
#include <new>
#include <string_view>
#include <type_traits>
#include <utility>

#if defined(__linux__)
#include <sys/mman.h>
#endif

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

inline constexpr size_t kInlineName = 16;

}  // namespace detail

// A name prepared for hashing and comparing. For names of at most 16 bytes the
// words `a` and `b` together with the length determine the name: they cover
// its first and last bytes with overlapping loads (all bytes when n <= 3).
struct NameKey {
  const char* data;
  size_t size;
  uint64_t a;
  uint64_t b;
  uint64_t hash;
};

// Reads only the bytes of the name (overlapping loads inside it, never past it).
inline NameKey name_key(std::string_view name) noexcept {
  using namespace detail;
  const char* p = name.data();
  const size_t n = name.size();
  uint64_t a;
  uint64_t b;
  if (n <= kInlineName) [[likely]] {
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
    // One multiply mixes both words; the length is in the key compare anyway.
    return {p != nullptr ? p : "", n, a, b, fold_multiply(a ^ kSeed1, b ^ kSeed2 ^ n)};
  } else {
    // Long names: 16 bytes per round, then the last 16 bytes (overlapping).
    uint64_t seed = kSeed0 ^ (n * kSeed1);
    size_t i = 0;
    for (; i + 16 < n; i += 16) {
      seed = fold_multiply(load64(p + i) ^ kSeed1, load64(p + i + 8) ^ seed);
    }
    a = load64(p + n - 16);
    b = load64(p + n - 8);
    const uint64_t hash = fold_multiply(kSeed1 ^ n, fold_multiply(a ^ kSeed1, b ^ seed) ^ kSeed2);
    return {p, n, a, b, hash};
  }
}

inline uint64_t hash_name(std::string_view name) noexcept { return name_key(name).hash; }

namespace detail {

// Zeroed storage for hash slots. Large tables are probed at random, so they get
// their own mapping with transparent huge pages asked for: far fewer TLB misses
// and page faults than with 4 KiB pages.
template <class Slot>
class SlotTable {
  static_assert(std::is_trivially_copyable_v<Slot>);

 public:
  SlotTable() = default;
  SlotTable(const SlotTable&) = delete;
  SlotTable& operator=(const SlotTable&) = delete;
  SlotTable(SlotTable&& other) noexcept { swap(other); }
  SlotTable& operator=(SlotTable&& other) noexcept {
    SlotTable moved(std::move(other));
    swap(moved);
    return *this;
  }
  ~SlotTable() { release(); }

  [[nodiscard]] size_t size() const noexcept { return size_; }
  [[nodiscard]] bool empty() const noexcept { return size_ == 0; }
  Slot& operator[](size_t i) noexcept { return data_[i]; }
  const Slot& operator[](size_t i) const noexcept { return data_[i]; }
  const Slot* begin() const noexcept { return data_; }
  const Slot* end() const noexcept { return data_ + size_; }

  void swap(SlotTable& other) noexcept {
    std::swap(data_, other.data_);
    std::swap(size_, other.size_);
    std::swap(mapped_, other.mapped_);
  }

  // Replaces the table by `n` free (all-zero) slots. Throws std::bad_alloc.
  void assign_free(size_t n) {
    release();
    if (n > SIZE_MAX / sizeof(Slot)) throw std::bad_alloc();
    const size_t bytes = n * sizeof(Slot);
#if defined(__linux__)
    constexpr size_t kHuge = size_t{2} << 20;
    if (bytes >= 2 * kHuge) {
      const size_t length = (bytes + kHuge - 1) / kHuge * kHuge;
      void* base = ::mmap(nullptr, length + kHuge, PROT_READ | PROT_WRITE,
                          MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
      if (base == MAP_FAILED) throw std::bad_alloc();
      // Keep a 2 MiB aligned piece; anonymous pages read as zero.
      const auto start = reinterpret_cast<uintptr_t>(base);
      const uintptr_t aligned = (start + kHuge - 1) / kHuge * kHuge;
      if (aligned != start) ::munmap(base, aligned - start);
      ::munmap(reinterpret_cast<void*>(aligned + length), start + kHuge - aligned);
      ::madvise(reinterpret_cast<void*>(aligned), length, MADV_HUGEPAGE);
      data_ = reinterpret_cast<Slot*>(aligned);
      size_ = n;
      mapped_ = length;
      return;
    }
#endif
    if (n == 0) return;
    data_ = static_cast<Slot*>(std::calloc(n, sizeof(Slot)));
    if (data_ == nullptr) throw std::bad_alloc();
    size_ = n;
  }

 private:
  void release() noexcept {
#if defined(__linux__)
    if (mapped_ != 0) {
      ::munmap(data_, mapped_);
    } else {
      std::free(data_);
    }
#else
    std::free(data_);
#endif
    data_ = nullptr;
    size_ = 0;
    mapped_ = 0;
  }

  Slot* data_ = nullptr;
  size_t size_ = 0;
  size_t mapped_ = 0;  // length of our own mapping, 0 for calloc storage
};

}  // namespace detail

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
  detail::SlotTable<Slot> slots;  // power-of-two size, or empty
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

// Tables are kept at most 60% full (any size, not only powers of two: on large
// models the table is the reader's biggest allocation after the arrays).
inline size_t slots_for(size_t names) noexcept {
  const size_t wanted = names + names / 2 + names / 6 + 1;  // about names / 0.6
  return wanted < 16 ? 16 : wanted;
}

// The first slot to probe: the hash scaled onto the table size.
inline size_t home_slot(uint64_t hash, size_t size) noexcept {
  return static_cast<size_t>((static_cast<unsigned __int128>(hash) * size) >> 64);
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
  const size_t wanted = detail::slots_for(names);
  if (wanted > map.slots.size()) detail::rehash(map, wanted);
}

// Brings the slot of a prepared key into the cache ahead of its lookup.
template <class V>
void prefetch_name(const NameMap<V>& map, const NameKey& key) noexcept {
  if (!map.slots.empty()) __builtin_prefetch(&map.slots[detail::home_slot(key.hash, map.slots.size())]);
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
  if (detail::slots_for(map.count + 1) > map.slots.size()) [[unlikely]] {
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

// Byte equality of two names without a library call: names are short.
inline bool same_name(std::string_view a, std::string_view b) noexcept {
  const size_t n = a.size();
  if (n != b.size()) return false;
  if (n < 8) {
    for (size_t i = 0; i < n; ++i) {
      if (a[i] != b[i]) return false;
    }
    return true;
  }
  for (size_t i = 0; i + 8 < n; i += 8) {
    if (detail::load64(a.data() + i) != detail::load64(b.data() + i)) return false;
  }
  return detail::load64(a.data() + n - 8) == detail::load64(b.data() + n - 8);
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
