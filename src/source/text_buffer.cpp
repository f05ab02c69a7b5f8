#include "source/text_buffer.hpp"

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace mopsel {

void reserve_text(ByteBuffer& text, size_t capacity) {
  if (capacity < kHugeTextMin) {
    text.reserve(capacity);
    return;
  }
  text.reserve_aligned(capacity, kHugePage);
#if defined(__linux__)
  // Only whole huge pages; the advice is a hint, so its failure is no error.
  (void)::madvise(text.data(), capacity / kHugePage * kHugePage, MADV_HUGEPAGE);
#endif
}

}  // namespace mopsel
