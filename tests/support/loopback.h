// Loopback TCP and UDP peers that play a module (or a client) in tests.
// Every wait is bounded by the time-out given; nothing blocks forever.
#pragma once

#include "test_bytes.h"

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

namespace lumo_test {

using std::chrono::milliseconds;

// One connected TCP socket; owns the descriptor.
class TcpConnection {
public:
    TcpConnection() = default;
    explicit TcpConnection(int fd) : m_Fd(fd) {}
    ~TcpConnection() { Close(); }
    TcpConnection(TcpConnection&& other) noexcept : m_Fd(other.m_Fd) { other.m_Fd = -1; }
    TcpConnection& operator=(TcpConnection&& other) noexcept;
    TcpConnection(const TcpConnection&) = delete;
    TcpConnection& operator=(const TcpConnection&) = delete;

    bool ok() const { return m_Fd >= 0; }
    int fd() const { return m_Fd; }

    // Sends every byte (at most 2 s); false on failure.
    bool Send(const Bytes& bytes);
    bool Send(std::string_view text);
    // The first chunk that arrives, at most `max` bytes; empty on time-out or close.
    Bytes Recv(size_t max = 65536, milliseconds timeout = milliseconds(3000));
    // Collects until `count` bytes came, the peer closed or the time-out passed.
    Bytes RecvExact(size_t count, milliseconds timeout = milliseconds(3000));
    // Collects until nothing new came for `idle` (or `timeout` in all).
    Bytes RecvUntilIdle(milliseconds idle, milliseconds timeout = milliseconds(3000));
    // Waits for the peer to close or reset, dropping data; true when it did.
    bool WaitClosed(milliseconds timeout = milliseconds(3000));
    void Close();
    // Closes with a reset (RST) instead of an orderly shut-down.
    void Reset();

private:
    int m_Fd = -1;
};

// Listening TCP socket on address:port (SO_REUSEADDR).
class TcpListener {
public:
    TcpListener(const std::string& address, int port);
    ~TcpListener();
    TcpListener(const TcpListener&) = delete;
    TcpListener& operator=(const TcpListener&) = delete;

    bool ok() const { return m_Fd >= 0; }
    int fd() const { return m_Fd; }
    int Port() const { return m_Port; } // the bound port (useful with port 0)
    // Next connection, or one with ok() false after the time-out.
    TcpConnection Accept(milliseconds timeout = milliseconds(5000));

private:
    int m_Fd = -1;
    int m_Port = 0;
};

// Connects to address:port within the time-out; ok() false on failure.
TcpConnection TcpConnect(const std::string& address, int port, milliseconds timeout = milliseconds(3000));

struct Datagram {
    Bytes bytes;
    std::string from; // dotted sender address
    int fromPort = 0;
};

// UDP socket bound to address:port (SO_REUSEADDR; port 0 picks one).
class UdpPeer {
public:
    UdpPeer(const std::string& address, int port);
    ~UdpPeer();
    UdpPeer(const UdpPeer&) = delete;
    UdpPeer& operator=(const UdpPeer&) = delete;

    bool ok() const { return m_Fd >= 0; }
    int fd() const { return m_Fd; }
    int Port() const { return m_Port; }
    bool SendTo(const std::string& address, int port, const Bytes& bytes);
    bool SendTo(const std::string& address, int port, std::string_view text);
    // Next datagram, or nothing after the time-out.
    std::optional<Datagram> Recv(milliseconds timeout = milliseconds(3000));

private:
    int m_Fd = -1;
    int m_Port = 0;
};

} // namespace lumo_test
