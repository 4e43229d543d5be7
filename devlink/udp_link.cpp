// UDP side of the device link: the clear-socket broadcast and the thin
// datagram wrappers the console runs its UDP link with. BSD sockets only.
#include "lumo_net.h"
#include "waits.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

namespace {

constexpr char kClearText[] = "Force_RIP";
constexpr int kClearSize = 15; // text, 0, four address bytes, sequence
constexpr int kClearPauseMs = 100;

// Fills an IPv4 address from dotted text (no name lookup) and a port.
bool DottedAddress(const char* text, int port, sockaddr_in& to) {
    if (!text || port < 0 || port > 65535)
        return false;
    std::memset(&to, 0, sizeof to);
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<uint16_t>(port));
    return ::inet_pton(AF_INET, text, &to.sin_addr) == 1;
}

// Owns one socket descriptor until the end of the scope.
struct SocketGuard {
    int fd;
    ~SocketGuard() {
        if (fd >= 0)
            ::close(fd);
    }
};

} // namespace

bool CLumo_Net::UDP_Clear_Socket(unsigned long address) {
    SocketGuard s{::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)};
    if (s.fd < 0)
        return false;
    const int on = 1;
    if (::setsockopt(s.fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on) < 0)
        return false;
    // No SO_REUSEADDR: a second sender on this port must fail.
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    local.sin_port = htons(LUMO_CLEAR_SRC_PORT);
    if (::bind(s.fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) < 0)
        return false;

    const unsigned char parts[4] = {
        static_cast<unsigned char>(address >> 24), static_cast<unsigned char>(address >> 16),
        static_cast<unsigned char>(address >> 8), static_cast<unsigned char>(address)};
    char destText[32];
    std::snprintf(destText, sizeof destText, "%d.%d.%d.%d", parts[0], parts[1], 255, 255);
    sockaddr_in dest{};
    if (!DottedAddress(destText, LUMO_CLEAR_DEST_PORT, dest))
        return false;

    unsigned char datagram[kClearSize] = {};
    std::memcpy(datagram, kClearText, sizeof kClearText - 1);
    std::memcpy(datagram + 10, parts, sizeof parts);
    ssize_t sent = -1;
    for (unsigned char seq = 0; seq < 3; ++seq) {
        datagram[14] = seq;
        sent = ::sendto(s.fd, datagram, sizeof datagram, 0, reinterpret_cast<const sockaddr*>(&dest),
                        sizeof dest);
    }
    const bool ok = sent == kClearSize; // only the third send counts
    ::close(s.fd);
    s.fd = -1;
    if (!ok)
        return false;
    lumo::PauseMs(kClearPauseMs);
    return true;
}

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
