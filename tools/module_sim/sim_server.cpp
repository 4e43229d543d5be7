// The socket side of lumo-module-sim: for every module its listeners on its
// loopback address, the connections they accept and its datagram socket,
// and the pseudo-terminal of a single module, all served by one epoll loop
// that feeds what arrives to sim_protocol and writes its answers back, piece
// by piece when they are due. With epoll a wake-up costs what is ready, not
// what is open: a module among a thousand answers as fast as a lone one.

#include "sim_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <pty.h>
#include <signal.h>
#include <sys/epoll.h>
#include <sys/resource.h>
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
#include <limits>
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
constexpr auto ACCEPT_PAUSE = std::chrono::milliseconds(100);   // out of descriptors: accept again later
constexpr auto ACCEPT_COMPLAINT_GAP = std::chrono::seconds(10); // between two such complaints
constexpr uint64_t SPARE_FILES = 16; // standard streams, signal pipe, epoll, pty pair, a few more

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

int Listen(const in_addr& addr, const std::string& address, int type, int port) {
    int fd = socket(AF_INET, type | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
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
        std::fprintf(stderr, "lumo-module-sim: %s: bind port %d: %s\n", address.c_str(), port,
                     std::strerror(errno));
        std::exit(1);
    }
    if (type == SOCK_STREAM && listen(fd, 16) < 0)
        Die("listen");
    return fd;
}

// One queued piece of a reply, written no earlier than `due`.
struct OutPiece {
    Bytes bytes;
    size_t off = 0;
    Clock::time_point due;
    sockaddr_in dest{}; // UDP only
};

struct Module;
struct Stream;

// A descriptor the loop waits on, as epoll hands it back (its data.ptr).
struct Slot {
    enum What { SIGNAL, MODULE_LISTENER, CONVERTER_LISTENER, DATAGRAM, STREAM } what = SIGNAL;
    int fd = -1;
    uint32_t events = 0;  // what epoll waits for on it; 0: not in the epoll set
    bool pending = false; // in the busy list: output queued, blocked or a pause to end
    Module* module = nullptr;
    Stream* stream = nullptr;
};

// One simulated module: what it says of itself, its listeners and its
// datagram socket (fd -1 for a side not served), the datagrams still to send.
struct Module {
    in_addr addr{};
    std::string address; // dotted, for messages
    std::string logName; // "127.0.92.5 " when the process plays a range, else empty
    SimConfig cfg;
    Slot tcp, conv, udp;
    std::deque<OutPiece> udpOut;
    size_t udpQueued = 0;
};

// A byte-stream peer of a module: an accepted TCP connection or the pty master.
struct Stream {
    enum Kind { MODULE, CONVERTER, SERIAL } kind;
    Slot slot; // its module in slot.module
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
    using TimePoint = Clock::time_point;

    void Log(const char* dir, const std::string& who, const uint8_t* p, size_t n) {
        if (m_Opt.verbose)
            std::fprintf(stderr, "%s %s %s\n", dir, who.c_str(), Hex(p, n).c_str());
    }
    // Sets what epoll waits for on `slot` (0 takes it out of the set).
    void Watch(Slot& slot, uint32_t events);
    // Puts `slot` on the busy list that Service looks at before each wait.
    void MarkPending(Slot& slot);
    void Queue(std::deque<OutPiece>& q, size_t& queued, const std::string& who, const Bytes& reply,
               const SimConfig& cfg, const sockaddr_in* dest);
    void QueueStream(Stream& s, const Bytes& reply);
    void Accept(Module& m, Stream::Kind kind);
    void PauseAccepting();
    void ReadStream(Stream& s);
    bool FlushStream(Stream& s); // false when the front piece must wait until the peer reads
    void ReadUdp(Module& m);
    bool FlushUdp(Module& m);
    void CloseStream(Stream& s, bool reset);
    void OpenSerial(Module& m);
    // Service steps for one busy endpoint: write what is due, wait for what
    // is needed, move *wake to its next due piece; false once it is idle.
    bool ServiceStream(Stream& s, TimePoint now, TimePoint* wake);
    bool ServiceUdp(Module& m, TimePoint* wake);

