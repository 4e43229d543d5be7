// The console's one link to a module: the device link's tap, the session
// log's recorder on it, and the link the last connect opened (the serial
// port, TCP, or UDP with the console's own datagram socket). The main dialog
// connects, disconnects, closes and sends through it; the automatic test,
// the test timer and the session log ask it. UI thread, except that the
// recorder takes records from any thread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "connect.h"
#include "front_end.h"
#include "link.h"
#include "link_tap.h"
#include "log/recorder.h"
#include "send.h"

class CLumo_Net;

class ConsoleLink {
public:
    // net: the main dialog's device link, with no link open; it must outlive this.
    explicit ConsoleLink(CLumo_Net& net);
    // Releases a datagram socket still open. Nothing goes to the module here:
    // closing the link is the dialog's Cancel (close()).
    ~ConsoleLink();
    ConsoleLink(const ConsoleLink&) = delete;
    ConsoleLink& operator=(const ConsoleLink&) = delete;

    CLumo_Net& net() { return m_Net; }
    session::Recorder& recorder() { return m_Recorder; }

    // 1 from the start of a connect until the link is closed or the connect fails; 0 otherwise.
    uint8_t m_bLinkOpen = 0;
    // True while send() runs (its boxes run event loops): sends never nest.
    bool m_bInSend = false;

    // The open link; kind None while m_bLinkOpen is 0.
    session::LinkRef link() const;
    // The UDP link's datagram socket, -1 when none is open.
    int udpSocket() const { return m_Link.udpSocket; }

    // The connect sequences of session/connect.h, each recorded when it has
    // ended. m_bLinkOpen is 1 while one runs and stays 1 when it opened the link.
    session::ConnectOutcome connectSerial(session::FrontEnd& front, int port, int baud);
    session::ConnectOutcome connectTcp(session::FrontEnd& front, const std::u16string& address, bool xFrames);
    session::ConnectOutcome connectUdp(session::FrontEnd& front, const std::u16string& address);
    // The operator's Disconnect; nothing when no link is in use.
    void disconnect();
    // Closing the console: as disconnect() without "ze 0000 1\r" to a serial console.
    void close();
    // Takes a link opened straight through the device link (benches, tests)
    // as a finished connect leaves it; a UDP link's socket is owned from now on.
    void adopt(session::LinkRef link);

    // Sends command on the open link through front and records it; nothing
    // while another send runs (a box of that one may deliver a timer tick).
    void send(session::FrontEnd& front, std::u16string_view command);
    // The record of the last send: bytes, answer, what was shown, outcome.
    const session::SendResult& lastSend() const { return m_LastSend; }

private:
    session::ConnectOutcome connected(const session::ConnectOutcome& outcome);

    CLumo_Net& m_Net;
    session::LinkTap m_Tap;
    session::Recorder m_Recorder{m_Tap};
    session::LinkRef m_Link;
    session::SendResult m_LastSend;
};
