// Test rig for the Send handler and the test timer: the recording seam with
// shortened waits, and small module peers on
// loopback (TCP with greeting, UDP) and on a pseudo-terminal, each on its own
// thread, that record what they receive and answer from a script.
#pragma once

#include "console_ui.h"
#include "d_cmdora.h"
#include "recording_ui.h"

#include <QByteArray>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QList>
#include <QString>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <pty.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

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

// Common part of the peers: a thread that waits on one descriptor, records
// each unit received and answers it with the next scripted reply.
class ScriptedPeer {
public:
    virtual ~ScriptedPeer() { stop(); }

    // Queues the reply to the next unit received (an empty one: no answer),
    // sent delayMs after the unit came.
    void reply(const QByteArray& bytes, int delayMs = 0) {
        std::lock_guard<std::mutex> lock(m_Mutex);
        m_Replies.push_back({bytes, delayMs});
    }
    // Everything received so far after the handshake, in order.
    QByteArray received() {
        std::lock_guard<std::mutex> lock(m_Mutex);
        return m_Rx;
    }
    QList<QByteArray> units() {
        std::lock_guard<std::mutex> lock(m_Mutex);
        return m_Units;
    }
    // Waits (at most 3 s) until count bytes have come; returns what came.
    QByteArray waitReceived(int count) {
        for (int i = 0; i < 300; ++i) {
            const QByteArray got = received();
            if (got.size() >= count)
                return got;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return received();
    }
    void clear() {
        std::lock_guard<std::mutex> lock(m_Mutex);
        m_Rx.clear();
        m_Units.clear();
    }

protected:
    void start() {
        m_Thread = std::thread([this] { run(); });
    }
    void stop() {
        m_Stop = true;
        if (m_Thread.joinable())
            m_Thread.join();
    }
    // Waits up to ms for fd to become readable, looking at the stop flag.
    bool readable(int fd, int ms) {
        for (int waited = 0; waited < ms && !m_Stop; waited += 20) {
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, 20) > 0)
                return true;
        }
        return false;
    }
    // Records a unit and returns the reply scripted for it.
    QByteArray take(const QByteArray& unit) {
        std::lock_guard<std::mutex> lock(m_Mutex);
        m_Rx += unit;
        m_Units.append(unit);
        if (m_Replies.empty())
            return {};
        const auto [r, delayMs] = m_Replies.front();
        m_Replies.pop_front();
        if (delayMs > 0) {
            m_Mutex.unlock();
            std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
            m_Mutex.lock();
        }
        return r;
    }
    static void writeAll(int fd, const QByteArray& bytes) {
        qsizetype done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::write(fd, bytes.constData() + done, static_cast<size_t>(bytes.size() - done));
            if (n <= 0)
                return;
            done += n;
        }
    }
    virtual void run() = 0;

    std::atomic<bool> m_Stop{false};

private:
    std::thread m_Thread;
    std::mutex m_Mutex;
    std::deque<std::pair<QByteArray, int>> m_Replies;
    QByteArray m_Rx;
    QList<QByteArray> m_Units;
};

inline sockaddr_in loopback(const char* address, int port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    ::inet_pton(AF_INET, address, &a.sin_addr);
    return a;
}

