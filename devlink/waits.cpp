#include "waits.h"

#include <mutex>
#include <thread>
#include <utility>

#include "lumo_net.h"

namespace lumo {
namespace {

// Guards the variable only; the hook runs outside the lock on the waiting
// thread's own reference, so replacing it never waits for a call.
std::mutex g_HookMutex;
std::shared_ptr<const std::function<void()>> g_Hook;

} // namespace

WaitTicker::WaitTicker() : m_Last(WaitClock::now()) {
    std::lock_guard lock(g_HookMutex);
    m_Hook = g_Hook;
}

int WaitTicker::SliceMs(int ms) const {
    return m_Hook && ms > WAIT_HOOK_PERIOD_MS ? WAIT_HOOK_PERIOD_MS : ms;
}

void WaitTicker::Tick() {
    if (!m_Hook)
        return;
    const auto now = WaitClock::now();
    if (now - m_Last < std::chrono::milliseconds(WAIT_HOOK_PERIOD_MS))
        return;
    m_Last = now;
    (*m_Hook)();
}

void PauseMs(int ms) {
    WaitTicker ticker;
    const auto deadline = WaitClock::now() + std::chrono::milliseconds(ms);
    for (int left = ms; left > 0; left = MsUntil(deadline)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(ticker.SliceMs(left)));
        ticker.Tick();
    }
}

int MsUntil(WaitClock::time_point deadline) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - WaitClock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

} // namespace lumo

void SetLumoWaitHook(std::function<void()> hook) {
    auto fresh = hook ? std::make_shared<const std::function<void()>>(std::move(hook)) : nullptr;
    std::lock_guard lock(lumo::g_HookMutex);
    lumo::g_Hook = std::move(fresh);
}
