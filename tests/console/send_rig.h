// Test rig for the Send handler and the test timer: the recording seam with
// shortened waits, and the fake modules of the test support (TCP with
// greeting, UDP, serial on a pseudo-terminal), which record what they receive
// and answer from a script on threads of their own.
#pragma once

#include "console_ui.h"
#include "d_cmdora.h"
#include "fake_module.h"
#include "recording_ui.h"

#include <QByteArray>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QList>
#include <QString>

#include <chrono>
#include <string>

namespace rig {

// The shared recording seam with waits cut to a hundredth, so polling loops
// run through their attempts quickly while peer threads still get to answer.
class FastUi : public RecordingUi {
public:
    FastUi() : RecordingUi(0.01) { traceAnswer = 1; }
    // The text of each trace record so far.
    QList<QByteArray> traces() const {
        QList<QByteArray> out;
        for (const QByteArray& r : traceRecords) {
            const int len = r.size() >= 4
                                ? (static_cast<unsigned char>(r[0]) | static_cast<unsigned char>(r[1]) << 8)
                                : 0;
            out.append(r.mid(4, len));
        }
        return out;
    }
    // Milliseconds the handlers asked to wait, in all.
    long sleptMs() const {
        long sum = 0;
        for (int ms : sleeps)
            sum += ms;
        return sum;
    }
};

inline QByteArray hex(const QByteArray& b) {
    return b.toHex(' ').toUpper();
}

inline QByteArray qbytes(const lumo_test::Bytes& b) {
    return QByteArray(reinterpret_cast<const char*>(b.data()), qsizetype(b.size()));
}

// A fake module of the test support, in the dialog tests' bytes.
template <typename Module> class Scripted : public Module {
public:
    using Module::Module;
    // Queues the reply to the next unit received (an empty one: no answer).
    void reply(const QByteArray& bytes, int delayMs = 0) {
        Module::Reply(lumo_test::Bytes(bytes.begin(), bytes.end()), std::chrono::milliseconds(delayMs));
    }
    QByteArray received() const { return qbytes(Module::Received()); }
    QList<QByteArray> units() const {
        QList<QByteArray> out;
        for (const lumo_test::Bytes& unit : Module::Units())
            out.append(qbytes(unit));
        return out;
    }
    // Waits (at most 3 s) until count bytes have come; returns what came.
    QByteArray waitReceived(int count) const { return qbytes(Module::WaitReceived(size_t(count))); }
    void clear() { Module::Clear(); }
};

// A module on address:20036 that greets with id and style; a style-17 module
// answers the mode query (its first unit) with modeChar.
class TcpModule : public Scripted<lumo_test::TcpModule> {
public:
    TcpModule(const char* address, int id, int style, char modeChar = 'z') : Scripted(address) {
        if (style == 17)
            Reply(lumo_test::ModeReply(uint8_t(id), modeChar));
        Serve({lumo_test::Greeting(uint8_t(id), uint8_t(style))});
    }
};

// The module's UDP text port address:20037: each datagram is one unit.
using UdpModule = Scripted<lumo_test::UdpModule>;
// A module on the pty that stands in for COM<port>: each CR line is one unit.
using SerialModule = Scripted<lumo_test::SerialModule>;

inline std::u16string linkAddress(const char* address) {
    return std::u16string(address, address + std::char_traits<char>::length(address));
}

// Opens the dialog's links straight through the device link, as a finished
// connect leaves them.
inline bool openTcp(D_CMDORA& dlg, const char* address) {
    std::wstring w(address, address + std::char_traits<char>::length(address));
    unsigned char reply[8] = {};
    dlg.m_Net.m_bXMode = 0;
    if (dlg.m_Net.NetConnect_IPEPC(w.data(), reply, 0) != 1)
        return false;
    dlg.m_nSel = 1;
    dlg.m_Link.adopt({.kind = session::LinkKind::Tcp, .name = session::TcpLinkName(linkAddress(address))});
    return true;
}

// recvTimeoutMs: the dialog uses 2000; tests shorten the wait of a second
// receive that finds nothing.
inline bool openUdp(D_CMDORA& dlg, const char* address, int recvTimeoutMs = 2000) {
    const int socket = UdpOpen();
    if (socket < 0 || !UdpConnect(socket, address, LUMO_UDP_MODULE_PORT) ||
        !UdpSetRecvTimeout(socket, recvTimeoutMs)) {
        if (socket >= 0)
            UdpClose(socket);
        return false;
    }
    dlg.m_Udp->setChecked(true);
    dlg.m_nSel = 1;
    dlg.m_Link.adopt({.kind = session::LinkKind::Udp,
                      .udpSocket = socket,
                      .name = session::UdpLinkName(linkAddress(address))});
    return true;
}

inline bool openSerial(D_CMDORA& dlg, int port) {
    if (!dlg.m_Net.OpenCOM_IPConverter(port, 115200))
        return false;
    dlg.m_nSel = 0;
    dlg.m_Link.adopt({.kind = session::LinkKind::Serial, .name = session::SerialLinkName(port)});
    return true;
}

// "X ASCII" checked or not on an open TCP link, as if it had been connected so.
inline void setXFrames(D_CMDORA& dlg, bool on) {
    dlg.m_XAscii->setChecked(on);
    session::LinkRef link = dlg.m_Link.link();
    link.xFrames = on;
    dlg.m_Link.adopt(link);
}

// Types text into the command box and presses Send.
inline void send(D_CMDORA& dlg, const QString& text) {
    dlg.m_Command->setText(text);
    dlg.OnBnClickedSend();
}

inline QString status(const D_CMDORA& dlg) {
    return dlg.m_Status->text();
}

} // namespace rig
