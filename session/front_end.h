// The seam between a link session and whatever shows it to a person: the
// status line, message boxes, pauses, the busy pointer and the trace report.
// The console implements it with its dialog; a command-line front end prints.
// Every call comes from the thread that runs the session operation.
#pragma once

#include <algorithm>
#include <chrono>
#include <functional>
#include <string>

namespace session {

// The longest a front end lets a condition wait run before it looks at its
// window again (and the slice the default Await hands to the condition).
inline constexpr int kAwaitSliceMs = 10;

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
    // Blocks the operation at most ms milliseconds until a condition holds;
    // true as soon as it does, false when ms have passed. ready(sliceMs)
    // blocks at most sliceMs for the condition and says whether it holds; it
    // may give up early (its condition cannot come yet), and the wait then
    // goes on pausing. The default hands it slices of kAwaitSliceMs, pauses
    // through Sleep for what it left of a slice, and counts whole slices.
    virtual bool Await(int ms, const std::function<bool(int sliceMs)>& ready);
    // Busy pointer on and off; BusyScope pairs them, they may nest.
    virtual void BeginBusy() = 0;
    virtual void EndBusy() = 0;
    // The command about to be sent, as 8-bit text, for an external trace viewer.
    virtual void TraceCommand(const std::string& text8) = 0;
    // A connect milestone; outcome holds what is known so far. Default: nothing.
    virtual void OnConnectStep(ConnectStep /*step*/, const ConnectOutcome& /*outcome*/) {}
};

inline bool FrontEnd::Await(int ms, const std::function<bool(int sliceMs)>& ready) {
    using Clock = std::chrono::steady_clock;
    for (int waited = 0;;) {
        const int slice = std::clamp(ms - waited, 0, kAwaitSliceMs);
        const auto start = Clock::now();
        if (ready(slice))
            return true;
        if (slice == 0)
            return false;
        const auto used = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
        if (used < slice)
            Sleep(static_cast<int>(slice - used));
        waited += slice;
    }
}

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
