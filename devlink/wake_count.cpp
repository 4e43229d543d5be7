// The wake counter of the receive thread and the waiting side.
#include "lumo_net.h"

#include "posix_futex.h"

namespace lumo {

void WakeCount::Wait(uint32_t seen, std::chrono::microseconds timeout) {
    m_Waiters.fetch_add(1, std::memory_order_seq_cst);
    FutexWait(m_Count, seen, timeout);
    m_Waiters.fetch_sub(1, std::memory_order_relaxed);
}

void WakeCount::Bump() {
    m_Count.fetch_add(1, std::memory_order_seq_cst);
    if (m_Waiters.load(std::memory_order_seq_cst) != 0)
        FutexWakeAll(m_Count);
}

} // namespace lumo
