#include "session.h"

namespace session {

namespace {

// Runs one connect sequence on a fresh link; the sequence takes the
// system's reason of a failure from the session's tap.
template <class Connect> ConnectOutcome Open(Session& s, Connect connect) {
    s.Disconnect();
    return connect();
}

} // namespace

ConnectOutcome Session::OpenSerial(int port, int baud) {
    return Open(*this, [&] { return ConnectSerial(m_Net, m_Front, m_Link, port, baud, &m_Tap); });
}

ConnectOutcome Session::OpenTcp(const std::u16string& address, bool xMode) {
    return Open(*this, [&] { return ConnectTcp(m_Net, m_Front, m_Link, address, xMode, &m_Tap); });
}

ConnectOutcome Session::OpenUdp(const std::u16string& address) {
    return Open(*this, [&] { return ConnectUdp(m_Net, m_Front, m_Link, address, &m_Tap); });
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
