// bench_exchange: one acknowledged exchange through the exported operations
// of libCtrl_Lumo.so, Skarn_Disconnect (the 8-byte disconnect frame out, the
// 5-byte AckFrame back, the library's own mode set, send, acknowledgement
// check and hand-back), beside a plain blocking socket that sends the same
// 8 bytes and receives the 5-byte answer, both against one lumo-module-sim on
// 127.0.48.2 in the same run, in alternating blocks of 100. Prints the median
// and p99 latency and the CPU time of this process per exchange (the
// library's receive thread included; the simulator is another process) and
// the ratios library / plain socket (goal: at most 2 for latency and CPU).
//
// usage: bench_exchange [EXCHANGES]   (default 20000 per way)
#include <ctrl_lumo/lumo_net.h>

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "sim_process.h"

// The library's boxes would go to standard error; a failed exchange is
// reported by its result anyway.
extern "C" void Lumo_MessageSink(const wchar_t*, const wchar_t*) {}

namespace {

constexpr const char* kAddress = "127.0.48.2";
constexpr int kBlock = 100;
using Clock = std::chrono::steady_clock;

double CpuUs() {
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    return (ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) * 1e6 + ru.ru_utime.tv_usec + ru.ru_stime.tv_usec;
}

struct Figures {
    std::vector<double> us;
    double cpuUs = 0;
    double At(double q) {
        std::sort(us.begin(), us.end());
        return us[std::min(us.size() - 1, size_t(double(us.size()) * q))];
    }
    double CpuPer() const { return cpuUs / double(us.size()); }
};

template <typename Exchange> bool Block(Figures& f, Exchange exchange) {
    const double cpu0 = CpuUs();
    for (int i = 0; i < kBlock; ++i) {
        const auto t0 = Clock::now();
        if (!exchange())
            return false;
        f.us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
    }
    f.cpuUs += CpuUs() - cpu0;
    return true;
}

} // namespace

int main(int argc, char** argv) {
    const int exchanges = argc > 1 ? std::atoi(argv[1]) : 20000;
    if (exchanges < kBlock) {
        std::fprintf(stderr, "usage: bench_exchange [EXCHANGES >= %d]\n", kBlock);
        return 2;
    }
    simtest::ChildProcess sim;
    if (!sim.Start(LUMO_MODULE_SIM, {"--address", kAddress, "--tcp", "--id", "1"})) {
        std::fprintf(stderr, "bench_exchange: the simulator did not start on %s\n", kAddress);
        return 1;
    }

    CLumo_Net net;
    wchar_t address[] = L"127.0.48.2";
    unsigned char reply[3];
    if (net.NetConnect_IPEPC(address, reply, 1) != 1) {
        std::fprintf(stderr, "bench_exchange: the library did not connect to %s\n", kAddress);
        return 1;
    }
    simtest::Fd plain = simtest::TcpConnect(kAddress, LUMO_MODULE_PORT);
    if (!plain.Ok() || simtest::ReadCount(plain.Get(), 7).size() != 7) {
        std::fprintf(stderr, "bench_exchange: no greeting on the plain socket\n");
        return 1;
    }
    const simtest::Bytes frame = {0x55, 0xAA, 0x1F, 0xE0, 0x01, 0xFE, 0x17, 0x00};
    auto viaPlain = [&] {
        unsigned char ack[5];
        if (send(plain.Get(), frame.data(), frame.size(), MSG_NOSIGNAL) != ssize_t(frame.size()))
            return false;
        for (size_t got = 0; got < sizeof ack;) {
            const ssize_t r = recv(plain.Get(), ack + got, sizeof ack - got, 0);
            if (r <= 0)
                return false;
            got += size_t(r);
        }
        return ack[4] == 0x01;
    };
    auto viaLibrary = [&] { return net.Skarn_Disconnect(1) == 1; };

    for (int i = 0; i < 2 * kBlock; ++i) // warm-up
        if (!viaPlain() || !viaLibrary()) {
            std::fprintf(stderr, "bench_exchange: an exchange failed during the warm-up\n");
            return 1;
        }
    Figures lib, sock;
    for (int done = 0; done < exchanges; done += kBlock)
        if (!Block(sock, viaPlain) || !Block(lib, viaLibrary)) {
            std::fprintf(stderr, "bench_exchange: an exchange failed\n");
            return 1;
        }
    net.m_ToPCStyle = 0; // close without another handshake
    net.CloseNet();

    std::printf("acknowledged exchange (8-byte frame, 5-byte answer) with lumo-module-sim on %s, %zu each\n",
                kAddress, lib.us.size());
    std::printf("                               Skarn_Disconnect  plain socket   ratio (goal <= 2)\n");
    const double libMedian = lib.At(0.5), sockMedian = sock.At(0.5);
    std::printf("  latency, median (us)         %12.1f  %12.1f  %8.2f\n", libMedian, sockMedian,
                libMedian / sockMedian);
    std::printf("  latency, p99 (us)            %12.1f  %12.1f  %8.2f\n", lib.At(0.99), sock.At(0.99),
                lib.At(0.99) / sock.At(0.99));
    std::printf("  CPU per exchange (us)        %12.1f  %12.1f  %8.2f\n", lib.CpuPer(), sock.CpuPer(),
                lib.CpuPer() / sock.CpuPer());
    return 0;
}
