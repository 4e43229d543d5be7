// Windows side of the session log's file (see posix_log_file.h), on the C
// runtime's descriptors: UTF-8 paths, appending, not inherited.
#include "posix_log_file.h"

#include <cerrno>
#include <climits>
#include <ctime>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <windows.h>

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
    if (localtime_s(&parts, &t) != 0)
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
    const int n = MultiByteToWideChar(CP_UTF8, 0, path.c_str(), -1, nullptr, 0);
    if (n <= 0)
        return -EINVAL;
    std::wstring wide(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, path.c_str(), -1, wide.data(), n);
    int flags = _O_WRONLY | _O_CREAT | _O_APPEND | _O_BINARY | _O_NOINHERIT;
    if (exclusive)
        flags |= _O_EXCL;
    const int fd = _wopen(wide.c_str(), flags, _S_IREAD | _S_IWRITE);
    return fd >= 0 ? fd : -errno;
}

int WriteAll(int fd, std::string_view data) {
    size_t done = 0;
    while (done < data.size()) {
        const size_t left = data.size() - done;
        const int n = _write(fd, data.data() + done, left > INT_MAX ? INT_MAX : static_cast<unsigned>(left));
        if (n <= 0)
            return n < 0 ? errno : EIO;
        done += static_cast<size_t>(n);
    }
    return 0;
}

void Close(int fd) {
    if (fd >= 0)
        _close(fd); // an append-only log: nothing to learn from a failed close
}

} // namespace session::posix_log
