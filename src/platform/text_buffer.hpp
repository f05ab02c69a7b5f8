#pragma once
// The reservation of a large text buffer (the loaded file, the inflated text, the
// text write_str renders), made so that first touching it is cheap, and the buffer of
// the last large text kept for the next one.
#include <cstddef>

#include "model/owned_array.hpp"

namespace mopsel {

// From this size on a reservation is made of transparent huge pages.
inline constexpr size_t kHugeTextMin = size_t{4} << 20;
inline constexpr size_t kHugePage = size_t{2} << 20;

// From this size on a text's buffer is kept for the next text once it is done with,
// from the second such text of the process on (or since the last drop_kept_text_buffer).
// Smaller texts come from memory the allocator keeps anyway (nw04, 26 MB, gains nothing).
inline constexpr size_t kKeptTextMin = size_t{64} << 20;

// Reserves room for `capacity` bytes in `text`, which must hold no storage yet. From
// kHugeTextMin on, the room starts on a 2 MiB boundary and is advised for transparent
// huge pages: every fresh 4 KiB page costs a page fault (about 2 µs here, half a second
// per gigabyte), a 2 MiB page one fault for 512 of them. Where the kernel has no huge
// pages to give, the advice changes nothing. The storage is freed with std::free like
// any other buffer's.
//
// A kept buffer (keep_text_buffer) that fits is taken instead: between `capacity` and
// twice it. One that does not fit is freed first, so that a process never holds a
// kept buffer beside a new large one. Throws std::bad_alloc.
void reserve_text(ByteBuffer& text, size_t capacity);

// Takes the storage of a text the caller is done with. A buffer of kKeptTextMin bytes
// or more is kept for the next reserve_text, replacing any kept before, when the
// process has done with another such text before (a program reading or writing large
// models in a loop; one that reads a single large file gets its memory back as
// before). So the process holds at most one kept buffer between calls, of the room the
// last large text had (a file's text: its size). Its pages
// are advised as free (MADV_FREE): the kernel takes them back when memory runs short,
// and until it does the next text is written into memory already mapped instead of
// fresh pages the kernel must clear (about 0.06 s per GiB; on a virtual machine that
// hands freed memory back to its host, 1-3 s per GiB). Other buffers are freed.
void keep_text_buffer(ByteBuffer&& text) noexcept;

// Frees the kept buffer, if any, and forgets that a large text was done with, as in a
// fresh process. Returns the kept buffer's capacity (0 when none was kept). Python's
// mopsel.release_memory() calls it.
size_t drop_kept_text_buffer() noexcept;

}  // namespace mopsel
