// The socket side of lumo-module-sim: listeners on the loopback address,
// the connections they accept, the datagram socket and the pseudo-terminal,
// served by one poll() loop that feeds what arrives to sim_protocol and
// writes its answers back, piece by piece when they are due.

#include "sim_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <list>
#include <string>
#include <vector>

namespace modsim {

namespace {

using Clock = std::chrono::steady_clock;

constexpr int MODULE_PORT = 20036;
constexpr int CONVERTER_PORT = 1024;
constexpr int UDP_PORT = 20037;
constexpr size_t QUEUE_LIMIT = 4u << 20; // bytes waiting per endpoint before replies are dropped
constexpr auto SERIAL_EIO_PAUSE = std::chrono::milliseconds(100);

volatile sig_atomic_t g_SignalFd = -1;

void OnSignal(int) {
    int saved = errno;
    if (g_SignalFd >= 0) {
        char c = 1;
        [[maybe_unused]] ssize_t r = write(g_SignalFd, &c, 1);
    }
    errno = saved;
}

void Die(const char* what) {
    std::fprintf(stderr, "lumo-module-sim: %s: %s\n", what, std::strerror(errno));
    std::exit(1);
}

void SetNonBlocking(int fd) {
    int fl = fcntl(fd, F_GETFL, 0);
    if (fl < 0 || fcntl(fd, F_SETFL, fl | O_NONBLOCK) < 0)
        Die("fcntl");
}

int Listen(const in_addr& addr, int type, int port) {
    int fd = socket(AF_INET, type | SOCK_CLOEXEC, 0);
    if (fd < 0)
        Die("socket");
    int one = 1;
    if (setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one) < 0)
        Die("setsockopt");
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(static_cast<uint16_t>(port));
    sa.sin_addr = addr;
    if (bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) < 0) {
        std::fprintf(stderr, "lumo-module-sim: bind port %d: %s\n", port, std::strerror(errno));
        std::exit(1);
    }
    if (type == SOCK_STREAM && listen(fd, 16) < 0)
        Die("listen");
    SetNonBlocking(fd);
    return fd;
}

// One queued piece of a reply, written no earlier than `due`.
struct OutPiece {
    Bytes bytes;
    size_t off = 0;
    Clock::time_point due;
    sockaddr_in dest{}; // UDP only
};

// A byte-stream peer: an accepted TCP connection or the pty master.
struct Stream {
    enum Kind { MODULE, CONVERTER, SERIAL } kind;
    int fd = -1;
    std::string name;
    StreamCutter cutter;
    std::deque<OutPiece> out;
    size_t queued = 0;
    bool commanded = false; // a first command arrived (for the reset fault)
    bool dead = false;
    Clock::time_point pausedUntil{}; // serial: no slave reader (EIO)
};

class Simulator {
public:
    explicit Simulator(Options o) : m_Opt(std::move(o)) {}
    int Run();

private:
    void Log(const char* dir, const std::string& who, const uint8_t* p, size_t n) {
        if (m_Opt.verbose)
            std::fprintf(stderr, "%s %s %s\n", dir, who.c_str(), Hex(p, n).c_str());
    }
    void Queue(std::deque<OutPiece>& q, size_t& queued, const std::string& who, const Bytes& reply,
               const sockaddr_in* dest);
    void QueueStream(Stream& s, const Bytes& reply) { Queue(s.out, s.queued, s.name, reply, nullptr); }
    void Accept(int lfd, Stream::Kind kind);
    void ReadStream(Stream& s);
    bool FlushStream(Stream& s); // false when the front piece must wait for POLLOUT
    void ReadUdp();
    bool FlushUdp();
    void CloseStream(Stream& s, bool reset);
    void OpenSerial();

    // Run's steps: the signal pipe, the listeners, one poll set (returns the
    // poll time-out: the next piece due), what poll reported (false once a
    // signal came), closing everything.
    void CatchSignals();
    void Open();
    int PollSet(std::vector<pollfd>& fds, std::vector<Stream*>& owners);
    bool Dispatch(const std::vector<pollfd>& fds, const std::vector<Stream*>& owners);
    void Close();

