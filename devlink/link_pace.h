// How a link opened by a program (not the console) paces its waits: one
// record per calling thread, set around a session's calls with ScopedPace.
// Every device-link operation runs on its caller's thread, so a link reads
// the pace of whoever drives it, and links driven by other threads keep
// theirs. Without a ScopedPace every wait keeps the console's bounds. The
// installed header and the class layout know nothing of it.
#pragma once

#include <atomic>

#include "lumo_net.h"

namespace lumo {

struct LinkPace {
    // The longest a TCP connect may take before it fails (ETIMEDOUT), in ms.
    int connectLimitMs = LUMO_CONNECT_LIMIT_MS;
    // Set by another thread to give up: a connect in progress then fails at
    // once (ECANCELED) instead of running out its limit. Null for never.
    const std::atomic<bool>* cancel = nullptr;

    bool Cancelled() const { return cancel && cancel->load(std::memory_order_acquire); }
};

// The pace of the calling thread: the innermost ScopedPace, else the console's.
const LinkPace& CurrentPace();

// Puts `pace` in force on the calling thread until the object goes; scopes
// nest and restore the pace they found. Lives on the stack of that thread.
class ScopedPace {
public:
    explicit ScopedPace(const LinkPace& pace);
    ~ScopedPace();
    ScopedPace(const ScopedPace&) = delete;
    ScopedPace& operator=(const ScopedPace&) = delete;

private:
    LinkPace m_Pace;
    const LinkPace* m_Outer;
};

} // namespace lumo
