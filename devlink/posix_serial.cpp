// termios/ioctl side of the serial link (see posix_serial.h).
#include "posix_serial.h"

#include <cerrno>
#include <chrono>
#include <mutex>
#include <set>
#include <string>

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

// Rates without a Bxxx code (14400, 28800, ...) go through the kernel's
// termios2 record with BOTHER. glibc does not declare that record, and
// <asm/termbits.h> clashes with <termios.h>, so it is spelled out here for
// the architectures that use the generic layout; the static_assert checks it
// against the size the kernel's TCSETS2 request encodes.
#if defined(__linux__) && defined(TCSETS2) &&                                                                \
    (defined(__x86_64__) || defined(__i386__) || defined(__aarch64__) || defined(__arm__) ||                 \
     defined(__riscv))
#define LUMO_HAVE_TERMIOS2 1
struct termios2 {
    tcflag_t c_iflag;
    tcflag_t c_oflag;
    tcflag_t c_cflag;
    tcflag_t c_lflag;
    cc_t c_line;
    cc_t c_cc[19];
    speed_t c_ispeed;
    speed_t c_ospeed;
};
static_assert(_IOC_SIZE(TCSETS2) == sizeof(termios2), "termios2 layout differs from the kernel's");
#endif

namespace lumo_serial {
namespace {

// The one place errno becomes a result: the negated code of the failed call.
int LastError() {
    const int e = errno;
    return e > 0 ? -e : -EIO;
}

// Runs a system call again while a signal interrupts it; result or -errno.
template <class Call> long Retry(Call call) {
    for (;;) {
        const long r = call();
        if (r >= 0)
            return r;
        if (errno != EINTR)
            return LastError();
    }
}

// Closes the descriptor unless released; lifts the exclusive flag it set.
class PortGuard {
public:
    explicit PortGuard(int fd) : m_Fd(fd) {}
    ~PortGuard() {
        if (m_Fd < 0)
            return;
        if (m_Exclusive)
            ::ioctl(m_Fd, TIOCNXCL);
        ::close(m_Fd);
    }
    PortGuard(const PortGuard&) = delete;
    PortGuard& operator=(const PortGuard&) = delete;