    Options m_Opt;
    in_addr m_Addr{};
    int m_Tcp = -1, m_Conv = -1, m_Udp = -1, m_SlaveFd = -1;
    int m_SigPipe[2] = {-1, -1};
    std::list<Stream> m_Streams;
    std::deque<OutPiece> m_UdpOut;
    size_t m_UdpQueued = 0;
    std::string m_SlavePath;
};

void Simulator::Queue(std::deque<OutPiece>& q, size_t& queued, const std::string& who, const Bytes& reply,
                      const sockaddr_in* dest) {
    if (reply.empty())
        return;
    if (queued + reply.size() > QUEUE_LIMIT) {
        std::fprintf(stderr, "lumo-module-sim: %s: nobody reads; reply of %zu bytes dropped\n", who.c_str(),
                     reply.size());
        return;
    }
    Log("tx", who, reply.data(), reply.size());
    auto due = Clock::now();
    if (!q.empty() && q.back().due > due)
        due = q.back().due;
    bool first = true;
    for (auto& piece : Pieces(reply, m_Opt.cfg)) {
        if (!first || m_Opt.cfg.Has(MIS_CHUNKS))
            due += std::chrono::milliseconds(first ? 0 : m_Opt.chunkPauseMs);
        first = false;
        queued += piece.size();
        OutPiece op;
        op.bytes = std::move(piece);
        op.due = due;
        if (dest)
            op.dest = *dest;
        q.push_back(std::move(op));
    }
}

void Simulator::Accept(int lfd, Stream::Kind kind) {
    for (;;) {
        sockaddr_in peer{};
        socklen_t len = sizeof peer;
        int fd = accept4(lfd, reinterpret_cast<sockaddr*>(&peer), &len, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR && errno != ECONNABORTED)
                std::fprintf(stderr, "lumo-module-sim: accept: %s\n", std::strerror(errno));
            return;
        }
        char pa[INET_ADDRSTRLEN] = "?";
        inet_ntop(AF_INET, &peer.sin_addr, pa, sizeof pa);
        std::string name = std::string(kind == Stream::MODULE ? "tcp " : "conv ") + pa + ":" +
                           std::to_string(ntohs(peer.sin_port));
        if (m_Opt.verbose)
            std::fprintf(stderr, "accept %s\n", name.c_str());
        if (kind == Stream::MODULE && m_Opt.cfg.Has(MIS_EMPTY_GREETING)) {
            close(fd);
            continue;
        }
        Stream& s = m_Streams.emplace_back();
        s.kind = kind;
        s.fd = fd;
        s.name = std::move(name);
        if (kind == Stream::MODULE)
            QueueStream(s, Greeting(m_Opt.cfg));
    }
}

void Simulator::CloseStream(Stream& s, bool reset) {
    if (s.fd >= 0) {
        if (reset) {
            linger lg{1, 0};
            setsockopt(s.fd, SOL_SOCKET, SO_LINGER, &lg, sizeof lg);
        }
        close(s.fd);
    }
    if (m_Opt.verbose)
        std::fprintf(stderr, "%s %s\n", reset ? "reset" : "close", s.name.c_str());
    s.fd = -1;
    s.dead = true;
}

void Simulator::ReadStream(Stream& s) {
    uint8_t buf[4096];
    for (;;) {
        ssize_t n = read(s.fd, buf, sizeof buf);
        if (n > 0) {
            s.cutter.Feed(buf, size_t(n));
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            break;
        if (s.kind == Stream::SERIAL) {
            // No one holds the slave open: wait a little instead of spinning.
            s.pausedUntil = Clock::now() + SERIAL_EIO_PAUSE;
            break;
        }
        CloseStream(s, false); // peer closed or failed
        return;
    }
    Unit u;
    while (s.cutter.Next(&u)) {
        Log("rx", s.name, u.raw.data(), u.raw.size());
        if (s.kind != Stream::SERIAL && !s.commanded && m_Opt.cfg.Has(MIS_RESET)) {
            CloseStream(s, true);
            return;
        }
        s.commanded = true;
        QueueStream(s, Answer(u, m_Opt.cfg));
    }
}

bool Simulator::FlushStream(Stream& s) {
    auto now = Clock::now();
    while (!s.out.empty() && s.out.front().due <= now && s.fd >= 0) {
        OutPiece& p = s.out.front();
        ssize_t n = s.kind == Stream::SERIAL
                        ? write(s.fd, p.bytes.data() + p.off, p.bytes.size() - p.off)
                        : send(s.fd, p.bytes.data() + p.off, p.bytes.size() - p.off, MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK)
                return false;
            if (s.kind == Stream::SERIAL) { // EIO without a slave reader
                s.pausedUntil = now + SERIAL_EIO_PAUSE;
                return true;
            }
            CloseStream(s, false);
            return true;
        }
        p.off += size_t(n);
        s.queued -= size_t(n);
        if (p.off == p.bytes.size())
            s.out.pop_front();
    }
    return true;
}

