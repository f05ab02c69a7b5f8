#include "platform/system_random.hpp"

#include <fcntl.h>
#include <sys/random.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>

namespace mopsel {
namespace {

// getrandom(2) in pieces; GRND_NONBLOCK so that an early-boot system never stalls
// a read (the fallback takes over then).
bool from_getrandom(unsigned char* out, size_t size) noexcept {
  while (size > 0) {
    const ssize_t got = ::getrandom(out, size, GRND_NONBLOCK);
    if (got < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    out += got;
    size -= static_cast<size_t>(got);
  }
  return true;
}

bool from_urandom(unsigned char* out, size_t size) noexcept {
  const int fd = ::open("/dev/urandom", O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  while (size > 0) {
    const ssize_t got = ::read(fd, out, size);
    if (got <= 0) {
      if (got < 0 && errno == EINTR) continue;
      ::close(fd);
      return false;
    }
    out += got;
    size -= static_cast<size_t>(got);
  }
  ::close(fd);
  return true;
}

uint64_t mix64(uint64_t x) noexcept {
  x ^= x >> 30;
  x *= 0xbf58476d1ce4e5b9ULL;
  x ^= x >> 27;
  x *= 0x94d049bb133111ebULL;
  return x ^ (x >> 31);
}

}  // namespace

void system_random(void* out, size_t size) noexcept {
  auto* bytes = static_cast<unsigned char*>(out);
  if (from_getrandom(bytes, size) || from_urandom(bytes, size)) return;
  static std::atomic<uint64_t> counter{0};
  uint64_t state = static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
                   (static_cast<uint64_t>(::getpid()) << 32) ^ reinterpret_cast<uintptr_t>(&counter) ^
                   reinterpret_cast<uintptr_t>(out) ^ counter.fetch_add(1, std::memory_order_relaxed);
  for (size_t i = 0; i < size; i += 8) {
    state = mix64(state + 0x9e3779b97f4a7c15ULL);
    std::memcpy(bytes + i, &state, size - i < 8 ? size - i : 8);
  }
}

}  // namespace mopsel
