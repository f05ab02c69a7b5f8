#pragma once
// The first reservation of a large text buffer (the loaded file, the inflated text, the
// text write_str renders), made so that first touching it is cheap.
#include <cstddef>

#include "model/owned_array.hpp"

namespace mopsel {

// From this size on a reservation is made of transparent huge pages.
inline constexpr size_t kHugeTextMin = size_t{4} << 20;
inline constexpr size_t kHugePage = size_t{2} << 20;

// Reserves room for `capacity` bytes in `text`, which must hold no storage yet. From
// kHugeTextMin on, the room starts on a 2 MiB boundary and is advised for transparent
// huge pages: every fresh 4 KiB page costs a page fault (about 2 µs here, half a second
// per gigabyte), a 2 MiB page one fault for 512 of them. Where the kernel has no huge
// pages to give, the advice changes nothing. The storage is freed with std::free like
// any other buffer's. Throws std::bad_alloc.
void reserve_text(ByteBuffer& text, size_t capacity);

}  // namespace mopsel
