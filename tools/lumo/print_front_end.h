// The link session's front end in lumo: what the console would show goes to
// an output as lines ("status: ...", and for a box "caption: ..." then
// "box: ..."), each text on one line; boxes with the error icon go to a
// second output (standard error). It never waits for a person; pauses are
// real, and end at once when the stop flag (if any) is raised. One thread.
#pragma once

#include <atomic>
#include <string>

#include "out.h"
#include "runner.h"

namespace lumo_cli {

class PrintFrontEnd final : public session::RunnerFrontEnd {
public:
    // out: status lines and answer boxes; errors: boxes with the error icon.
    // Either may be null for nowhere (the caller reports it itself).
    PrintFrontEnd(Out* out, Out* errors, const std::atomic<bool>* stop = nullptr)
        : RunnerFrontEnd(stop), m_Out(out), m_Errors(errors) {}

    void ShowStatus(const std::u16string& text) override;
    void ShowBox(const std::u16string& text, const std::u16string& caption, session::BoxIcon icon) override;

private:
    Out* m_Out;
    Out* m_Errors;
};

// A box as lumo prints it: "caption: C" and "box: T".
void PrintBox(Out& out, const std::u16string& text, const std::u16string& caption);

// Routes the device link's own message boxes to standard error as PrintBox
// does; those of links that a runner drives are left to their target's
// report (the link's tap has them).
void InstallMessageSink();

} // namespace lumo_cli