    // Run's steps: the open-files limit (false, told, when too low), the
    // signal pipe, the modules and their listeners, the busy endpoints before
    // a wait (returns the wait's time-out: the next piece or pause due), what
    // epoll reported (false once a signal came), closing everything.
    bool RaiseFileLimit() const;
    void CatchSignals();
    void Open();
    int Service();
    bool Dispatch(const epoll_event* events, int n);
    void Close();

    Options m_Opt;
    std::vector<Module> m_Modules; // never resized once open: streams and slots point into it
    int m_Epoll = -1;
    int m_SlaveFd = -1;
    int m_SigPipe[2] = {-1, -1};
    Slot m_SignalSlot;
    std::list<Stream> m_Streams;
    std::vector<Slot*> m_Pending; // the busy list
    std::string m_SlavePath;
    bool m_AcceptPaused = false; // out of descriptors: listeners out of the epoll set
    TimePoint m_AcceptPausedUntil{};
    TimePoint m_NextAcceptComplaint{};
};

void Simulator::Watch(Slot& slot, uint32_t events) {
    if (events == slot.events)
        return;
    epoll_event ev{};
    ev.events = events;
    ev.data.ptr = &slot;
    const int op = !events ? EPOLL_CTL_DEL : slot.events ? EPOLL_CTL_MOD : EPOLL_CTL_ADD;
    if (epoll_ctl(m_Epoll, op, slot.fd, &ev) < 0)
        Die("epoll_ctl");
    slot.events = events;
}

void Simulator::MarkPending(Slot& slot) {
    if (!slot.pending) {
        slot.pending = true;
        m_Pending.push_back(&slot);
    }
}

void Simulator::Queue(std::deque<OutPiece>& q, size_t& queued, const std::string& who, const Bytes& reply,
                      const SimConfig& cfg, const sockaddr_in* dest) {
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
    for (auto& piece : Pieces(reply, cfg)) {
        if (!first || cfg.Has(MIS_CHUNKS))
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

void Simulator::Accept(Module& m, Stream::Kind kind) {
    const int lfd = kind == Stream::MODULE ? m.tcp.fd : m.conv.fd;
    for (;;) {
        sockaddr_in peer{};
        socklen_t len = sizeof peer;
        int fd = accept4(lfd, reinterpret_cast<sockaddr*>(&peer), &len, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EMFILE || errno == ENFILE)
                PauseAccepting();
            else if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR && errno != ECONNABORTED)
                std::fprintf(stderr, "lumo-module-sim: %s: accept: %s\n", m.address.c_str(),
                             std::strerror(errno));
            return;
        }
        char pa[INET_ADDRSTRLEN] = "?";
        inet_ntop(AF_INET, &peer.sin_addr, pa, sizeof pa);
        std::string name = m.logName + (kind == Stream::MODULE ? "tcp " : "conv ") + pa + ":" +
                           std::to_string(ntohs(peer.sin_port));
        if (m_Opt.verbose)
            std::fprintf(stderr, "accept %s\n", name.c_str());
        if (kind == Stream::MODULE && m.cfg.Has(MIS_EMPTY_GREETING)) {
            close(fd);
            continue;
        }
        Stream& s = m_Streams.emplace_back();
        s.kind = kind;
        s.slot = {Slot::STREAM, fd, 0, false, &m, &s};
        s.name = std::move(name);
        Watch(s.slot, EPOLLIN);
        if (kind == Stream::MODULE)
            QueueStream(s, Greeting(m.cfg));
    }
}

void Simulator::QueueStream(Stream& s, const Bytes& reply) {
    Queue(s.out, s.queued, s.name, reply, s.slot.module->cfg, nullptr);
    if (!s.out.empty())
        MarkPending(s.slot);
}

