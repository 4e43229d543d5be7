// Entering and leaving a call on a link: the handle is checked against the
// links that exist and marked in use for the call (one thread per link).
#pragma once

#include <string>

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

// The failure of a call that had no link to keep it (NULL or unknown handle,
// busy link), per thread.
void SetThreadError(const char* text);
const char* ThreadError(); // "" when none

} // namespace capi
