// Test-side helpers: run a tool program as a child with its standard output
// on a pipe, and small blocking socket helpers with bounded waits.
#pragma once

#include "fd_io.h"
#include "test_bytes.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

extern char **environ;

namespace simtest {

using lumo_test::Bytes;

inline Bytes B(std::string_view s) {
    return Bytes(s.begin(), s.end());
}

inline Bytes Cat(Bytes a, const Bytes &b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// A child program; SIGTERM and reaped by the destructor.
class ChildProcess {
public:
    // Starts `path args...`; blocks up to timeoutMs until a line "ready" is
    // printed, unless waitReady is false (then its lines are all ReadLine's).
    bool Start(const std::string &path, const std::vector<std::string> &args, int timeoutMs = 10000,
               bool waitReady = true) {
        int out[2];
        if (pipe2(out, O_CLOEXEC) < 0)
            return false;
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_adddup2(&fa, out[1], 1);
        std::vector<std::string> all{path};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char *> argv;
        for (auto &a : all)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        int rc = posix_spawn(&m_Pid, path.c_str(), &fa, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&fa);
        close(out[1]);
        m_Out = out[0];
        if (rc != 0) {
            m_Pid = -1;
            return false;
        }
        if (!waitReady)
            return true;
        std::string line;
        while (ReadLine(&line, timeoutMs)) {
            if (line.rfind("serial: ", 0) == 0)
                m_Serial = line.substr(8);
            if (line == "ready")
                return true;
        }
        return false;
    }

    // Next stdout line without its newline; false on end or time-out.
    bool ReadLine(std::string *line, int timeoutMs) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            auto nl = m_Buf.find('\n');
            if (nl != std::string::npos) {
                *line = m_Buf.substr(0, nl);
                m_Buf.erase(0, nl + 1);
                return true;
            }
            char buf[512];
            const ptrdiff_t n = lumo_test::detail::ReadSome(m_Out, buf, sizeof buf, deadline);
            if (n <= 0)
                return false;
            m_Buf.append(buf, size_t(n));
        }
    }

    // Sends SIGTERM and waits up to timeoutMs; the exit status, or -1.
    int Stop(int timeoutMs = 5000) {
        if (m_Pid <= 0)
            return m_Status;
        kill(m_Pid, SIGTERM);
        return Wait(timeoutMs);
    }

    // Waits for the child to end by itself; exit status, or -1 (then killed).
    int Wait(int timeoutMs) {
        if (m_Pid <= 0)
            return m_Status;
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        int st = 0;
        while (waitpid(m_Pid, &st, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > deadline) {
                kill(m_Pid, SIGKILL);
                waitpid(m_Pid, &st, 0);
                m_Pid = -1;
                return m_Status = -1;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        m_Pid = -1;
        return m_Status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    }

    ~ChildProcess() {
        Stop();
        if (m_Out >= 0)
            close(m_Out);
    }

    const std::string &SerialPath() const { return m_Serial; }
    pid_t Pid() const { return m_Pid; }

private:
    pid_t m_Pid = -1;
    int m_Out = -1;
    int m_Status = -1;
    std::string m_Buf;
    std::string m_Serial;
};

// Owned file descriptor.
class Fd {
public:
    Fd() = default;
    explicit Fd(int fd) : m_Fd(fd) {}
    Fd(Fd &&o) noexcept : m_Fd(o.m_Fd) { o.m_Fd = -1; }
    Fd &operator=(Fd &&o) noexcept {
        if (this != &o) {
            Reset();
            m_Fd = o.m_Fd;
            o.m_Fd = -1;
        }
        return *this;
    }
    ~Fd() { Reset(); }
    void Reset() {
        if (m_Fd >= 0)
            close(m_Fd);
        m_Fd = -1;
    }
    int Get() const { return m_Fd; }
    bool Ok() const { return m_Fd >= 0; }

private:
    int m_Fd = -1;
};

inline sockaddr_in Addr(const std::string &ip, int port) {
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(uint16_t(port));
    inet_pton(AF_INET, ip.c_str(), &sa.sin_addr);
    return sa;
}

inline Fd TcpConnect(const std::string &ip, int port) {
    Fd fd(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in sa = Addr(ip, port);
    if (connect(fd.Get(), reinterpret_cast<sockaddr *>(&sa), sizeof sa) < 0)
        return Fd();
    return fd;
}

inline Fd UdpSocketTo(const std::string &ip, int port) {
    Fd fd(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    sockaddr_in sa = Addr(ip, port);
    if (connect(fd.Get(), reinterpret_cast<sockaddr *>(&sa), sizeof sa) < 0)
        return Fd();
    return fd;
}

// Writes every byte, within 10 s.
inline bool SendAll(int fd, const Bytes &b) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    return lumo_test::detail::WriteAll(fd, b.data(), b.size(), deadline);
}

// One read of whatever arrives within timeoutMs (empty on time-out or end).
// *err gets errno of a failed read, 0 on end of stream.
inline Bytes ReadSome(int fd, int timeoutMs, int *err = nullptr) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, timeoutMs) <= 0)
        return {};
    uint8_t buf[65536];
    ssize_t n = read(fd, buf, sizeof buf);
    if (err)
        *err = n < 0 ? errno : 0;
    if (n <= 0)
        return {};
    return Bytes(buf, buf + n);
}

// Reads until done(bytes so far) holds, the stream ends, or timeoutMs passes.
template <typename Done> Bytes ReadWhileNot(int fd, Done done, int timeoutMs) {
    Bytes got;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done(got)) {
        const int left = lumo_test::detail::MsLeft(deadline);
        if (left <= 0)
            break;
        Bytes part = ReadSome(fd, left);
        if (part.empty())
            break;
        got.insert(got.end(), part.begin(), part.end());
    }
    return got;
}

// Reads until `want` bytes have arrived, the stream ends, or timeoutMs passes.
inline Bytes ReadCount(int fd, size_t want, int timeoutMs = 5000) {
    return ReadWhileNot(fd, [want](const Bytes &got) { return got.size() >= want; }, timeoutMs);
}

// Reads until the bytes end with `tail` (or time-out).
inline Bytes ReadUntil(int fd, const Bytes &tail, int timeoutMs = 5000) {
    return ReadWhileNot(
        fd,
        [&tail](const Bytes &got) {
            return got.size() >= tail.size() &&
                   std::equal(tail.begin(), tail.end(), got.end() - std::ptrdiff_t(tail.size()));
        },
        timeoutMs);
}

} // namespace simtest
