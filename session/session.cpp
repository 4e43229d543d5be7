#include "session.h"

namespace session {

namespace {

// Runs one connect sequence on a fresh link and adds the system's reason.
template <class Connect> ConnectOutcome Open(Session& s, LinkTap& tap, Connect connect) {
    s.Disconnect();
    tap.ClearConnectError();
    ConnectOutcome outcome = connect();
    if (!outcome.ok())
        outcome.osError = tap.ConnectError();
    return outcome;
}

} // namespace

ConnectOutcome Session::OpenSerial(int port, int baud) {
    return Open(*this, m_Tap, [&] { return ConnectSerial(m_Net, m_Front, m_Link, port, baud); });
}

ConnectOutcome Session::OpenTcp(const std::u16string& address, bool xMode) {
    return Open(*this, m_Tap, [&] { return ConnectTcp(m_Net, m_Front, m_Link, address, xMode); });
}

ConnectOutcome Session::OpenUdp(const std::u16string& address) {
    return Open(*this, m_Tap, [&] { return ConnectUdp(m_Net, m_Front, m_Link, address); });
}

void Session::Disconnect() {
    if (IsOpen())
        session::Disconnect(m_Net, m_Link);
}

void Session::Close() {
    if (IsOpen())
        session::Close(m_Net, m_Link);
}

} // namespace session