// Out of descriptors: the connection stays queued, and the listeners stay out
// of the epoll set for a while instead of waking it at once, again and again.
void Simulator::PauseAccepting() {
    const int err = errno;
    const auto now = Clock::now();
    if (!m_AcceptPaused) {
        for (Module& m : m_Modules)
            for (Slot* l : {&m.tcp, &m.conv})
                if (l->fd >= 0)
                    Watch(*l, 0);
    }
    m_AcceptPaused = true;
    m_AcceptPausedUntil = now + ACCEPT_PAUSE;
    if (now < m_NextAcceptComplaint)
        return;
    m_NextAcceptComplaint = now + ACCEPT_COMPLAINT_GAP;
    std::fprintf(stderr, "lumo-module-sim: accept: %s; new connections wait until others close\n",
                 std::strerror(err));
}

void Simulator::CloseStream(Stream& s, bool reset) {
    if (s.slot.fd >= 0) {
        if (reset) {
            linger lg{1, 0};
            setsockopt(s.slot.fd, SOL_SOCKET, SO_LINGER, &lg, sizeof lg);
        }
        close(s.slot.fd); // also takes it out of the epoll set
    }
    if (m_Opt.verbose)
        std::fprintf(stderr, "%s %s\n", reset ? "reset" : "close", s.name.c_str());
    s.slot.fd = -1;
    s.slot.events = 0;
    s.dead = true;
}

void Simulator::ReadStream(Stream& s) {
    uint8_t buf[4096];
    for (;;) {
        ssize_t n = read(s.slot.fd, buf, sizeof buf);
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
            MarkPending(s.slot);
            break;
        }
        CloseStream(s, false); // peer closed or failed
        return;
    }
    Unit u;
    while (s.cutter.Next(&u)) {
        Log("rx", s.name, u.raw.data(), u.raw.size());
        if (s.kind != Stream::SERIAL && !s.commanded && s.slot.module->cfg.Has(MIS_RESET)) {
            CloseStream(s, true);
            return;
        }
        s.commanded = true;
        QueueStream(s, Answer(u, s.slot.module->cfg));
    }
}

bool Simulator::FlushStream(Stream& s) {
    auto now = Clock::now();
    while (!s.out.empty() && s.out.front().due <= now && s.slot.fd >= 0) {
        OutPiece& p = s.out.front();
        ssize_t n = s.kind == Stream::SERIAL
                        ? write(s.slot.fd, p.bytes.data() + p.off, p.bytes.size() - p.off)
                        : send(s.slot.fd, p.bytes.data() + p.off, p.bytes.size() - p.off, MSG_NOSIGNAL);
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

void Simulator::ReadUdp(Module& m) {
    for (;;) {
        static uint8_t buf[65536];
        sockaddr_in peer{};
        socklen_t len = sizeof peer;
        ssize_t n = recvfrom(m.udp.fd, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&peer), &len);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return; // EAGAIN, or an ICMP error from an earlier reply
        }
        char pa[INET_ADDRSTRLEN] = "?";
        inet_ntop(AF_INET, &peer.sin_addr, pa, sizeof pa);
        std::string who = m.logName + "udp " + pa + ":" + std::to_string(ntohs(peer.sin_port));
        Log("rx", who, buf, size_t(n));
        Queue(m.udpOut, m.udpQueued, who, DatagramAnswer(buf, size_t(n), m.cfg), m.cfg, &peer);
        if (!m.udpOut.empty())
            MarkPending(m.udp);
    }
}

bool Simulator::FlushUdp(Module& m) {
    auto now = Clock::now();
    while (!m.udpOut.empty() && m.udpOut.front().due <= now) {
        OutPiece& p = m.udpOut.front();
        ssize_t n = sendto(m.udp.fd, p.bytes.data(), p.bytes.size(), 0, reinterpret_cast<sockaddr*>(&p.dest),
                           sizeof p.dest);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return false;
        if (n < 0)
            std::fprintf(stderr, "lumo-module-sim: %s: udp send: %s\n", m.address.c_str(),
                         std::strerror(errno));
        m.udpQueued -= p.bytes.size();
        m.udpOut.pop_front();
    }
    return true;
}

