// Answers in pieces and waits that must end, through the device link:
//  - a module that sends every byte 50 ms apart, and the simulator with
//    `--misbehave chunks` (2-byte pieces 20 ms apart): COUNT exchanges of
//    each kind (acknowledged frames, greetings of both variants, the mode
//    query), spread over PARALLEL links (at most 16 to the simulator);
//    prints the wrong answers of each;
//  - a black-hole address (a listener whose accept queue is full): how long
//    NetConnect_IPEPC takes to fail (goal 20 +- 2 s), its result, link kind,
//    boxes and the tap's error;
//  - a module that never reads: how long the send that no longer goes out
//    takes to fail (goal about 10 s) and the box it shows.
// Usage: bench_slow_module [COUNT [PARALLEL]] (default 1000 50). Figures only.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "frames.h"
#include "lumo_net.h"
#include "sim_process.h"

namespace {

using Bytes = std::vector<unsigned char>;
using Clock = std::chrono::steady_clock;

const Bytes kModeReply = {0x55, 0xAA, 0x0F, 0xF0, 0x08, 0xF7, 'z', 0, 0, 0, 0, 0, 0};

double Seconds(Clock::time_point since) {
    return std::chrono::duration<double>(Clock::now() - since).count();
}

int Listen(const std::string& ip, int backlog) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(LUMO_MODULE_PORT);
    inet_pton(AF_INET, ip.c_str(), &a.sin_addr);
    if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(fd, backlog) != 0) {
        std::perror(ip.c_str());
        std::exit(1);
    }
    return fd;
}

bool ReadExact(int fd, size_t n) {
    unsigned char buf[64];
    while (n > 0) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 15000) <= 0)
            return false;
        const ssize_t r = recv(fd, buf, n < sizeof buf ? n : sizeof buf, 0);
        if (r <= 0)
            return false;
        n -= size_t(r);
    }
    return true;
}

