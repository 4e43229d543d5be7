// Winsock 2 side of the TCP link (see posix_socket.h). A socket stays
// non-blocking once it is connected: Windows ends a receive blocked in
// another thread neither on shutdown() nor reliably on anything else, so the
// blocking receive is a wait in short slices that sees the shut-down.
#include "posix_socket.h"
#include "win32_sockets.h"

#include <cerrno>
#include <climits>
#include <cstdint>

#include <winsock2.h>
#include <ws2tcpip.h>

namespace lumo {

namespace win32 {

int StartSockets() {
    static const int started = [] {
        WSADATA data;
        const int rc = WSAStartup(MAKEWORD(2, 2), &data);
        return rc == 0 ? 0 : ErrnoFromWsa(rc); // never cleaned up: the process ends it
    }();
    return started;
}

int ErrnoFromWsa(int wsa) {
    switch (wsa) {
    case 0:
        return 0;
    case WSAECONNRESET:
        return ECONNRESET;
    case WSAECONNABORTED:
        return ECONNABORTED;
    case WSAESHUTDOWN:
        return EPIPE;
    case WSAENOTCONN:
        return ENOTCONN;
    case WSAETIMEDOUT:
        return ETIMEDOUT;
    case WSAECONNREFUSED:
        return ECONNREFUSED;
    case WSAEWOULDBLOCK:
        return EWOULDBLOCK;
    case WSAEINPROGRESS:
        return EINPROGRESS;
    case WSAEINTR:
        return EINTR;
    case WSAEADDRINUSE:
        return EADDRINUSE;
    case WSAEADDRNOTAVAIL:
        return EADDRNOTAVAIL;
    case WSAENETUNREACH:
        return ENETUNREACH;
    case WSAEHOSTUNREACH:
        return EHOSTUNREACH;
    case WSAEACCES:
        return EACCES;
    case WSAEINVAL:
        return EINVAL;
    case WSAEMFILE:
        return EMFILE;
    case WSAENOBUFS:
        return ENOBUFS;
    case WSAENOTSOCK:
    case WSANOTINITIALISED:
        return EBADF;
    default:
        return wsa;
    }
}

int LastSocketErrno() {
    return ErrnoFromWsa(WSAGetLastError());
}

} // namespace win32

namespace {

// How often a receive with nothing to read looks whether its socket was shut down.
constexpr int kRecvSliceMs = 20;

SOCKET Handle(int fd) {
    return static_cast<SOCKET>(static_cast<unsigned>(fd));
}

// A socket as the tree's int handle; Windows handles fit in 31 bits.
int AsInt(SOCKET s) {
    return s <= static_cast<SOCKET>(INT_MAX) ? static_cast<int>(s) : -1;
}

// 1 when the socket is ready for `write` (else reading) or has failed, 0 on time-out, -errno.
int WaitReady(int fd, bool write, int timeoutMs) {
    fd_set ready, failed;
    FD_ZERO(&ready);
    FD_ZERO(&failed);
    FD_SET(Handle(fd), &ready);
    FD_SET(Handle(fd), &failed);
    timeval tv{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    const int r = select(0, write ? nullptr : &ready, write ? &ready : nullptr, &failed, timeoutMs < 0 ? nullptr : &tv);
    return r < 0 ? -win32::LastSocketErrno() : r > 0 ? 1 : 0;
}

int MakeNonBlocking(int fd) {
    u_long on = 1;
    return ioctlsocket(Handle(fd), FIONBIO, &on) == 0 ? 0 : win32::LastSocketErrno();
}

} // namespace

int SocketErrorCode(int err) {
    switch (err) {
    case ECONNRESET:
        return 10054;
    case ECONNABORTED:
        return 10053;
    case EPIPE:
        return 10058;
    case ENOTCONN:
        return 10057;
    case ETIMEDOUT:
        return 10060;
    case ECONNREFUSED:
        return 10061;
    default:
        return err >= 10000 ? err : 10000 + err; // a Winsock code passed through as it is
    }
}

int TcpConnectStart(const char* address, int port, int* error) {
    if ((*error = win32::StartSockets()) != 0)
        return -1;
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_port = htons(static_cast<uint16_t>(port));
    if (inet_pton(AF_INET, address, &peer.sin_addr) != 1) {
        *error = EINVAL;
        return -1;
    }
    const SOCKET s = WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
    if (s == INVALID_SOCKET) {
        *error = win32::LastSocketErrno();
        return -1;
    }
    const int fd = AsInt(s);
    if (fd < 0) {
        closesocket(s);
        *error = EMFILE;
        return -1;
    }
    if ((*error = MakeNonBlocking(fd)) != 0) {
        closesocket(s);
        return -1;
    }
    if (connect(s, reinterpret_cast<const sockaddr*>(&peer), sizeof peer) == 0)
        return fd;
    *error = win32::LastSocketErrno();
    if (*error == EWOULDBLOCK || *error == EINPROGRESS) {
        *error = EINPROGRESS;
        return fd;
    }
    closesocket(s);
    return -1;
}

int TcpConnectWait(int fd, int timeoutMs) {
    // A refused connect shows in the failed set; select, unlike WSAPoll, reports it on every version.
    const int r = WaitReady(fd, true, timeoutMs);
    if (r == 0)
        return EINPROGRESS;
    if (r < 0)
        return -r;
    int err = 0;
    int len = sizeof err;
    if (getsockopt(Handle(fd), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&err), &len) != 0)
        return win32::LastSocketErrno();
    return win32::ErrnoFromWsa(err);
}

int TcpShutdownBoth(int fd) {
    return shutdown(Handle(fd), SD_BOTH) == 0 ? 0 : win32::LastSocketErrno();
}

int TcpClose(int fd) {
    return closesocket(Handle(fd)) == 0 ? 0 : win32::LastSocketErrno();
}

int TcpSendNow(int fd, const unsigned char* data, size_t count, size_t* sent) {
    while (*sent < count) {
        const size_t left = count - *sent;
        const int chunk = left > static_cast<size_t>(INT_MAX) ? INT_MAX : static_cast<int>(left);
        const int rc = send(Handle(fd), reinterpret_cast<const char*>(data + *sent), chunk, 0);
        if (rc == SOCKET_ERROR) {
            const int err = win32::LastSocketErrno();
            if (err == EINTR)
                continue;
            return err == EWOULDBLOCK ? EAGAIN : err;
        }
        *sent += static_cast<size_t>(rc);
    }
    return 0;
}

void TcpWaitWritable(int fd, int timeoutMs) {
    WaitReady(fd, true, timeoutMs); // an error ends it early: the caller sends again
}

// Winsock has no count of the bytes the peer has not acknowledged (Linux's
// SIOCOUTQ): a send ends once the socket has taken every byte.
long TcpUnacked(int) {
    return 0;
}

bool TcpWaitBroken(int fd, int timeoutMs) {
    if (WaitReady(fd, false, timeoutMs) == 0)
        return false;
    char byte;
    const int rc = recv(Handle(fd), &byte, 1, MSG_PEEK); // the socket does not block
    if (rc == 0)
        return true; // the peer closed
    return rc == SOCKET_ERROR && win32::LastSocketErrno() != EWOULDBLOCK;
}

int TcpWaitReadable(int fd, int timeoutMs) {
    return WaitReady(fd, false, timeoutMs) != 0 ? 1 : 0; // a failure: the next receive shows it
}

long TcpRecvNow(int fd, unsigned char* buffer, size_t size, int* error) {
    const int ask = size > static_cast<size_t>(INT_MAX) ? INT_MAX : static_cast<int>(size);
    const int rc = recv(Handle(fd), reinterpret_cast<char*>(buffer), ask, 0); // the socket does not block
    if (rc >= 0)
        return rc;
    const int err = win32::LastSocketErrno();
    *error = err == EWOULDBLOCK || err == EINTR ? EAGAIN : err;
    return -1;
}

long TcpRecv(int fd, unsigned char* buffer, size_t size, int* error) {
    for (;;) {
        const long n = TcpRecvNow(fd, buffer, size, error); // after our own shutdown: EPIPE (WSAESHUTDOWN)
        if (n >= 0 || *error != EAGAIN)
            return n;
        const int ready = WaitReady(fd, false, kRecvSliceMs);
        if (ready < 0) {
            *error = -ready;
            return -1;
        }
    }
}

} // namespace lumo
