// The system calls of lumo-module-sim's loop, one declaration for both
// systems: posix_sim_io.cpp (epoll, BSD sockets, a pseudo-terminal, signals)
// and win32_sim_io.cpp (WSAPoll, Winsock 2, console control events). What is
// answered when stays in sim_server.cpp. A call that must not fail ends the
// process with status 1 and the reason on standard error.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace modsim::io {

using Handle = intptr_t; // a descriptor or a socket
inline constexpr Handle kNone = -1;

// What a wait looks for (kIn, kOut) and what it reports (also kHangUp, kError).
enum : uint32_t { kIn = 1, kOut = 2, kHangUp = 4, kError = 8 };

// Reads and writes return a count (0: the peer closed) or one of these.
inline constexpr long kWouldBlock = -1;
inline constexpr long kFailed = -2; // LastError() says why

struct Peer {
    uint32_t address = 0; // host order
    uint16_t port = 0;
};

// The text of the last failed call's error.
std::string LastError();
// "lumo-module-sim: <what>: <LastError()>" on standard error, exit status 1.
[[noreturn]] void Die(const char* what);

// Raises the open-files limit as far as the system allows; false when it
// stays below need, with the limit in *limit.
bool RaiseFileLimit(uint64_t need, uint64_t* limit);

// A non-blocking socket bound to address:port (host order), listening when
// stream; a failed bind ends the process naming the address and the port.
Handle Listen(uint32_t address, const std::string& text, bool stream, int port);

enum class AcceptFail { Again, OutOfFiles, Other };
// The next pending connection, non-blocking, or kNone with *fail set.
Handle Accept(Handle listener, Peer* peer, AcceptFail* fail);

// One non-blocking read or write (interrupted calls are retried); socket
// writes raise no SIGPIPE.
long Read(Handle h, uint8_t* buffer, size_t size);
long Write(Handle h, bool socket, const uint8_t* data, size_t size);
long ReceiveFrom(Handle h, uint8_t* buffer, size_t size, Peer* peer);
long SendTo(Handle h, const uint8_t* data, size_t size, const Peer& peer);

// Closes h; reset: a socket closed with a reset (linger 0) instead of a FIN.
void Close(Handle h, bool reset = false);

// A handle that turns readable at SIGINT or SIGTERM (a console's Ctrl+C or
// close on Windows); SIGPIPE is ignored from then on.
Handle CatchStopSignals();

// A raw pseudo-terminal pair (both kept open, the master non-blocking) with
// the slave's path, optionally also reached through the symlink `link`;
// RemoveLink takes that symlink away when it still leads to the slave.
// Windows has none: its OpenTerminal says so and ends the process.
void OpenTerminal(Handle* master, Handle* slave, std::string* path, const std::string& link);
void RemoveLink(const std::string& link, const std::string& path);

// The wait of the loop over every handle it watches, each with a tag that
// comes back with what it reported.
class Poller {
public:
    struct Ready {
        void* tag;
        uint32_t events;
    };
    Poller();
    ~Poller();
    Poller(const Poller&) = delete;
    Poller& operator=(const Poller&) = delete;
    // What the wait looks for on h, which looked for `was` before (0: not
    // watched); events 0 takes it out. Take a handle out before closing it.
    void Watch(Handle h, void* tag, uint32_t was, uint32_t events);
    // Waits at most timeoutMs (-1: no bound) and fills ready (empty after a
    // time-out or an interruption).
    void Wait(int timeoutMs, std::vector<Ready>* ready);

private:
    struct State;
    std::unique_ptr<State> m_State;
};

} // namespace modsim::io
