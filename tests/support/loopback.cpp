#include "loopback.h"

#include "fd_io.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace lumo_test {

using detail::Clock;

namespace {

bool MakeAddress(const std::string& address, int port, sockaddr_in* out) {
    *out = {};
    out->sin_family = AF_INET;
    out->sin_port = htons(static_cast<uint16_t>(port));
    return inet_pton(AF_INET, address.c_str(), &out->sin_addr) == 1;
}

int BoundPort(int fd) {
    sockaddr_in a{};
    socklen_t len = sizeof a;
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0)
        return 0;
    return ntohs(a.sin_port);
}

// A socket of `type` bound to address:port with SO_REUSEADDR, or -1.
int BoundSocket(int type, const std::string& address, int port) {
    sockaddr_in a;
    if (!MakeAddress(address, port, &a))
        return -1;
    int fd = ::socket(AF_INET, type | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

} // namespace

TcpConnection& TcpConnection::operator=(TcpConnection&& other) noexcept {
    if (this != &other) {
        Close();
        m_Fd = other.m_Fd;
        other.m_Fd = -1;
    }
    return *this;
}

bool TcpConnection::Send(const Bytes& bytes) {
    return Send(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

bool TcpConnection::Send(std::string_view text) {
    if (!ok())
        return false;
    const auto deadline = Clock::now() + milliseconds(2000);
    const char* p = text.data();
    size_t n = text.size();
    while (n > 0) {
        if (!detail::WaitReady(m_Fd, POLLOUT, deadline))
            return false;
        ssize_t w = ::send(m_Fd, p, n, MSG_NOSIGNAL);
        if (w < 0) {
            if (errno == EINTR || errno == EAGAIN)
                continue;
            return false;
        }
        p += w;
        n -= static_cast<size_t>(w);
    }
    return true;
}

Bytes TcpConnection::Recv(size_t max, milliseconds timeout) {
    Bytes out(max);
    ptrdiff_t n = ok() ? detail::ReadSome(m_Fd, out.data(), max, Clock::now() + timeout) : -1;
    out.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return out;
}

Bytes TcpConnection::RecvExact(size_t count, milliseconds timeout) {
    return ok() ? detail::ReadExact(m_Fd, count, Clock::now() + timeout) : Bytes();
}

Bytes TcpConnection::RecvUntilIdle(milliseconds idle, milliseconds timeout) {
    return ok() ? detail::ReadUntilIdle(m_Fd, idle, Clock::now() + timeout) : Bytes();
}

bool TcpConnection::WaitClosed(milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    unsigned char buf[4096];
    while (ok()) {
        ptrdiff_t n = detail::ReadSome(m_Fd, buf, sizeof buf, deadline);
        if (n == 0)
            return true;
        if (n < 0)
            return false;
    }
    return false;
}

void TcpConnection::Close() {
    if (m_Fd >= 0) {
        ::close(m_Fd);
        m_Fd = -1;
    }
}

void TcpConnection::Reset() {
    if (m_Fd < 0)
        return;
    linger l{1, 0};
    setsockopt(m_Fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
    Close();
}

TcpListener::TcpListener(const std::string& address, int port) {
    int fd = BoundSocket(SOCK_STREAM, address, port);
    if (fd < 0)
        return;
    if (::listen(fd, 8) != 0) {
        ::close(fd);
        return;
    }
    m_Fd = fd;
    m_Port = BoundPort(fd);
}

TcpListener::~TcpListener() {
    if (m_Fd >= 0)
        ::close(m_Fd);
}

TcpConnection TcpListener::Accept(milliseconds timeout) {
    if (!ok() || !detail::WaitReady(m_Fd, POLLIN, Clock::now() + timeout))
        return TcpConnection();
    for (;;) {
        int fd = ::accept4(m_Fd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd >= 0)
            return TcpConnection(fd);
        if (errno != EINTR)
            return TcpConnection();
    }
}

TcpConnection TcpConnect(const std::string& address, int port, milliseconds timeout) {
    sockaddr_in a;
    if (!MakeAddress(address, port, &a))
        return TcpConnection();
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return TcpConnection();
    TcpConnection conn(fd);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        if (errno != EINPROGRESS || !detail::WaitReady(fd, POLLOUT, Clock::now() + timeout))
            return TcpConnection();
        int err = 0;
        socklen_t len = sizeof err;
        if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0 || err != 0)
            return TcpConnection();
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return conn;
}

UdpPeer::UdpPeer(const std::string& address, int port) {
    m_Fd = BoundSocket(SOCK_DGRAM, address, port);
    if (m_Fd >= 0)
        m_Port = BoundPort(m_Fd);
}

UdpPeer::~UdpPeer() {
    if (m_Fd >= 0)
        ::close(m_Fd);
}

bool UdpPeer::SendTo(const std::string& address, int port, const Bytes& bytes) {
    return SendTo(address, port, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

bool UdpPeer::SendTo(const std::string& address, int port, std::string_view text) {
    sockaddr_in a;
    if (!ok() || !MakeAddress(address, port, &a))
        return false;
    ssize_t n = ::sendto(m_Fd, text.data(), text.size(), 0, reinterpret_cast<sockaddr*>(&a), sizeof a);
    return n == static_cast<ssize_t>(text.size());
}

std::optional<Datagram> UdpPeer::Recv(milliseconds timeout) {
    if (!ok() || !detail::WaitReady(m_Fd, POLLIN, Clock::now() + timeout))
        return std::nullopt;
    Datagram d;
    d.bytes.resize(65536);
    sockaddr_in from{};
    socklen_t len = sizeof from;
    ssize_t n;
    do {
        n = ::recvfrom(m_Fd, d.bytes.data(), d.bytes.size(), 0, reinterpret_cast<sockaddr*>(&from), &len);
    } while (n < 0 && errno == EINTR);
    if (n < 0)
        return std::nullopt;
    d.bytes.resize(static_cast<size_t>(n));
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &from.sin_addr, text, sizeof text);
    d.from = text;
    d.fromPort = ntohs(from.sin_port);
    return d;
}

} // namespace lumo_test
