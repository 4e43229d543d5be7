// The one tap a front end installs on its device link (CLumo_Net::m_hTap).
// It keeps the system's reason for the last connect that failed, so a front
// end can say why ("refused", "permission denied"), and hands every record
// on to one listener (the session log). The device link calls it from the
// caller's thread and from the receive thread; it is safe on both.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include <ctrl_lumo/lumo_tap.h>

#include "link.h"

class CLumo_Net;

namespace session {

class LinkTap {
public:
    // Installs the tap on net, which must have no link open. What the tap
    // keeps is shared with net's callback, so either may go first.
    explicit LinkTap(CLumo_Net& net);
    LinkTap(const LinkTap&) = delete;
    LinkTap& operator=(const LinkTap&) = delete;

    // errno of the last failed serial open or TCP connect since
    // ClearConnectError(); 0 when none failed for a system reason.
    int ConnectError() const { return m_State->connectError.load(std::memory_order_relaxed); }
    void ClearConnectError() { m_State->connectError.store(0, std::memory_order_relaxed); }

    // Every record also goes to listener, on the reporting thread. Set it
    // while no link is open; what it captures must outlive net's links.
    void SetListener(LumoTap listener) { m_State->listener = std::move(listener); }

private:
    struct State {
        std::atomic<int> connectError{0};
        LumoTap listener;
    };
    std::shared_ptr<State> m_State = std::make_shared<State>();
};

// The console's own datagram link does not pass through the device link: the
// session reports its datagrams and its link events on the same tap, as the
// device link reports its own (where: "UDP 10.0.0.5:20037"). Nothing when
// net has no tap. The caller's thread.
void TapUdpBytes(const CLumo_Net& net, LumoTapKind kind, const std::u16string& where, const uint8_t* bytes,
                 size_t size, int osError = 0);
void TapUdpEvent(const CLumo_Net& net, LumoTapEvent event, const std::u16string& where, int osError = 0);

// A system reason in the words a person looks for: "refused", "timed out",
// "no such device" (a device that is there but answers no serial call),
// "permission denied", "busy", "unreachable"; any other errno gives the
// system's own text ("No such file or directory" for a path that is not
// there). Empty for 0.
std::u16string ReasonWords(int osError);

// One line on what to do about the reason on that kind of link, or empty:
// a serial device the user may not open names the dialout group and the
// command that adds the user to it.
std::u16string ReasonHint(int osError, LinkKind kind);

} // namespace session
