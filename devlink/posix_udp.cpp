// BSD-socket side of the UDP link (see posix_udp.h and the wrappers in
// lumo_net.h).
#include "posix_udp.h"

#include "lumo_net.h"

#include <cerrno>
#include <cstring>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

namespace {

// Fills an IPv4 address from dotted text (no name lookup) and a port.
bool DottedAddress(const char* text, int port, sockaddr_in& to) {
    if (!text || port < 0 || port > 65535)
        return false;
    std::memset(&to, 0, sizeof to);
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<uint16_t>(port));
    return ::inet_pton(AF_INET, text, &to.sin_addr) == 1;
}

} // namespace

namespace lumo {

bool UdpEnableBroadcast(int sock) {
    const int on = 1;
    return ::setsockopt(sock, SOL_SOCKET, SO_BROADCAST, &on, sizeof on) == 0;
}

bool UdpBindAny(int sock, int port) {
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    local.sin_port = htons(static_cast<uint16_t>(port));
    return ::bind(sock, reinterpret_cast<const sockaddr*>(&local), sizeof local) == 0;
}

int UdpSendTo(int sock, const unsigned char* data, int count, const char* address, int port) {
    sockaddr_in dest{};
    if (count < 0 || !DottedAddress(address, port, dest))
        return -1;
    return static_cast<int>(::sendto(sock, data, static_cast<size_t>(count), 0,
                                     reinterpret_cast<const sockaddr*>(&dest), sizeof dest));
}

} // namespace lumo

int UdpOpen() {
    return ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
}

int UdpConnect(int sock, const char* address, int port) {
    sockaddr_in peer{};
    if (!DottedAddress(address, port, peer))
        return 0;
    return ::connect(sock, reinterpret_cast<const sockaddr*>(&peer), sizeof peer) == 0 ? 1 : 0;
}

int UdpSend(int sock, const char* data, int count) {
    if (count < 0 || (!data && count > 0))
        return -1;
    return static_cast<int>(::send(sock, data, static_cast<size_t>(count), 0));
}

int UdpRecv(int sock, char* buffer, int size) {
    if (size < 0 || (!buffer && size > 0))
        return -1;
    // Without MSG_TRUNC a longer datagram yields the bytes that fit.
    return static_cast<int>(::recv(sock, buffer, static_cast<size_t>(size), 0));
}

int UdpClose(int sock) {
    return ::close(sock) == 0 ? 1 : 0;
}

int UdpSetRecvTimeout(int sock, int ms) {
    if (ms < 0)
        return 0;
    timeval tv{};
    tv.tv_sec = ms / 1000;
    tv.tv_usec = (ms % 1000) * 1000;
    return ::setsockopt(sock, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv) == 0 ? 1 : 0;
}
