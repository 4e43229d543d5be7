#include "poll_schedule.h"

#include <algorithm>

namespace session {

PollSchedule::PollSchedule(size_t targets, Clock::duration interval, uint64_t rounds)
    : m_Targets(std::max<size_t>(targets, 1)), m_Interval(std::max(interval, Clock::duration::zero())),
      m_Rounds(rounds), m_RoundStart(Clock::now()), m_Polling(m_Targets, false) {}

void PollSchedule::Stop() {
    {
        const std::lock_guard lock(m_Mutex);
        m_Stopped = true;
        if (m_Runner)
            m_Runner->Stop();
    }
    m_Due.notify_all();
}

bool PollSchedule::Stopped() const {
    const std::lock_guard lock(m_Mutex);
    return m_Stopped;
}

std::optional<PollSlot> PollSchedule::Take(const Runner& runner) {
    std::unique_lock lock(m_Mutex);
    for (;;) {
        // a runner stopped by itself (an exception) wakes us at the latest when the round is due
        if (m_Stopped || runner.Stopping() || (m_Rounds != 0 && m_Round >= m_Rounds))
            return std::nullopt;
        const Clock::time_point now = Clock::now();
        if (now < m_RoundStart) {
            m_Due.wait_until(lock, m_RoundStart);
            continue;
        }
        PollSlot slot{m_Next, m_Round, m_Polling[m_Next]};
        m_Polling[m_Next] = true;
        Open& open = m_Open[m_Round];
        if (!slot.skipped && !open.polled) {
            open.polled = true;
            open.started = now;
        }
        if (++m_Next == m_Targets) {
            m_Next = 0;
            ++m_Round;
            // the next round keeps the pace, unless handing this one out took longer
            m_RoundStart = std::max(m_RoundStart + m_Interval, now);
        }
        return slot;
    }
}

void PollSchedule::Release(size_t target) {
    const std::lock_guard lock(m_Mutex);
    m_Polling[target] = false;
}

bool PollSchedule::Handed(const PollSlot& slot, double* seconds) {
    const std::lock_guard lock(m_Mutex);
    const auto it = m_Open.find(slot.round);
    if (it == m_Open.end() || ++it->second.handed < m_Targets)
        return false;
    *seconds = it->second.polled ? std::chrono::duration<double>(Clock::now() - it->second.started).count() : -1;
    m_Open.erase(it);
    return true;
}

} // namespace session
