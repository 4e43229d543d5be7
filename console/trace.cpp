#include "trace.h"

#include "command_text.h"
#include "console_ui.h"
#include "d_cmdora.h"
#include "frames.h"
#include "session_log.h"

#include <QPointer>
#include <QString>
#include <QTimerEvent>

#include <cerrno>
#include <cstddef>
#include <cstring>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

int32_t g_TestCounter = 0;

namespace {
constexpr suseconds_t kViewerWaitUs = 500 * 1000;

int g_TickHolds = 0;                // waits in progress that hold ticks back
QPointer<D_CMDORA> g_HeldTickOwner; // dialog whose tick waits, if any

void DeliverHeldTick() {
    if (g_TickHolds > 0)
        return; // posted again when the hold ends
    D_CMDORA* dlg = g_HeldTickOwner.data();
    g_HeldTickOwner = nullptr;
    if (dlg && dlg->testTimerRunning())
        dlg->OnTimer(TEST_TIMER_ID);
}
} // namespace

TestTickHold::TestTickHold() {
    ++g_TickHolds;
}

TestTickHold::~TestTickHold() {
    if (--g_TickHolds == 0 && g_HeldTickOwner)
        QMetaObject::invokeMethod(
            g_HeldTickOwner.data(), [] { DeliverHeldTick(); }, Qt::QueuedConnection);
}

QByteArray BuildTraceRecord(const QByteArray& text) {
    QByteArray record(kTraceRecordSize, '\0');
    const int n = static_cast<int>(
        qstrnlen(text.constData(), static_cast<size_t>(qMin<qsizetype>(text.size(), kTraceTextMax))));
    const uint32_t len = static_cast<uint32_t>(n);
    for (int i = 0; i < 4; ++i)
        record[i] = static_cast<char>((len >> (8 * i)) & 0xFF);
    std::memcpy(record.data() + 4, text.constData(), static_cast<size_t>(n));
    return record;
}

int SendTraceRecordToViewer(const QByteArray& record, const QByteArray& name) {
    sockaddr_un addr{};
    const size_t nameLen = static_cast<size_t>(name.size());
    if (record.size() != kTraceRecordSize || nameLen == 0 || nameLen >= sizeof addr.sun_path)
        return 0;
    const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return 0;
    addr.sun_family = AF_UNIX;
    // abstract namespace: a leading zero byte, then the name without terminator
    std::memcpy(addr.sun_path + 1, name.constData(), nameLen);
    const auto addrLen = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + nameLen);
    // a viewer that lags may hold the report up briefly, never the console for long
    const timeval limit{0, kViewerWaitUs};
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    ssize_t sent;
    do {
        sent = ::sendto(fd, record.constData(), static_cast<size_t>(record.size()), MSG_NOSIGNAL,
                        reinterpret_cast<const sockaddr*>(&addr), addrLen);
    } while (sent < 0 && errno == EINTR);
    ::close(fd);
    // ECONNREFUSED/ENOENT: no viewer; EAGAIN: a viewer too busy to take it. Both skip.
    return sent == kTraceRecordSize ? 1 : 0;
}

int SendTrace(const QByteArray& text) {
    return consoleUi().sendTraceRecord(BuildTraceRecord(text));
}

// ---- test timer ----

void D_CMDORA::OnBnClickedUdpClearSocket() {
    // a second click restarts the one timer instead of adding another
    StopTestTimer();
    m_TestTimer = startTimer(TEST_TIMER_PERIOD_MS);
    m_SessionLog->recorder().Test("test timer started");
}

void D_CMDORA::StopTestTimer() {
    if (g_HeldTickOwner == this)
        g_HeldTickOwner = nullptr;
    if (m_TestTimer != 0) {
        killTimer(m_TestTimer);
        m_TestTimer = 0;
        m_SessionLog->recorder().Test("test timer stopped");
    }
}

void D_CMDORA::timerEvent(QTimerEvent* event) {
    if (m_TestTimer != 0 && event->timerId() == m_TestTimer) {
        if (g_TickHolds > 0)
            g_HeldTickOwner = this; // ticks during a wait fold into one
        else
            OnTimer(TEST_TIMER_ID);
    } else
        QDialog::timerEvent(event);
}

void D_CMDORA::OnTimer(int) {
    const int32_t value = g_TestCounter;
    // wraps instead of overflowing after 2^31 ticks
    g_TestCounter = static_cast<int32_t>(static_cast<uint32_t>(value) + 1u);
    const QString text = QStringLiteral("XL 001002001 Test %1").arg(value);
    unsigned char frame[2048];
    const size_t total = lumo::XCommandFrame(frame, sizeof frame, commandUnits(text));
    if (total > 0)
        m_Net.Peltra_Senddata(0, frame, static_cast<unsigned int>(total));
    SendTrace(text.toLatin1());
}
