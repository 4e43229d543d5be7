// The serial port calls of the device link, declared once for both systems:
// posix_serial.cpp (termios, ioctl, flock, poll) on Linux, win32_serial.cpp
// (CreateFileW, DCB, COMMTIMEOUTS, overlapped I/O) on Windows; the port
// numbers' devices are serial_port_names.cpp's. Every function runs on the
// caller's thread and never blocks longer than it says. Results below 0 are
// the negated errno of the call that failed.
#pragma once

#include <string>

namespace lumo_serial {

// The device that PortOpen(port) opens: the path in env LUMO_COM<port> when
// set, else the device a program put behind that number with SetPortDevice,
// else DefaultPortDevice(port). Any thread.
std::string PortDevice(int port);
// "LUMO_COM<port>", the environment variable that wins for port `port`.
std::string PortEnvironmentName(int port);
// The device that variable names; empty when it is unset or empty.
std::string PortEnvironmentDevice(int port);
// The device of a number nothing else names: /dev/ttyS<port-1> on Linux;
// COM<port> on Windows, \\.\COM<port> above 9.
std::string DefaultPortDevice(int port);

// Puts `device` (a path such as /dev/serial/by-id/...) behind port number
// `port` for this process; an empty device takes the mapping away. Any thread.
void SetPortDevice(int port, const std::string& device);

// Opens serial port `port` (1-based), the device PortDevice names. Exclusive (TIOCEXCL plus a non-blocking
// flock, so a second open fails even for root; a TIOCEXCL that another
// program holds is left to it), non-blocking, close-on-exec,
// raw 8 data bits, no parity, `baud` bits/s; stop bits and flow control stay
// as the port had them. Returns the descriptor (always >= 3) or -errno, with
// nothing left open on failure.
int PortOpen(int port, int baud);

// Closes a descriptor from PortOpen, lifting TIOCEXCL only when PortOpen set
// it. 0 or -errno.
int PortClose(int fd);

// Bytes waiting in the input queue (FIONREAD), or -errno.
int PortBytesWaiting(int fd);

// Reads at most `count` bytes that are already waiting; never blocks.
// Count read (0 when nothing waits), or -errno.
int PortReadNow(int fd, void* buffer, int count);

// Blocks at most timeoutMs until bytes wait to be read, or the port reports
// a hang-up or an error (which the next read shows). 1 ready, 0 time-out (or
// a signal), or -errno.
int PortWaitReadable(int fd, int timeoutMs);

// Writes one byte, waiting at most `waitMs` ms for the port to take it.
// 1 written, 0 not taken in time, or -errno.
int PortWriteByte(int fd, unsigned char byte, int waitMs);

} // namespace lumo_serial
