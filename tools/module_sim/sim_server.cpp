// The socket side of lumo-module-sim: for every module its listeners on its
// loopback address, the connections they accept and its datagram socket,
// and the pseudo-terminal of a single module, all served by one loop (its
// waits and system calls in posix_sim_io.h) that feeds what arrives to
// sim_protocol and writes its answers back, piece by piece when they are due.

#include "sim_server.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <limits>
#include <list>
#include <string>
#include <vector>

#include "posix_sim_io.h"

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
constexpr uint64_t SPARE_FILES = 16; // standard streams, signal pipe, poller, pty pair, a few more

std::string PeerText(const io::Peer& p) {
    return session::DottedAddress(p.address) + ":" + std::to_string(p.port);
}

// One queued piece of a reply, written no earlier than `due`.
struct OutPiece {
    Bytes bytes;
    size_t off = 0;
    Clock::time_point due;
    io::Peer dest; // UDP only
};

struct Module;
struct Stream;

// A handle the loop waits on, as the poller hands it back (its tag).
struct Slot {
    enum What { SIGNAL, MODULE_LISTENER, CONVERTER_LISTENER, DATAGRAM, STREAM } what = SIGNAL;
    io::Handle fd = io::kNone;
    uint32_t events = 0;  // what the wait looks for on it; 0: not watched
    bool pending = false; // in the busy list: output queued, blocked or a pause to end
    Module* module = nullptr;
    Stream* stream = nullptr;
};

// One simulated module: what it says of itself, its listeners and its
// datagram socket (fd -1 for a side not served), the datagrams still to send.
struct Module {
    uint32_t addr = 0;   // host order
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
    // Sets what the wait looks for on `slot` (0 takes it out).
    void Watch(Slot& slot, uint32_t events);
    // Puts `slot` on the busy list that Service looks at before each wait.
    void MarkPending(Slot& slot);
    void Queue(std::deque<OutPiece>& q, size_t& queued, const std::string& who, const Bytes& reply,
               const SimConfig& cfg, const io::Peer* dest);
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
    // modules and their listeners, the busy endpoints before a wait (returns
    // the wait's time-out: the next piece or pause due), what the wait
    // reported (false once a signal came), closing everything.
    bool RaiseFileLimit() const;
    void Open();
    int Service();
    bool Dispatch(const std::vector<io::Poller::Ready>& ready);
    void Close();

    Options m_Opt;
    std::vector<Module> m_Modules; // never resized once open: streams and slots point into it
    io::Poller m_Poller;
    io::Handle m_SlaveFd = io::kNone;
    Slot m_SignalSlot;
    std::list<Stream> m_Streams;
    std::vector<Slot*> m_Pending; // the busy list
    std::string m_SlavePath;
    bool m_AcceptPaused = false; // out of descriptors: listeners not watched
    TimePoint m_AcceptPausedUntil{};
    TimePoint m_NextAcceptComplaint{};
};

void Simulator::Watch(Slot& slot, uint32_t events) {
    m_Poller.Watch(slot.fd, &slot, slot.events, events);
    slot.events = events;
}

void Simulator::MarkPending(Slot& slot) {
    if (!slot.pending) {
        slot.pending = true;
        m_Pending.push_back(&slot);
    }
}

