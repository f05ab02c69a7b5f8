#pragma once
// Zeroed slot storage and the sizing and probing arithmetic shared by the reader's
// open-addressing maps (the row map in name_map.hpp, the column map in
// column_index.hpp).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <type_traits>
#include <utility>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace mopsel {

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

// Tables are kept at most 60% full (any size, not only powers of two: on large
// models the table is the reader's biggest allocation after the arrays). Small
// tables get up to 1024 slots, four per name: they stay in the first-level cache
// all the same, and the few names every line looks up then rarely share a probe
// sequence, whatever the seed.
inline size_t slots_for(size_t names) noexcept {
  const size_t wanted = names + names / 2 + names / 6 + 1;  // about names / 0.6
  const size_t sparse = names < 256 ? 4 * names : 1024;
  const size_t most = wanted > sparse ? wanted : sparse;
  return most < 16 ? 16 : most;
}

// The farthest a map stores a name from its home slot under the fast mix. At
// 60% load with a random seed a name lands this far out with odds of about
// 1e-12, so only names prepared against a known seed get there; the map then
// moves to the keyed hash, which keeps every probe this short in practice.
inline constexpr size_t kMaxShift = 256;

// The first slot to probe: the hash scaled onto the table size.
inline size_t home_slot(uint64_t hash, size_t size) noexcept {
  return static_cast<size_t>((static_cast<unsigned __int128>(hash) * size) >> 64);
}

}  // namespace mopsel
