#pragma once
// Random bytes from the operating system, for hash keys and unique file names.
#include <cstddef>

namespace mopsel {

// Fills `size` bytes from getrandom(2), or /dev/urandom where that fails. Should
// both fail (a sandbox without either), the bytes come from the clock, the process
// id and addresses: unpredictable enough for unique names, weaker as hash keys.
void system_random(void* out, size_t size) noexcept;

}  // namespace mopsel
