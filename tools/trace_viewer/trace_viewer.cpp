// lumo-trace-viewer: shows the console's trace reports, one line each.
//
// The console finds the viewer by name: a Unix datagram socket in the
// abstract namespace whose name is "TRACE  DATA  COMMAND" (two spaces between
// the words, no trailing zero in the address). Each report is one datagram
// holding a 5004-byte record:
//   offset 0, 4 bytes:    text length in bytes, signed 32-bit little-endian, 0..5000
//   offset 4, 5000 bytes: the text (8-bit characters), zero-filled after it
// A report that nobody receives is simply lost: the console skips the report
// when no viewer is bound.
//
// Output per record: "HH:MM:SS.mmm <text>\n" (local time of arrival), flushed;
// control bytes of the text are shown as '.'.

#include "lumo_version.h"

#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <sys/time.h>

namespace {

constexpr size_t TRACE_RECORD_SIZE = 5004;
constexpr size_t TRACE_TEXT_MAX = 5000;
constexpr const char* DEFAULT_NAME = "TRACE  DATA  COMMAND";

volatile sig_atomic_t g_Stop = 0;
void OnSignal(int) {
    g_Stop = 1;
}

const char USAGE[] = R"(usage: lumo-trace-viewer [--count N] [--name NAME] [--help] [--version]

Binds the abstract Unix datagram socket "TRACE  DATA  COMMAND", prints
"ready", then one line "HH:MM:SS.mmm <text>" per trace record received.
  --count N    exit after N records
  --name NAME  bind another abstract name (tests)
)";

// The text of one received record, or false when it is too short to hold a length.
bool RecordText(const unsigned char* rec, size_t n, std::string* text) {
    if (n < 4)
        return false;
    int32_t len =
        int32_t(uint32_t(rec[0]) | uint32_t(rec[1]) << 8 | uint32_t(rec[2]) << 16 | uint32_t(rec[3]) << 24);
    size_t avail = n - 4 < TRACE_TEXT_MAX ? n - 4 : TRACE_TEXT_MAX;
    size_t take = len < 0 ? 0 : (size_t(len) < avail ? size_t(len) : avail);
    const unsigned char* p = rec + 4;
    const void* zero = std::memchr(p, 0, take);
    if (zero)
        take = size_t(static_cast<const unsigned char*>(zero) - p);
    text->assign(reinterpret_cast<const char*>(p), take);
    for (char& c : *text)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            c = '.';
    return true;
}

std::string Stamp() {
    timeval tv{};
    gettimeofday(&tv, nullptr);
    tm lt{};
    localtime_r(&tv.tv_sec, &lt);
    char buf[32];
    std::snprintf(buf, sizeof buf, "%02d:%02d:%02d.%03d", lt.tm_hour, lt.tm_min, lt.tm_sec,
                  int(tv.tv_usec / 1000));
    return buf;
}

} // namespace

int main(int argc, char** argv) {
    long count = -1;
    std::string name = DEFAULT_NAME;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--help" || a == "-h") {
            std::fputs(USAGE, stdout);
            return 0;
        } else if (a == "--version") {
            std::printf("lumo-trace-viewer %s\n", LUMO_VERSION);
            return 0;
        } else if (a == "--count" && i + 1 < argc) {
            char* end = nullptr;
            count = std::strtol(argv[++i], &end, 10);
            if (*end || count < 1) {
                std::fprintf(stderr, "lumo-trace-viewer: bad --count\n");
                return 2;
            }
        } else if (a == "--name" && i + 1 < argc) {
            name = argv[++i];
        } else if (a == "--count" || a == "--name") {
            std::fprintf(stderr, "lumo-trace-viewer: %s needs a value (see --help)\n", a.c_str());
            return 2;
        } else {
            std::fprintf(stderr, "lumo-trace-viewer: unknown option %s (see --help)\n", a.c_str());
            return 2;
        }
    }
    sockaddr_un sa{};
    if (name.empty() || name.size() > sizeof sa.sun_path - 1) {
        std::fprintf(stderr, "lumo-trace-viewer: bad name\n");
        return 2;
    }

    struct sigaction act {};
    act.sa_handler = OnSignal;
    sigemptyset(&act.sa_mask);
    sigaction(SIGINT, &act, nullptr);
    sigaction(SIGTERM, &act, nullptr);

    int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        std::perror("lumo-trace-viewer: socket");
        return 1;
    }
    sa.sun_family = AF_UNIX;
    std::memcpy(sa.sun_path + 1, name.data(), name.size()); // sun_path[0] = 0: abstract
    socklen_t len = socklen_t(offsetof(sockaddr_un, sun_path) + 1 + name.size());
    if (bind(fd, reinterpret_cast<sockaddr*>(&sa), len) < 0) {
        std::fprintf(stderr, "lumo-trace-viewer: bind \"%s\": %s\n", name.c_str(), std::strerror(errno));
        close(fd);
        return 1;
    }
    std::printf("ready\n");
    std::fflush(stdout);

    static unsigned char rec[TRACE_RECORD_SIZE + 1];
    long seen = 0;
    while (!g_Stop && (count < 0 || seen < count)) {
        pollfd p{fd, POLLIN, 0};
        int r = poll(&p, 1, 500); // wakes for the stop flag even without EINTR
        if (r <= 0)
            continue;
        ssize_t n = recv(fd, rec, sizeof rec, 0);
        if (n < 0)
            continue;
        std::string text;
        if (!RecordText(rec, size_t(n), &text))
            continue;
        std::printf("%s %s\n", Stamp().c_str(), text.c_str());
        std::fflush(stdout);
        ++seen;
    }
    close(fd);
    return 0;
}
