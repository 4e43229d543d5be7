#include "posix_socket.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdint>
#include <fcntl.h>
#include <linux/sockios.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace lumo {

int SocketErrorCode(int err) {
    switch (err) {
    case ECONNRESET:
        return 10054;
    case ECONNABORTED:
        return 10053;
    case EPIPE:
        return 10058;
    case ENOTCONN:
        return 10057;
    case ETIMEDOUT:
        return 10060;
    case ECONNREFUSED:
        return 10061;
    default:
        return 10000 + err;
    }
}

namespace {

// Moves a descriptor that landed on 0, 1 or 2 above them, so that a stray
// write to a standard stream can never reach the module.
int AboveStdio(int fd) {
    if (fd > 2)
        return fd;
    const int moved = fcntl(fd, F_DUPFD_CLOEXEC, 3);
    const int saved = errno;
    close(fd);
    errno = saved;
    return moved;
}

// The receive thread blocks in recv, and sends block until taken: once
// connected the socket is blocking again. 0 or errno.
int MakeBlocking(int fd) {
    return fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK) < 0 ? errno : 0;
}

} // namespace

int TcpConnectStart(const char* address, int port, int* error) {
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_port = htons(static_cast<uint16_t>(port));
    if (inet_pton(AF_INET, address, &peer.sin_addr) != 1) {
        *error = EINVAL;
        return -1;
    }
    int fd = AboveStdio(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (fd < 0) {
        *error = errno;
        return -1;
    }
    // A non-blocking connect interrupted by a signal goes on in the
    // background, like one that reports EINPROGRESS.
    if (connect(fd, reinterpret_cast<const sockaddr*>(&peer), sizeof peer) == 0) {
        *error = MakeBlocking(fd); // connected at once, as loopback may be
    } else if (errno == EINPROGRESS || errno == EINTR) {
        *error = EINPROGRESS;
        return fd;
    } else {
        *error = errno;
    }
    if (*error != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

int TcpConnectWait(int fd, int timeoutMs) {
    pollfd p{fd, POLLOUT, 0};
    const int r = poll(&p, 1, timeoutMs);
    if (r == 0 || (r < 0 && errno == EINTR))
        return EINPROGRESS;
    if (r < 0)
        return errno;
    int err = 0;
    socklen_t len = sizeof err;
    if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) < 0)
        return errno;
    return err != 0 ? err : MakeBlocking(fd);
}

int TcpShutdownBoth(int fd) {
    return shutdown(fd, SHUT_RDWR) == 0 ? 0 : errno;
}

int TcpClose(int fd) {
    // Linux releases the descriptor even when close reports EINTR: no retry.
    return close(fd) == 0 ? 0 : errno;
}

int TcpSendNow(int fd, const unsigned char* data, size_t count, size_t* sent) {
    while (*sent < count) {
        const ssize_t rc = send(fd, data + *sent, count - *sent, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (rc < 0) {
            if (errno == EINTR)
                continue;
            return errno == EWOULDBLOCK ? EAGAIN : errno;
        }
        *sent += static_cast<size_t>(rc);
    }
    return 0;
}

void TcpWaitWritable(int fd, int timeoutMs) {
    pollfd p{fd, POLLOUT, 0};
    poll(&p, 1, timeoutMs); // a signal or an error ends it early: the caller sends again
}

long TcpUnacked(int fd) {
    int queued = 0;
    return ioctl(fd, SIOCOUTQ, &queued) == 0 && queued > 0 ? queued : 0;
}

bool TcpWaitBroken(int fd, int timeoutMs) {
    pollfd p{fd, 0, 0}; // no events asked: only a failure or a hang-up ends it early
    return poll(&p, 1, timeoutMs) == 1 && (p.revents & (POLLERR | POLLHUP | POLLNVAL)) != 0;
}

int TcpWaitReadable(int fd, int timeoutMs) {
    pollfd p{fd, POLLIN, 0};
    return poll(&p, 1, timeoutMs) == 1 ? 1 : 0; // a signal: as a time-out, the caller looks again
}

long TcpRecvNow(int fd, unsigned char* buffer, size_t size, int* error) {
    for (;;) {
        const ssize_t rc = recv(fd, buffer, size, MSG_DONTWAIT);
        if (rc >= 0)
            return static_cast<long>(rc);
        if (errno == EINTR)
            continue;
        *error = errno == EWOULDBLOCK ? EAGAIN : errno;
        return -1;
    }
}

long TcpRecv(int fd, unsigned char* buffer, size_t size, int* error) {
    for (;;) {
        const ssize_t rc = recv(fd, buffer, size, 0);
        if (rc >= 0)
            return static_cast<long>(rc);
        if (errno == EINTR)
            continue;
        *error = errno;
        return -1;
    }
}

} // namespace lumo
