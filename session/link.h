// Which link a session operation works on. The caller keeps the link state
// (the console in its dialog members); the operations read it and update it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "address_span.h"

namespace session {

enum class LinkKind { None, Serial, Tcp, Udp };

inline constexpr int kUdpNoSocket = -1;
// The module style that answers text commands with lines, is asked its mode
// after the greeting and refuses links until its keyboard is reset.
inline constexpr int kStyle17 = 17;

struct LinkRef {
    LinkKind kind = LinkKind::None;
    bool xFrames = false;         // TCP: commands travel as X frames ("X ASCII")
    int udpSocket = kUdpNoSocket; // UDP: the connected datagram socket, owned by the caller
    std::u16string name;          // "COM3", "TCP 10.0.0.5:20036", "UDP 10.0.0.5:20037"
};

// "COM<port>"
std::u16string SerialLinkName(int port);
// "TCP <address>:20036" and "UDP <address>:20037"
std::u16string TcpLinkName(const std::u16string& address);
std::u16string UdpLinkName(const std::u16string& address);

} // namespace session
