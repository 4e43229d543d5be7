// Windows side of posix_futex.h: WaitOnAddress and WakeByAddressAll, the
// system's wait on a word (Windows 8 and later; Wine has them).
#include "posix_futex.h"

#include <windows.h>

namespace lumo {
namespace {

static_assert(sizeof(std::atomic<uint32_t>) == sizeof(uint32_t) && std::atomic<uint32_t>::is_always_lock_free,
              "the wait word is the atomic's own storage");

volatile void* Address(const std::atomic<uint32_t>& word) {
    return const_cast<std::atomic<uint32_t>*>(&word);
}

} // namespace

void FutexWait(const std::atomic<uint32_t>& word, uint32_t expected, std::chrono::microseconds timeout) {
    const long long us = timeout.count();
    if (us <= 0)
        return;
    // Whole milliseconds, rounded up: a wait never ends early on its own.
    const long long ms = (us + 999) / 1000;
    const DWORD wait = ms >= static_cast<long long>(INFINITE) ? INFINITE - 1 : static_cast<DWORD>(ms);
    // A change, a wake, a time-out or a spurious return all just return.
    WaitOnAddress(Address(word), &expected, sizeof expected, wait);
}

void FutexWakeAll(const std::atomic<uint32_t>& word) {
    // Uses the address only, like the Linux futex: safe when the object is freed meanwhile.
    WakeByAddressAll(const_cast<void*>(Address(word)));
}

} // namespace lumo
