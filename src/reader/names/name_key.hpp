#pragma once
// Names prepared for hashing and comparing, shared by the reader's name maps.
// One 128-bit multiply hashes a short name; the key of a name of up to
// kInlineName bytes holds two words that determine it (with its length), so maps
// can store and compare short names without touching the text they came from.
// The hash is keyed by the map's seed (name_seed.hpp): random per process, so
// that nobody can prepare names that collide.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "reader/names/name_seed.hpp"

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

}  // namespace detail

// Names up to this length are determined by the words `a` and `b` of their key
// and their length.
inline constexpr size_t kInlineName = 16;

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

namespace detail {
// The hash of a map that gave up on the fast mix; this is uncommon.
[[gnu::noinline]] inline uint64_t keyed_hash(const HashSeed& seed, const char* p, size_t n) noexcept {
  return siphash<1, 3>(seed.k1, seed.k2, p, n);
}
}  // namespace detail

// Reads only the bytes of the name (overlapping loads inside it, never past it).
[[gnu::always_inline]] inline NameKey name_key(std::string_view name, const HashSeed& seed) noexcept {
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
    if (seed.keyed) [[unlikely]]
      return {p != nullptr ? p : "", n, a, b, keyed_hash(seed, p, n)};
    // One wide multiply mixes both words. Its folded product's high bits,
    // which choose the home slot, follow too few input bits when names differ
    // only in a digit or two, so a second multiply spreads them; the length
    // goes in between, so that names of different lengths with the same loaded
    // words differ whatever the seed.
    const uint64_t mixed = fold_multiply(a ^ seed.k1, b ^ seed.k2);
    return {p != nullptr ? p : "", n, a, b, (mixed ^ (mixed >> 32) ^ n) * seed.k0};
  } else {
    a = load64(p + n - 16);
    b = load64(p + n - 8);
    if (seed.keyed) [[unlikely]]
      return {p, n, a, b, keyed_hash(seed, p, n)};
    // Long names: 16 bytes per round, then the last 16 bytes (overlapping).
    uint64_t state = seed.k0 ^ (n * seed.k1);
    for (size_t i = 0; i + 16 < n; i += 16) {
      state = fold_multiply(load64(p + i) ^ seed.k1, load64(p + i + 8) ^ state);
    }
    const uint64_t hash = fold_multiply(seed.k1 ^ n, fold_multiply(a ^ seed.k1, b ^ state) ^ seed.k2);
    return {p, n, a, b, hash};
  }
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

}  // namespace mopsel
