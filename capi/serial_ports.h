// The serial port a caller names: a number ("3", "COM3") or a device path.
// The device link opens ports by number, so each device path gets a number
// of its own for the life of the process (above the numbers people type),
// which stays put while links on other threads use other paths.
#pragma once

#include <string>
#include <string_view>

namespace capi {

inline constexpr int kMaxTypedPort = 999; // "1" to "999", "COM1" to "COM999"

struct SerialPort {
    int number = 0;     // 0: the text names no port
    std::string device; // the path when one was given, else empty
};

// Parses "N", "COMN" (any case) or an absolute device path; a path is put
// behind a port number with lumo_serial::SetPortDevice. Any thread.
SerialPort NameSerialPort(std::string_view text);

} // namespace capi