    int Get() const { return m_Fd; }
    void Reset(int fd) {
        PortGuard old(m_Fd);
        m_Fd = fd;
    }
    void MarkExclusive() { m_Exclusive = true; }
    int Release() {
        const int fd = m_Fd;
        m_Fd = -1;
        return fd;
    }

private:
    int m_Fd;
    bool m_Exclusive = false;
};

// Bxxx code for a rate that has one, else 0.
speed_t StandardCode(int baud) {
    struct Rate {
        int bits;
        speed_t code;
    };
    static constexpr Rate rates[] = {
        {50, B50},           {75, B75},           {110, B110},         {134, B134},
        {150, B150},         {200, B200},         {300, B300},         {600, B600},
        {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
        {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
        {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
        {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
        {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
        {3500000, B3500000}, {4000000, B4000000},
    };
    for (const Rate& r : rates)
        if (r.bits == baud)
            return r.code;
    return 0;
}

// Raw input and output, 8 data bits, no parity; stop bits (CSTOPB), modem
// lines and flow control (CRTSCTS, IXON/IXOFF) stay as the port had them.
void MakeRaw(termios& tio) {
    tio.c_iflag &= ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | INPCK);
    tio.c_oflag &= ~OPOST;
    tio.c_lflag &= ~(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    tio.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR);
    tio.c_cflag |= CS8 | CREAD;
    tio.c_cc[VMIN] = 0; // a read returns at once with what waits
    tio.c_cc[VTIME] = 0;
}

// tcsetattr succeeds when any one change was applied, so read back.
bool LineAsAsked(const termios& got, const termios& want) {
    return (got.c_cflag & (CSIZE | PARENB)) == (want.c_cflag & (CSIZE | PARENB)) &&
           (got.c_lflag & ICANON) == 0 && (got.c_oflag & OPOST) == 0;
}

int ApplyStandard(int fd, termios tio, speed_t code) {
    if (::cfsetispeed(&tio, code) < 0 || ::cfsetospeed(&tio, code) < 0)
        return LastError();
    if (const long r = Retry([&] { return static_cast<long>(::tcsetattr(fd, TCSANOW, &tio)); }); r < 0)
        return static_cast<int>(r);
    termios got{};
    if (::tcgetattr(fd, &got) < 0)
        return LastError();
    if (!LineAsAsked(got, tio) || ::cfgetospeed(&got) != code || ::cfgetispeed(&got) != code)
        return -EINVAL;
    return 0;
}

int ApplyOther(int fd, const termios& tio, int baud) {
#if defined(LUMO_HAVE_TERMIOS2)
    // Line settings first with the port's present speed, then the rate.
    if (const long r = Retry([&] { return static_cast<long>(::tcsetattr(fd, TCSANOW, &tio)); }); r < 0)
        return static_cast<int>(r);
    termios2 t2{};
    if (::ioctl(fd, TCGETS2, &t2) < 0)
        return LastError();
    constexpr tcflag_t other = CBAUDEX; // BOTHER in the kernel's termbits
    constexpr int inputShift = 16;      // IBSHIFT: input-rate bits of c_cflag
    t2.c_cflag &= ~(CBAUD | (CBAUD << inputShift));
    t2.c_cflag |= other | (other << inputShift);
    t2.c_ispeed = static_cast<speed_t>(baud);
    t2.c_ospeed = static_cast<speed_t>(baud);
    if (Retry([&] { return static_cast<long>(::ioctl(fd, TCSETS2, &t2)); }) < 0)
        return LastError();
    termios2 got{};
    if (::ioctl(fd, TCGETS2, &got) < 0)
        return LastError();
    // A UART gives the nearest rate its divisor can make; 2 % is what a
    // serial line tolerates.
    const long diff = static_cast<long>(got.c_ospeed) - baud;
    if (diff * 50 > baud || -diff * 50 > baud)
        return -EINVAL;
    return 0;
#else
    (void)fd;
    (void)tio;
    (void)baud;
    return -EINVAL; // this platform sets standard rates only
#endif
}

} // namespace

namespace {

std::mutex g_ExclusiveMutex;
std::set<int> g_OwnExclusive; // open ports whose exclusive flag PortOpen set

} // namespace

std::string DefaultPortDevice(int port) {
    return "/dev/ttyS" + std::to_string(port - 1);
}

int PortOpen(int port, int baud) {
    if (port < 1 || baud <= 0)
        return -EINVAL;
    const std::string path = PortDevice(port);
    const long opened = Retry(
        [&] { return static_cast<long>(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC)); });
    if (opened < 0)
        return static_cast<int>(opened);
    PortGuard guard(static_cast<int>(opened));

    // 0 stands for "no port" in m_hCom, and 0..2 may be free when the
    // program runs with a standard stream closed.
    if (guard.Get() <= STDERR_FILENO) {
        const int high = ::fcntl(guard.Get(), F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
        if (high < 0)
            return LastError();
        guard.Reset(high);
    }
    const int fd = guard.Get();

    // TIOCEXCL keeps other programs out but not root; the lock also keeps
    // out a second open by this program. A flag another program set (root
    // got in anyway) stays its own: it is neither set again nor lifted.
    if (::flock(fd, LOCK_EX | LOCK_NB) < 0)
        return LastError();
    int heldElsewhere = 0;
    if (::ioctl(fd, TIOCGEXCL, &heldElsewhere) < 0)
        heldElsewhere = 0; // a kernel that cannot tell: the flag is taken as free
    if (!heldElsewhere) {
        if (::ioctl(fd, TIOCEXCL) < 0)
            return LastError();
        guard.MarkExclusive();
    }

    termios tio{};
    if (::tcgetattr(fd, &tio) < 0)
        return LastError();
    MakeRaw(tio);
    const speed_t code = StandardCode(baud);
    const int set = code != 0 ? ApplyStandard(fd, tio, code) : ApplyOther(fd, tio, baud);
    if (set < 0)
        return set;
    if (!heldElsewhere) {
        std::lock_guard lock(g_ExclusiveMutex);
        g_OwnExclusive.insert(fd);
    }
    return guard.Release();
}

int PortClose(int fd) {
    bool own;
    {
        std::lock_guard lock(g_ExclusiveMutex);
        own = g_OwnExclusive.erase(fd) != 0;
    }
    if (own)
        ::ioctl(fd, TIOCNXCL);                // the flock goes with the descriptor
    return ::close(fd) < 0 ? LastError() : 0; // no retry: the descriptor is gone after EINTR
}

int PortBytesWaiting(int fd) {
    int n = 0;
    if (::ioctl(fd, FIONREAD, &n) < 0)
        return LastError();
    return n;
}

int PortReadNow(int fd, void* buffer, int count) {
    if (count <= 0)
        return 0;
    for (;;) {
        const ssize_t n = ::read(fd, buffer, static_cast<size_t>(count));
        if (n >= 0)
            return static_cast<int>(n);
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            return 0;
        return LastError();
    }
}

int PortWaitReadable(int fd, int timeoutMs) {
    pollfd p{fd, POLLIN, 0};
    const int r = ::poll(&p, 1, timeoutMs);
    if (r < 0)
        return errno == EINTR ? 0 : LastError();
    return r > 0 ? 1 : 0;
}

int PortWriteByte(int fd, unsigned char byte, int waitMs) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(waitMs);
    for (;;) {
        const ssize_t n = ::write(fd, &byte, 1);
        if (n == 1)
            return 1;
        if (n < 0 && errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK)
            return LastError();
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0)
            return 0;
        pollfd p{fd, POLLOUT, 0};
        const int r = ::poll(&p, 1, static_cast<int>(left));
        if (r < 0 && errno != EINTR)
            return LastError();
        if (r == 0)
            return 0;
        // Ready, an error or a signal: the next write tells which.
    }
}

} // namespace lumo_serial
