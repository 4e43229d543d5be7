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

std::vector<std::pair<uint64_t, double>> PollSchedule::Handed(const PollSlot& slot) {
    const std::lock_guard lock(m_Mutex);
    std::vector<std::pair<uint64_t, double>> whole;
    const auto it = m_Open.find(slot.round);
    if (it == m_Open.end())
        return whole;
    ++it->second.handed;
    const Clock::time_point now = Clock::now();
    // rounds are opened in order: the first open one is the oldest
    while (!m_Open.empty() && m_Open.begin()->second.handed == m_Targets) {
        const auto& [round, open] = *m_Open.begin();
        whole.emplace_back(round, open.polled ? std::chrono::duration<double>(now - open.started).count() : -1);
        m_Open.erase(m_Open.begin());
    }
    return whole;
}

} // namespace session
