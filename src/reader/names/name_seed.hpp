#pragma once
// The keys of the reader's name hashing. Names come from files nobody on the team
// wrote, so the hash must not be predictable: a map takes a seed drawn once per
// process from the system's random source, and a map that still finds names piling
// up near one slot (someone knows the seed, or got lucky) moves to a keyed hash
// (SipHash-1-3) under fresh random keys.
#include <cstddef>
#include <cstdint>
#include <optional>

namespace mopsel {

struct HashSeed {
  uint64_t k0 = 1;     // odd: the last multiplier of short names; long names start from it
  uint64_t k1 = 0;     // mixed into the first loaded word
  uint64_t k2 = 0;     // mixed into the second loaded word
  bool keyed = false;  // SipHash-1-3 under the key (k1, k2) instead of the fast mix
};

// The seed new maps take: drawn from the system's random source the first time it
// is asked for, or the one fixed by use_fixed_name_seed.
HashSeed process_name_seed() noexcept;

// For tests only: from now on new maps take the fast-mix seed made from `value`
// (k1 = value; k0 and k2 derived from it), or, given nothing, a fresh random seed.
void use_fixed_name_seed(std::optional<uint64_t> value) noexcept;

// A keyed seed under fresh random keys, for a map that gave up on the fast mix.
HashSeed keyed_name_seed() noexcept;

// SipHash with C compression and D finalisation rounds over the bytes of a name;
// the reader uses 1-3.
template <int C, int D>
uint64_t siphash(uint64_t key0, uint64_t key1, const char* data, size_t size) noexcept;

extern template uint64_t siphash<1, 3>(uint64_t, uint64_t, const char*, size_t) noexcept;
extern template uint64_t siphash<2, 4>(uint64_t, uint64_t, const char*, size_t) noexcept;

}  // namespace mopsel
