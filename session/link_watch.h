// Noticing that a link has gone and coming back to it: the serial port's
// hang-up (the TCP link's loss comes from the receive thread) and the
// schedule of the tries to open the link again.
#pragma once

namespace session {

// Whether the serial port open on descriptor fd has gone: the device was
// unplugged or the far end of a pseudo-terminal closed. Does not block.
bool SerialPortGone(int fd);

// Seconds to wait before reconnect try `attempt` (1-based): 1, 2, 4, 8, 16,
// then 30 for every later try.
inline int ReconnectDelaySeconds(int attempt) {
    return attempt >= 1 && attempt <= 5 ? 1 << (attempt - 1) : 30;
}

} // namespace session
