// The terminal behind lumo watch's table: whether standard output is one,
// its size, and a full-screen mode (keys read one by one without echo, the
// alternate screen, no cursor) that is always given back.
#pragma once

#include <string>
#include <string_view>

namespace lumo_cli::posix {

bool StdoutIsTerminal();

class FullScreen {
public:
    // Takes standard output to the alternate screen and hides the cursor;
    // when standard input is a terminal too, reads it byte by byte without
    // echo, Ctrl+C and Ctrl+Z coming as bytes.
    FullScreen();
    // Restore().
    ~FullScreen();
    FullScreen(const FullScreen&) = delete;
    FullScreen& operator=(const FullScreen&) = delete;

    // Gives the terminal back as it was (modes, screen, cursor); once. The
    // thread that made it, or one that it has handed the object to.
    void Restore();
    // Columns and lines of the terminal; 80 x 24 when it does not say.
    void Size(int* width, int* height) const;
    // Waits up to ms for input and returns what came: empty on a time-out,
    // and with *ended set when the terminal has gone (hung up). Without a
    // terminal on standard input, waits ms and returns nothing.
    std::string Read(int ms, bool* ended);
    // Writes all of text; false when the terminal is gone.
    bool Write(std::string_view text);

private:
    bool m_Keys = false; // standard input is in our mode
    bool m_Restored = false;
    struct Saved;
    Saved* m_Saved; // the modes to give back
};

} // namespace lumo_cli::posix
