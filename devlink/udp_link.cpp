// UDP side of the device link: the clear-socket broadcast. The datagram
// calls, and the thin wrappers the console runs its UDP link with, are the
// platform's (posix_udp.cpp).
#include "lumo_net.h"
#include "posix_udp.h"
#include "waits.h"

#include <cstdio>
#include <cstring>

namespace {

constexpr char kClearText[] = "Force_RIP";
constexpr int kClearSize = 15; // text, 0, four address bytes, sequence
constexpr int kClearPauseMs = 100;

// Owns one datagram socket until the end of the scope.
struct SocketGuard {
    int fd;
    ~SocketGuard() {
        if (fd >= 0)
            UdpClose(fd);
    }
};

} // namespace

bool CLumo_Net::UDP_Clear_Socket(unsigned long address) {
    SocketGuard s{UdpOpen()};
    if (s.fd < 0)
        return false;
    if (!lumo::UdpEnableBroadcast(s.fd))
        return false;
    if (!lumo::UdpBindAny(s.fd, LUMO_CLEAR_SRC_PORT))
        return false;

    const unsigned char parts[4] = {
        static_cast<unsigned char>(address >> 24), static_cast<unsigned char>(address >> 16),
        static_cast<unsigned char>(address >> 8), static_cast<unsigned char>(address)};
    char destText[32];
    std::snprintf(destText, sizeof destText, "%d.%d.%d.%d", parts[0], parts[1], 255, 255);

    unsigned char datagram[kClearSize] = {};
    std::memcpy(datagram, kClearText, sizeof kClearText - 1);
    std::memcpy(datagram + 10, parts, sizeof parts);
    int sent = -1;
    for (unsigned char seq = 0; seq < 3; ++seq) {
        datagram[14] = seq;
        sent = lumo::UdpSendTo(s.fd, datagram, sizeof datagram, destText, LUMO_CLEAR_DEST_PORT);
    }
    const bool ok = sent == kClearSize; // only the third send counts
    UdpClose(s.fd);
    s.fd = -1;
    if (!ok)
        return false;
    lumo::PauseMs(kClearPauseMs);
    return true;
}