void Simulator::OpenSerial(Module& m) {
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
    s.slot = {Slot::STREAM, master, 0, false, &m, &s};
    s.name = std::string("serial ") + name;
    Watch(s.slot, EPOLLIN);
    std::printf("serial: %s\n", name);
    std::fflush(stdout);
}

int Simulator::Run() {
    if (!RaiseFileLimit())
        return 1;
    m_Epoll = epoll_create1(EPOLL_CLOEXEC);
    if (m_Epoll < 0)
        Die("epoll_create1");
    CatchSignals();
    Open();
    std::printf("ready\n");
    std::fflush(stdout);

    std::vector<epoll_event> events(256);
    for (;;) {
        const int timeoutMs = Service();
        const int n = epoll_wait(m_Epoll, events.data(), int(events.size()), timeoutMs);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            Die("epoll_wait");
        }
        if (!Dispatch(events.data(), n))
            break;
    }
    Close();
    return 0;
}

bool Simulator::RaiseFileLimit() const {
    const uint64_t modules = m_Opt.addresses.Count();
    const uint64_t need = modules * (uint64_t(m_Opt.tcp) + m_Opt.converter + m_Opt.udp + 1) + SPARE_FILES;
    rlimit rl{};
    if (getrlimit(RLIMIT_NOFILE, &rl) < 0)
        Die("getrlimit");
    if (rl.rlim_cur < rl.rlim_max) {
        rl.rlim_cur = rl.rlim_max;
        if (setrlimit(RLIMIT_NOFILE, &rl) < 0)
            Die("setrlimit");
    }
    if (rl.rlim_cur >= need)
        return true;
    std::fprintf(stderr,
                 "lumo-module-sim: %llu modules need %llu open files, but the hard limit is %llu: "
                 "raise it (ulimit -Hn, LimitNOFILE=) or give a smaller range\n",
                 static_cast<unsigned long long>(modules), static_cast<unsigned long long>(need),
                 static_cast<unsigned long long>(rl.rlim_cur));
    return false;
}

void Simulator::CatchSignals() {
    if (pipe2(m_SigPipe, O_CLOEXEC | O_NONBLOCK) < 0)
        Die("pipe");
    g_SignalFd = m_SigPipe[1];
    m_SignalSlot.fd = m_SigPipe[0];
    Watch(m_SignalSlot, EPOLLIN);
    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    signal(SIGPIPE, SIG_IGN);
}

void Simulator::Open() {
    const uint64_t count = m_Opt.addresses.Count();
    m_Modules.resize(count);
    for (uint64_t k = 0; k < count; ++k) {
        Module& m = m_Modules[k];
        const uint32_t a = m_Opt.addresses.At(k);
        m.addr.s_addr = htonl(a);
        m.address = AddressText(a);
        if (count > 1)
            m.logName = m.address + " ";
        m.cfg = ModuleConfig(m_Opt, k);
        const struct {
            bool wanted;
            Slot& slot;
            Slot::What what;
            int type, port;
        } sides[] = {
            {m_Opt.tcp, m.tcp, Slot::MODULE_LISTENER, SOCK_STREAM, MODULE_PORT},
            {m_Opt.converter, m.conv, Slot::CONVERTER_LISTENER, SOCK_STREAM, CONVERTER_PORT},
            {m_Opt.udp, m.udp, Slot::DATAGRAM, SOCK_DGRAM, UDP_PORT},
        };
        for (const auto& side : sides) {
            if (!side.wanted)
                continue;
            side.slot = {side.what, Listen(m.addr, m.address, side.type, side.port), 0, false, &m, nullptr};
            Watch(side.slot, EPOLLIN);
        }
    }
    if (m_Opt.serial)
        OpenSerial(m_Modules.front());
}

