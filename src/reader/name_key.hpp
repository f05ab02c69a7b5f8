#pragma once
// Names prepared for hashing and comparing, shared by the reader's name maps.
// One 128-bit multiply hashes a short name; the key of a name of up to
// kInlineName bytes holds two words that determine it (with its length), so maps
// can store and compare short names without touching the text they came from.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

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
