// The automatic command test: a small modal dialog that puts the lines of its
// command list into the main dialog's command box one per timer tick, cycling,
// and runs the main dialog's Send for each. Everything runs on the UI thread.
#pragma once

#include <QDialog>
#include <cstdint>

class QKeyEvent;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTimerEvent;
class ConsoleLink;
class D_CMDORA;

// Control identifiers of the test dialog; each control carries its id as objectName.
enum AutotestControlId : int {
    IDC_AUTOTEST_DELAY = 1947,
    IDC_AUTOTEST_START = 1282,
    IDC_AUTOTEST_LIST = 1104,
    IDC_AUTOTEST_LAST = 1925,
};

inline constexpr int AUTOTEST_TIMER_ID = 1;
inline constexpr int AUTOTEST_MAX_LINE = 1023; // characters of a list line that are used

class D_ASCIICMD_AUTOTEST : public QDialog {
    Q_OBJECT

public:
    // parent: the main dialog whose command box and Send the test drives.
    explicit D_ASCIICMD_AUTOTEST(D_CMDORA *parent);
    ~D_ASCIICMD_AUTOTEST() override;

    int32_t m_nDelay = 0; // ms, as read at the last Start
    uint8_t m_bRunning = 0;
    uint16_t m_nLine = 0; // next list line to send, from 0; wraps

    QLineEdit *m_Delay = nullptr;     // 1947
    QPushButton *m_Start = nullptr;   // 1282
    QPlainTextEdit *m_List = nullptr; // 1104
    QLabel *m_LastCommand = nullptr;  // 1925
    // Not in the template: the run's counts, "Sent 3   Answered 2   Timed out 1   Last round trip 12 ms".
    QLabel *m_Counts = nullptr;

    // The run in progress (from the last Start): Sends that went out, were
    // answered (or acknowledged silently), timed out; the last round trip in ms (-1: none yet).
    int m_RunSent = 0;
    int m_RunAnswered = 0;
    int m_RunTimedOut = 0;
    int m_RunLastRoundTripMs = -1;

    // Puts "1000" into the delay box; run once when the dialog is built.
    void OnInitDialog();
    // Starts the test with the delay box's period, or stops it.
    void OnBnClickedStart();
    // Timer handler; id AUTOTEST_TIMER_ID sends the next line, others are ignored.
    void OnTimer(int id);
    // Whether timer 1 is set.
    bool timerRunning() const { return m_Timer != 0; }

    // Delay box text as a decimal number the way wcstol reads it: leading
    // white space and a sign, digits up to the first other character, 0 when
    // there are none; clamped to 32 bits.
    static int32_t ParseDelay(const QString &text);

    void done(int result) override; // stops the timer with the dialog

protected:
    void timerEvent(QTimerEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    void stopTimer();
    void countSend();
    void showCounts();
    // Records the end of a run in the session log.
    void recordStop();

    D_CMDORA *m_Main;
    ConsoleLink& m_Link; // the main dialog's: its Send's outcome, the session log
    int m_Timer = 0;     // QObject timer id standing for AUTOTEST_TIMER_ID, 0 when stopped
};
