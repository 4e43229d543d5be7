// Windows side of lumo watch's terminal (see posix_terminal.h): the console
// with virtual-terminal sequences on (the table is drawn with the same
// sequences as on Linux) and its keys read as they come, arrows as sequences.
#include "posix_terminal.h"

#include <windows.h>

namespace lumo_cli::posix {

namespace {

constexpr char kEnter[] = "\x1b[?1049h\x1b[?25l\x1b[H\x1b[2J"; // alternate screen, no cursor, cleared
constexpr char kLeave[] = "\x1b[0m\x1b[?25h\x1b[?1049l";       // plain text, cursor, the screen as it was

HANDLE In() {
    return GetStdHandle(STD_INPUT_HANDLE);
}

HANDLE Out() {
    return GetStdHandle(STD_OUTPUT_HANDLE);
}

} // namespace

struct FullScreen::Saved {
    DWORD inMode = 0, outMode = 0;
    bool out = false; // outMode was read and changed
};

bool StdoutIsTerminal() {
    DWORD mode = 0;
    return GetConsoleMode(Out(), &mode) != 0;
}

FullScreen::FullScreen() : m_Saved(new Saved) {
    if (GetConsoleMode(Out(), &m_Saved->outMode))
        m_Saved->out = SetConsoleMode(Out(), m_Saved->outMode | ENABLE_PROCESSED_OUTPUT |
                                                 ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
    if (GetConsoleMode(In(), &m_Saved->inMode)) {
        const DWORD raw =
            (m_Saved->inMode & ~DWORD(ENABLE_LINE_INPUT | ENABLE_ECHO_INPUT | ENABLE_PROCESSED_INPUT)) |
            ENABLE_VIRTUAL_TERMINAL_INPUT;
        m_Keys = SetConsoleMode(In(), raw) != 0;
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
        SetConsoleMode(In(), m_Saved->inMode);
    if (m_Saved->out)
        SetConsoleMode(Out(), m_Saved->outMode);
}

void FullScreen::Size(int* width, int* height) const {
    CONSOLE_SCREEN_BUFFER_INFO info{};
    const bool known = GetConsoleScreenBufferInfo(Out(), &info) != 0;
    *width = known ? info.srWindow.Right - info.srWindow.Left + 1 : 80;
    *height = known ? info.srWindow.Bottom - info.srWindow.Top + 1 : 24;
}

std::string FullScreen::Read(int ms, bool* ended) {
    *ended = false;
    if (!m_Keys) {
        Sleep(static_cast<DWORD>(ms)); // no keys to wait for: a pause
        return {};
    }
    const DWORD wait = WaitForSingleObject(In(), static_cast<DWORD>(ms));
    if (wait == WAIT_TIMEOUT)
        return {};
    INPUT_RECORD records[64];
    DWORD count = 0;
    if (wait != WAIT_OBJECT_0 || !ReadConsoleInputA(In(), records, 64, &count)) {
        *ended = true;
        return {};
    }
    std::string keys; // key presses only; focus, mouse and size events are left out
    for (DWORD i = 0; i < count; ++i) {
        const KEY_EVENT_RECORD& k = records[i].Event.KeyEvent;
        if (records[i].EventType == KEY_EVENT && k.bKeyDown && k.uChar.AsciiChar != 0)
            keys.append(k.wRepeatCount ? k.wRepeatCount : 1, k.uChar.AsciiChar);
    }
    return keys;
}

bool FullScreen::Write(std::string_view text) {
    while (!text.empty()) {
        DWORD n = 0;
        const DWORD chunk = text.size() > 65536 ? 65536 : static_cast<DWORD>(text.size());
        if (!WriteFile(Out(), text.data(), chunk, &n, nullptr) || n == 0)
            return false;
        text.remove_prefix(n);
    }
    return true;
}

} // namespace lumo_cli::posix
