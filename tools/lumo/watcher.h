// What lumo watch and the exporter share: the targets polled in rounds on a
// runner (one poll per target in flight, a hanging module costs only its own
// row), and one row per target with the last poll and what is known across
// polls. The thread that calls Run is the only one that writes the rows;
// other threads read them under the watcher's lock.
#pragma once

#include <chrono>
#include <cstdint>
#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "poll_schedule.h"
#include "runner.h"
#include "watch_poll.h"

namespace lumo_cli {

// "zh" at the first poll and every tenth round, and whenever a module has no
// device information yet or was down at its last poll.
inline constexpr int kInfoEvery = 10;

struct WatchOptions {
    std::vector<uint32_t> addresses; // in target order
    std::chrono::milliseconds interval{5000};
    int jobs = 64;
    int connectTimeoutMs = 0; // 0: kWatchConnectMs
    uint64_t rounds = 0;      // 0: until stopped
};

using WallClock = std::chrono::system_clock;

// One target's row.
struct ModuleRow {
    std::string target;     // the dotted address
    uint64_t polls = 0;     // polls applied
    uint64_t round = 0;     // round of the last one (from 0)
    ModulePoll last;        // the last poll
    int id = -1, style = -1; // last known, from a greeting
    std::string info;        // last known device-information line
    WallClock::time_point lastChange; // when what the row shows last changed (its first poll at first)
    bool changed = false;             // the last poll changed it
    std::map<std::string, uint64_t> errors; // polls that found it down, per reason
};

// Applies a poll of `round` to row at `now`. False, leaving the row as it
// was, for a poll older than the row's last.
bool ApplyPoll(ModuleRow& row, ModulePoll&& poll, uint64_t round, WallClock::time_point now);

struct WatchView {
    std::vector<ModuleRow> rows;
    std::chrono::milliseconds interval{0};
    uint64_t rounds = 0;          // rounds whole
    double lastRoundSeconds = -1; // how long the last whole round took; -1 before the first
    uint64_t version = 0;         // one more with each change
};

class Watcher {
public:
    explicit Watcher(const WatchOptions& options);

    // Polls until Stop or the rounds are over. each(target, row) after a poll
    // has been applied to the target's row, roundDone(round) when every
    // target has had its turn in the round; both on the calling thread,
    // without the lock (this thread is the only writer). Blocks.
    void Run(const std::function<void(size_t target, const ModuleRow& row)>& each,
             const std::function<void(uint64_t round)>& roundDone);

    // Ends Run promptly; results that come after are dropped. Any thread.
    void Stop() { m_Schedule.Stop(); }
    bool Stopped() const { return m_Schedule.Stopped(); }

    // f(const WatchView&) under the lock, from any thread. Keep it short:
    // the next result waits for it.
    template <class F>
    auto Read(F&& f) const {
        const std::lock_guard lock(m_Mutex);
        return f(static_cast<const WatchView&>(m_View));
    }
    // The view without the lock: the thread that calls Run only.
    const WatchView& View() const { return m_View; }

private:
    WatchOptions m_Options;
    session::Runner m_Runner;
    session::PollSchedule m_Schedule;
    std::vector<std::string> m_Dotted;
    // per target: no device information known, or it was down (written by
    // the thread of Run, read by the workers)
    std::unique_ptr<std::atomic<bool>[]> m_NeedsInfo;
    mutable std::mutex m_Mutex;
    WatchView m_View;
};

} // namespace lumo_cli
