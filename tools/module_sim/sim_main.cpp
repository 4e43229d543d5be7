// lumo-module-sim: plays one controller module (and its IP converter) on a
// loopback address over TCP, UDP and a pseudo-terminal at once. One thread,
// one poll() loop; what is answered to which bytes lives in sim_protocol.cpp.

#include "lumo_version.h"
#include "sim_protocol.h"

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

namespace {

using Clock = std::chrono::steady_clock;
using modsim::Bytes;
using modsim::SimConfig;

constexpr int MODULE_PORT = 20036;
constexpr int CONVERTER_PORT = 1024;
constexpr int UDP_PORT = 20037;
constexpr size_t QUEUE_LIMIT = 4u << 20; // bytes waiting per endpoint before replies are dropped
constexpr auto SERIAL_EIO_PAUSE = std::chrono::milliseconds(100);

const char USAGE[] = R"(usage: lumo-module-sim --address A [--tcp] [--converter] [--udp] [--serial]
        [--serial-link PATH] [--id N] [--style N] [--xmode] [--socket-id N]
        [--mode-char C] [--device-info HHHH] [--misbehave WHAT]... [--chunk N]
        [--chunk-pause MS] [--verbose] [--help] [--version]

Plays one controller module on the loopback address A (default 127.0.0.1;
only 127.0.0.0/8 is accepted). Prints "serial: <pty path>" (with --serial)
and then "ready" on standard output once every listener is up. SIGINT or
SIGTERM ends it cleanly.

Sides (any combination, at least one):
  --tcp         module link on A:20036; every connection is greeted with
                7 bytes: id, style, 0 0 0 0 0; with --xmode 17 bytes:
                byte 0 = id, byte 12 = id, byte 14 = (style - 26) mod 256,
                byte 16 = socket id, the rest 0.
  --converter   IP converter on A:1024: greets nothing, answers like the
                serial console below.
  --udp         text link on A:20037: one datagram answers each datagram
                (text up to its first zero byte).
  --serial      pseudo-terminal (raw); the slave path is printed.
  --serial-link PATH  also a symlink PATH -> slave (replaced; removed on
                exit); implies --serial.

Module: --id N (default 1), --style N (default 17), --socket-id N (0),
  --mode-char C (default z), --device-info HHHH (D0 D1, default 1234).

Answers (same on every side unless noted; <text> is the command text with
control bytes shown as '.', at most 256 characters):
  normal command      "OK: command <text> done\r\n"
  query command       data line + "\r\n" + "OK: command <text> done\r\n"
    (z/Z then h/H, s/S, or w/W with characters 4..9 all '0')
    data line  h: "Device ID <id> Style <style> Ver 1.00"
               s: "Signal 1920x1080 60Hz"
               w: "Position 0 0 1920 1080"
  mode 'z' (style 17, mode char z), query in a Z or X frame:
                      data line followed by 00 FF 5A A5 01 (no line end)
  DeviceCommandFrame 55 AA A ~A 01 FE code 00:
    0x6D mode query (style 17)  55 AA A ~A 01 FE <mode char> 00 00 00 00 00 00
    0x19 device query           D0 D1 00 FF 5A A5 01
    0x17 disconnect, any other  00 FF 5A A5 01 (the connection stays open)
  Carriage-return lines (serial, converter, also accepted on the module port):
    bare CR            "\r\n>"
    "ze 0000 0", "ze 0000 1", "*0"   "O.K\r\n>"
    "exit"             "O.K\r\n"
    other text         as a text command above

Misbehaviours (--misbehave WHAT, repeatable or comma-separated):
  silent          read everything, answer nothing, no greeting (every side)
  x14             14-byte greeting (first 14 bytes of the X greeting)
  ffff            greeting bytes 0 and 1 are FF FF
  empty-greeting  accept, then close without a greeting
  chunks          every reply in pieces of --chunk N bytes (default 2),
                  --chunk-pause MS apart (default 20); UDP: one datagram each
  reset           TCP: reset the connection (linger 0) on the first command
  nolf            text answers carry no line feed (every side)
  oversize        text commands get 40000 bytes of text without ack

--verbose logs every received and sent unit in hex on standard error.
)";

