// Winsock 2 side of the UDP link (see posix_udp.h and the wrappers in
// lumo_net.h). Failures set errno from the Winsock code, as the BSD calls do.
#include "posix_udp.h"
#include "win32_sockets.h"

#include "lumo_net.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <map>
#include <mutex>

#include <winsock2.h>
#include <ws2tcpip.h>

namespace {

// Receive time-outs by socket: Wine does not end a blocking recv at
// SO_RCVTIMEO, so UdpRecv waits for the datagram itself.
std::mutex g_TimeoutMutex;
std::map<int, int> g_RecvTimeoutMs;

int RecvTimeoutMs(int sock) {
    std::lock_guard lock(g_TimeoutMutex);
    auto it = g_RecvTimeoutMs.find(sock);
    return it == g_RecvTimeoutMs.end() ? -1 : it->second;
}

SOCKET Handle(int sock) {
    return static_cast<SOCKET>(static_cast<unsigned>(sock));
}

bool Failed() {
    errno = lumo::win32::LastSocketErrno();
    return false;
}

int FailedCount() {
    errno = lumo::win32::LastSocketErrno();
    return -1;
}

// Fills an IPv4 address from dotted text (no name lookup) and a port.
bool DottedAddress(const char* text, int port, sockaddr_in& to) {
    if (!text || port < 0 || port > 65535) {
        errno = EINVAL;
        return false;
    }
    std::memset(&to, 0, sizeof to);
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<uint16_t>(port));
    if (inet_pton(AF_INET, text, &to.sin_addr) == 1)
        return true;
    errno = EINVAL;
    return false;
}

} // namespace

namespace lumo {

bool UdpEnableBroadcast(int sock) {
    const BOOL on = TRUE;
    return setsockopt(Handle(sock), SOL_SOCKET, SO_BROADCAST, reinterpret_cast<const char*>(&on), sizeof on) == 0 ||
           Failed();
}

bool UdpBindAny(int sock, int port) {
    // Exclusive: on Windows a plain bind may share a port a broadcast socket already has.
    const BOOL on = TRUE;
    setsockopt(Handle(sock), SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&on), sizeof on);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    local.sin_port = htons(static_cast<uint16_t>(port));
    return bind(Handle(sock), reinterpret_cast<const sockaddr*>(&local), sizeof local) == 0 || Failed();
}

int UdpSendTo(int sock, const unsigned char* data, int count, const char* address, int port) {
    sockaddr_in dest{};
    if (count < 0 || !DottedAddress(address, port, dest))
        return -1;
    const int rc = sendto(Handle(sock), reinterpret_cast<const char*>(data), count, 0,
                          reinterpret_cast<const sockaddr*>(&dest), sizeof dest);
    return rc == SOCKET_ERROR ? FailedCount() : rc;
}

} // namespace lumo

int UdpOpen() {
    if (const int err = lumo::win32::StartSockets(); err != 0) {
        errno = err;
        return -1;
    }
    const SOCKET s = WSASocketW(AF_INET, SOCK_DGRAM, IPPROTO_UDP, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
    if (s == INVALID_SOCKET)
        return FailedCount();
    if (s > static_cast<SOCKET>(INT_MAX)) { // not the tree's int handle
        closesocket(s);
        errno = EMFILE;
        return -1;
    }
    return static_cast<int>(s);
}

int UdpConnect(int sock, const char* address, int port) {
    sockaddr_in peer{};
    if (!DottedAddress(address, port, peer))
        return 0;
    return connect(Handle(sock), reinterpret_cast<const sockaddr*>(&peer), sizeof peer) == 0 || Failed() ? 1 : 0;
}

int UdpSend(int sock, const char* data, int count) {
    if (count < 0 || (!data && count > 0))
        return -1;
    const int rc = send(Handle(sock), data, count, 0);
    return rc == SOCKET_ERROR ? FailedCount() : rc;
}

int UdpRecv(int sock, char* buffer, int size) {
    if (size < 0 || (!buffer && size > 0))
        return -1;
    if (const int ms = RecvTimeoutMs(sock); ms > 0) {
        fd_set ready;
        FD_ZERO(&ready);
        FD_SET(Handle(sock), &ready);
        timeval tv{ms / 1000, (ms % 1000) * 1000};
        const int r = select(0, &ready, nullptr, nullptr, &tv);
        if (r == 0) {
            errno = EAGAIN; // as a Linux receive time-out reports
            return -1;
        }
        if (r < 0)
            return FailedCount();
    }
    const int rc = recv(Handle(sock), buffer, size, 0);
    if (rc != SOCKET_ERROR)
        return rc;
    // Winsock fails a datagram longer than the buffer; Linux gives the bytes that fit, and so do we.
    if (WSAGetLastError() == WSAEMSGSIZE)
        return size;
    return FailedCount();
}

int UdpClose(int sock) {
    if (sock < 0) {
        errno = EBADF;
        return 0;
    }
    {
        std::lock_guard lock(g_TimeoutMutex);
        g_RecvTimeoutMs.erase(sock);
    }
    return closesocket(Handle(sock)) == 0 ? 1 : (Failed() ? 1 : 0);
}

int UdpSetRecvTimeout(int sock, int ms) {
    if (ms < 0)
        return 0;
    const DWORD wait = static_cast<DWORD>(ms); // Winsock takes milliseconds
    {
        std::lock_guard lock(g_TimeoutMutex);
        g_RecvTimeoutMs[sock] = ms;
    }
    return setsockopt(Handle(sock), SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&wait), sizeof wait) == 0
               ? 1
               : (Failed() ? 1 : 0);
}
