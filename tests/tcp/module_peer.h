// The module end of a loopback TCP link: the shared listener and connection
// of lumo_test_support, on a test's own 127.0.2.N address.
#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <thread>

#include "loopback.h"
#include "lumo_net.h"
#include "message_recorder.h"

using lumo_test::Bytes;
using BoxRecorder = lumo_test::MessageRecorder;

class ModulePeer {
public:
    explicit ModulePeer(const char* ip, int port = LUMO_MODULE_PORT)
        : m_ip(ip), m_listener(std::in_place, ip, port) {}

    bool Listening() const { return m_listener && m_listener->ok(); }
    int ListenerFd() const { return m_listener->fd(); }
    std::wstring Address() const { return std::wstring(m_ip.begin(), m_ip.end()); }

    // Accepts the next connection (the previous one is closed).
    bool Accept(int timeoutMs = 5000) {
        m_conn = m_listener->Accept(std::chrono::milliseconds(timeoutMs));
        return m_conn.ok();
    }
    void Send(const Bytes& b) { m_conn.Send(b); }
    // Exactly n bytes, fewer when the link closes or the time-out passes.
    Bytes Read(size_t n, int timeoutMs = 5000) {
        return m_conn.RecvExact(n, std::chrono::milliseconds(timeoutMs));
    }
    // Whether the device link closed its end.
    bool SeesClose(int timeoutMs = 5000) { return m_conn.WaitClosed(std::chrono::milliseconds(timeoutMs)); }
    void Reset() { m_conn.Reset(); }
    void Close() { m_conn.Close(); }

private:
    std::string m_ip;
    std::optional<lumo_test::TcpListener> m_listener;
    lumo_test::TcpConnection m_conn;
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

// Copies what the mailbox holds and hands it back by writing the fields, as
// a program on the shared library may.
inline Bytes TakeMailbox(CLumo_Net& net) {
    const int n = net.m_RecvLen.load(std::memory_order_acquire);
    Bytes b(net.m_RecvBuf, net.m_RecvBuf + n);
    net.m_RecvLen.store(0, std::memory_order_relaxed);
    net.m_RecvSource.store(nullptr, std::memory_order_relaxed);
    net.m_RecvReady.store(0, std::memory_order_release);
    return b;
}

// Normal 7-byte greeting: identifier, style.
inline Bytes Greeting(unsigned char id, unsigned char style) {
    return {id, style, 0, 0, 0, 0, 0};
}

// 17-byte X-mode greeting: byte 0 table entry, 12 id, 14 style - 26, 16 socket.
inline Bytes XGreeting(unsigned char entry, unsigned char id, unsigned char style26, unsigned char socketNo) {
    Bytes g(17, 0);
    g[0] = entry;
    g[12] = id;
    g[14] = style26;
    g[16] = socketNo;
    return g;
}

// Connects net to the peer, which greets with `greeting` from a script thread.
inline int ConnectGreeted(CLumo_Net& net, ModulePeer& peer, const Bytes& greeting, unsigned char mode = 0,
                          unsigned char* out = nullptr) {
    unsigned char reply[3] = {0xAA, 0xAA, 0xAA};
    std::thread script([&] {
        if (peer.Accept())
            peer.Send(greeting);
    });
    std::wstring addr = peer.Address();
    const int rc = net.NetConnect_IPEPC(addr.data(), out ? out : reply, mode);
    script.join();
    return rc;
}
