// A count one thread bumps to wake another thread's bounded wait: the
// mailbox hand-back (ClearMailbox -> receive thread) and the publication
// (receive thread -> the waiting side) use one each.
//
// Waiter: seen = Seen(); check its own condition; Wait(seen, ms). A Bump
// after Seen() makes Wait return at once or wakes it: the count, the waiter
// count and the futex compare are ordered by sequentially consistent
// operations, so no wake is lost between the check and the sleep.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>

namespace lumo {

// Tells the processor that the thread spins on a flag.
inline void CpuRelax() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#elif defined(__aarch64__) || defined(__arm__)
    asm volatile("yield");
#endif
}

class WakeCount {
public:
    uint32_t Seen() const { return m_Count.load(std::memory_order_seq_cst); }
    // Blocks at most `timeout` while the count still equals `seen`. Any thread.
    void Wait(uint32_t seen, std::chrono::microseconds timeout);
    // Counts one event and wakes every waiter; no system call when none
    // waits. Any thread.
    void Bump();

private:
    std::atomic<uint32_t> m_Count{0};
    std::atomic<uint32_t> m_Waiters{0};
};

} // namespace lumo
