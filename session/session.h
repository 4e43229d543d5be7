// One link to one module for programs without a dialog (the command-line
// front end, the C API): keeps the link state and owns its UDP socket, and
// runs the console's sequences on the device link it is given. One thread
// uses a Session at a time; every operation blocks for its waits.
#pragma once

#include <string>
#include <string_view>

#include "connect.h"
#include "front_end.h"
#include "link.h"
#include "link_pace.h"
#include "link_tap.h"
#include "send.h"

class CLumo_Net;

namespace session {

class Session {
public:
    // net and front must outlive the session, which installs its tap on net.
    Session(CLumo_Net& net, FrontEnd& front) : m_Net(net), m_Front(front), m_Tap(net) {}
    // Closes an open link as closing the console does.
    ~Session() { Close(); }
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // Each first disconnects a link that is still open. A failure carries the
    // system's reason in osError where there is one.
    ConnectOutcome OpenSerial(int port, int baud);
    ConnectOutcome OpenTcp(const std::u16string& address, bool xMode);
    ConnectOutcome OpenUdp(const std::u16string& address);

    // The console's Send on the open link (NoLink when none is open).
    SendResult Send(std::u16string_view command) {
        const lumo::ScopedPace pace(m_Pace);
        return session::Send(m_Net, m_Front, m_Link, command);
    }

    // The console's Disconnect and its closing; nothing when no link is open.
    void Disconnect();
    void Close();

    bool IsOpen() const { return m_Link.kind != LinkKind::None; }
    const LinkRef& Link() const { return m_Link; }
    // The device link's records (for a listener such as a session log).
    LinkTap& Tap() { return m_Tap; }
    // How the device link paces this session's operations (each runs under
    // it); the console's bounds unless set. Between operations only.
    void SetPace(const lumo::LinkPace& pace) { m_Pace = pace; }

private:
    CLumo_Net& m_Net;
    FrontEnd& m_Front;
    LinkTap m_Tap;
    LinkRef m_Link;
    lumo::LinkPace m_Pace;
};

} // namespace session
