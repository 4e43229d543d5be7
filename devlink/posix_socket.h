// BSD-socket calls of the TCP link, in one place. A failure comes back as
// the errno value of the call that failed; SocketErrorCode turns it into the
// Winsock-style code that the operator's texts show.
#pragma once

#include <cstddef>

namespace lumo {

// Winsock-style code for an errno value: ECONNRESET 10054, ECONNABORTED 10053,
// EPIPE 10058 (the "shut down" code), ENOTCONN 10057, ETIMEDOUT 10060,
// ECONNREFUSED 10061; any other errno e gives 10000 + e.
int SocketErrorCode(int err);

// Creates a blocking TCP stream socket (descriptor 3 or above, close-on-exec)
// and connects it to the dotted IPv4 address and port. Blocks until the
// connection is made or refused (at most the platform's connect time-out).
// Returns the descriptor, or -1 with *error set to the errno.
int TcpConnect(const char* address, int port, int* error);

// shutdown() both ways; wakes a receive blocked on the descriptor. 0 or errno.
int TcpShutdownBoth(int fd);

// Closes the descriptor. 0 or errno.
int TcpClose(int fd);

// Sends every byte (retrying partial sends and interrupted calls, no
// SIGPIPE). Blocking. 0 when all went out, else the errno.
int TcpSendAll(int fd, const unsigned char* data, size_t count);

// One blocking receive of up to `size` bytes, retried when interrupted.
// Returns the byte count, 0 when the peer closed, -1 with *error set to the
// errno.
long TcpRecv(int fd, unsigned char* buffer, size_t size, int* error);

} // namespace lumo
