// Receive-side figures of the device link, side by side with a plain
// blocking socket against the same loopback module (played by a thread of
// this program) in the same run:
//  1. acknowledged exchange, an 8-byte frame out and the 5-byte AckFrame
//     back: through the library (Peltra_Senddata + Check_Return(1, id,
//     10000)) and over a plain blocking socket (send + recv of 5 bytes).
//     "answer" is the time from the module's send() call of the answer to
//     the answer in the caller's hands; "round trip" from the frame's send
//     to the same point; "CPU" the process CPU per exchange without the
//     module thread's own;
//  2. bulk: the module sends as fast as it can; through the receive thread
//     (mode 99, a consumer that takes every publication with ClearMailbox as
//     soon as it sees it) and with plain 4096-byte receives: MB/s;
//     and how soon the next waiting message is published after a program
//     hands the mailbox back by writing the public fields itself;
//  3. a message left untaken for 5 s: wake-ups per second of the device
//     link's threads and their CPU share of one core;
//  4. the serial acknowledgement check waiting on a silent module (a pty):
//     CPU share of one core during a 3-s wait.
// Usage: bench_recv_latency [EXCHANGES [BULK_MB]] (default 1000 32).
#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <poll.h>
#include <pty.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "lumo_net.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr const char* kAddress = "127.0.2.250";
const unsigned char kFrame[8] = {0x55, 0xAA, 0x1F, 0xE0, 0x01, 0xFE, 0x42, 0x00};
const unsigned char kAck[5] = {0x00, 0xFF, 0x5A, 0xA5, 0x01};

double CpuMs(int who) {
    rusage ru{};
    getrusage(who, &ru);
    return (ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) * 1e3 +
           (ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e3;
}

double Us(Clock::time_point a, Clock::time_point b) {
    return std::chrono::duration<double, std::micro>(b - a).count();
}

bool RecvExact(int fd, unsigned char* buf, size_t n) {
    for (size_t got = 0; got < n;) {
        const ssize_t r = recv(fd, buf + got, n - got, 0);
        if (r <= 0)
            return false;
        got += size_t(r);
    }
    return true;
}

// Context switches of every thread of this process but the caller.
long OtherThreadSwitches() {
    const long self = syscall(SYS_gettid);
    long total = 0;
    DIR* d = opendir("/proc/self/task");
    while (dirent* e = d ? readdir(d) : nullptr) {
        if (e->d_name[0] == '.' || std::atol(e->d_name) == self)
            continue;
        std::ifstream status(std::string("/proc/self/task/") + e->d_name + "/status");
        for (std::string line; std::getline(status, line);)
            if (line.find("ctxt_switches:") != std::string::npos)
                total += std::atol(line.c_str() + line.find(':') + 1);
    }
    if (d)
        closedir(d);
    return total;
}

// The module: answers each frame with an acknowledgement, noting when it
// called send(); or sends `bulk` bytes as fast as the socket takes them.
struct Module {
    int fd = -1;
    std::atomic<int64_t> sentAt{0}; // steady-clock ns of the last answer's send() call
    std::atomic<double> cpuMs{0};   // this thread's CPU while it served
    std::thread thread;

    void Answer(int exchanges) {
        thread = std::thread([this, exchanges] {
            const double cpu0 = CpuMs(RUSAGE_THREAD);
            unsigned char frame[8];
            for (int i = 0; i < exchanges && RecvExact(fd, frame, sizeof frame); ++i) {
                sentAt = Clock::now().time_since_epoch().count();
                send(fd, kAck, sizeof kAck, MSG_NOSIGNAL);
            }
            cpuMs = CpuMs(RUSAGE_THREAD) - cpu0;
        });
    }
    void Flood(size_t bulk) {
        thread = std::thread([this, bulk] {
            std::vector<unsigned char> block(65536, 0x33);
            for (size_t sent = 0; sent < bulk;) {
                const ssize_t r = send(fd, block.data(), std::min(block.size(), bulk - sent), MSG_NOSIGNAL);
                if (r <= 0)
                    return;
                sent += size_t(r);
            }
        });
    }
    void Join() {
        if (thread.joinable())
            thread.join();
    }
    double SinceSent() const { return Us(Clock::time_point(Clock::duration(sentAt.load())), Clock::now()); }
};

struct Figures {
    std::vector<double> answer, roundTrip;
    double cpuMs = 0;
    double Median(std::vector<double>& v) {
        std::sort(v.begin(), v.end());
        return v[v.size() / 2];
    }
    double P99(std::vector<double>& v) {
        std::sort(v.begin(), v.end());
        return v[v.size() * 99 / 100];
    }
};

// One block of exchanges; `exchange` sends the frame and returns once the answer is in hand.
template <class Exchange> bool Run(Module& module, int n, Figures& f, Exchange exchange) {
    module.Answer(n);
    const double cpu0 = CpuMs(RUSAGE_SELF);
    for (int i = 0; i < n; ++i) {
        const auto t0 = Clock::now();
        if (!exchange())
            return false;
        f.roundTrip.push_back(Us(t0, Clock::now()));
        f.answer.push_back(module.SinceSent());
    }
    module.Join();
    f.cpuMs += CpuMs(RUSAGE_SELF) - cpu0 - module.cpuMs;
    return true;
}

int Accept(int listener) {
    pollfd p{listener, POLLIN, 0};
    return poll(&p, 1, 5000) == 1 ? accept4(listener, nullptr, nullptr, SOCK_CLOEXEC) : -1;
}

int PlainConnect() {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(LUMO_MODULE_PORT);
    inet_pton(AF_INET, kAddress, &a.sin_addr);
    return connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 ? fd : -1;
}

// Serial: Check_Return on a pty whose module end stays silent.
void SerialWait() {
    int master = -1, slave = -1;
    char path[128];
    if (openpty(&master, &slave, path, nullptr, nullptr) != 0) {
        std::perror("openpty");
        return;
    }
    termios raw{};
    tcgetattr(slave, &raw);
    cfmakeraw(&raw);
    tcsetattr(slave, TCSANOW, &raw);
    setenv("LUMO_COM99", path, 1);
    CLumo_Net net;
    if (net.OpenCOM_IPConverter(99, 115200) != 1) {
        std::fprintf(stderr, "serial open failed\n");
        return;
    }
    const double cpu0 = CpuMs(RUSAGE_SELF);
    const auto t0 = Clock::now();
    const int rc = net.Check_Return(CHECK_ACK, 3, 3000);
    const double wallMs = Us(t0, Clock::now()) / 1e3;
    const double cpu = CpuMs(RUSAGE_SELF) - cpu0;
    std::printf(
        "serial acknowledgement wait, silent module: %.0f ms of CPU over %.0f ms (result %d): %.2f %% "
        "of a core (goal under 2 %%)\n",
        cpu, wallMs, rc, 100.0 * cpu / wallMs);
    net.CloseCOM();
    close(master);
    close(slave);
}

} // namespace

