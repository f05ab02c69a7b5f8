#pragma once
// Growable array in malloc'ed storage that can be handed to a new owner.
//
// std::vector cannot give its storage away; record buffers must, because NumPy
// arrays take them over without copying and free them later with std::free.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

#include "model/fault.hpp"

namespace mopsel {

template <class T>
class OwnedArray {
  static_assert(std::is_trivially_copyable_v<T>, "elements are moved with memcpy/realloc");

 public:
  OwnedArray() = default;
  OwnedArray(const OwnedArray&) = delete;
  OwnedArray& operator=(const OwnedArray&) = delete;
  OwnedArray(OwnedArray&& other) noexcept
      : data_(std::exchange(other.data_, nullptr)),
        size_(std::exchange(other.size_, 0)),
        capacity_(std::exchange(other.capacity_, 0)) {}
  OwnedArray& operator=(OwnedArray&& other) noexcept {
    if (this != &other) {
      std::free(data_);
      data_ = std::exchange(other.data_, nullptr);
      size_ = std::exchange(other.size_, 0);
      capacity_ = std::exchange(other.capacity_, 0);
    }
    return *this;
  }
  ~OwnedArray() { std::free(data_); }

  [[nodiscard]] T* data() noexcept { return data_; }
  [[nodiscard]] const T* data() const noexcept { return data_; }
  [[nodiscard]] size_t size() const noexcept { return size_; }
  [[nodiscard]] size_t capacity() const noexcept { return capacity_; }
  [[nodiscard]] bool empty() const noexcept { return size_ == 0; }
  T& operator[](size_t i) noexcept { return data_[i]; }
  const T& operator[](size_t i) const noexcept { return data_[i]; }
  T* begin() noexcept { return data_; }
  T* end() noexcept { return data_ + size_; }
  const T* begin() const noexcept { return data_; }
  const T* end() const noexcept { return data_ + size_; }

  // Makes room for at least `wanted` elements in total. Throws std::bad_alloc.
  void reserve(size_t wanted) {
    if (wanted > capacity_) reallocate(wanted);
  }

  // Makes room for `n` more elements, growing as push_back does (doubling), so that
  // reserving a little more many times costs few reallocations.
  void reserve_more(size_t n) {
    if (n > capacity_ - size_) grow(size_ + n);
  }

  // Like reserve on an array that holds no storage yet, with the storage starting at a
  // multiple of `alignment` (a power of two, at least sizeof(void*)), so that whole pages
  // of it can be advised to the kernel. It is released (and regrown) like any other.
  // Throws std::bad_alloc.
  void reserve_aligned(size_t wanted, size_t alignment) {
    if (data_ != nullptr) raise_fault("aligned reservation of an array that has storage");
    if (wanted == 0) return;
    if (wanted > static_cast<size_t>(PTRDIFF_MAX) / sizeof(T)) throw std::bad_alloc();
    void* p = nullptr;
    if (posix_memalign(&p, alignment, wanted * sizeof(T)) != 0) throw std::bad_alloc();
    data_ = static_cast<T*>(p);
    capacity_ = wanted;
  }

  [[gnu::always_inline]] void push_back(T value) {
    if (size_ == capacity_) [[unlikely]]
      grow(size_ + 1);
    data_[size_++] = value;
  }

  // Empties the array and keeps its storage for reuse.
  void clear() noexcept { size_ = 0; }

  // Keeps the first `n` elements (all of them when there are fewer) and the storage.
  void truncate(size_t n) noexcept {
    if (n < size_) size_ = n;
  }

  // Appends a block of elements with one copy.
  void append(const T* values, size_t n) {
    if (n == 0) return;
    if (size_ + n > capacity_) grow(size_ + n);
    std::memcpy(data_ + size_, values, n * sizeof(T));
    size_ += n;
  }

  // Counts n more elements as in use after they were written straight into the reserved
  // space past size() (by read(2) or inflate, which fill memory they are pointed at).
  // Faults when that would count elements beyond capacity().
  void commit(size_t n) {
    if (n > capacity_ - size_) [[unlikely]]
      raise_fault("commit of " + std::to_string(n) + " elements past the capacity " +
                  std::to_string(capacity_) + " at size " + std::to_string(size_));
    size_ += n;
  }

  // Gives up the storage; the caller frees it with std::free. Afterwards the array is empty.
  [[nodiscard]] T* release() noexcept {
    size_ = 0;
    capacity_ = 0;
    return std::exchange(data_, nullptr);
  }

 private:
  void grow(size_t needed) {
    size_t doubled = capacity_ < 8 ? 8 : capacity_ * 2;
    reallocate(doubled > needed ? doubled : needed);
  }
  void reallocate(size_t capacity) {
    // No object may exceed PTRDIFF_MAX bytes; asking an allocator for more is
    // refused here rather than left to it (a checking allocator aborts instead).
    if (capacity > static_cast<size_t>(PTRDIFF_MAX) / sizeof(T)) throw std::bad_alloc();
    void* p = std::realloc(data_, capacity * sizeof(T));
    if (p == nullptr) throw std::bad_alloc();
    data_ = static_cast<T*>(p);
    capacity_ = capacity;
  }

  T* data_ = nullptr;
  size_t size_ = 0;
  size_t capacity_ = 0;
};

using ByteBuffer = OwnedArray<char>;

inline std::string_view as_view(const ByteBuffer& bytes) noexcept {
  return {bytes.data(), bytes.size()};
}

}  // namespace mopsel
