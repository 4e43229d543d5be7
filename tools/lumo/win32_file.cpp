// Windows side of lumo's command files and process set-up (see
// posix_file.h). Descriptors are the C runtime's; positional reads go to the
// file's handle with the offset in an OVERLAPPED, which leaves no shared
// position to race on. Ctrl+C and Ctrl+Break come as console control events.
#include "posix_file.h"

#include <fcntl.h>
#include <io.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <mutex>

#include <windows.h>

namespace lumo_cli::posix {

namespace {

int ErrnoFromWin32(DWORD error) {
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
        return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
        return EACCES;
    case ERROR_DISK_FULL:
        return ENOSPC;
    default:
        return EIO;
    }
}

// A new temporary file that goes when it is closed, as a descriptor, or -errno.
int NewTemporary() {
    wchar_t folder[MAX_PATH + 1];
    wchar_t path[MAX_PATH + 1];
    if (!GetTempPathW(MAX_PATH + 1, folder) || !GetTempFileNameW(folder, L"lum", 0, path))
        return -ErrnoFromWin32(GetLastError());
    const HANDLE h =
        CreateFileW(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                    CREATE_ALWAYS, FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return -ErrnoFromWin32(GetLastError());
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_RDWR | _O_BINARY);
    if (fd < 0)
        CloseHandle(h);
    return fd < 0 ? -EMFILE : fd;
}

// Copies everything from `from` into a new temporary file; its descriptor, or -errno.
int CopyToTemporary(int from) {
    const int fd = NewTemporary();
    if (fd < 0)
        return fd;
    _setmode(from, _O_BINARY);
    char buf[65536];
    for (;;) {
        const int n = _read(from, buf, sizeof buf);
        if (n < 0) {
            const int e = errno;
            _close(fd);
            return -e;
        }
        if (n == 0)
            return fd;
        if (_write(fd, buf, static_cast<unsigned>(n)) != n) {
            const int e = errno;
            _close(fd);
            return -e;
        }
    }
}

// The watch in force, for the control handler (one at a time).
std::mutex g_WatchLock;
std::function<void()>* g_Stop = nullptr;
std::atomic<int>* g_Signal = nullptr;

BOOL WINAPI OnConsoleEvent(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT)
        return FALSE;
    const std::lock_guard<std::mutex> lock(g_WatchLock);
    if (!g_Stop || g_Signal->exchange(SIGINT) != 0)
        return FALSE; // none, or the second one: the system ends the program
    (*g_Stop)();
    return TRUE;
}

} // namespace

int OpenRereadable(const std::string& path) {
    if (path == "-")
        return CopyToTemporary(0);
    const int fd = _open(path.c_str(), _O_RDONLY | _O_BINARY | _O_NOINHERIT);
    if (fd < 0)
        return -errno;
    if (GetFileType(reinterpret_cast<HANDLE>(_get_osfhandle(fd))) == FILE_TYPE_DISK)
        return fd;
    const int copy = CopyToTemporary(fd);
    _close(fd);
    return copy;
}

long ReadAt(int fd, char* buffer, size_t size, uint64_t offset) {
    const HANDLE h = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
    if (h == INVALID_HANDLE_VALUE)
        return -EBADF;
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD got = 0;
    const DWORD want = size > 0x40000000 ? 0x40000000 : static_cast<DWORD>(size);
    if (ReadFile(h, buffer, want, &got, &at))
        return static_cast<long>(got);
    const DWORD error = GetLastError();
    return error == ERROR_HANDLE_EOF ? 0 : -ErrnoFromWin32(error);
}

void Close(int fd) {
    if (fd >= 0)
        _close(fd);
}

std::string HostName() {
    char host[256] = "";
    DWORD size = sizeof host;
    if (!GetComputerNameExA(ComputerNameDnsHostname, host, &size))
        return {};
    return std::string(host, size);
}

void RaiseOpenFilesLimit() {} // sockets are not counted against a per-process limit here

struct SignalWatch::State {
    std::function<void()> stop;
    std::atomic<int> signal{0};
};

SignalWatch::SignalWatch(std::function<void()> stop) : m_State(std::make_unique<State>()) {
    m_State->stop = std::move(stop);
    {
        const std::lock_guard<std::mutex> lock(g_WatchLock);
        g_Stop = &m_State->stop;
        g_Signal = &m_State->signal;
    }
    SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

SignalWatch::~SignalWatch() {
    SetConsoleCtrlHandler(OnConsoleEvent, FALSE);
    const std::lock_guard<std::mutex> lock(g_WatchLock); // waits for a handler that is running
    g_Stop = nullptr;
    g_Signal = nullptr;
}

int SignalWatch::Signal() const {
    return m_State->signal.load();
}

} // namespace lumo_cli::posix
