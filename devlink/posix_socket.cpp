#include "posix_socket.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdint>
#include <fcntl.h>
#include <netinet/in.h>
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

} // namespace

int TcpConnect(const char* address, int port, int* error) {
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_port = htons(static_cast<uint16_t>(port));
    if (inet_pton(AF_INET, address, &peer.sin_addr) != 1) {
        *error = EINVAL;
        return -1;
    }
    int fd = AboveStdio(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (fd < 0) {
        *error = errno;
        return -1;
    }
    int rc;
    do {
        rc = connect(fd, reinterpret_cast<const sockaddr*>(&peer), sizeof peer);
    } while (rc < 0 && errno == EINTR);
    if (rc < 0 && errno == EINPROGRESS) // cannot happen on a blocking socket
        errno = ETIMEDOUT;
    if (rc < 0) {
        *error = errno;
        close(fd);
        return -1;
    }
    return fd;
}

int TcpShutdownBoth(int fd) {
    return shutdown(fd, SHUT_RDWR) == 0 ? 0 : errno;
}

int TcpClose(int fd) {
    // Linux releases the descriptor even when close reports EINTR: no retry.
    return close(fd) == 0 ? 0 : errno;
}

int TcpSendAll(int fd, const unsigned char* data, size_t count) {
    size_t sent = 0;
    while (sent < count) {
        const ssize_t rc = send(fd, data + sent, count - sent, MSG_NOSIGNAL);
        if (rc < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        sent += static_cast<size_t>(rc);
    }
    return 0;
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