void Simulator::ReadUdp() {
    for (;;) {
        static uint8_t buf[65536];
        sockaddr_in peer{};
        socklen_t len = sizeof peer;
        ssize_t n = recvfrom(m_Udp, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&peer), &len);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return; // EAGAIN, or an ICMP error from an earlier reply
        }
        char pa[INET_ADDRSTRLEN] = "?";
        inet_ntop(AF_INET, &peer.sin_addr, pa, sizeof pa);
        std::string who = std::string("udp ") + pa + ":" + std::to_string(ntohs(peer.sin_port));
        Log("rx", who, buf, size_t(n));
        Queue(m_UdpOut, m_UdpQueued, who, DatagramAnswer(buf, size_t(n), m_Opt.cfg), &peer);
    }
}

bool Simulator::FlushUdp() {
    auto now = Clock::now();
    while (!m_UdpOut.empty() && m_UdpOut.front().due <= now) {
        OutPiece& p = m_UdpOut.front();
        ssize_t n = sendto(m_Udp, p.bytes.data(), p.bytes.size(), 0, reinterpret_cast<sockaddr*>(&p.dest),
                           sizeof p.dest);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return false;
        if (n < 0)
            std::fprintf(stderr, "lumo-module-sim: udp send: %s\n", std::strerror(errno));
        m_UdpQueued -= p.bytes.size();
        m_UdpOut.pop_front();
    }
    return true;
}

void Simulator::OpenSerial() {
    int master = -1;
    char name[256] = {};
    if (openpty(&master, &m_SlaveFd, name, nullptr, nullptr) < 0)
        Die("openpty");
    termios t{};
    if (tcgetattr(m_SlaveFd, &t) < 0)
        Die("tcgetattr");
    cfmakeraw(&t);
    if (tcsetattr(m_SlaveFd, TCSANOW, &t) < 0)
        Die("tcsetattr");
    // The slave stays open here too, so the master never sees EIO/HUP while no
    // client holds the port.
    fcntl(master, F_SETFD, FD_CLOEXEC);
    fcntl(m_SlaveFd, F_SETFD, FD_CLOEXEC);
    SetNonBlocking(master);
    m_SlavePath = name;
    if (!m_Opt.serialLink.empty()) {
        struct stat st {};
        if (lstat(m_Opt.serialLink.c_str(), &st) == 0) {
            if (!S_ISLNK(st.st_mode)) {
                std::fprintf(stderr, "lumo-module-sim: %s exists and is not a symlink\n",
                             m_Opt.serialLink.c_str());
                std::exit(1);
            }
            unlink(m_Opt.serialLink.c_str());
        }
        if (symlink(name, m_Opt.serialLink.c_str()) < 0)
            Die("symlink");
    }
    Stream& s = m_Streams.emplace_back();
    s.kind = Stream::SERIAL;
    s.fd = master;
    s.name = std::string("serial ") + name;
    std::printf("serial: %s\n", name);
    std::fflush(stdout);
}

int Simulator::Run() {
    if (inet_pton(AF_INET, m_Opt.address.c_str(), &m_Addr) != 1 || (ntohl(m_Addr.s_addr) >> 24) != 127) {
        std::fprintf(stderr, "lumo-module-sim: %s is not a loopback address (127.0.0.0/8)\n",
                     m_Opt.address.c_str());
        return 2;
    }
    CatchSignals();
    Open();
    std::printf("ready\n");
    std::fflush(stdout);

    std::vector<pollfd> fds;
    std::vector<Stream*> owners; // parallel to fds; null for listeners, the UDP socket and the pipe
    for (;;) {
        const int timeoutMs = PollSet(fds, owners);
        if (poll(fds.data(), fds.size(), timeoutMs) < 0) {
            if (errno == EINTR)
                continue;
            Die("poll");
        }
        if (!Dispatch(fds, owners))
            break;
    }
    Close();
    return 0;
}