void Trickle(int fd, const Bytes& bytes) {
    for (unsigned char b : bytes) {
        send(fd, &b, 1, MSG_NOSIGNAL);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

Bytes Greeting(bool x, unsigned char id, int style) {
    if (!x)
        return {id, static_cast<unsigned char>(style), 0, 0, 0, 0, 0};
    Bytes g(17, 0);
    g[12] = id;
    g[14] = static_cast<unsigned char>(style - 26);
    g[16] = 7;
    return g;
}

// One kind of exchange on one link: returns false for a wrong answer.
enum Kind { ACK, GREETING, X_GREETING, MODE_QUERY };
const char* const kKindNames[] = {"acknowledged frames", "greetings", "X-mode greetings", "mode queries"};

bool Connect(CLumo_Net& net, const std::string& ip, Kind kind) {
    net.m_bXMode = kind == X_GREETING;
    std::wstring addr(ip.begin(), ip.end());
    unsigned char out[3];
    const int rc = net.NetConnect_IPEPC(addr.data(), out, 1);
    const int style = kind == MODE_QUERY ? 17 : kind == X_GREETING ? 30 : 5;
    bool right = rc == 1 && net.m_ConnectToPcID == 0 && net.m_ToPCStyle == style;
    if (kind == X_GREETING)
        right = right && net.m_SocketID == 7;
    if (kind == MODE_QUERY)
        right = right && net.m_ModeChar == 'z';
    return right;
}

bool Acknowledged(CLumo_Net& net, unsigned char status) {
    unsigned char frame[lumo::DEVICE_FRAME_LEN];
    lumo::DeviceCommandFrame(frame, sizeof frame, 0, 0x42);
    net.m_Client.SetRecvMode(RECV_COUNT, lumo::ACK_FRAME_LEN);
    net.Peltra_Senddata(0, frame, sizeof frame);
    return net.Check_Return(CHECK_ACK, 0, 10000) == status;
}

// COUNT exchanges of `kind` over PARALLEL links on 127.0.4.<base + i>, each
// link's module played by this program, sending a byte every 50 ms.
int TrickleRun(Kind kind, int count, int parallel, int base) {
    std::atomic<int> wrong{0};
    std::vector<std::thread> workers;
    for (int w = 0; w < parallel; ++w) {
        workers.emplace_back([&, w] {
            const std::string ip = "127.0.4." + std::to_string(base + w);
            const int listener = Listen(ip, 4);
            const int mine = count / parallel + (w < count % parallel ? 1 : 0);
            CLumo_Net net;
            std::thread module([&] {
                const int rounds = kind == ACK ? 1 : mine;
                for (int i = 0; i < rounds; ++i) {
                    const int fd = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
                    if (fd < 0)
                        return;
                    const int style = kind == MODE_QUERY ? 17 : kind == X_GREETING ? 30 : 5;
                    if (kind == ACK) {
                        const Bytes g = Greeting(false, 0, 5);
                        send(fd, g.data(), g.size(), MSG_NOSIGNAL);
                        for (int k = 0; k < mine && ReadExact(fd, lumo::DEVICE_FRAME_LEN); ++k)
                            Trickle(fd, {0x00, 0xFF, 0x5A, 0xA5, static_cast<unsigned char>(1 + k % 3)});
                    } else {
                        Trickle(fd, Greeting(kind == X_GREETING, 0, style));
                        if (kind == MODE_QUERY && ReadExact(fd, lumo::DEVICE_FRAME_LEN))
                            Trickle(fd, kModeReply);
                        ReadExact(fd, 1); // until the link closes
                    }
                    close(fd);
                }
            });
            if (kind == ACK) {
                if (!Connect(net, ip, GREETING))
                    wrong += mine;
                else
                    for (int k = 0; k < mine; ++k)
                        wrong += !Acknowledged(net, static_cast<unsigned char>(1 + k % 3));
            } else {
                for (int i = 0; i < mine; ++i) {
                    wrong += !Connect(net, ip, kind);
                    net.m_Client.ShutDown();
                }
            }
            net.m_Client.ShutDown();
            module.join();
            close(listener);
        });
    }
    for (auto& t : workers)
        t.join();
    return wrong;
}

// The same against the simulator in `chunks` mode. At most 16 links at once:
// more simultaneous connects than its listen backlog may be dropped by the
// system before the simulator sees them.
int SimulatorRun(Kind kind, int count, int parallel, const std::string& ip) {
    parallel = std::min(parallel, 16);
    simtest::ChildProcess sim;
    std::vector<std::string> args = {"--address", ip, "--tcp", "--id", "0", "--misbehave", "chunks"};
    if (kind == X_GREETING)
        args.insert(args.end(), {"--xmode", "--style", "30", "--socket-id", "7"});
    else
        args.insert(args.end(), {"--style", kind == MODE_QUERY ? "17" : "5"});
    if (!sim.Start(LUMO_MODULE_SIM, args)) {
        std::fprintf(stderr, "simulator did not start\n");
        std::exit(1);
    }
    std::atomic<int> wrong{0};
    std::vector<std::thread> workers;
    for (int w = 0; w < parallel; ++w) {
        workers.emplace_back([&, w] {
            const int mine = count / parallel + (w < count % parallel ? 1 : 0);
            CLumo_Net net;
            if (kind == ACK) {
                if (!Connect(net, ip, GREETING))
                    wrong += mine;
                else
                    for (int k = 0; k < mine; ++k)
                        wrong += !Acknowledged(net, 1);
            } else {
                for (int i = 0; i < mine; ++i) {
                    wrong += !Connect(net, ip, kind);
                    net.m_Client.ShutDown();
                }
            }
        });
    }
    for (auto& t : workers)
        t.join();
    return wrong;
}

void BlackHole() {
    const std::string ip = "127.0.4.250";
    const int listener = Listen(ip, 0);
    // Fill the accept queue: connects that complete until one does not.
    std::vector<int> fillers;
    for (int i = 0; i < 8; ++i) {
        const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(LUMO_MODULE_PORT);
        inet_pton(AF_INET, ip.c_str(), &a.sin_addr);
        connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
        fillers.push_back(fd);
        pollfd p{fd, POLLOUT, 0};
        int err = 0;
        socklen_t len = sizeof err;
        if (poll(&p, 1, 300) == 0 || (getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) == 0 && err != 0))
            break;
    }
    std::atomic<int> boxes{0}, tapError{0};
    LumoMessageSink old = ExchangeLumoMessageSink([&](const std::wstring&, const std::wstring&) { ++boxes; });
    CLumo_Net net;
    net.m_hTap = [&](const LumoTapRecord& r) {
        if (r.event == LumoTapEvent::ConnectFailed)
            tapError = r.error;
    };
    std::wstring addr(ip.begin(), ip.end());
    unsigned char out[3];
    const auto t0 = Clock::now();
    const int rc = net.NetConnect_IPEPC(addr.data(), out, 0);
    std::printf(
        "black-hole connect: failed after %.2f s (goal 20 +- 2 s): result %d, link kind %d, %d boxes, "
        "tap error %s\n",
        Seconds(t0), rc, net.m_LinkKind, boxes.load(), tapError == ETIMEDOUT ? "ETIMEDOUT" : "other");
    ExchangeLumoMessageSink(std::move(old));
    for (int fd : fillers)
        close(fd);
    close(listener);
}

void NeverReads() {
    const std::string ip = "127.0.4.251";
    const int listener = Listen(ip, 4);
    int module = -1;
    std::thread accept([&] {
        module = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        const Bytes g = Greeting(false, 1, 5);
        send(module, g.data(), g.size(), MSG_NOSIGNAL);
    });
    std::mutex mu;
    std::wstring box;
    LumoMessageSink old = ExchangeLumoMessageSink([&](const std::wstring& text, const std::wstring&) {
        std::lock_guard lock(mu);
        box = text;
    });
    CLumo_Net net;
    std::wstring addr(ip.begin(), ip.end());
    unsigned char out[3];
    const int rc = net.NetConnect_IPEPC(addr.data(), out, 0);
    accept.join();
    std::vector<unsigned char> block(1 << 20, 0x55);
    double longest = 0;
    int blocks = 0;
    for (; rc == 1 && blocks < 256; ++blocks) {
        const auto t0 = Clock::now();
        net.Peltra_Senddata(0, block.data(), unsigned(block.size()));
        longest = Seconds(t0);
        std::lock_guard lock(mu);
        if (!box.empty())
            break;
    }
    std::lock_guard lock(mu);
    std::printf(
        "module that never reads: after %d MB the send failed in %.2f s (goal about 10 s) with the box "
        "\"%ls\"\n",
        blocks, longest, box.c_str());
    ExchangeLumoMessageSink(std::move(old));
    net.m_Client.ShutDown();
    close(module);
    close(listener);
}

} // namespace

