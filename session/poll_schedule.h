// Polling many targets again and again on a runner, as a watcher does: every
// target once per round, round r due `interval` after round r-1 (or at once
// when handing out round r-1 took longer). A target whose poll from an earlier
// round is still running is skipped in the next one, so a module that hangs
// costs only its own polls: every other target keeps its pace. Results come
// back as found, on the thread that called Run. Plain C++.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

#include "runner.h"

namespace session {

// One target's turn in one round (both counted from 0).
struct PollSlot {
    size_t target = 0;
    uint64_t round = 0;
    bool skipped = false; // its poll of an earlier round was still running: not polled
};

class PollSchedule {
public:
    using Clock = std::chrono::steady_clock;

    // targets > 0; rounds 0 for no end. Any thread.
    PollSchedule(size_t targets, Clock::duration interval, uint64_t rounds);
    PollSchedule(const PollSchedule&) = delete;
    PollSchedule& operator=(const PollSchedule&) = delete;

    // Polls on runner's workers until the rounds are over or Stop: poll(slot)
    // for each slot not skipped, on a worker; each(slot, result) for every
    // slot (a skipped one with an empty result) and then, for each round it
    // made whole, roundDone(round, seconds from the round's first polled
    // slot until it was whole, -1 when every slot was skipped), both on the
    // calling thread. Rounds are whole in order: a round whose slots are all
    // in waits for the earlier ones (a skipped target's news is the poll of
    // an earlier round still running). Blocks; one Run
    // per schedule; never from a worker.
    template <class Result>
    void Run(Runner& runner, const std::function<Result(const PollSlot&)>& poll,
             const std::function<void(const PollSlot&, std::optional<Result>&&)>& each,
             const std::function<void(uint64_t round, double seconds)>& roundDone);

    // Ends Run promptly: no slot is handed out any more, the runner stops (the
    // polls in progress see its stop flag). Any thread, also from poll and each.
    void Stop();
    bool Stopped() const;

private:
    // The next slot, once it is due; nullopt when stopped or over. Workers.
    std::optional<PollSlot> Take(const Runner& runner);
    // A slot's poll has returned: the target may be polled again. Workers.
    void Release(size_t target);
    // A slot has been handed over; the rounds it made whole, in order, each
    // with its time. The calling thread of Run.
    std::vector<std::pair<uint64_t, double>> Handed(const PollSlot& slot);

    const size_t m_Targets;
    const Clock::duration m_Interval;
    const uint64_t m_Rounds;
    Runner* m_Runner = nullptr; // while Run runs

    // Guards everything below; idle workers sleep on m_Due until a round is due.
    mutable std::mutex m_Mutex;
    std::condition_variable m_Due;
    bool m_Stopped = false;
    size_t m_Next = 0;              // target of the next slot
    uint64_t m_Round = 0;           // round of the next slot
    Clock::time_point m_RoundStart; // when m_Round is due
    std::vector<bool> m_Polling;    // per target: its poll is running
    struct Open {
        bool polled = false;       // a slot of it was polled, not skipped
        Clock::time_point started; // its first slot polled was handed out
        size_t handed = 0;         // slots handed over (a round has one per target)
    };
    std::map<uint64_t, Open> m_Open; // rounds begun and not yet whole
};

template <class Result>
void PollSchedule::Run(Runner& runner, const std::function<Result(const PollSlot&)>& poll,
                       const std::function<void(const PollSlot&, std::optional<Result>&&)>& each,
                       const std::function<void(uint64_t round, double seconds)>& roundDone) {
    struct Taken {
        std::optional<PollSlot> slot; // none: the schedule ended before a slot came
        std::optional<Result> result;
    };
    {
        const std::lock_guard lock(m_Mutex);
        m_Runner = &runner;
        if (m_Stopped)
            runner.Stop();
    }
    // one index per slot; without an end, indexes enough for ever
    const size_t count = m_Rounds == 0 || m_Rounds > SIZE_MAX / m_Targets ? SIZE_MAX : m_Targets * m_Rounds;
    RunEach<Taken>(
        runner, count,
        [&](size_t) {
            Taken t;
            t.slot = Take(runner);
            if (t.slot && !t.slot->skipped) {
                struct Release {
                    PollSchedule* self;
                    size_t target;
                    ~Release() { self->Release(target); }
                } release{this, t.slot->target};
                t.result = poll(*t.slot);
            }
            return t;
        },
        [&](size_t, Taken&& t) {
            if (!t.slot)
                return;
            each(*t.slot, std::move(t.result));
            for (const auto& [round, seconds] : Handed(*t.slot))
                roundDone(round, seconds);
        },
        Delivery::AsFound);
    const std::lock_guard lock(m_Mutex);
    m_Runner = nullptr;
}

} // namespace session
