// Send: the typed command goes out on the open link and the answer is shown,
// through the link session (session/send.h) with the dialog as its front end.
// Runs on the UI thread and blocks it for the whole wait.
#include "d_cmdora.h"

#include "command_text.h"
#include "dialog_front_end.h"
#include "session_log.h"

namespace {

// Keeps m_bInSend up while one Send runs, down again on every return.
struct SendScope {
    bool& flag;
    explicit SendScope(bool& f) : flag(f) { flag = true; }
    ~SendScope() { flag = false; }
};

} // namespace

void D_CMDORA::OnBnClickedSend() {
    // a box of this run spins an event loop; a tick that lands there must not start another
    if (m_bInSend)
        return;
    SendScope scope(m_bInSend);

    UpdateData();
    // keep a copy: a box's event loop may let the command box change
    const QString command = m_strCommand;
    DialogFrontEnd front(*this);
    m_LastSend = session::Send(m_Net, front, currentLink(), commandUnits(command));
    m_SessionLog->recorder().SendDone(m_LastSend);
}
