#include "pty_pair.h"

#include "fd_io.h"

#include <fcntl.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cstdlib>

namespace lumo_test {

using detail::Clock;

namespace {

bool MakeRaw(int fd) {
    termios t{};
    if (tcgetattr(fd, &t) != 0)
        return false;
    cfmakeraw(&t);
    return tcsetattr(fd, TCSANOW, &t) == 0;
}

} // namespace

PtyPair::PtyPair(int comNumber) : m_ComNumber(comNumber), m_EnvName("LUMO_COM" + std::to_string(comNumber)) {
    char name[256] = {};
    int master = -1;
    int slave = -1;
    if (openpty(&master, &slave, name, nullptr, nullptr) != 0)
        return;
    if (!MakeRaw(slave) || !MakeRaw(master)) {
        ::close(master);
        ::close(slave);
        return;
    }
    fcntl(master, F_SETFD, FD_CLOEXEC);
    fcntl(slave, F_SETFD, FD_CLOEXEC);
    m_Master = master;
    m_Slave = slave;
    m_SlavePath = name;
    setenv(m_EnvName.c_str(), m_SlavePath.c_str(), 1);
}

PtyPair::~PtyPair() {
    if (m_Master < 0)
        return;
    unsetenv(m_EnvName.c_str());
    ::close(m_Slave);
    ::close(m_Master);
}

bool PtyPair::Write(const Bytes& bytes) {
    return ok() &&
           detail::WriteAll(m_Master, bytes.data(), bytes.size(), Clock::now() + std::chrono::seconds(2));
}

bool PtyPair::Write(std::string_view text) {
    return ok() &&
           detail::WriteAll(m_Master, text.data(), text.size(), Clock::now() + std::chrono::seconds(2));
}

bool PtyPair::WaitDelivered(size_t count, std::chrono::milliseconds timeout) const {
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        int waiting = 0;
        if (!ok() || ::ioctl(m_Slave, FIONREAD, &waiting) != 0)
            return false;
        if (static_cast<size_t>(waiting) >= count)
            return true;
        if (Clock::now() >= deadline)
            return false;
        usleep(1000);
    }
}

Bytes PtyPair::ReadExact(size_t count, std::chrono::milliseconds timeout) {
    return ok() ? detail::ReadExact(m_Master, count, Clock::now() + timeout) : Bytes();
}

Bytes PtyPair::ReadUntil(unsigned char last, std::chrono::milliseconds timeout) {
    Bytes out;
    const auto deadline = Clock::now() + timeout;
    unsigned char b;
    while (ok()) {
        if (detail::ReadSome(m_Master, &b, 1, deadline) <= 0)
            break;
        out.push_back(b);
        if (b == last)
            break;
    }
    return out;
}

Bytes PtyPair::ReadUntilIdle(std::chrono::milliseconds idle, std::chrono::milliseconds timeout) {
    return ok() ? detail::ReadUntilIdle(m_Master, idle, Clock::now() + timeout) : Bytes();
}

void PtyPair::Drain() {
    ReadUntilIdle(std::chrono::milliseconds(0), std::chrono::milliseconds(0));
}

} // namespace lumo_test
