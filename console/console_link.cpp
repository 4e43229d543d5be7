#include "console_link.h"

#include <QScopedValueRollback>

#include "lumo_net.h"

ConsoleLink::ConsoleLink(CLumo_Net& net) : m_Net(net), m_Tap(net) {}

ConsoleLink::~ConsoleLink() {
    if (m_Link.udpSocket >= 0)
        UdpClose(m_Link.udpSocket);
}

session::LinkRef ConsoleLink::link() const {
    return m_bLinkOpen != 0 ? m_Link : session::LinkRef{};
}

session::ConnectOutcome ConsoleLink::connected(const session::ConnectOutcome& outcome) {
    m_bLinkOpen = outcome.ok() ? 1 : 0;
    m_Recorder.ConnectDone(outcome);
    return outcome;
}

session::ConnectOutcome ConsoleLink::connectSerial(session::FrontEnd& front, int port, int baud) {
    m_bLinkOpen = 1;
    return connected(session::ConnectSerial(m_Net, front, m_Link, port, baud, &m_Tap));
}

session::ConnectOutcome ConsoleLink::connectTcp(session::FrontEnd& front, const std::u16string& address,
                                                bool xFrames) {
    m_bLinkOpen = 1;
    return connected(session::ConnectTcp(m_Net, front, m_Link, address, xFrames, &m_Tap));
}

session::ConnectOutcome ConsoleLink::connectUdp(session::FrontEnd& front, const std::u16string& address) {
    m_bLinkOpen = 1;
    return connected(session::ConnectUdp(m_Net, front, m_Link, address, &m_Tap));
}

void ConsoleLink::disconnect() {
    if (m_bLinkOpen == 0)
        return;
    m_Recorder.Disconnecting(false);
    session::Disconnect(m_Net, m_Link);
    m_bLinkOpen = 0;
}

void ConsoleLink::close() {
    if (m_bLinkOpen != 1)
        return;
    m_bLinkOpen = 0;
    m_Recorder.Disconnecting(true);
    session::Close(m_Net, m_Link); // closing sends no "ze 0000 1"
}

void ConsoleLink::adopt(session::LinkRef link) {
    if (m_Link.udpSocket >= 0 && m_Link.udpSocket != link.udpSocket)
        UdpClose(m_Link.udpSocket);
    m_Link = std::move(link);
    m_bLinkOpen = 1;
}

void ConsoleLink::send(session::FrontEnd& front, std::u16string_view command) {
    if (m_bInSend)
        return;
    const QScopedValueRollback<bool> sending(m_bInSend, true);
    m_LastSend = session::Send(m_Net, front, link(), command);
    m_Recorder.SendDone(m_LastSend);
}
