// Linux side of lumo-module-sim's loop (see posix_sim_io.h): epoll, whose
// wake-up costs what is ready, not what is open, so a module among a
// thousand answers as fast as a lone one.
#include "posix_sim_io.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <pty.h>
#include <signal.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace modsim::io {

namespace {

volatile sig_atomic_t g_SignalFd = -1;

void OnSignal(int) {
    int saved = errno;
    if (g_SignalFd >= 0) {
        char c = 1;
        [[maybe_unused]] ssize_t r = write(g_SignalFd, &c, 1);
    }
    errno = saved;
}

void SetNonBlocking(int fd) {
    int fl = fcntl(fd, F_GETFL, 0);
    if (fl < 0 || fcntl(fd, F_SETFL, fl | O_NONBLOCK) < 0)
        Die("fcntl");
}

sockaddr_in SocketAddress(const Peer& p) {
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(p.port);
    sa.sin_addr.s_addr = htonl(p.address);
    return sa;
}

Peer PeerOf(const sockaddr_in& sa) {
    return {ntohl(sa.sin_addr.s_addr), ntohs(sa.sin_port)};
}

long Outcome(ssize_t n) {
    if (n >= 0)
        return static_cast<long>(n);
    return errno == EAGAIN || errno == EWOULDBLOCK ? kWouldBlock : kFailed;
}

} // namespace

std::string LastError() {
    return std::strerror(errno);
}

void Die(const char* what) {
    std::fprintf(stderr, "lumo-module-sim: %s: %s\n", what, std::strerror(errno));
    std::exit(1);
}

bool RaiseFileLimit(uint64_t need, uint64_t* limit) {
    rlimit rl{};
    if (getrlimit(RLIMIT_NOFILE, &rl) < 0)
        Die("getrlimit");
    if (rl.rlim_cur < rl.rlim_max) {
        rl.rlim_cur = rl.rlim_max;
        if (setrlimit(RLIMIT_NOFILE, &rl) < 0)
            Die("setrlimit");
    }
    *limit = rl.rlim_cur;
    return rl.rlim_cur >= need;
}

Handle Listen(uint32_t address, const std::string& text, bool stream, int port) {
    const int type = stream ? SOCK_STREAM : SOCK_DGRAM;
    int fd = socket(AF_INET, type | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        Die("socket");
    int one = 1;
    if (setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one) < 0)
        Die("setsockopt");
    const sockaddr_in sa = SocketAddress({address, static_cast<uint16_t>(port)});
    if (bind(fd, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) < 0) {
        std::fprintf(stderr, "lumo-module-sim: %s: bind port %d: %s\n", text.c_str(), port,
                     std::strerror(errno));
        std::exit(1);
    }
    if (stream && listen(fd, 16) < 0)
        Die("listen");
    return fd;
}

Handle Accept(Handle listener, Peer* peer, AcceptFail* fail) {
    sockaddr_in sa{};
    socklen_t len = sizeof sa;
    const int fd = accept4(static_cast<int>(listener), reinterpret_cast<sockaddr*>(&sa), &len,
                           SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd >= 0) {
        *peer = PeerOf(sa);
        return fd;
    }
    if (errno == EMFILE || errno == ENFILE)
        *fail = AcceptFail::OutOfFiles;
    else if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR || errno == ECONNABORTED)
        *fail = AcceptFail::Again;
    else
        *fail = AcceptFail::Other;
    return kNone;
}

long Read(Handle h, uint8_t* buffer, size_t size) {
    for (;;) {
        const ssize_t n = read(static_cast<int>(h), buffer, size);
        if (n < 0 && errno == EINTR)
            continue;
        return Outcome(n);
    }
}

