// How the device link waits: bounded pauses and deadline waits on the
// caller's thread, each calling the process-wide wait hook (SetLumoWaitHook)
// about every WAIT_HOOK_PERIOD_MS so that an embedding program can repaint.
// Plain C++; the sleeping itself is the standard library's.
#pragma once

#include <chrono>
#include <functional>
#include <memory>

namespace lumo {

inline constexpr int WAIT_HOOK_PERIOD_MS = 10;
// Waits that wake on an event also look again this often, for a change
// that comes without a wake (a field written directly by a program).
inline constexpr int MISSED_WAKE_RECHECK_MS = 10;

using WaitClock = std::chrono::steady_clock;

// One wait's view of the hook, taken when the wait starts (one lock), so a
// wait without a hook costs nothing more than its sleep.
class WaitTicker {
public:
    WaitTicker();
    bool HasHook() const { return m_Hook != nullptr; }
    // The longest a wait may block before it calls Tick: the whole `ms`
    // without a hook, at most WAIT_HOOK_PERIOD_MS with one.
    int SliceMs(int ms) const;
    // Calls the hook when a period has passed since the last call.
    void Tick();

private:
    std::shared_ptr<const std::function<void()>> m_Hook;
    WaitClock::time_point m_Last;
};

// Sleeps `ms` milliseconds on the calling thread, ticking the hook.
void PauseMs(int ms);

// Milliseconds from now to `deadline`, rounded up; 0 when it has passed.
int MsUntil(WaitClock::time_point deadline);

} // namespace lumo