volatile sig_atomic_t g_SignalFd = -1;

void OnSignal(int) {
    int saved = errno;
    if (g_SignalFd >= 0) {
        char c = 1;
        [[maybe_unused]] ssize_t r = write(g_SignalFd, &c, 1);
    }
    errno = saved;
}

struct Options {
    std::string address = "127.0.0.1";
    bool tcp = false, converter = false, udp = false, serial = false, verbose = false;
    std::string serialLink;
    int chunkPauseMs = 20;
    SimConfig cfg;
};

bool ParseInt(const char* s, int lo, int hi, int* out) {
    char* end = nullptr;
    errno = 0;
    long v = std::strtol(s, &end, 0);
    if (errno || end == s || *end || v < lo || v > hi)
        return false;
    *out = static_cast<int>(v);
    return true;
}

// Parses argv; returns -1 to go on, else an exit code.
int ParseArgs(int argc, char** argv, Options* o) {
    auto need = [&](int& i) -> const char* {
        if (i + 1 >= argc) {
            std::fprintf(stderr, "lumo-module-sim: %s needs a value\n", argv[i]);
            return nullptr;
        }
        return argv[++i];
    };
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        const char* v = nullptr;
        auto intOpt = [&](int lo, int hi, int* out) {
            if (!(v = need(i)))
                return false;
            if (!ParseInt(v, lo, hi, out)) {
                std::fprintf(stderr, "lumo-module-sim: bad value for %s: %s\n", a.c_str(), v);
                return false;
            }
            return true;
        };
        if (a == "--help" || a == "-h") {
            std::fputs(USAGE, stdout);
            return 0;
        } else if (a == "--version") {
            std::printf("lumo-module-sim %s\n", LUMO_VERSION);
            return 0;
        } else if (a == "--address") {
            if (!(v = need(i)))
                return 2;
            o->address = v;
        } else if (a == "--tcp") {
            o->tcp = true;
        } else if (a == "--converter") {
            o->converter = true;
        } else if (a == "--udp") {
            o->udp = true;
        } else if (a == "--serial") {
            o->serial = true;
        } else if (a == "--serial-link") {
            if (!(v = need(i)))
                return 2;
            o->serialLink = v;
            o->serial = true;
        } else if (a == "--id") {
            if (!intOpt(0, 255, &o->cfg.id))
                return 2;
        } else if (a == "--style") {
            if (!intOpt(0, 281, &o->cfg.style))
                return 2;
        } else if (a == "--socket-id") {
            if (!intOpt(0, 255, &o->cfg.socketId))
                return 2;
        } else if (a == "--chunk") {
            if (!intOpt(1, 65536, &o->cfg.chunk))
                return 2;
        } else if (a == "--chunk-pause") {
            if (!intOpt(0, 10000, &o->chunkPauseMs))
                return 2;
        } else if (a == "--xmode") {
            o->cfg.xMode = true;
        } else if (a == "--verbose") {
            o->verbose = true;
        } else if (a == "--mode-char") {
            if (!(v = need(i)))
                return 2;
            if (std::strlen(v) != 1) {
                std::fprintf(stderr, "lumo-module-sim: --mode-char takes one character\n");
                return 2;
            }
            o->cfg.modeChar = v[0];
        } else if (a == "--device-info") {
            int d = 0;
            if (!(v = need(i)))
                return 2;
            if (std::strlen(v) != 4 || !ParseInt((std::string("0x") + v).c_str(), 0, 0xFFFF, &d)) {
                std::fprintf(stderr, "lumo-module-sim: --device-info takes four hex digits\n");
                return 2;
            }
            o->cfg.deviceInfo[0] = static_cast<uint8_t>(d >> 8);
            o->cfg.deviceInfo[1] = static_cast<uint8_t>(d);
        } else if (a == "--misbehave") {
            if (!(v = need(i)))
                return 2;
            std::string list = v;
            size_t pos = 0;
            while (pos <= list.size()) {
                size_t comma = list.find(',', pos);
                std::string name =
                    list.substr(pos, comma == std::string::npos ? std::string::npos : comma - pos);
                unsigned bit = modsim::MisbehaveFromName(name);
                if (!bit) {
                    std::fprintf(stderr, "lumo-module-sim: unknown misbehaviour: %s\n", name.c_str());
                    return 2;
                }
                o->cfg.misbehave |= bit;
                if (comma == std::string::npos)
                    break;
                pos = comma + 1;
            }
        } else {
            std::fprintf(stderr, "lumo-module-sim: unknown option %s (see --help)\n", a.c_str());
            return 2;
        }
    }
    if (!o->tcp && !o->converter && !o->udp && !o->serial) {
        std::fprintf(stderr,
                     "lumo-module-sim: nothing to serve: give --tcp, --converter, --udp or --serial\n");
        return 2;
    }
    return -1;
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
    modsim::StreamCutter cutter;
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
            std::fprintf(stderr, "%s %s %s\n", dir, who.c_str(), modsim::Hex(p, n).c_str());
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
    for (auto& piece : modsim::Pieces(reply, m_Opt.cfg)) {
        if (!first || m_Opt.cfg.Has(modsim::MIS_CHUNKS))
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
        if (kind == Stream::MODULE && m_Opt.cfg.Has(modsim::MIS_EMPTY_GREETING)) {
            close(fd);
            continue;
        }
        Stream& s = m_Streams.emplace_back();
        s.kind = kind;
        s.fd = fd;
        s.name = std::move(name);
        if (kind == Stream::MODULE)
            QueueStream(s, modsim::Greeting(m_Opt.cfg));
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
    modsim::Unit u;
    while (s.cutter.Next(&u)) {
        Log("rx", s.name, u.raw.data(), u.raw.size());
        if (s.kind != Stream::SERIAL && !s.commanded && m_Opt.cfg.Has(modsim::MIS_RESET)) {
            CloseStream(s, true);
            return;
        }
        s.commanded = true;
        QueueStream(s, modsim::Answer(u, m_Opt.cfg));
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
        Queue(m_UdpOut, m_UdpQueued, who, modsim::DatagramAnswer(buf, size_t(n), m_Opt.cfg), &peer);
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
    if (pipe2(m_SigPipe, O_CLOEXEC | O_NONBLOCK) < 0)
        Die("pipe");
    g_SignalFd = m_SigPipe[1];
    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    signal(SIGPIPE, SIG_IGN);

    if (m_Opt.tcp)
        m_Tcp = Listen(m_Addr, SOCK_STREAM, MODULE_PORT);
    if (m_Opt.converter)
        m_Conv = Listen(m_Addr, SOCK_STREAM, CONVERTER_PORT);
    if (m_Opt.udp)
        m_Udp = Listen(m_Addr, SOCK_DGRAM, UDP_PORT);
    if (m_Opt.serial)
        OpenSerial();
    std::printf("ready\n");
    std::fflush(stdout);

    bool running = true;
    std::vector<pollfd> fds;
    std::vector<Stream*> owners; // parallel to fds; null for listeners and the pipe
    while (running) {
        auto now = Clock::now();
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

        int r = poll(fds.data(), fds.size(), timeoutMs);
        if (r < 0) {
            if (errno == EINTR)
                continue;
            Die("poll");
        }
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
    }

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
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    Options o;
    int rc = ParseArgs(argc, argv, &o);
    if (rc >= 0)
        return rc;
    Simulator sim(std::move(o));
    return sim.Run();
}
