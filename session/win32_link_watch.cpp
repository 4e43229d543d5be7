#include <windows.h>

#include <cstdint>

#include "link_watch.h"

namespace session {

// m_hCom holds the port's handle. A port whose device has gone (a USB
// adapter pulled) fails ClearCommError with ERROR_ACCESS_DENIED or
// ERROR_BAD_COMMAND; a port that is there answers it without waiting.
bool SerialPortGone(int fd) {
    if (fd <= 0)
        return false;
    DWORD errors = 0;
    COMSTAT status{};
    const HANDLE port = reinterpret_cast<HANDLE>(static_cast<intptr_t>(fd));
    if (ClearCommError(port, &errors, &status))
        return false;
    const DWORD error = GetLastError();
    return error == ERROR_ACCESS_DENIED || error == ERROR_BAD_COMMAND || error == ERROR_INVALID_HANDLE ||
           error == ERROR_DEVICE_NOT_CONNECTED;
}

} // namespace session
