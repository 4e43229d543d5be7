#include "posix_file.h"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <thread>

namespace lumo_cli::posix {

namespace {

// Copies everything from `from` into a new unnamed temporary file; its
// descriptor (at offset 0 is irrelevant: it is read with pread), or -errno.
int CopyToTemporary(int from) {
    std::FILE* temp = std::tmpfile();
    if (!temp)
        return -errno;
    const int fd = fcntl(fileno(temp), F_DUPFD_CLOEXEC, 3);
    const int saved = errno;
    std::fclose(temp);
    if (fd < 0)
        return -saved;
    char buf[65536];
    for (;;) {
        const ssize_t n = read(from, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            const int e = errno;
            close(fd);
            return -e;
        }
        if (n == 0)
            return fd;
        for (ssize_t done = 0; done < n;) {
            const ssize_t w = write(fd, buf + done, static_cast<size_t>(n - done));
            if (w < 0 && errno == EINTR)
                continue;
            if (w < 0) {
                const int e = errno;
                close(fd);
                return -e;
            }
            done += w;
        }
    }
}

} // namespace

int OpenRereadable(const std::string& path) {
    if (path == "-")
        return CopyToTemporary(STDIN_FILENO);
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return -errno;
    struct stat st {};
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode))
        return fd;
    const int copy = CopyToTemporary(fd);
    close(fd);
    return copy;
}

long ReadAt(int fd, char* buffer, size_t size, uint64_t offset) {
    for (;;) {
        const ssize_t n = pread(fd, buffer, size, static_cast<off_t>(offset));
        if (n >= 0)
            return static_cast<long>(n);
        if (errno != EINTR)
            return -errno;
    }
}

void Close(int fd) {
    if (fd >= 0)
        close(fd);
}

std::string HostName() {
    char host[256] = "";
    if (gethostname(host, sizeof host - 1) != 0)
        return {};
    host[sizeof host - 1] = '\0';
    return host;
}

void RaiseOpenFilesLimit() {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit); // a refusal leaves the soft limit: fewer links at once
    }
}

struct SignalWatch::State {
    sigset_t set{};
    sigset_t before{};
    std::atomic<int> signal{0};
    std::atomic<bool> quitting{false};
    std::thread thread;
};

SignalWatch::SignalWatch(std::function<void()> stop) : m_State(std::make_unique<State>()) {
    State& s = *m_State;
    sigemptyset(&s.set);
    sigaddset(&s.set, SIGINT);
    sigaddset(&s.set, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &s.set, &s.before);
    s.thread = std::thread([&s, stop = std::move(stop)] {
        for (;;) {
            int sig = 0;
            if (sigwait(&s.set, &sig) != 0 || s.quitting.load())
                return;
            if (s.signal.exchange(sig) != 0) {
                // the second one: end as the signal would
                signal(sig, SIG_DFL);
                pthread_sigmask(SIG_UNBLOCK, &s.set, nullptr);
                raise(sig);
                _exit(128 + sig);
            }
            stop();
        }
    });
}

SignalWatch::~SignalWatch() {
    m_State->quitting.store(true);
    pthread_kill(m_State->thread.native_handle(), SIGTERM); // wakes its sigwait
    m_State->thread.join();
    // a signal that came meanwhile stays pending, and ends the program here as it would have
    pthread_sigmask(SIG_SETMASK, &m_State->before, nullptr);
}

int SignalWatch::Signal() const {
    return m_State->signal.load();
}

} // namespace lumo_cli::posix
