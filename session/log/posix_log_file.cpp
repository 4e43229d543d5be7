#include "posix_log_file.h"

#include <cerrno>
#include <ctime>
#include <fcntl.h>
#include <unistd.h>

namespace session::posix_log {

LocalStamp LocalTime(int64_t wallMs) {
    int64_t seconds = wallMs / 1000;
    int ms = static_cast<int>(wallMs % 1000);
    if (ms < 0) { // before 1970: floor, not truncate
        ms += 1000;
        --seconds;
    }
    const time_t t = static_cast<time_t>(seconds);
    struct tm parts {};
    LocalStamp out;
    if (!localtime_r(&t, &parts))
        return out;
    out.year = parts.tm_year + 1900;
    out.month = parts.tm_mon + 1;
    out.day = parts.tm_mday;
    out.hour = parts.tm_hour;
    out.minute = parts.tm_min;
    out.second = parts.tm_sec;
    out.ms = ms;
    return out;
}

int OpenAppend(const std::string& path, bool exclusive) {
    int flags = O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC;
    if (exclusive)
        flags |= O_EXCL;
    int fd;
    do {
        fd = ::open(path.c_str(), flags, 0600);
    } while (fd < 0 && errno == EINTR);
    return fd >= 0 ? fd : -errno;
}

int WriteAll(int fd, std::string_view data) {
    size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return n < 0 ? errno : EIO;
        done += static_cast<size_t>(n);
    }
    return 0;
}

void Close(int fd) {
    if (fd >= 0)
        ::close(fd); // an append-only log: nothing to learn from a failed close
}

} // namespace session::posix_log
