#include "session.h"

namespace session {

ConnectOutcome Session::OpenSerial(int port, int baud) {
    const lumo::ScopedPace pace(m_Pace);
    Disconnect();
    return ConnectSerial(m_Net, m_Front, m_Link, port, baud, &m_Tap);
}

ConnectOutcome Session::OpenTcp(const std::u16string& address, bool xMode) {
    const lumo::ScopedPace pace(m_Pace);
    Disconnect();
    return ConnectTcp(m_Net, m_Front, m_Link, address, xMode, &m_Tap);
}

ConnectOutcome Session::OpenUdp(const std::u16string& address) {
    const lumo::ScopedPace pace(m_Pace);
    Disconnect();
    return ConnectUdp(m_Net, m_Front, m_Link, address, &m_Tap);
}

void Session::Disconnect() {
    const lumo::ScopedPace pace(m_Pace);
    if (IsOpen())
        session::Disconnect(m_Net, m_Link);
}

void Session::Close() {
    const lumo::ScopedPace pace(m_Pace);
    if (IsOpen())
        session::Close(m_Net, m_Link);
}

} // namespace session
