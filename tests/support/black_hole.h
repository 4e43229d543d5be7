// A TCP listener on port 20036 whose accept queue is full, so that further
// connects get no answer at all: on loopback, the closest thing to an
// address that drops them. A connect to it stays in SYN_SENT until its
// caller gives up.
#pragma once

#include "sim_process.h"

#include <fstream>

namespace simtest {

class BlackHole {
public:
    explicit BlackHole(const std::string& address)
        : m_Listener(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
        sockaddr_in sa = Addr(address, 20036);
        m_Ok = bind(m_Listener.Get(), reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0 &&
               listen(m_Listener.Get(), 0) == 0;
        // a backlog of 0 holds one connection: one the kernel completes and
        // nobody accepts fills it
        m_Fill = Fd(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
        m_Ok = m_Ok && connect(m_Fill.Get(), reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0;
    }
    bool Ok() const { return m_Ok; }

    // How many connects to address:20036 wait for an answer (SYN_SENT), by
    // /proc/net/tcp: for a test to act once a program is under way.
    static int Waiting(const std::string& address) {
        in_addr a{};
        inet_pton(AF_INET, address.c_str(), &a);
        char remote[32];
        std::snprintf(remote, sizeof remote, "%08X:4E44", a.s_addr); // 20036; the file shows the raw word
        std::ifstream tcp("/proc/net/tcp");
        int n = 0;
        for (std::string line; std::getline(tcp, line);)
            if (line.find(std::string(" ") + remote + " 02 ") != std::string::npos)
                ++n;
        return n;
    }

private:
    Fd m_Listener;
    Fd m_Fill;
    bool m_Ok = false;
};

} // namespace simtest
