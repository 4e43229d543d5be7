#include "trace.h"

#include "console_ui.h"

#include <cerrno>
#include <cstddef>
#include <cstring>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

namespace {
constexpr suseconds_t kViewerWaitUs = 500 * 1000;
} // namespace

QByteArray BuildTraceRecord(const QByteArray& text) {
    QByteArray record(kTraceRecordSize, '\0');
    const int n = static_cast<int>(
        qstrnlen(text.constData(), static_cast<size_t>(qMin<qsizetype>(text.size(), kTraceTextMax))));
    const uint32_t len = static_cast<uint32_t>(n);
    for (int i = 0; i < 4; ++i)
        record[i] = static_cast<char>((len >> (8 * i)) & 0xFF);
    std::memcpy(record.data() + 4, text.constData(), static_cast<size_t>(n));
    return record;
}

int SendTraceRecordToViewer(const QByteArray& record, const QByteArray& name) {
    sockaddr_un addr{};
    const size_t nameLen = static_cast<size_t>(name.size());
    if (record.size() != kTraceRecordSize || nameLen == 0 || nameLen >= sizeof addr.sun_path)
        return 0;
    const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return 0;
    addr.sun_family = AF_UNIX;
    // abstract namespace: a leading zero byte, then the name without terminator
    std::memcpy(addr.sun_path + 1, name.constData(), nameLen);
    const auto addrLen = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + nameLen);
    // a viewer that lags may hold the report up briefly, never the console for long
    const timeval limit{0, kViewerWaitUs};
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    ssize_t sent;
    do {
        sent = ::sendto(fd, record.constData(), static_cast<size_t>(record.size()), MSG_NOSIGNAL,
                        reinterpret_cast<const sockaddr*>(&addr), addrLen);
    } while (sent < 0 && errno == EINTR);
    ::close(fd);
    // ECONNREFUSED/ENOENT: no viewer; EAGAIN: a viewer too busy to take it. Both skip.
    return sent == kTraceRecordSize ? 1 : 0;
}

int SendTrace(const QByteArray& text) {
    return consoleUi().sendTraceRecord(BuildTraceRecord(text));
}