// A module on address:20036: greets with id and style; a style-17 module
// answers the mode query with modeChar. Each chunk after that is one unit.
class TcpModule : public ScriptedPeer {
public:
    TcpModule(const char* address, int id, int style, char modeChar = 'z')
        : m_Id(id), m_Style(style), m_ModeChar(modeChar) {
        m_Listen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const int on = 1;
        ::setsockopt(m_Listen, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        const sockaddr_in a = loopback(address, LUMO_MODULE_PORT);
        if (::bind(m_Listen, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0 ||
            ::listen(m_Listen, 4) != 0) {
            ::close(m_Listen);
            m_Listen = -1;
        }
        if (m_Listen >= 0)
            start();
    }
    ~TcpModule() override {
        stop();
        if (m_Conn >= 0)
            ::close(m_Conn);
        if (m_Listen >= 0)
            ::close(m_Listen);
    }
    bool ok() const { return m_Listen >= 0; }

private:
    void run() override {
        if (!readable(m_Listen, 5000))
            return;
        m_Conn = ::accept4(m_Listen, nullptr, nullptr, SOCK_CLOEXEC);
        if (m_Conn < 0)
            return;
        writeAll(m_Conn, QByteArray(1, char(m_Id)) + char(m_Style) + QByteArray(5, '\0'));
        if (m_Style == 17) {
            QByteArray query;
            while (query.size() < 8 && readable(m_Conn, 3000)) {
                char buf[64];
                const ssize_t n = ::recv(m_Conn, buf, sizeof buf, 0);
                if (n <= 0)
                    return;
                query.append(buf, n);
            }
            const char a = static_cast<char>(((m_Id & 0x0F) << 4) | 0x0F);
            writeAll(m_Conn, QByteArray("\x55\xAA", 2) + a + char(~a) + '\x01' + '\xFE' + m_ModeChar +
                                 QByteArray(6, '\0'));
        }
        while (!m_Stop) {
            if (!readable(m_Conn, 100))
                continue;
            char buf[8192];
            const ssize_t n = ::recv(m_Conn, buf, sizeof buf, 0);
            if (n <= 0)
                return;
            const QByteArray answer = take(QByteArray(buf, n));
            if (!answer.isEmpty())
                writeAll(m_Conn, answer);
        }
    }

    int m_Id, m_Style;
    char m_ModeChar;
    int m_Listen = -1;
    int m_Conn = -1;
};

// The module's UDP text port address:20037; each datagram is one unit,
// answered to its sender.
class UdpModule : public ScriptedPeer {
public:
    explicit UdpModule(const char* address) {
        m_Fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        const sockaddr_in a = loopback(address, LUMO_UDP_MODULE_PORT);
        if (::bind(m_Fd, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0) {
            ::close(m_Fd);
            m_Fd = -1;
        }
        if (m_Fd >= 0)
            start();
    }
    ~UdpModule() override {
        stop();
        if (m_Fd >= 0)
            ::close(m_Fd);
    }
    bool ok() const { return m_Fd >= 0; }

private:
    void run() override {
        while (!m_Stop) {
            if (!readable(m_Fd, 100))
                continue;
            char buf[65536];
            sockaddr_in from{};
            socklen_t len = sizeof from;
            const ssize_t n = ::recvfrom(m_Fd, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &len);
            if (n < 0)
                return;
            const QByteArray answer = take(QByteArray(buf, n));
            if (!answer.isEmpty())
                ::sendto(m_Fd, answer.constData(), static_cast<size_t>(answer.size()), 0,
                         reinterpret_cast<const sockaddr*>(&from), len);
        }
    }
    int m_Fd = -1;
};

// A module on a pseudo-terminal that stands in for COM<port> (LUMO_COM<port>);
// each carriage-return line is one unit.
class SerialModule : public ScriptedPeer {
public:
    explicit SerialModule(int port) : m_EnvName("LUMO_COM" + std::to_string(port)) {
        char name[256] = {};
        if (::openpty(&m_Master, &m_Slave, name, nullptr, nullptr) != 0)
            return;
        termios t{};
        for (int fd : {m_Master, m_Slave}) {
            ::tcgetattr(fd, &t);
            ::cfmakeraw(&t);
            ::tcsetattr(fd, TCSANOW, &t);
        }
        ::setenv(m_EnvName.c_str(), name, 1);
        start();
    }
    ~SerialModule() override {
        stop();
        ::unsetenv(m_EnvName.c_str());
        if (m_Master >= 0)
            ::close(m_Master);
        if (m_Slave >= 0)
            ::close(m_Slave);
    }
    bool ok() const { return m_Master >= 0; }

private:
    void run() override {
        QByteArray line;
        while (!m_Stop) {
            if (!readable(m_Master, 100))
                continue;
            char buf[4096];
            const ssize_t n = ::read(m_Master, buf, sizeof buf);
            if (n <= 0) {
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
                continue;
            }
            line.append(buf, n);
            qsizetype cr;
            while ((cr = line.indexOf('\r')) >= 0) {
                const QByteArray answer = take(line.left(cr + 1));
                line.remove(0, cr + 1);
                if (!answer.isEmpty())
                    writeAll(m_Master, answer);
            }
        }
    }
    std::string m_EnvName;
    int m_Master = -1;
    int m_Slave = -1;
};

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
