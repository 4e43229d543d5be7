// Datagram socket calls besides the console's wrappers (UdpOpen ... in
// lumo_net.h), for the clear-socket broadcast. One declaration for both
// systems: posix_udp.cpp (BSD sockets) and win32_udp.cpp (Winsock 2)
// implement these and the wrappers. Failures set errno.
#pragma once

namespace lumo {

// SO_BROADCAST on; true when set.
bool UdpEnableBroadcast(int sock);

// Binds to `port` on every local address (no address reuse: a second socket
// on the port fails); true when bound.
bool UdpBindAny(int sock, int port);

// One datagram to the dotted IPv4 `address` (no name lookup) and `port`;
// the count sent or -1.
int UdpSendTo(int sock, const unsigned char* data, int count, const char* address, int port);

} // namespace lumo
