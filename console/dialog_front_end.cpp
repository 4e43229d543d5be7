#include "dialog_front_end.h"

#include <QApplication>
#include <QCursor>
#include <QLabel>

#include "console_ui.h"
#include "d_cmdora.h"
#include "session_log.h"
#include "test_timer.h"
#include "trace.h"

DialogFrontEnd::~DialogFrontEnd() {
    while (m_BusyDepth > 0)
        EndBusy();
}

void DialogFrontEnd::ShowStatus(const std::u16string& text) {
    if (m_Dlg.m_Status)
        m_Dlg.m_Status->setText(QString::fromStdU16String(text));
}

void DialogFrontEnd::ShowBox(const std::u16string& text, const std::u16string& caption,
                             session::BoxIcon icon) {
    ShowConsoleBox(m_Dlg.m_Link.recorder(), &m_Dlg, QString::fromStdU16String(text),
                   QString::fromStdU16String(caption),
                   icon == session::BoxIcon::Error ? ConsoleUi::Icon::Error : ConsoleUi::Icon::None);
}

void DialogFrontEnd::ShowDetailedBox(const std::u16string& text, const std::u16string& caption,
                                     session::BoxIcon icon, const std::u16string& details) {
    ShowConsoleBox(m_Dlg.m_Link.recorder(), &m_Dlg, QString::fromStdU16String(text),
                   QString::fromStdU16String(caption),
                   icon == session::BoxIcon::Error ? ConsoleUi::Icon::Error : ConsoleUi::Icon::None,
                   QString::fromStdU16String(details));
}

void DialogFrontEnd::Sleep(int ms) {
    const TestTickHold hold; // a test-timer tick must not send while an answer is awaited
    consoleUi().sleepMs(ms);
}

bool DialogFrontEnd::Await(int ms, const std::function<bool(int sliceMs)>& ready) {
    const TestTickHold hold; // as in Sleep: the answer being awaited must not be cleared by a tick
    return consoleUi().awaitMs(ms, ready);
}

void DialogFrontEnd::BeginBusy() {
    if (m_BusyDepth++ > 0)
        return;
    QApplication::setOverrideCursor(QCursor(Qt::BusyCursor));
    // Let the window system take the pointer now: a blocking connect or
    // receive may follow at once. No user input is taken meanwhile.
    const TestTickHold hold;
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

void DialogFrontEnd::EndBusy() {
    if (m_BusyDepth <= 0)
        return;
    if (--m_BusyDepth == 0)
        QApplication::restoreOverrideCursor();
}

void DialogFrontEnd::TraceCommand(const std::string& text8) {
    SendTrace(QByteArray::fromStdString(text8));
}

void DialogFrontEnd::OnConnectStep(session::ConnectStep step, const session::ConnectOutcome& outcome) {
    if (m_OnStep)
        m_OnStep(step, outcome);
}
