// lumo-module-sim playing a whole controller: one process on 127.0.100.0/22,
// 1,024 modules with TCP and UDP sides.
//  - start-up: from spawning the process to its "ready", and to every one of
//    the 1,024 addresses having accepted a connection and sent its greeting
//    (goal: under 1 s); greetings with a wrong id are counted;
//  - round trips: COUNT exchanges of a text frame over TCP and of a datagram
//    over UDP with one module of the big process (its 1,024 greeted
//    connections still open) and, alternately, with a single-module process
//    started in the same run: median and 99th percentile, and their ratio.
// Usage: bench_module_sim_range [COUNT] (default 2000). Figures only.
#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "frames.h"
#include "sim_process.h"

using namespace simtest;

namespace {

using Clock = std::chrono::steady_clock;

constexpr int MODULES = 1024;
const std::string SINGLE = "127.0.104.1";
const std::string BIG = "127.0.100.0/22";
constexpr int PROBE = 517; // the big process's module used for round trips: 127.0.102.5, id 6

std::string BigIp(int k) {
    return "127.0." + std::to_string(100 + k / 256) + "." + std::to_string(k % 256);
}

double Ms(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double, std::milli>(to - from).count();
}

// Connects to every module of the big process at once and reads each greeting;
// the connections, and how many greetings were wrong or missing.
std::vector<Fd> GreetAll(int* wrong) {
    std::vector<Fd> links;
    std::vector<Bytes> got(MODULES);
    std::vector<pollfd> waiting;
    for (int k = 0; k < MODULES; ++k) {
        Fd fd(socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
        const sockaddr_in sa = Addr(BigIp(k), 20036);
        if (connect(fd.Get(), reinterpret_cast<const sockaddr*>(&sa), sizeof sa) < 0 &&
            errno != EINPROGRESS) {
            std::perror(BigIp(k).c_str());
            std::exit(1);
        }
        waiting.push_back({fd.Get(), POLLIN, 0});
        links.push_back(std::move(fd));
    }
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    size_t open = waiting.size();
    while (open > 0 && Clock::now() < deadline) {
        if (poll(waiting.data(), waiting.size(), 1000) <= 0)
            continue;
        for (size_t k = 0; k < waiting.size(); ++k) {
            if (!waiting[k].revents)
                continue;
            uint8_t buf[64];
            const ssize_t n = read(waiting[k].fd, buf, sizeof buf);
            if (n > 0)
                got[k].insert(got[k].end(), buf, buf + n);
            if (n <= 0 || got[k].size() >= 7) {
                waiting[k].fd = -1; // poll skips it from now on
                --open;
            }
        }
    }
    *wrong = 0;
    for (int k = 0; k < MODULES; ++k)
        *wrong += got[size_t(k)] != Bytes{uint8_t((1 + k) % 256), 0x11, 0, 0, 0, 0, 0};
    return links;
}

struct Figures {
    std::vector<double> us;
    int failed = 0;
    double At(double q) {
        std::sort(us.begin(), us.end());
        return us.empty() ? 0 : us[std::min(us.size() - 1, size_t(q * double(us.size())))];
    }
};

void TcpExchange(int fd, const Bytes& frame, Figures* f) {
    static const Bytes answer = B("OK: command abc done\r\n");
    const auto t = Clock::now();
    const bool ok = SendAll(fd, frame) && ReadCount(fd, answer.size()) == answer;
    f->us.push_back(Ms(t, Clock::now()) * 1000);
    f->failed += !ok;
}

void UdpExchange(int fd, Figures* f) {
    static const Bytes answer = B("OK: command abc done\r\n");
    const auto t = Clock::now();
    const bool ok = send(fd, "abc", 4, 0) == 4 && ReadSome(fd, 5000) == answer;
    f->us.push_back(Ms(t, Clock::now()) * 1000);
    f->failed += !ok;
}

void Report(const char* what, int count, Figures& single, Figures& big) {
    const double s50 = single.At(0.5), b50 = big.At(0.5);
    std::printf("%s round trip, %d exchanges each: single module median %.1f us, p99 %.1f us; module of %d "
                "median %.1f us, p99 %.1f us; median ratio %.2f; failed %d + %d\n",
                what, count, s50, single.At(0.99), MODULES, b50, big.At(0.99), s50 > 0 ? b50 / s50 : 0,
                single.failed, big.failed);
}

Bytes TextFrame(int id) {
    Bytes b(64);
    b.resize(lumo::ZCommandFrame(b.data(), b.size(), id, u"abc"));
    return b;
}

} // namespace

int main(int argc, char** argv) {
    const int count = argc > 1 ? std::max(1, std::atoi(argv[1])) : 2000;
    rlimit rl{};
    getrlimit(RLIMIT_NOFILE, &rl);
    rl.rlim_cur = rl.rlim_max;
    setrlimit(RLIMIT_NOFILE, &rl);

    ChildProcess single;
    if (!single.Start(LUMO_MODULE_SIM, {"--address", SINGLE, "--tcp", "--udp"})) {
        std::fprintf(stderr, "the single-module simulator did not start on %s\n", SINGLE.c_str());
        return 1;
    }
    const auto t0 = Clock::now();
    ChildProcess big;
    if (!big.Start(LUMO_MODULE_SIM, {"--address", BIG, "--tcp", "--udp", "--id-step", "1"})) {
        std::fprintf(stderr, "the simulator did not start on %s\n", BIG.c_str());
        return 1;
    }
    const auto ready = Clock::now();
    int wrong = 0;
    std::vector<Fd> links = GreetAll(&wrong);
    const auto greeted = Clock::now();
    std::printf("start-up of %d modules (TCP and UDP) on %s: ready after %.1f ms, all greeted after %.1f ms "
                "(goal under 1000 ms); wrong or missing greetings: %d\n",
                MODULES, BIG.c_str(), Ms(t0, ready), Ms(t0, greeted), wrong);

    Fd one = TcpConnect(SINGLE, 20036);
    if (!one.Ok() || ReadCount(one.Get(), 7).size() != 7) {
        std::fprintf(stderr, "no greeting from %s\n", SINGLE.c_str());
        return 1;
    }
    const int probeFd = links[PROBE].Get();
    Figures tcpSingle, tcpBig, udpSingle, udpBig;
    // Each exchange in turn with either process, which one first alternating.
    for (int i = 0; i < count; ++i) {
        for (int j = 0; j < 2; ++j) {
            if ((i + j) % 2)
                TcpExchange(one.Get(), TextFrame(1), &tcpSingle);
            else
                TcpExchange(probeFd, TextFrame((1 + PROBE) % 256), &tcpBig);
        }
    }
    Report("TCP", count, tcpSingle, tcpBig);
    Fd uSingle = UdpSocketTo(SINGLE, 20037), uBig = UdpSocketTo(BigIp(PROBE), 20037);
    for (int i = 0; i < count; ++i)
        for (int j = 0; j < 2; ++j)
            UdpExchange((i + j) % 2 ? uSingle.Get() : uBig.Get(), (i + j) % 2 ? &udpSingle : &udpBig);
    Report("UDP", count, udpSingle, udpBig);
    links.clear();
    const auto stopping = Clock::now();
    const int rc = big.Stop();
    std::printf("stop of the %d modules: exit status %d after %.1f ms\n", MODULES, rc,
                Ms(stopping, Clock::now()));
    return 0;
}
