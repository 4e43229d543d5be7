// The seam between a link session and whatever shows it to a person: the
// status line, message boxes, pauses, the busy pointer and the trace report.
// The console implements it with its dialog; a command-line front end prints.
// Every call comes from the thread that runs the session operation.
#pragma once

#include <string>

namespace session {

enum class BoxIcon { None, Error };

// Milestones of a connect that a front end may reflect in its own state.
enum class ConnectStep {
    PortOpened, // the serial port is open; the prompt wait follows
    Failed,     // the connect failed and no link is open; its box (if any) follows
};

struct ConnectOutcome;

class FrontEnd {
public:
    virtual ~FrontEnd() = default;

    // Replaces the status line's text.
    virtual void ShowStatus(const std::u16string& text) = 0;
    // Modal box with an OK button only; returns once it has been closed.
    virtual void ShowBox(const std::u16string& text, const std::u16string& caption, BoxIcon icon) = 0;
    // As ShowBox, with `details` behind the box's details button (a connect
    // failure's device or address and reason). Default: ShowBox without them.
    virtual void ShowDetailedBox(const std::u16string& text, const std::u16string& caption, BoxIcon icon,
                                 const std::u16string& /*details*/) {
        ShowBox(text, caption, icon);
    }
    // Blocks the operation for ms milliseconds (a front end may keep painting meanwhile).
    virtual void Sleep(int ms) = 0;
    // Busy pointer on and off; BusyScope pairs them, they may nest.
    virtual void BeginBusy() = 0;
    virtual void EndBusy() = 0;
    // The command about to be sent, as 8-bit text, for an external trace viewer.
    virtual void TraceCommand(const std::string& text8) = 0;
    // A connect milestone; outcome holds what is known so far. Default: nothing.
    virtual void OnConnectStep(ConnectStep /*step*/, const ConnectOutcome& /*outcome*/) {}
};

// Holds the busy pointer for one operation, from before its first blocking
// call until it returns.
class BusyScope {
public:
    explicit BusyScope(FrontEnd& front) : m_Front(front) { m_Front.BeginBusy(); }
    ~BusyScope() { m_Front.EndBusy(); }
    BusyScope(const BusyScope&) = delete;
    BusyScope& operator=(const BusyScope&) = delete;

private:
    FrontEnd& m_Front;
};

} // namespace session
