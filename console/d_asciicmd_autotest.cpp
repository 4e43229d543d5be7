#include "d_asciicmd_autotest.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextBlock>
#include <QTimerEvent>
#include <QVBoxLayout>
#include <algorithm>
#include <limits>

#include "console_link.h"
#include "console_ui.h"
#include "d_cmdora.h"
#include "dialog_keys.h"
#include "session_log.h"

namespace {
constexpr int kDelayMaxChars = 15; // the delay box is read this far
}

D_ASCIICMD_AUTOTEST::D_ASCIICMD_AUTOTEST(D_CMDORA* parent)
    : QDialog(parent), m_Main(parent), m_Link(parent->m_Link) {
    setWindowTitle(QStringLiteral("ASCII CMD Test"));

    auto* delayLabel = new QLabel(QStringLiteral("Delay (ms)"), this);
    m_Delay = new QLineEdit(this);
    m_Delay->setObjectName(QString::number(IDC_AUTOTEST_DELAY));
    m_Delay->setAlignment(Qt::AlignCenter);
    m_Delay->setFixedWidth(80);
    delayLabel->setBuddy(m_Delay);

    m_Start = new QPushButton(QStringLiteral("Start"), this);
    m_Start->setObjectName(QString::number(IDC_AUTOTEST_START));
    // No default button: Enter in the delay box closes the dialog, Enter on
    // the button clicks it (keyPressEvent).
    m_Start->setAutoDefault(false);

    m_List = new QPlainTextEdit(this);
    m_List->setObjectName(QString::number(IDC_AUTOTEST_LIST));
    m_List->setLineWrapMode(QPlainTextEdit::NoWrap);
    m_List->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_List->setTabChangesFocus(true);

    m_LastCommand = new QLabel(QStringLiteral("Static"), this);
    m_LastCommand->setObjectName(QString::number(IDC_AUTOTEST_LAST));
    m_LastCommand->setTextFormat(Qt::PlainText);
    m_LastCommand->setTextInteractionFlags(Qt::TextSelectableByMouse);

    m_Counts = new QLabel(this);
    m_Counts->setObjectName(QStringLiteral("AutotestCounts"));
    m_Counts->setTextFormat(Qt::PlainText);
    showCounts();

    auto* top = new QHBoxLayout;
    top->addWidget(delayLabel);
    top->addWidget(m_Delay);
    top->addStretch(1);
    top->addWidget(m_Start);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(m_List, 1);
    layout->addWidget(m_LastCommand);
    layout->addWidget(m_Counts); // below the template's controls, which keep their sizes
    resize(360, 280 + m_Counts->sizeHint().height() + layout->spacing());

    connect(m_Start, &QPushButton::clicked, this, &D_ASCIICMD_AUTOTEST::OnBnClickedStart);
    OnInitDialog();
}

D_ASCIICMD_AUTOTEST::~D_ASCIICMD_AUTOTEST() {
    stopTimer();
}

void D_ASCIICMD_AUTOTEST::OnInitDialog() {
    m_Delay->setText(QStringLiteral("1000"));
    m_Delay->setFocus();
}

int32_t D_ASCIICMD_AUTOTEST::ParseDelay(const QString& text) {
    qsizetype i = 0;
    while (i < text.size() && text[i].isSpace())
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) {
        negative = text[i] == u'-';
        ++i;
    }
    constexpr int64_t kMax = std::numeric_limits<int32_t>::max();
    int64_t value = 0;
    for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i)
        value = std::min(value * 10 + (text[i].unicode() - u'0'), kMax + 1);
    if (negative)
        return static_cast<int32_t>(-value); // down to INT32_MIN
    return static_cast<int32_t>(std::min(value, kMax));
}

void D_ASCIICMD_AUTOTEST::OnBnClickedStart() {
    if (m_bRunning) {
        m_bRunning = 0;
        stopTimer();
        m_Start->setText(QStringLiteral("Start"));
        recordStop();
        return;
    }
    m_nDelay = ParseDelay(m_Delay->text().left(kDelayMaxChars));
    // A period of 0 would fire on every pass of the event loop and keep the
    // dialog sending without pause: refuse it.
    if (m_nDelay <= 0) {
        ShowConsoleBox(m_Link.recorder(), this,
                       QStringLiteral("Delay must be a positive number of milliseconds."),
                       QStringLiteral("Error"), ConsoleUi::Icon::Error);
        return;
    }
    m_bRunning = 1;
    stopTimer();
    m_Timer = startTimer(m_nDelay);
    m_Start->setText(QStringLiteral("Stop"));
    m_RunSent = m_RunAnswered = m_RunTimedOut = 0;
    m_RunLastRoundTripMs = -1;
    showCounts();
    m_Link.recorder().Test("automatic test started, delay " + std::to_string(m_nDelay) + " ms");
}