void Simulator::CatchSignals() {
    if (pipe2(m_SigPipe, O_CLOEXEC | O_NONBLOCK) < 0)
        Die("pipe");
    g_SignalFd = m_SigPipe[1];
    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    signal(SIGPIPE, SIG_IGN);
}

void Simulator::Open() {
    if (m_Opt.tcp)
        m_Tcp = Listen(m_Addr, SOCK_STREAM, MODULE_PORT);
    if (m_Opt.converter)
        m_Conv = Listen(m_Addr, SOCK_STREAM, CONVERTER_PORT);
    if (m_Opt.udp)
        m_Udp = Listen(m_Addr, SOCK_DGRAM, UDP_PORT);
    if (m_Opt.serial)
        OpenSerial();
}

int Simulator::PollSet(std::vector<pollfd>& fds, std::vector<Stream*>& owners) {
    const auto now = Clock::now();
    int timeoutMs = 1000;
    auto consider = [&](Clock::time_point t) {
        auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(t - now).count() + 1;
        if (ms < timeoutMs)
            timeoutMs = ms < 0 ? 0 : static_cast<int>(ms);
    };
    fds.clear();
    owners.clear();
    fds.push_back({m_SigPipe[0], POLLIN, 0});
    owners.push_back(nullptr);
    for (int lfd : {m_Tcp, m_Conv}) {
        if (lfd >= 0) {
            fds.push_back({lfd, POLLIN, 0});
            owners.push_back(nullptr);
        }
    }
    for (Stream& s : m_Streams) {
        bool blocked = !FlushStream(s);
        if (s.dead)
            continue;
        short ev = POLLIN;
        if (s.pausedUntil > now) {
            consider(s.pausedUntil);
            ev = 0;
        } else if (blocked) {
            ev |= POLLOUT;
        } else if (!s.out.empty()) {
            consider(s.out.front().due);
        }
        // A paused pty stays out of the poll set: a hung-up master would report POLLHUP at once.
        fds.push_back({ev ? s.fd : -1, ev, 0});
        owners.push_back(&s);
    }
    if (m_Udp >= 0) {
        short ev = POLLIN;
        if (!FlushUdp())
            ev |= POLLOUT;
        else if (!m_UdpOut.empty())
            consider(m_UdpOut.front().due);
        fds.push_back({m_Udp, ev, 0});
        owners.push_back(nullptr);
    }
    m_Streams.remove_if([](const Stream& s) { return s.dead; });
    return timeoutMs;
}

bool Simulator::Dispatch(const std::vector<pollfd>& fds, const std::vector<Stream*>& owners) {
    bool running = true;
    for (size_t i = 0; i < fds.size(); ++i) {
        const pollfd& p = fds[i];
        if (!p.revents)
            continue;
        if (p.fd == m_SigPipe[0]) {
            running = false;
        } else if (p.fd == m_Tcp) {
            Accept(m_Tcp, Stream::MODULE);
        } else if (p.fd == m_Conv) {
            Accept(m_Conv, Stream::CONVERTER);
        } else if (p.fd == m_Udp) {
            if (p.revents & (POLLIN | POLLERR))
                ReadUdp(); // the receive also takes a pending socket error
        } else if (Stream* s = owners[i]) {
            if (p.revents & (POLLIN | POLLHUP | POLLERR))
                ReadStream(*s);
        }
    }
    return running;
}

void Simulator::Close() {
    for (Stream& s : m_Streams)
        if (s.fd >= 0)
            close(s.fd);
    for (int fd : {m_Tcp, m_Conv, m_Udp, m_SlaveFd, m_SigPipe[0], m_SigPipe[1]})
        if (fd >= 0)
            close(fd);
    if (!m_Opt.serialLink.empty()) {
        char target[256] = {};
        ssize_t n = readlink(m_Opt.serialLink.c_str(), target, sizeof target - 1);
        if (n > 0 && m_SlavePath == std::string(target, size_t(n)))
            unlink(m_Opt.serialLink.c_str());
    }
}

} // namespace

int Serve(Options o) {
    Simulator sim(std::move(o));
    return sim.Run();
}

} // namespace modsim
