// Entering and leaving a call on a link: the handle is checked against the
// links that exist and marked in use for the call (one thread per link).
#pragma once

#include <exception>
#include <string>
#include <vector>

#include "ctrl_lumo_c.h"

namespace capi {

// A live link from ctrl_lumo_create; destruction waits for a call in progress.
void AddLink(ctrl_lumo_link* link);
// Takes the link out of the live set (later calls get an argument error)
// once no call is in progress on it. False when it was not live.
bool RemoveLink(ctrl_lumo_link* link);

// Whether link is live, and whether a thread is in a call on it.
enum class LinkState { Unknown, Idle, InCall };
LinkState StateOf(const ctrl_lumo_link* link);

// One call on a link, entered for the object's lifetime when code() is
// CTRL_LUMO_OK: meanwhile the device link's message boxes on this thread go
// to the link (outside any call they go to standard error, as the device
// link's own default does). A call that cannot enter leaves its reason for
// this thread (SetThreadError); the link's own last error stays as it was.
class Call {
public:
    explicit Call(ctrl_lumo_link* link);
    ~Call();
    Call(const Call&) = delete;
    Call& operator=(const Call&) = delete;

    int code() const { return m_Code; }

private:
    ctrl_lumo_link* m_Link;
    int m_Code;
};

// Sends the device link's boxes raised on this thread to `messages` while
// the object lives (a fleet's worker on a link of its own).
class RouteScope {
public:
    explicit RouteScope(std::vector<std::string>* messages);
    ~RouteScope();
    RouteScope(const RouteScope&) = delete;
    RouteScope& operator=(const RouteScope&) = delete;

private:
    std::vector<std::string>* m_Outer;
};

// Enters a call (CallType: Call for a link, or a fleet's) on owner and runs
// body in it. A handle that cannot be entered gives its code; what body
// throws (memory ran out) becomes owner's last error instead of crossing
// into C.
template <class CallType, class Owner, class Body> int RunCall(Owner* owner, Body body) noexcept {
    const CallType call(owner);
    if (call.code())
        return call.code();
    try {
        return body();
    } catch (const std::exception& e) {
        try {
            owner->lastError = std::string("the call failed: ") + e.what();
        } catch (...) {
            owner->lastError.clear();
        }
        return CTRL_LUMO_ERR_SYSTEM;
    }
}

// The failure of a call that had no link to keep it (NULL or unknown handle,
// busy link), per thread.
void SetThreadError(const char* text);
const char* ThreadError(); // "" when none

} // namespace capi
