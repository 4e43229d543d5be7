// The system calls behind lumo's command files and its process set-up. One
// declaration for both systems: posix_file.cpp (Linux), win32_file.cpp (Windows).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace lumo_cli::posix {

// Opens path for reading ("-": standard input). What cannot be read twice
// (standard input, a pipe) is first copied whole into an unnamed temporary
// file, whose descriptor comes back. The descriptor, or -errno.
int OpenRereadable(const std::string& path);
// Reads at most size bytes at offset without moving any shared position
// (so several threads may read one descriptor). Count, 0 at the end, or -errno.
long ReadAt(int fd, char* buffer, size_t size, uint64_t offset);
void Close(int fd);

// This computer's host name (for JUnit reports); empty when the system does not say.
std::string HostName();

// Raises the soft limit of open files to the hard one (each link holds a
// socket, so the usual 1,024 caps a process at about 1,020 links).
void RaiseOpenFilesLimit();

// While it exists, SIGINT and SIGTERM do not end the program: the first one
// calls stop() on a thread of the watcher's own; a second one ends the
// program as the signal would. Make it before any other thread, which then
// inherits the blocked signals. Signal() is the signal seen, else 0.
class SignalWatch {
public:
    explicit SignalWatch(std::function<void()> stop);
    ~SignalWatch();
    SignalWatch(const SignalWatch&) = delete;
    SignalWatch& operator=(const SignalWatch&) = delete;
    int Signal() const;

private:
    struct State;
    std::unique_ptr<State> m_State;
};

} // namespace lumo_cli::posix
