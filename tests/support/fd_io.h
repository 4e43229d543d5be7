// Descriptor I/O with deadlines, shared by the pty and socket helpers.
#pragma once

#include <poll.h>
#include <unistd.h>

#include "test_bytes.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstddef>

namespace lumo_test::detail {

using Clock = std::chrono::steady_clock;

// Milliseconds left until `deadline`, never negative.
inline int MsLeft(Clock::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

// Waits for `events` on fd until the deadline; true when ready (or hung up).
inline bool WaitReady(int fd, short events, Clock::time_point deadline) {
    for (;;) {
        pollfd p{fd, events, 0};
        int r = ::poll(&p, 1, MsLeft(deadline));
        if (r > 0)
            return true;
        if (r == 0)
            return false;
        if (errno != EINTR)
            return false;
    }
}

// One read of at most `max` bytes once data is there. >0 bytes, 0 end of
// stream (or an error such as EIO on a hung-up pty), -1 time-out.
inline ptrdiff_t ReadSome(int fd, void* buf, size_t max, Clock::time_point deadline) {
    if (!WaitReady(fd, POLLIN, deadline))
        return -1;
    for (;;) {
        ssize_t n = ::read(fd, buf, max);
        if (n >= 0)
            return n;
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            return -1;
        return 0;
    }
}

// Writes everything (retrying partial writes); false on error or time-out.
inline bool WriteAll(int fd, const void* data, size_t n, Clock::time_point deadline) {
    auto p = static_cast<const unsigned char*>(data);
    while (n > 0) {
        if (!WaitReady(fd, POLLOUT, deadline))
            return false;
        ssize_t w = ::write(fd, p, n);
        if (w < 0) {
            if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)
                continue;
            return false;
        }
        p += w;
        n -= static_cast<size_t>(w);
    }
    return true;
}

// Collects until `count` bytes came (never more), the stream ended or the
// deadline passed.
inline Bytes ReadExact(int fd, size_t count, Clock::time_point deadline) {
    Bytes out;
    unsigned char buf[4096];
    while (out.size() < count) {
        const ptrdiff_t n = ReadSome(fd, buf, std::min(sizeof buf, count - out.size()), deadline);
        if (n <= 0)
            break;
        out.insert(out.end(), buf, buf + n);
    }
    return out;
}

// Collects until nothing new came for `idle`, the stream ended or the
// deadline passed.
inline Bytes ReadUntilIdle(int fd, std::chrono::milliseconds idle, Clock::time_point deadline) {
    Bytes out;
    unsigned char buf[4096];
    for (;;) {
        const ptrdiff_t n = ReadSome(fd, buf, sizeof buf, std::min(deadline, Clock::now() + idle));
        if (n <= 0)
            break;
        out.insert(out.end(), buf, buf + n);
    }
    return out;
}

} // namespace lumo_test::detail