int main(int argc, char** argv) {
    const int exchanges = argc > 1 ? std::atoi(argv[1]) : 1000;
    const size_t bulk = size_t(argc > 2 ? std::atoi(argv[2]) : 32) << 20;
    if (exchanges < 100) {
        std::fprintf(stderr, "usage: bench_recv_latency [EXCHANGES >= 100 [BULK_MB]]\n");
        return 2;
    }
    const int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int one = 1;
    setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(LUMO_MODULE_PORT);
    inet_pton(AF_INET, kAddress, &a.sin_addr);
    if (bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(listener, 4) != 0) {
        std::perror("listen");
        return 1;
    }

    // The library's link (greeted, style 0x20: no mode query) and a plain one.
    Module lib, plain;
    std::thread greeter([&] {
        lib.fd = Accept(listener);
        const unsigned char greeting[7] = {1, 0x20, 0, 0, 0, 0, 0};
        send(lib.fd, greeting, sizeof greeting, MSG_NOSIGNAL);
    });
    CLumo_Net net;
    wchar_t address[] = L"127.0.2.250";
    unsigned char reply[3];
    const int rc = net.NetConnect_IPEPC(address, reply, 1);
    greeter.join();
    const int client = PlainConnect();
    plain.fd = Accept(listener);
    if (rc != 1 || client < 0 || plain.fd < 0) {
        std::fprintf(stderr, "connect failed\n");
        return 1;
    }

    // 1. Acknowledged exchanges, in alternating blocks of 100.
    Figures viaLib, viaPlain;
    for (int done = 0; done < exchanges; done += 100) {
        const bool ok = Run(plain, 100, viaPlain,
                            [&] {
                                unsigned char ack[5];
                                return send(client, kFrame, sizeof kFrame, MSG_NOSIGNAL) == 8 &&
                                       RecvExact(client, ack, sizeof ack);
                            }) &&
                        Run(lib, 100, viaLib, [&] {
                            net.m_Client.SetRecvMode(RECV_COUNT, 5);
                            net.Peltra_Senddata(1, const_cast<unsigned char*>(kFrame), sizeof kFrame);
                            return net.Check_Return(CHECK_ACK, 1, 10000) == 1;
                        });
        if (!ok) {
            std::fprintf(stderr, "exchange failed\n");
            return 1;
        }
    }
    const int n = int(viaLib.answer.size());
    const double libAnswer = viaLib.Median(viaLib.answer), plainAnswer = viaPlain.Median(viaPlain.answer);
    const double libTrip = viaLib.Median(viaLib.roundTrip), plainTrip = viaPlain.Median(viaPlain.roundTrip);
    const double libCpu = viaLib.cpuMs * 1e3 / n, plainCpu = viaPlain.cpuMs * 1e3 / n;
    std::printf("acknowledged exchange, %d each          library      plain socket  ratio (goal <= 5)\n", n);
    std::printf("  answer, median (us)                %10.1f  %12.1f  %8.1f\n", libAnswer, plainAnswer,
                libAnswer / plainAnswer);
    std::printf("  answer, p99 (us)                   %10.1f  %12.1f  %8.1f\n", viaLib.P99(viaLib.answer),
                viaPlain.P99(viaPlain.answer), viaLib.P99(viaLib.answer) / viaPlain.P99(viaPlain.answer));
    std::printf("  round trip, median (us)            %10.1f  %12.1f  %8.1f\n", libTrip, plainTrip,
                libTrip / plainTrip);
    std::printf("  CPU per exchange (us)              %10.1f  %12.1f  %8.1f\n", libCpu, plainCpu,
                libCpu / plainCpu);

    // 2. Bulk.
    net.m_Client.SetRecvMode(RECV_IDLE, 1000);
    lib.Flood(bulk);
    auto t0 = Clock::now();
    for (size_t got = 0; got < bulk;) {
        if (net.m_RecvReady.load(std::memory_order_acquire) != 1) {
            std::this_thread::yield();
            continue;
        }
        got += size_t(std::max(0, net.m_RecvLen.load(std::memory_order_acquire)));
        net.ClearMailbox();
    }
    const double libMBs = bulk / Us(t0, Clock::now());
    lib.Join();
    plain.Flood(bulk);
    t0 = Clock::now();
    std::vector<unsigned char> chunk(LUMO_CHUNK_SIZE);
    for (size_t got = 0; got < bulk;) {
        const ssize_t r = recv(client, chunk.data(), chunk.size(), 0);
        if (r <= 0)
            break;
        got += size_t(r);
    }
    const double plainMBs = bulk / Us(t0, Clock::now());
    plain.Join();
    std::printf("bulk, %zu MB: %.0f MB/s through the receive thread, %.0f MB/s plain 4096-byte receives: "
                "%.3f of plain (goal >= 0.25)\n",
                bulk >> 20, libMBs, plainMBs, libMBs / plainMBs);

    // 2b. A program that hands the mailbox back by writing the fields itself,
    // while the next message already waits in the socket.
    auto lowerFlag = [&] {
        net.m_RecvLen.store(0, std::memory_order_relaxed);
        net.m_RecvSource.store(nullptr, std::memory_order_relaxed);
        net.m_RecvReady.store(0, std::memory_order_release);
    };
    auto waitPublished = [&] {
        while (net.m_RecvReady.load(std::memory_order_acquire) != 1)
            std::this_thread::yield();
    };
    // Only rounds in which the flag went down within 10 ms of the publication
    // count: a program held off the processor longer has left it untaken.
    std::vector<double> direct;
    int late = 0;
    for (int i = 0; i < 200; ++i) {
        net.m_Client.SetRecvMode(RECV_COUNT, 5);
        send(lib.fd, kAck, sizeof kAck, MSG_NOSIGNAL);
        waitPublished();
        const auto published = Clock::now();
        send(lib.fd, kAck, sizeof kAck, MSG_NOSIGNAL);
        std::this_thread::sleep_for(std::chrono::microseconds(300));
        const auto lowered = Clock::now();
        lowerFlag();
        waitPublished();
        if (lowered - published < std::chrono::milliseconds(10))
            direct.push_back(Us(lowered, Clock::now()));
        else
            ++late;
        lowerFlag();
    }
    std::sort(direct.begin(), direct.end());
    if (!direct.empty())
        std::printf(
            "hand-back by writing the fields, next message waiting: published %.0f us later (median), "
            "%.0f us (p95), %.0f us (max) (goal within 1000 us; %d of 200 rounds late)\n",
            direct[direct.size() / 2], direct[direct.size() * 95 / 100], direct.back(), late);

    // 3. A message nobody takes.
    net.m_Client.SetRecvMode(RECV_COUNT, 5);
    send(lib.fd, kAck, sizeof kAck, MSG_NOSIGNAL);
    while (net.m_RecvReady.load(std::memory_order_acquire) != 1)
        std::this_thread::yield();
    const long switches0 = OtherThreadSwitches();
    const double cpu0 = CpuMs(RUSAGE_SELF);
    std::this_thread::sleep_for(std::chrono::seconds(5));
    const double idleCpu = CpuMs(RUSAGE_SELF) - cpu0;
    const long switches = OtherThreadSwitches() - switches0;
    std::printf("message left untaken 5 s: %.1f wake-ups/s (goal <= 50), %.3f %% of a core (goal < 0.2 %%)\n",
                switches / 5.0, idleCpu / 50.0);

    net.m_Client.ShutDown();
    close(client);
    close(lib.fd);
    close(plain.fd);
    close(listener);

    // 4. Serial.
    SerialWait();
    return 0;
}
