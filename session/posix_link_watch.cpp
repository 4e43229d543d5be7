#include <poll.h>

#include <cerrno>

#include "link_watch.h"

namespace session {

bool SerialPortGone(int fd) {
    if (fd <= 0)
        return false;
    pollfd p{.fd = fd, .events = POLLIN, .revents = 0};
    int n;
    do
        n = ::poll(&p, 1, 0);
    while (n < 0 && errno == EINTR);
    return n > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
}

} // namespace session