long Write(Handle h, bool socket, const uint8_t* data, size_t size) {
    for (;;) {
        const int fd = static_cast<int>(h);
        const ssize_t n = socket ? send(fd, data, size, MSG_NOSIGNAL) : write(fd, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        return Outcome(n);
    }
}

long ReceiveFrom(Handle h, uint8_t* buffer, size_t size, Peer* peer) {
    for (;;) {
        sockaddr_in sa{};
        socklen_t len = sizeof sa;
        const ssize_t n =
            recvfrom(static_cast<int>(h), buffer, size, 0, reinterpret_cast<sockaddr*>(&sa), &len);
        if (n < 0 && errno == EINTR)
            continue;
        if (n >= 0)
            *peer = PeerOf(sa);
        return Outcome(n);
    }
}

long SendTo(Handle h, const uint8_t* data, size_t size, const Peer& peer) {
    const sockaddr_in sa = SocketAddress(peer);
    for (;;) {
        const ssize_t n =
            sendto(static_cast<int>(h), data, size, 0, reinterpret_cast<const sockaddr*>(&sa), sizeof sa);
        if (n < 0 && errno == EINTR)
            continue;
        return Outcome(n);
    }
}

void Close(Handle h, bool reset) {
    if (h < 0)
        return;
    if (reset) {
        linger lg{1, 0};
        setsockopt(static_cast<int>(h), SOL_SOCKET, SO_LINGER, &lg, sizeof lg);
    }
    close(static_cast<int>(h));
}

Handle CatchStopSignals() {
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK) < 0)
        Die("pipe");
    g_SignalFd = pipeFds[1]; // stays open until the process ends
    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    signal(SIGPIPE, SIG_IGN);
    return pipeFds[0];
}

void OpenTerminal(Handle* master, Handle* slave, std::string* path, const std::string& link) {
    int m = -1, s = -1;
    char name[256] = {};
    if (openpty(&m, &s, name, nullptr, nullptr) < 0)
        Die("openpty");
    termios t{};
    if (tcgetattr(s, &t) < 0)
        Die("tcgetattr");
    cfmakeraw(&t);
    if (tcsetattr(s, TCSANOW, &t) < 0)
        Die("tcsetattr");
    fcntl(m, F_SETFD, FD_CLOEXEC);
    fcntl(s, F_SETFD, FD_CLOEXEC);
    SetNonBlocking(m);
    *master = m;
    *slave = s;
    *path = name;
    if (link.empty())
        return;
    struct stat st {};
    if (lstat(link.c_str(), &st) == 0) {
        if (!S_ISLNK(st.st_mode)) {
            std::fprintf(stderr, "lumo-module-sim: %s exists and is not a symlink\n", link.c_str());
            std::exit(1);
        }
        unlink(link.c_str());
    }
    if (symlink(name, link.c_str()) < 0)
        Die("symlink");
}

void RemoveLink(const std::string& link, const std::string& path) {
    if (link.empty())
        return;
    char target[256] = {};
    const ssize_t n = readlink(link.c_str(), target, sizeof target - 1);
    if (n > 0 && path == std::string(target, size_t(n)))
        unlink(link.c_str());
}

struct Poller::State {
    int epoll = -1;
    std::vector<epoll_event> events = std::vector<epoll_event>(256);
};

Poller::Poller() : m_State(std::make_unique<State>()) {
    m_State->epoll = epoll_create1(EPOLL_CLOEXEC);
    if (m_State->epoll < 0)
        Die("epoll_create1");
}

Poller::~Poller() {
    close(m_State->epoll);
}

void Poller::Watch(Handle h, void* tag, uint32_t was, uint32_t events) {
    if (events == was)
        return;
    epoll_event ev{};
    ev.events = (events & kIn ? EPOLLIN : 0u) | (events & kOut ? EPOLLOUT : 0u);
    ev.data.ptr = tag;
    const int op = !events ? EPOLL_CTL_DEL : was ? EPOLL_CTL_MOD : EPOLL_CTL_ADD;
    if (epoll_ctl(m_State->epoll, op, static_cast<int>(h), &ev) < 0)
        Die("epoll_ctl");
}

void Poller::Wait(int timeoutMs, std::vector<Ready>* ready) {
    ready->clear();
    std::vector<epoll_event>& events = m_State->events;
    const int n = epoll_wait(m_State->epoll, events.data(), int(events.size()), timeoutMs);
    if (n < 0) {
        if (errno == EINTR)
            return;
        Die("epoll_wait");
    }
    for (int i = 0; i < n; ++i) {
        const uint32_t got = events[i].events;
        ready->push_back({events[i].data.ptr, (got & EPOLLIN ? kIn : 0u) | (got & EPOLLOUT ? kOut : 0u) |
                                                  (got & EPOLLHUP ? kHangUp : 0u) |
                                                  (got & EPOLLERR ? kError : 0u)});
    }
}

} // namespace modsim::io
