#include "platform/text_buffer.hpp"

#include <cstdint>
#include <mutex>
#include <utility>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace mopsel {
namespace {

// The one kept buffer of the process, shared by every thread that reads or writes.
struct KeptText {
  std::mutex lock;
  ByteBuffer buffer;
  // Whether a text of kKeptTextMin bytes or more was done with before.
  bool large_done = false;
};

KeptText& kept_text() noexcept {
  static KeptText kept;
  return kept;
}

// Takes the kept buffer when it fits `capacity`; otherwise frees it. Returns an empty
// buffer when none was taken.
ByteBuffer take_kept(size_t capacity) noexcept {
  ByteBuffer stale;
  KeptText& kept = kept_text();
  {
    const std::lock_guard<std::mutex> hold(kept.lock);
    const size_t held = kept.buffer.capacity();
    if (held == 0) return {};
    if (held >= capacity && held / 2 <= capacity) {
      ByteBuffer taken = std::move(kept.buffer);
      taken.clear();
      return taken;
    }
    stale = std::move(kept.buffer);
  }
  return {};  // `stale` is freed here, outside the lock
}

}  // namespace

void reserve_text(ByteBuffer& text, size_t capacity) {
  if (capacity < kHugeTextMin) {
    text.reserve(capacity);
    return;
  }
  if (ByteBuffer taken = take_kept(capacity); taken.capacity() > 0) {
    text = std::move(taken);
    return;
  }
  text.reserve_aligned(capacity, kHugePage);
#if defined(__linux__)
  // Only whole huge pages; the advice is a hint, so its failure is no error.
  (void)::madvise(text.data(), capacity / kHugePage * kHugePage, MADV_HUGEPAGE);
#endif
}

void keep_text_buffer(ByteBuffer&& text) noexcept {
  ByteBuffer done = std::move(text);
  if (done.capacity() < kKeptTextMin) return;
  KeptText& kept = kept_text();
  {
    const std::lock_guard<std::mutex> hold(kept.lock);
    const bool in_a_loop = kept.large_done;
    kept.large_done = true;
    if (!in_a_loop) return;  // `done` is freed after the lock is let go
  }
#if defined(__linux__) && defined(MADV_FREE)
  // The contents are no longer wanted: whole pages only, and a failure only means the
  // pages stay as they are.
  const auto start = reinterpret_cast<uintptr_t>(done.data());
  const uintptr_t first = (start + kHugePage - 1) / kHugePage * kHugePage;
  const uintptr_t end = (start + done.capacity()) / kHugePage * kHugePage;
  if (end > first) (void)::madvise(reinterpret_cast<void*>(first), end - first, MADV_FREE);
#endif
  done.clear();
  const std::lock_guard<std::mutex> hold(kept.lock);
  std::swap(kept.buffer, done);
  // The buffer kept before, if any, is freed with `done` after the lock is let go.
}

size_t drop_kept_text_buffer() noexcept {
  ByteBuffer stale;
  KeptText& kept = kept_text();
  {
    const std::lock_guard<std::mutex> hold(kept.lock);
    stale = std::move(kept.buffer);
    kept.large_done = false;
  }
  return stale.capacity();
}

}  // namespace mopsel
