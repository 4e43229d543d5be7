// Loopback stand-in for a module: a listener on its own 127.0.2.N address
// that accepts the device link's connection and plays scripted bytes.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "lumo_net.h"

using Bytes = std::vector<unsigned char>;

class ModulePeer {
public:
    explicit ModulePeer(const char* ip, int port = LUMO_MODULE_PORT) : m_ip(ip) {
        m_listen = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        int one = 1;
        setsockopt(m_listen, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<uint16_t>(port));
        inet_pton(AF_INET, ip, &a.sin_addr);
        m_ok = bind(m_listen, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 && listen(m_listen, 4) == 0;
    }
    ~ModulePeer() {
        Close();
        CloseListener();
    }
    ModulePeer(const ModulePeer&) = delete;
    ModulePeer& operator=(const ModulePeer&) = delete;

    bool Listening() const { return m_ok; }
    std::wstring Address() const { return std::wstring(m_ip.begin(), m_ip.end()); }

    // Accepts the next connection, waiting up to timeoutMs.
    bool Accept(int timeoutMs = 5000) {
        Close();
        pollfd p{m_listen, POLLIN, 0};
        if (poll(&p, 1, timeoutMs) != 1)
            return false;
        m_conn = accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
        return m_conn >= 0;
    }
    void Send(const Bytes& b) {
        size_t off = 0;
        while (off < b.size()) {
            const ssize_t n = send(m_conn, b.data() + off, b.size() - off, MSG_NOSIGNAL);
            if (n <= 0)
                return;
            off += static_cast<size_t>(n);
        }
    }
    // Reads exactly n bytes, fewer when the link closes or timeoutMs passes.
    Bytes Read(size_t n, int timeoutMs = 5000) {
        Bytes out;
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (out.size() < n) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
            pollfd p{m_conn, POLLIN, 0};
            if (left.count() <= 0 || poll(&p, 1, static_cast<int>(left.count())) != 1)
                break;
            unsigned char buf[4096];
            const ssize_t got = recv(m_conn, buf, std::min(sizeof buf, n - out.size()), 0);
            if (got <= 0)
                break;
            out.insert(out.end(), buf, buf + got);
        }
        return out;
    }
    // Whether the device link closed its end (a read sees end of stream).
    bool SeesClose(int timeoutMs = 5000) {
        pollfd p{m_conn, POLLIN, 0};
        if (poll(&p, 1, timeoutMs) != 1)
            return false;
        unsigned char b;
        return recv(m_conn, &b, 1, 0) == 0;
    }
    // Closes the connection with a reset instead of an orderly close.
    void Reset() {
        linger l{1, 0};
        setsockopt(m_conn, SOL_SOCKET, SO_LINGER, &l, sizeof l);
        Close();
    }
    void Close() {
        if (m_conn >= 0)
            close(m_conn);
        m_conn = -1;
    }
    void CloseListener() {
        if (m_listen >= 0)
            close(m_listen);
        m_listen = -1;
    }

private:
    std::string m_ip;
    int m_listen = -1;
    int m_conn = -1;
    bool m_ok = false;
};

// Records the device link's message boxes (any thread) while it lives.
class BoxRecorder {
public:
    struct Box {
        std::wstring text, caption;
    };
    BoxRecorder() {
        SetLumoMessageSink([this](const std::wstring& text, const std::wstring& caption) {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_boxes.push_back({text, caption});
        });
    }
    ~BoxRecorder() { SetLumoMessageSink(nullptr); }
    std::vector<Box> Boxes() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_boxes;
    }

private:
    std::mutex m_mutex;
    std::vector<Box> m_boxes;
};

// Polls pred every millisecond for up to timeoutMs.
inline bool WaitFor(const std::function<bool()>& pred, int timeoutMs = 5000) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!pred()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// Copies what the mailbox holds and hands it back, as a consumer does.
inline Bytes TakeMailbox(CLumo_Net& net) {
    const int n = net.m_RecvLen.load(std::memory_order_acquire);
    Bytes b(net.m_RecvBuf, net.m_RecvBuf + n);
    net.m_RecvLen.store(0, std::memory_order_relaxed);
    net.m_RecvSource.store(nullptr, std::memory_order_relaxed);
    net.m_RecvReady.store(0, std::memory_order_release);
    return b;
}