bool Simulator::ServiceStream(Stream& s, TimePoint now, TimePoint* wake) {
    bool blocked = false;
    if (s.pausedUntil <= now)
        blocked = !FlushStream(s); // may close it, or pause a pty nobody holds
    if (s.dead)
        return false;
    if (s.pausedUntil > now) {
        // Out of the set while paused: a hung-up pty would report EPOLLHUP at once, again and again.
        Watch(s.slot, 0);
        *wake = std::min(*wake, s.pausedUntil);
        return true;
    }
    Watch(s.slot, blocked ? EPOLLIN | EPOLLOUT : EPOLLIN);
    if (!blocked && !s.out.empty())
        *wake = std::min(*wake, s.out.front().due);
    return blocked || !s.out.empty();
}

bool Simulator::ServiceUdp(Module& m, TimePoint* wake) {
    const bool blocked = !FlushUdp(m);
    Watch(m.udp, blocked ? EPOLLIN | EPOLLOUT : EPOLLIN);
    if (!blocked && !m.udpOut.empty())
        *wake = std::min(*wake, m.udpOut.front().due);
    return blocked || !m.udpOut.empty();
}

int Simulator::Service() {
    const auto now = Clock::now();
    TimePoint wake = TimePoint::max();
    if (m_AcceptPaused && m_AcceptPausedUntil <= now) {
        m_AcceptPaused = false;
        for (Module& m : m_Modules)
            for (Slot* l : {&m.tcp, &m.conv})
                if (l->fd >= 0)
                    Watch(*l, EPOLLIN);
    } else if (m_AcceptPaused) {
        wake = m_AcceptPausedUntil;
    }
    std::vector<Slot*> busy;
    busy.swap(m_Pending);
    for (Slot* slot : busy) {
        slot->pending = false;
        if (slot->what == Slot::STREAM ? ServiceStream(*slot->stream, now, &wake)
                                       : ServiceUdp(*slot->module, &wake))
            MarkPending(*slot);
    }
    m_Streams.remove_if([](const Stream& s) { return s.dead; });
    if (wake == TimePoint::max())
        return -1;
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(wake - now).count() + 1;
    return ms < 0 ? 0 : static_cast<int>(std::min<long long>(ms, std::numeric_limits<int>::max()));
}

bool Simulator::Dispatch(const epoll_event* events, int n) {
    bool running = true;
    for (int i = 0; i < n; ++i) {
        const uint32_t got = events[i].events;
        Slot& slot = *static_cast<Slot*>(events[i].data.ptr);
        switch (slot.what) {
        case Slot::SIGNAL:
            running = false;
            break;
        case Slot::MODULE_LISTENER:
        case Slot::CONVERTER_LISTENER:
            if (!m_AcceptPaused) // paused by an earlier event of this batch
                Accept(*slot.module, slot.what == Slot::MODULE_LISTENER ? Stream::MODULE : Stream::CONVERTER);
            break;
        case Slot::DATAGRAM:
            if (got & (EPOLLIN | EPOLLERR))
                ReadUdp(*slot.module); // the receive also takes a pending socket error
            if (got & EPOLLOUT)
                MarkPending(slot);
            break;
        case Slot::STREAM:
            if (slot.stream->dead) // closed by an earlier event of this batch
                break;
            if (got & (EPOLLIN | EPOLLHUP | EPOLLERR))
                ReadStream(*slot.stream);
            if (got & EPOLLOUT)
                MarkPending(slot);
            break;
        }
    }
    return running;
}

void Simulator::Close() {
    for (Stream& s : m_Streams)
        if (s.slot.fd >= 0)
            close(s.slot.fd);
    for (const Module& m : m_Modules)
        for (const Slot* side : {&m.tcp, &m.conv, &m.udp})
            if (side->fd >= 0)
                close(side->fd);
    for (int fd : {m_SlaveFd, m_SigPipe[0], m_SigPipe[1], m_Epoll})
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
