#pragma once
// Names entered into one NameMap by several threads at once, the map sized for all of
// them first: a thread claims a free slot by setting its code to kBusySlot, writes the
// name and its value, then publishes the name's code. A thread that meets a busy slot
// waits for the code before it compares names.
#include <cstdint>
#include <thread>

#include "reader/names/name_map.hpp"

namespace mopsel {

// A slot's code while a thread writes its name: no name has it (short names have
// codes 1 to 17, long ones the top bit set).
inline constexpr uint32_t kBusySlot = 0x7fffffffu;

// The code of a slot another thread is filling, once it has published it (a few
// stores away, unless that thread was descheduled in between).
template <class Slot>
uint32_t settled_code(const Slot& slot) noexcept {
  uint32_t code = __atomic_load_n(&slot.code, __ATOMIC_ACQUIRE);
  while (code == kBusySlot) {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#else
    std::this_thread::yield();
#endif
    code = __atomic_load_n(&slot.code, __ATOMIC_ACQUIRE);
  }
  return code;
}

// Stores the name `mine` with `value` in `slot` when the slot is free (true). Else
// false, with `code` the code of the name the slot holds, for the caller to compare.
template <class Slot, class V>
bool claim_slot(Slot& slot, const detail::SlotKey& mine, const V& value, uint32_t& code) noexcept {
  code = __atomic_load_n(&slot.code, __ATOMIC_ACQUIRE);
  if (code == 0 && __atomic_compare_exchange_n(&slot.code, &code, kBusySlot, false, __ATOMIC_ACQUIRE, __ATOMIC_ACQUIRE)) {
    slot.w0 = mine.w0;
    slot.w1 = mine.w1;
    slot.value = value;
    __atomic_store_n(&slot.code, mine.code, __ATOMIC_RELEASE);
    return true;
  }
  if (code == kBusySlot) code = settled_code(slot);
  return false;
}

}  // namespace mopsel
