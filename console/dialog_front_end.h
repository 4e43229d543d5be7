// The link session's front end in the console: the main dialog's status
// line, message boxes through consoleUi(), its pauses (which hold test-timer
// ticks back) and the busy pointer. UI thread only.
#pragma once

#include <functional>

#include "front_end.h"

class D_CMDORA;

class DialogFrontEnd final : public session::FrontEnd {
public:
    using StepHandler = std::function<void(session::ConnectStep, const session::ConnectOutcome&)>;

    explicit DialogFrontEnd(D_CMDORA& dlg, StepHandler onStep = {})
        : m_Dlg(dlg), m_OnStep(std::move(onStep)) {}
    ~DialogFrontEnd() override;

    void ShowStatus(const std::u16string& text) override;
    void ShowBox(const std::u16string& text, const std::u16string& caption, session::BoxIcon icon) override;
    void ShowDetailedBox(const std::u16string& text, const std::u16string& caption, session::BoxIcon icon,
                         const std::u16string& details) override;
    void Sleep(int ms) override;
    // Through consoleUi().awaitMs, holding test-timer ticks back as Sleep does.
    bool Await(int ms, const std::function<bool(int sliceMs)>& ready) override;
    // The platform's arrow with an hourglass, applied before the blocking
    // call that follows; put back by the matching EndBusy.
    void BeginBusy() override;
    void EndBusy() override;
    void TraceCommand(const std::string& text8) override;
    void OnConnectStep(session::ConnectStep step, const session::ConnectOutcome& outcome) override;

private:
    D_CMDORA& m_Dlg;
    StepHandler m_OnStep;
    int m_BusyDepth = 0;
};