int main(int argc, char** argv) {
    const int count = argc > 1 ? std::atoi(argv[1]) : 1000;
    const int parallel = argc > 2 ? std::atoi(argv[2]) : 50;
    if (count <= 0 || parallel <= 0 || parallel > 100) {
        std::fprintf(stderr, "usage: bench_slow_module [COUNT [PARALLEL <= 100]]\n");
        return 2;
    }
    SetLumoMessageSink([](const std::wstring&, const std::wstring&) {}); // mode 1 shows none anyway
    for (Kind kind : {ACK, GREETING, X_GREETING, MODE_QUERY}) {
        auto t0 = Clock::now();
        const int trickled = TrickleRun(kind, count, parallel, 1 + 100 * (kind % 2));
        const double trickleSeconds = Seconds(t0);
        t0 = Clock::now();
        const std::string ip = "127.0.5." + std::to_string(10 + kind);
        const int chunked = SimulatorRun(kind, count, parallel, ip);
        std::printf("%d %s: %d wrong with a byte every 50 ms (%.1f s), %d wrong against the simulator in "
                    "chunks (%.1f s)\n",
                    count, kKindNames[kind], trickled, trickleSeconds, chunked, Seconds(t0));
        std::fflush(stdout);
    }
    BlackHole();
    NeverReads();
    return 0;
}
