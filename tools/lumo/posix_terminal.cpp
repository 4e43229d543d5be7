#include "posix_terminal.h"

#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>

namespace lumo_cli::posix {

namespace {

constexpr char kEnter[] = "\x1b[?1049h\x1b[?25l\x1b[H\x1b[2J"; // alternate screen, no cursor, cleared
constexpr char kLeave[] = "\x1b[0m\x1b[?25h\x1b[?1049l";        // plain text, cursor, the screen as it was

} // namespace

struct FullScreen::Saved {
    termios modes{};
};

bool StdoutIsTerminal() {
    return isatty(STDOUT_FILENO) == 1;
}

FullScreen::FullScreen() : m_Saved(new Saved) {
    if (isatty(STDIN_FILENO) == 1 && tcgetattr(STDIN_FILENO, &m_Saved->modes) == 0) {
        termios raw = m_Saved->modes;
        raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | ISIG | IEXTEN);
        raw.c_iflag &= ~static_cast<tcflag_t>(IXON | ICRNL);
        raw.c_cc[VMIN] = 1;
        raw.c_cc[VTIME] = 0;
        m_Keys = tcsetattr(STDIN_FILENO, TCSANOW, &raw) == 0;
    }
    Write(kEnter);
}

FullScreen::~FullScreen() {
    Restore();
    delete m_Saved;
}

void FullScreen::Restore() {
    if (m_Restored)
        return;
    m_Restored = true;
    Write(kLeave);
    if (m_Keys)
        tcsetattr(STDIN_FILENO, TCSANOW, &m_Saved->modes); // nothing more to do when it fails
}

void FullScreen::Size(int* width, int* height) const {
    winsize ws{};
    const bool known = ioctl(STDOUT_FILENO, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0 && ws.ws_row > 0;
    *width = known ? ws.ws_col : 80;
    *height = known ? ws.ws_row : 24;
}

std::string FullScreen::Read(int ms, bool* ended) {
    *ended = false;
    if (!m_Keys) {
        poll(nullptr, 0, ms); // no keys to wait for: a pause
        return {};
    }
    pollfd p{STDIN_FILENO, POLLIN, 0};
    const int ready = poll(&p, 1, ms);
    if (ready <= 0)
        return {}; // a time-out, or a signal: the caller looks again
    char buf[64];
    const ssize_t n = read(STDIN_FILENO, buf, sizeof buf);
    if (n > 0)
        return std::string(buf, static_cast<size_t>(n));
    if (n == 0 || (errno != EINTR && errno != EAGAIN))
        *ended = true;
    return {};
}

bool FullScreen::Write(std::string_view text) {
    while (!text.empty()) {
        const ssize_t n = write(STDOUT_FILENO, text.data(), text.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno == EAGAIN) {
            pollfd p{STDOUT_FILENO, POLLOUT, 0};
            poll(&p, 1, 1000);
            continue;
        }
        if (n <= 0)
            return false;
        text.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

} // namespace lumo_cli::posix
