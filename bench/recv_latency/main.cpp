// Receive-thread figures on loopback:
//  - latency from the module's last acknowledgement byte written (send()
//    returned) to the acknowledgement's publication in the mailbox, over
//    10,000 acknowledgements: median and p99;
//  - process CPU time used while a published message waits untaken for 5 s
//    (the thread's 1-ms wait), beside the same 5 s with the thread blocked
//    in its receive.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

#include "lumo_net.h"

namespace {

constexpr const char *kAddress = "127.0.2.250";
constexpr int kAcks = 10000;
const unsigned char kAck[5] = {0x00, 0xFF, 0x5A, 0xA5, 0x01};

double ProcessCpuMs() {
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    return (ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) * 1e3 +
           (ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e3;
}

void Take(CLumo_Net &net) {
    net.m_RecvLen.store(0, std::memory_order_relaxed);
    net.m_RecvSource.store(nullptr, std::memory_order_relaxed);
    net.m_RecvReady.store(0, std::memory_order_release);
}

bool WaitReady(CLumo_Net &net) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (net.m_RecvReady.load(std::memory_order_acquire) != 1)
        if (std::chrono::steady_clock::now() > end)
            return false;
    return true;
}

} // namespace

int main() {
    const int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int one = 1;
    setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(LUMO_MODULE_PORT);
    inet_pton(AF_INET, kAddress, &a.sin_addr);
    if (bind(listener, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 || listen(listener, 1) != 0) {
        std::perror("listen");
        return 1;
    }

    CLumo_Net net;
    int module = -1;
    std::thread greeter([&] {
        module = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        const unsigned char greeting[7] = {1, 0x20, 0, 0, 0, 0, 0};
        send(module, greeting, sizeof greeting, MSG_NOSIGNAL);
    });
    wchar_t address[] = L"127.0.2.250";
    unsigned char reply[3];
    const int rc = net.NetConnect_IPEPC(address, reply, 1);
    greeter.join();
    if (rc != 1) {
        std::fprintf(stderr, "connect failed (%d)\n", rc);
        return 1;
    }

    std::vector<double> us;
    us.reserve(kAcks);
    for (int i = 0; i < kAcks; ++i) {
        net.m_Client.SetRecvMode(RECV_COUNT, 5);
        send(module, kAck, sizeof kAck, MSG_NOSIGNAL);
        const auto written = std::chrono::steady_clock::now();
        if (!WaitReady(net)) {
            std::fprintf(stderr, "acknowledgement %d not published\n", i);
            return 1;
        }
        const auto published = std::chrono::steady_clock::now();
        us.push_back(std::chrono::duration<double, std::micro>(published - written).count());
        Take(net);
    }
    std::sort(us.begin(), us.end());
    std::printf("hand-over latency over %d acknowledgements: median %.1f us, p99 %.1f us, max %.1f us\n",
                kAcks, us[us.size() / 2], us[us.size() * 99 / 100], us.back());

    // Thread blocked in its receive: the baseline.
    double cpu0 = ProcessCpuMs();
    std::this_thread::sleep_for(std::chrono::seconds(5));
    const double blocked = ProcessCpuMs() - cpu0;

    // A message nobody takes: the thread waits in 1-ms steps.
    send(module, kAck, sizeof kAck, MSG_NOSIGNAL);
    WaitReady(net);
    cpu0 = ProcessCpuMs();
    std::this_thread::sleep_for(std::chrono::seconds(5));
    const double waiting = ProcessCpuMs() - cpu0;
    std::printf("process CPU over 5 s: %.1f ms with the thread blocked in recv, %.1f ms with a message "
                "waiting untaken\n",
                blocked, waiting);

    net.CloseNet();
    close(module);
    close(listener);
    return 0;
}
