#include "session.h"

namespace session {

ConnectOutcome Session::OpenSerial(int port, int baud) {
    Disconnect();
    return ConnectSerial(m_Net, m_Front, m_Link, port, baud, &m_Tap);
}

ConnectOutcome Session::OpenTcp(const std::u16string& address, bool xMode) {
    Disconnect();
    return ConnectTcp(m_Net, m_Front, m_Link, address, xMode, &m_Tap);
}

ConnectOutcome Session::OpenUdp(const std::u16string& address) {
    Disconnect();
    return ConnectUdp(m_Net, m_Front, m_Link, address, &m_Tap);
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
