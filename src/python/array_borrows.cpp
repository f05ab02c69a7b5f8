#include "python/array_borrows.hpp"

#include <algorithm>
#include <mutex>
#include <new>
#include <vector>

namespace mopsel::python {
namespace {

struct Borrow {
  uintptr_t begin;
  uintptr_t end;  // exclusive
  bool exclusive;
  size_t count;   // shared borrows of the same range are counted in one entry
};

struct Registry {
  std::mutex mutex;
  std::vector<Borrow> borrows;  // few at a time: a linear scan is the fastest lookup
};

Registry g_registry;

// [begin, end) of a range; an empty range counts as its first byte so that
// borrows of empty arrays conflict like any other.
std::pair<uintptr_t, uintptr_t> key_of(const void* begin, size_t length) noexcept {
  const auto first = reinterpret_cast<uintptr_t>(begin);
  const size_t span = length == 0 ? 1 : length;
  const uintptr_t last = first + span < first ? UINTPTR_MAX : first + span;
  return {first, last};
}

int acquire(void* state, const void* begin, size_t length, bool exclusive) noexcept {
  auto* registry = static_cast<Registry*>(state);
  const auto [first, last] = key_of(begin, length);
  std::lock_guard<std::mutex> hold(registry->mutex);
  for (Borrow& held : registry->borrows) {
    const bool overlaps = held.begin < last && first < held.end;
    if (!overlaps) continue;
    if (exclusive || held.exclusive) return MOPSEL_BORROW_REFUSED;
  }
  if (!exclusive) {
    for (Borrow& held : registry->borrows) {
      if (!held.exclusive && held.begin == first && held.end == last) {
        ++held.count;
        return MOPSEL_BORROW_GRANTED;
      }
    }
  }
  try {
    registry->borrows.push_back(Borrow{first, last, exclusive, 1});
  } catch (const std::bad_alloc&) {
    return MOPSEL_BORROW_INVALID;
  }
  return MOPSEL_BORROW_GRANTED;
}

int acquire_shared(void* state, const void* begin, size_t length) noexcept {
  return acquire(state, begin, length, false);
}

int acquire_exclusive(void* state, const void* begin, size_t length) noexcept {
  return acquire(state, begin, length, true);
}

int release(void* state, const void* begin, size_t length, int exclusive) noexcept {
  auto* registry = static_cast<Registry*>(state);
  const auto [first, last] = key_of(begin, length);
  std::lock_guard<std::mutex> hold(registry->mutex);
  auto& borrows = registry->borrows;
  const auto found = std::find_if(borrows.begin(), borrows.end(), [&](const Borrow& held) {
    return held.begin == first && held.end == last && held.exclusive == (exclusive != 0);
  });
  if (found == borrows.end()) return MOPSEL_BORROW_INVALID;
  if (--found->count == 0) borrows.erase(found);
  return MOPSEL_BORROW_GRANTED;
}

const MopselArrayBorrows g_table = {1, 0, &g_registry, acquire_shared, acquire_exclusive, release};

}  // namespace

const MopselArrayBorrows& array_borrows() noexcept { return g_table; }

PyObject* array_borrows_capsule() noexcept {
  // The capsule API takes a non-const pointer; nothing writes through it.
  return PyCapsule_New(const_cast<MopselArrayBorrows*>(&g_table), kArrayBorrowsCapsule, nullptr);
}

}  // namespace mopsel::python