void Simulator::Queue(std::deque<OutPiece>& q, size_t& queued, const std::string& who, const Bytes& reply,
                      const SimConfig& cfg, const io::Peer* dest) {
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
    const io::Handle lfd = kind == Stream::MODULE ? m.tcp.fd : m.conv.fd;
    for (;;) {
        io::Peer peer;
        io::AcceptFail fail{};
        const io::Handle fd = io::Accept(lfd, &peer, &fail);
        if (fd == io::kNone) {
            if (fail == io::AcceptFail::OutOfFiles)
                PauseAccepting();
            else if (fail == io::AcceptFail::Other)
                std::fprintf(stderr, "lumo-module-sim: %s: accept: %s\n", m.address.c_str(),
                             io::LastError().c_str());
            return;
        }
        std::string name = m.logName + (kind == Stream::MODULE ? "tcp " : "conv ") + PeerText(peer);
        if (m_Opt.verbose)
            std::fprintf(stderr, "accept %s\n", name.c_str());
        if (kind == Stream::MODULE && m.cfg.Has(MIS_EMPTY_GREETING)) {
            io::Close(fd);
            continue;
        }
        Stream& s = m_Streams.emplace_back();
        s.kind = kind;
        s.slot = {Slot::STREAM, fd, 0, false, &m, &s};
        s.name = std::move(name);
        Watch(s.slot, io::kIn);
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
// of the wait for a while instead of waking it at once, again and again.
void Simulator::PauseAccepting() {
    const std::string err = io::LastError();
    const auto now = Clock::now();
    if (!m_AcceptPaused) {
        for (Module& m : m_Modules)
            for (Slot* l : {&m.tcp, &m.conv})
                if (l->fd != io::kNone)
                    Watch(*l, 0);
    }
    m_AcceptPaused = true;
    m_AcceptPausedUntil = now + ACCEPT_PAUSE;
    if (now < m_NextAcceptComplaint)
        return;
    m_NextAcceptComplaint = now + ACCEPT_COMPLAINT_GAP;
    std::fprintf(stderr, "lumo-module-sim: accept: %s; new connections wait until others close\n",
                 err.c_str());
}

void Simulator::CloseStream(Stream& s, bool reset) {
    if (s.slot.fd != io::kNone) {
        Watch(s.slot, 0);
        io::Close(s.slot.fd, reset);
    }
    if (m_Opt.verbose)
        std::fprintf(stderr, "%s %s\n", reset ? "reset" : "close", s.name.c_str());
    s.slot.fd = io::kNone;
    s.dead = true;
}

void Simulator::ReadStream(Stream& s) {
    uint8_t buf[4096];
    for (;;) {
        const long n = io::Read(s.slot.fd, buf, sizeof buf);
        if (n > 0) {
            s.cutter.Feed(buf, size_t(n));
            continue;
        }
        if (n == io::kWouldBlock)
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
    while (!s.out.empty() && s.out.front().due <= now && s.slot.fd != io::kNone) {
        OutPiece& p = s.out.front();
        const long n =
            io::Write(s.slot.fd, s.kind != Stream::SERIAL, p.bytes.data() + p.off, p.bytes.size() - p.off);
        if (n < 0) {
            if (n == io::kWouldBlock)
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
        io::Peer peer;
        const long n = io::ReceiveFrom(m.udp.fd, buf, sizeof buf, &peer);
        if (n < 0)
            return; // would block, or an ICMP error from an earlier reply
        std::string who = m.logName + "udp " + PeerText(peer);
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
        const long n = io::SendTo(m.udp.fd, p.bytes.data(), p.bytes.size(), p.dest);
        if (n == io::kWouldBlock)
            return false;
        if (n < 0)
            std::fprintf(stderr, "lumo-module-sim: %s: udp send: %s\n", m.address.c_str(),
                         io::LastError().c_str());
        m.udpQueued -= p.bytes.size();
        m.udpOut.pop_front();
    }
    return true;
}

void Simulator::OpenSerial(Module& m) {
    // The slave stays open here too, so the master never sees EIO/HUP while no
    // client holds the port.
    io::Handle master = io::kNone;
    io::OpenTerminal(&master, &m_SlaveFd, &m_SlavePath, m_Opt.serialLink);
    Stream& s = m_Streams.emplace_back();
    s.kind = Stream::SERIAL;
    s.slot = {Slot::STREAM, master, 0, false, &m, &s};
    s.name = "serial " + m_SlavePath;
    Watch(s.slot, io::kIn);
    std::printf("serial: %s\n", m_SlavePath.c_str());
    std::fflush(stdout);
}

int Simulator::Run() {
    if (!RaiseFileLimit())
        return 1;
    m_SignalSlot.fd = io::CatchStopSignals();
    Watch(m_SignalSlot, io::kIn);
    Open();
    std::printf("ready\n");
    std::fflush(stdout);

    std::vector<io::Poller::Ready> ready;
    for (;;) {
        const int timeoutMs = Service();
        m_Poller.Wait(timeoutMs, &ready);
        if (!Dispatch(ready))
            break;
    }
    Close();
    return 0;
}

bool Simulator::RaiseFileLimit() const {
    const uint64_t modules = m_Opt.addresses.Count();
    const uint64_t need = modules * (uint64_t(m_Opt.tcp) + m_Opt.converter + m_Opt.udp + 1) + SPARE_FILES;
    uint64_t limit = 0;
    if (io::RaiseFileLimit(need, &limit))
        return true;
    std::fprintf(stderr,
                 "lumo-module-sim: %llu modules need %llu open files, but the hard limit is %llu: "
                 "raise it (ulimit -Hn, LimitNOFILE=) or give a smaller range\n",
                 static_cast<unsigned long long>(modules), static_cast<unsigned long long>(need),
                 static_cast<unsigned long long>(limit));
    return false;
}

void Simulator::Open() {
    const uint64_t count = m_Opt.addresses.Count();
    m_Modules.resize(count);
    for (uint64_t k = 0; k < count; ++k) {
        Module& m = m_Modules[k];
        const uint32_t a = m_Opt.addresses.At(k);
        m.addr = a;
        m.address = session::DottedAddress(a);
        if (count > 1)
            m.logName = m.address + " ";
        m.cfg = ModuleConfig(m_Opt, k);
        const struct {
            bool wanted;
            Slot& slot;
            Slot::What what;
            bool stream;
            int port;
        } sides[] = {
            {m_Opt.tcp, m.tcp, Slot::MODULE_LISTENER, true, MODULE_PORT},
            {m_Opt.converter, m.conv, Slot::CONVERTER_LISTENER, true, CONVERTER_PORT},
            {m_Opt.udp, m.udp, Slot::DATAGRAM, false, UDP_PORT},
        };
        for (const auto& side : sides) {
            if (!side.wanted)
                continue;
            side.slot = {side.what, io::Listen(m.addr, m.address, side.stream, side.port), 0, false, &m,
                         nullptr};
            Watch(side.slot, io::kIn);
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
        // Not watched while paused: a hung-up pty would report a hang-up at once, again and again.
        Watch(s.slot, 0);
        *wake = std::min(*wake, s.pausedUntil);
        return true;
    }
    Watch(s.slot, blocked ? io::kIn | io::kOut : io::kIn);
    if (!blocked && !s.out.empty())
        *wake = std::min(*wake, s.out.front().due);
    return blocked || !s.out.empty();
}

bool Simulator::ServiceUdp(Module& m, TimePoint* wake) {
    const bool blocked = !FlushUdp(m);
    Watch(m.udp, blocked ? io::kIn | io::kOut : io::kIn);
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
                if (l->fd != io::kNone)
                    Watch(*l, io::kIn);
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

bool Simulator::Dispatch(const std::vector<io::Poller::Ready>& ready) {
    bool running = true;
    for (const io::Poller::Ready& r : ready) {
        const uint32_t got = r.events;
        Slot& slot = *static_cast<Slot*>(r.tag);
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
            if (got & (io::kIn | io::kError))
                ReadUdp(*slot.module); // the receive also takes a pending socket error
            if (got & io::kOut)
                MarkPending(slot);
            break;
        case Slot::STREAM:
            if (slot.stream->dead) // closed by an earlier event of this batch
                break;
            if (got & (io::kIn | io::kHangUp | io::kError))
                ReadStream(*slot.stream);
            if (got & io::kOut)
                MarkPending(slot);
            break;
        }
    }
    return running;
}

void Simulator::Close() {
    for (Stream& s : m_Streams)
        io::Close(s.slot.fd);
    for (const Module& m : m_Modules)
        for (const Slot* side : {&m.tcp, &m.conv, &m.udp})
            io::Close(side->fd);
    io::Close(m_SlaveFd);
    io::Close(m_SignalSlot.fd);
    io::RemoveLink(m_Opt.serialLink, m_SlavePath);
}

} // namespace

int Serve(Options o) {
    Simulator sim(std::move(o));
    return sim.Run();
}

} // namespace modsim
