#include "reader/names/name_seed.hpp"

#include <cstring>
#include <mutex>

#include "platform/system_random.hpp"

namespace mopsel {
namespace {

std::mutex g_seed_mutex;
std::optional<HashSeed> g_seed;  // guarded by g_seed_mutex; drawn on first use

uint64_t split_mix(uint64_t x) noexcept {
  x += 0x9e3779b97f4a7c15ULL;
  x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9ULL;
  x = (x ^ (x >> 27)) * 0x94d049bb133111ebULL;
  return x ^ (x >> 31);
}

HashSeed random_seed(bool keyed) noexcept {
  uint64_t words[3];
  system_random(words, sizeof words);
  return {words[0] | 1, words[1], words[2], keyed};
}

inline uint64_t rotl(uint64_t x, int b) noexcept { return (x << b) | (x >> (64 - b)); }

struct SipState {
  uint64_t v0, v1, v2, v3;
  void round() noexcept {
    v0 += v1;
    v1 = rotl(v1, 13);
    v1 ^= v0;
    v0 = rotl(v0, 32);
    v2 += v3;
    v3 = rotl(v3, 16);
    v3 ^= v2;
    v0 += v3;
    v3 = rotl(v3, 21);
    v3 ^= v0;
    v2 += v1;
    v1 = rotl(v1, 17);
    v1 ^= v2;
    v2 = rotl(v2, 32);
  }
};

}  // namespace

HashSeed process_name_seed() noexcept {
  const std::lock_guard<std::mutex> lock(g_seed_mutex);
  if (!g_seed) g_seed = random_seed(false);
  return *g_seed;
}

void use_fixed_name_seed(std::optional<uint64_t> value) noexcept {
  HashSeed seed = random_seed(false);
  if (value) {
    seed.k1 = *value;
    seed.k2 = split_mix(*value);
    seed.k0 = split_mix(seed.k2) | 1;
  }
  const std::lock_guard<std::mutex> lock(g_seed_mutex);
  g_seed = seed;
}

HashSeed keyed_name_seed() noexcept { return random_seed(true); }

template <int C, int D>
uint64_t siphash(uint64_t key0, uint64_t key1, const char* data, size_t size) noexcept {
  SipState s{0x736f6d6570736575ULL ^ key0, 0x646f72616e646f6dULL ^ key1, 0x6c7967656e657261ULL ^ key0,
             0x7465646279746573ULL ^ key1};
  const auto* bytes = reinterpret_cast<const unsigned char*>(data);
  const size_t whole = size - size % 8;
  for (size_t i = 0; i < whole; i += 8) {
    uint64_t m;
    std::memcpy(&m, bytes + i, 8);  // little-endian words, as the algorithm reads them
    s.v3 ^= m;
    for (int r = 0; r < C; ++r) s.round();
    s.v0 ^= m;
  }
  uint64_t last = static_cast<uint64_t>(size) << 56;
  for (size_t i = whole; i < size; ++i) last |= uint64_t{bytes[i]} << (8 * (i - whole));
  s.v3 ^= last;
  for (int r = 0; r < C; ++r) s.round();
  s.v0 ^= last;
  s.v2 ^= 0xff;
  for (int r = 0; r < D; ++r) s.round();
  return s.v0 ^ s.v1 ^ s.v2 ^ s.v3;
}

template uint64_t siphash<1, 3>(uint64_t, uint64_t, const char*, size_t) noexcept;
template uint64_t siphash<2, 4>(uint64_t, uint64_t, const char*, size_t) noexcept;

}  // namespace mopsel
