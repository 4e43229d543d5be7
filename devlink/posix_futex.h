// Sleeping on a 32-bit word until another thread changes it: the Linux futex
// calls, in one place. Waits are always bounded; a caller re-checks its own
// condition after every return (a wake, a time-out, a signal or a spurious
// return look the same).
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>

namespace lumo {

// Blocks the calling thread while `word` holds `expected`, at most `timeout`
// (0 or less: returns at once). Any thread.
void FutexWait(const std::atomic<uint32_t>& word, uint32_t expected, std::chrono::microseconds timeout);

// Wakes every thread blocked in FutexWait on `word`. Any thread. Safe on a
// word whose object may be freed at any moment: the kernel only uses the
// address of a private futex, never its contents.
void FutexWakeAll(const std::atomic<uint32_t>& word);

} // namespace lumo
