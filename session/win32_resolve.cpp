// The host-name look-up behind targets.h on Windows: Winsock's resolver
// (hosts file, DNS, ...), IPv4 only.
#include "targets.h"
#include "win32_sockets.h"

#include <cstring>

#include <winsock2.h>
#include <ws2tcpip.h>

namespace session {

std::optional<uint32_t> ResolveHost(const std::string& name, std::string* why) {
    if (const int e = lumo::win32::StartSockets(); e != 0) {
        *why = std::strerror(e);
        return std::nullopt;
    }
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const int rc = getaddrinfo(name.c_str(), nullptr, &hints, &found);
    if (rc != 0 || !found) {
        *why = rc != 0 ? gai_strerrorA(rc) : "no IPv4 address";
        return std::nullopt;
    }
    const uint32_t address = ntohl(reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr.s_addr);
    freeaddrinfo(found);
    return address;
}

} // namespace session
