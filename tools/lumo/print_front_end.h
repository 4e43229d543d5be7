// The link session's front end in lumo: what the console would show goes to
// a stream as lines ("status: ...", and for a box "caption: ..." then
// "box: ..."), each text on one line; boxes with the error icon go to
// standard error. It never waits for a person; pauses are real. One thread.
#pragma once

#include <cstdio>
#include <string>

#include "front_end.h"

namespace lumo_cli {

class PrintFrontEnd final : public session::FrontEnd {
public:
    // out: where the status line and answer boxes go; null for nowhere
    // (the caller reports them itself).
    explicit PrintFrontEnd(std::FILE* out) : m_Out(out) {}

    void ShowStatus(const std::u16string& text) override;
    void ShowBox(const std::u16string& text, const std::u16string& caption, session::BoxIcon icon) override;
    void Sleep(int ms) override;
    void BeginBusy() override {}
    void EndBusy() override {}
    void TraceCommand(const std::string&) override {}

private:
    std::FILE* m_Out;
};

// A box as lumo prints it, on stream: "caption: C" and "box: T".
void PrintBox(std::FILE* stream, const std::u16string& text, const std::u16string& caption);

// Routes the device link's own message boxes to standard error as PrintBox does.
void InstallMessageSink();

} // namespace lumo_cli
