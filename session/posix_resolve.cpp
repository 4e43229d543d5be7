// The host-name look-up behind targets.h: the system's resolver (files,
// DNS, ...), IPv4 only.
#include "targets.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <sys/socket.h>

namespace session {

std::optional<uint32_t> ResolveHost(const std::string& name, std::string* why) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const int rc = getaddrinfo(name.c_str(), nullptr, &hints, &found);
    if (rc != 0 || !found) {
        *why = rc != 0 ? gai_strerror(rc) : "no IPv4 address";
        return std::nullopt;
    }
    const uint32_t address = ntohl(reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr.s_addr);
    freeaddrinfo(found);
    return address;
}

} // namespace session
