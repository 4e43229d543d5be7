#include "watcher.h"

#include <algorithm>

#include "targets.h"

namespace lumo_cli {

bool ApplyPoll(ModuleRow& row, ModulePoll&& poll, uint64_t round, WallClock::time_point now) {
    if (row.polls > 0 && round < row.round)
        return false; // a later poll has been applied already
    const ModulePoll& was = row.last;
    const bool newInfo = poll.infoAsked && !poll.info.empty() && poll.info != row.info;
    const bool changed = row.polls > 0 &&
                         (poll.up != was.up || poll.reason != was.reason || poll.signal != was.signal ||
                          (poll.id >= 0 && (poll.id != row.id || poll.style != row.style)) || newInfo);
    if (poll.id >= 0) {
        row.id = poll.id;
        row.style = poll.style;
    }
    if (newInfo)
        row.info = poll.info;
    if (!poll.up)
        ++row.errors[poll.reason];
    if (changed || row.polls == 0)
        row.lastChange = now;
    row.changed = changed;
    row.last = std::move(poll);
    row.round = round;
    ++row.polls;
    return true;
}

Watcher::Watcher(const WatchOptions& options)
    : m_Options(options),
      m_Runner(static_cast<int>(std::min<size_t>(static_cast<size_t>(std::max(options.jobs, 1)),
                                                 std::max<size_t>(options.addresses.size(), 1)))),
      m_Schedule(options.addresses.size(), options.interval, options.rounds),
      m_NeedsInfo(std::make_unique<std::atomic<bool>[]>(options.addresses.size())) {
    m_View.interval = options.interval;
    m_View.rows.resize(options.addresses.size());
    for (size_t i = 0; i < options.addresses.size(); ++i) {
        m_Dotted.push_back(session::DottedAddress(options.addresses[i]));
        m_View.rows[i].target = m_Dotted.back();
        m_NeedsInfo[i].store(true, std::memory_order_relaxed);
    }
}

void Watcher::Run(const std::function<void(size_t target, const ModuleRow& row)>& each,
                  const std::function<void(uint64_t round)>& roundDone) {
    if (m_Dotted.empty())
        return;
    const std::atomic<bool>* stop = &m_Runner.StopFlag();
    m_Schedule.Run<ModulePoll>(
        m_Runner,
        [&](const session::PollSlot& slot) {
            const bool askInfo =
                slot.round % kInfoEvery == 0 || m_NeedsInfo[slot.target].load(std::memory_order_relaxed);
            return PollModule(m_Dotted[slot.target], askInfo, stop, m_Options.connectTimeoutMs);
        },
        [&](const session::PollSlot& slot, std::optional<ModulePoll>&& poll) {
            // a poll cut short by the stop says nothing about the module
            if (!poll || m_Schedule.Stopped())
                return;
            ModuleRow& row = m_View.rows[slot.target];
            {
                const std::lock_guard lock(m_Mutex);
                if (!ApplyPoll(row, std::move(*poll), slot.round, WallClock::now()))
                    return;
                ++m_View.version;
            }
            // a module that comes back up may be another one: ask it again
            m_NeedsInfo[slot.target].store(row.info.empty() || !row.last.up, std::memory_order_relaxed);
            each(slot.target, row);
        },
        [&](uint64_t round, double seconds) {
            if (m_Schedule.Stopped())
                return;
            {
                const std::lock_guard lock(m_Mutex);
                ++m_View.rounds;
                if (seconds >= 0) // a round of skipped targets only took no time
                    m_View.lastRoundSeconds = seconds;
                ++m_View.version;
            }
            roundDone(round);
        });
}

} // namespace lumo_cli
