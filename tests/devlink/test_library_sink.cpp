// A program that links only libCtrl_Lumo.so and uses nothing but its
// exports: the library's message boxes reach the program's own
// Lumo_MessageSink, with no link flag.
#include <ctrl_lumo/lumo_net.h>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

std::mutex g_Mutex;
std::vector<std::pair<std::wstring, std::wstring>> g_Shown;

} // namespace

// Declared by the header; linking against the library exports it.
extern "C" void Lumo_MessageSink(const wchar_t* text, const wchar_t* caption) {
    std::lock_guard lock(g_Mutex);
    g_Shown.emplace_back(text, caption);
}

// A module at 127.0.0.4:20036 that greets with FF FF: the library refuses it
// with "3 Didn't Connect to " + address, shown through Lumo_MessageSink.
TEST(SharedLibrary, MessageBoxesReachTheProgramsSinkFunction) {
    int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(listener, 0);
    int one = 1;
    setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(LUMO_MODULE_PORT);
    inet_pton(AF_INET, "127.0.0.4", &a.sin_addr);
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ASSERT_EQ(listen(listener, 1), 0);

    std::thread module([listener] {
        pollfd p{listener, POLLIN, 0};
        if (poll(&p, 1, 5000) <= 0)
            return;
        int conn = accept(listener, nullptr, nullptr);
        if (conn < 0)
            return;
        const unsigned char greeting[7] = {0xFF, 0xFF, 0, 0, 0, 0, 0};
        send(conn, greeting, sizeof greeting, MSG_NOSIGNAL);
        pollfd c{conn, POLLIN, 0};
        char sink[64];
        while (poll(&c, 1, 5000) > 0 && recv(conn, sink, sizeof sink, 0) > 0) {
        }
        close(conn);
    });

    auto net = std::make_unique<CLumo_Net>();
    wchar_t address[] = L"127.0.0.4";
    unsigned char out[3] = {0, 0, 0};
    EXPECT_EQ(net->NetConnect_IPEPC(address, out, 0), 0);
    net.reset();
    module.join();
    close(listener);

    std::lock_guard lock(g_Mutex);
    ASSERT_EQ(g_Shown.size(), 1u);
    EXPECT_EQ(g_Shown[0].first, L"3 Didn't Connect to 127.0.0.4");
    EXPECT_EQ(g_Shown[0].second, L"Error");
}