void D_ASCIICMD_AUTOTEST::countSend() {
    const session::SendResult& r = m_Link.lastSend();
    if (r.outcome == session::SendOutcome::NoLink || r.outcome == session::SendOutcome::RefusedTooLong)
        return; // nothing went out
    ++m_RunSent;
    if (r.outcome == session::SendOutcome::Answered || r.outcome == session::SendOutcome::AckedSilently)
        ++m_RunAnswered;
    else if (r.outcome == session::SendOutcome::TimedOut)
        ++m_RunTimedOut;
    if (r.roundTripUs >= 0 && r.outcome != session::SendOutcome::TimedOut)
        m_RunLastRoundTripMs = static_cast<int>(r.roundTripUs / 1000);
    showCounts();
}

void D_ASCIICMD_AUTOTEST::showCounts() {
    m_Counts->setText(QStringLiteral("Sent %1   Answered %2   Timed out %3   Last round trip %4")
                          .arg(m_RunSent)
                          .arg(m_RunAnswered)
                          .arg(m_RunTimedOut)
                          .arg(m_RunLastRoundTripMs >= 0 ? QStringLiteral("%1 ms").arg(m_RunLastRoundTripMs)
                                                         : QStringLiteral("-")));
}

void D_ASCIICMD_AUTOTEST::recordStop() {
    m_Link.recorder().Test("automatic test stopped: " + std::to_string(m_RunSent) + " sent, " +
                           std::to_string(m_RunAnswered) + " answered, " + std::to_string(m_RunTimedOut) +
                           " timed out");
}

void D_ASCIICMD_AUTOTEST::OnTimer(int id) {
    if (id != AUTOTEST_TIMER_ID)
        return;
    if (!m_bRunning) {
        stopTimer();
        return;
    }
    // A tick delivered by a box that the running Send shows waits for the
    // next one: sends never nest.
    if (m_Link.m_bInSend)
        return;

    // One block per hard line: an empty list is one empty line, and a final
    // line break leaves an empty last line.
    const QTextDocument* list = m_List->document();
    if (m_nLine >= list->blockCount())
        m_nLine = 0;
    const QString line = list->findBlockByNumber(m_nLine).text().left(AUTOTEST_MAX_LINE);

    m_LastCommand->setText(line);
    if (m_Main->m_Command)
        m_Main->m_Command->setText(line); // runs the main dialog's preview
    m_Main->OnBnClickedSend();
    countSend();
    ++m_nLine;
}

void D_ASCIICMD_AUTOTEST::timerEvent(QTimerEvent* event) {
    if (m_Timer != 0 && event->timerId() == m_Timer)
        OnTimer(AUTOTEST_TIMER_ID);
    else
        QDialog::timerEvent(event);
}

void D_ASCIICMD_AUTOTEST::keyPressEvent(QKeyEvent* event) {
    if (ClickFocusedButtonOnEnter(this, event)) // the Start/Stop button
        return;
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    const bool plain = event->modifiers() == Qt::NoModifier ||
                       (event->modifiers() == Qt::KeypadModifier && event->key() == Qt::Key_Enter);
    if (enter && plain) {
        accept(); // the delay box and any other control that leaves Enter to the dialog
        return;
    }
    QDialog::keyPressEvent(event);
}

void D_ASCIICMD_AUTOTEST::done(int result) {
    if (m_bRunning)
        recordStop();
    m_bRunning = 0;
    stopTimer();
    QDialog::done(result);
}

void D_ASCIICMD_AUTOTEST::stopTimer() {
    if (m_Timer != 0) {
        killTimer(m_Timer);
        m_Timer = 0;
    }
}

void D_CMDORA::OnAutoTest() {
    // A fresh dialog per opening: line 0, delay "1000", stopped.
    D_ASCIICMD_AUTOTEST dialog(this);
    dialog.exec();
}
