// Win32 side of the serial link (see posix_serial.h): CreateFileW on
// COM<port> (\\.\COM<port> above 9) for overlapped I/O, not shared; a DCB
// with the rate, 8 data bits and no parity (the rest as the port had it);
// COMMTIMEOUTS under which a read returns at once with what waits; queues
// of 65536 bytes in and 102400 out. Every wait is bounded by the caller's
// limit. A port handle is the tree's int (Windows handles fit in 31 bits).
#include "posix_serial.h"

#include <cerrno>
#include <climits>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include <windows.h>

namespace lumo_serial {
namespace {

constexpr DWORD kInQueue = 65536;
constexpr DWORD kOutQueue = 102400;
constexpr DWORD kWriteTotalMs = 25000;
constexpr DWORD kReadPendingMs = 2000;

int ErrnoFromWin32(DWORD code) {
    switch (code) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
        return ENOENT;
    case ERROR_ACCESS_DENIED: // what Windows says of a port another program holds
    case ERROR_SHARING_VIOLATION:
    case ERROR_BUSY:
        return EBUSY;
    case ERROR_INVALID_PARAMETER:
    case ERROR_NOT_SUPPORTED:
        return EINVAL;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
        return ENOMEM;
    default:
        return EIO;
    }
}

int LastError() {
    return -ErrnoFromWin32(GetLastError());
}

// One port's events for its overlapped reads, writes and line waits; they
// live as long as the handle (PortOpen to PortClose).
struct Events {
    HANDLE read = nullptr, write = nullptr, wait = nullptr;
    ~Events() {
        for (HANDLE h : {read, write, wait})
            if (h)
                CloseHandle(h);
    }
    bool Made() const { return read && write && wait; }
};

std::mutex g_PortsMutex;
std::map<int, std::shared_ptr<Events>> g_Ports;

std::shared_ptr<Events> EventsOf(int fd) {
    std::lock_guard lock(g_PortsMutex);
    auto it = g_Ports.find(fd);
    return it == g_Ports.end() ? nullptr : it->second;
}

HANDLE Handle(int fd) {
    return reinterpret_cast<HANDLE>(static_cast<intptr_t>(fd));
}

std::wstring Wide(const std::string& utf8) {
    const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(n > 0 ? n : 0), L'\0');
    if (n > 0)
        MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), n);
    return out;
}

// Waits at most ms for an overlapped operation; its byte count, or -1 when it
// did not finish (it is then cancelled) or failed.
long Finish(HANDLE port, OVERLAPPED& ov, DWORD ms) {
    DWORD done = 0;
    if (WaitForSingleObject(ov.hEvent, ms) != WAIT_OBJECT_0) {
        CancelIoEx(port, &ov);
        GetOverlappedResult(port, &ov, &done, TRUE); // the cancelled operation lets go of ov
        return -1;
    }
    return GetOverlappedResult(port, &ov, &done, FALSE) ? static_cast<long>(done) : -1;
}

} // namespace

std::string DefaultPortDevice(int port) {
    return port > 9 ? "\\\\.\\COM" + std::to_string(port) : "COM" + std::to_string(port);
}

int PortOpen(int port, int baud) {
    if (port < 1 || baud <= 0)
        return -EINVAL;
    const HANDLE h = CreateFileW(Wide(PortDevice(port)).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return LastError();
    const intptr_t value = reinterpret_cast<intptr_t>(h);
    if (value <= 2 || value > INT_MAX) { // 0 stands for "no port" in m_hCom
        CloseHandle(h);
        return -EMFILE;
    }
    const int fd = static_cast<int>(value);
    auto fail = [&](int error) {
        CloseHandle(h);
        return error;
    };

    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = MAXDWORD; // a read returns at once with what waits
    timeouts.WriteTotalTimeoutConstant = kWriteTotalMs;
    if (!SetCommTimeouts(h, &timeouts))
        return fail(LastError());

    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(h, &dcb))
        return fail(LastError());
    dcb.BaudRate = static_cast<DWORD>(baud);
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.fParity = FALSE;
    dcb.fBinary = TRUE;
    if (!SetCommState(h, &dcb))
        return fail(LastError());
    // SetCommState may take a rate the driver rounds: read back, as on Linux.
    DCB got{};
    got.DCBlength = sizeof got;
    if (!GetCommState(h, &got))
        return fail(LastError());
    if (got.ByteSize != 8 || got.Parity != NOPARITY || got.BaudRate != dcb.BaudRate)
        return fail(-EINVAL);
    if (!SetupComm(h, kInQueue, kOutQueue))
        return fail(LastError());
    SetCommMask(h, EV_RXCHAR);

    auto events = std::make_shared<Events>();
    events->read = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    events->write = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    events->wait = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!events->Made())
        return fail(LastError());
    std::lock_guard lock(g_PortsMutex);
    g_Ports[fd] = std::move(events);
    return fd;
}

int PortClose(int fd) {
    {
        std::lock_guard lock(g_PortsMutex);
        g_Ports.erase(fd);
    }
    return CloseHandle(Handle(fd)) ? 0 : LastError();
}

int PortBytesWaiting(int fd) {
    DWORD errors = 0;
    COMSTAT stat{};
    if (!ClearCommError(Handle(fd), &errors, &stat)) // also clears a line error
        return LastError();
    return stat.cbInQue > INT_MAX ? INT_MAX : static_cast<int>(stat.cbInQue);
}

int PortReadNow(int fd, void* buffer, int count) {
    if (count <= 0)
        return 0;
    const auto events = EventsOf(fd);
    if (!events)
        return -EBADF;
    OVERLAPPED ov{};
    ov.hEvent = events->read;
    ResetEvent(ov.hEvent);
    DWORD got = 0;
    if (ReadFile(Handle(fd), buffer, static_cast<DWORD>(count), &got, &ov))
        return static_cast<int>(got);
    if (GetLastError() != ERROR_IO_PENDING)
        return LastError();
    const long done = Finish(Handle(fd), ov, kReadPendingMs);
    return done < 0 ? 0 : static_cast<int>(done);
}

int PortWaitReadable(int fd, int timeoutMs) {
    const int waiting = PortBytesWaiting(fd);
    if (waiting != 0)
        return waiting > 0 ? 1 : waiting;
    const auto events = EventsOf(fd);
    if (!events)
        return -EBADF;
    OVERLAPPED ov{};
    ov.hEvent = events->wait;
    ResetEvent(ov.hEvent);
    DWORD mask = 0;
    if (!WaitCommEvent(Handle(fd), &mask, &ov)) {
        if (GetLastError() != ERROR_IO_PENDING)
            return LastError();
        Finish(Handle(fd), ov, timeoutMs < 0 ? 0 : static_cast<DWORD>(timeoutMs));
    }
    return PortBytesWaiting(fd) > 0 ? 1 : 0;
}

int PortWriteByte(int fd, unsigned char byte, int waitMs) {
    const auto events = EventsOf(fd);
    if (!events)
        return -EBADF;
    OVERLAPPED ov{};
    ov.hEvent = events->write;
    ResetEvent(ov.hEvent);
    DWORD written = 0;
    if (WriteFile(Handle(fd), &byte, 1, &written, &ov))
        return written == 1 ? 1 : 0;
    if (GetLastError() != ERROR_IO_PENDING)
        return LastError();
    return Finish(Handle(fd), ov, waitMs < 0 ? 0 : static_cast<DWORD>(waitMs)) == 1 ? 1 : 0;
}

} // namespace lumo_serial
