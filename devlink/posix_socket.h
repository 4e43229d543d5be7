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

// Creates a TCP stream socket (descriptor 3 or above, close-on-exec) and
// starts a non-blocking connect to the dotted IPv4 address and port.
// Returns the descriptor with *error 0 (connected) or EINPROGRESS (finish
// with TcpConnectWait), or -1 with *error set to the errno.
int TcpConnectStart(const char* address, int port, int* error);

// Waits at most timeoutMs for a started connect. 0: connected, and the
// socket is blocking again; EINPROGRESS: not yet; else the errno of the
// failed connect.
int TcpConnectWait(int fd, int timeoutMs);

// shutdown() both ways; wakes a receive blocked on the descriptor. 0 or errno.
int TcpShutdownBoth(int fd);

// Closes the descriptor. 0 or errno.
int TcpClose(int fd);

// Sends what the socket takes now, from data[*sent] on, without blocking,
// and advances *sent (retrying interrupted calls, no SIGPIPE). 0 when every
// byte is out, EAGAIN when the socket takes no more for now, else the errno.
int TcpSendNow(int fd, const unsigned char* data, size_t count, size_t* sent);

// Blocks at most timeoutMs until the socket can take more bytes (or has
// failed, which the next send reports). The system reports room only once a
// third of the send buffer is free: a caller that must notice less sends
// again after a bounded wait.
void TcpWaitWritable(int fd, int timeoutMs);

// Bytes handed to the socket that the peer has not acknowledged yet (sent
// or still queued); 0 when the system cannot tell.
long TcpUnacked(int fd);

// Blocks at most timeoutMs; returns true at once when the connection has
// failed (reset, or shut down both ways), false after the time.
bool TcpWaitBroken(int fd, int timeoutMs);

// Blocks at most timeoutMs until bytes wait to be received (or the peer
// closed or the connection failed, which the next receive shows). 1 or 0.
int TcpWaitReadable(int fd, int timeoutMs);

// Receives up to `size` bytes that are already waiting, without blocking.
// Returns the byte count, 0 when the peer closed, -1 with *error set to the
// errno (EAGAIN: nothing waits).
long TcpRecvNow(int fd, unsigned char* buffer, size_t size, int* error);

// One blocking receive of up to `size` bytes, retried when interrupted.
// Returns the byte count, 0 when the peer closed, -1 with *error set to the
// errno.
long TcpRecv(int fd, unsigned char* buffer, size_t size, int* error);

} // namespace lumo
