// How a link opened by a program (not the console) paces its waits: one
// record per calling thread, set around a session's calls with ScopedPace.
// A quick link puts the same bytes on the wire as the console's sequences
// but ends each wait as soon as its condition holds, within the same
// bounds: the mode query when its 13-byte reply is in, the close pauses once
// the disconnect handshake is over and the receive thread has ended, the
// serial prompt waits when the prompt has come.
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
    // Waits end when their condition holds instead of running their pauses.
    bool quick = false;

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
