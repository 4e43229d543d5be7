// The main dialog's test timer (3585, started by "UDP Clear Socket"): while
// it runs, one numbered X frame "XL 001002001 Test <n>" a second goes out
// through the console's link and is reported to the trace viewer. UI thread only.
#pragma once

#include <QBasicTimer>
#include <QObject>

#include <cstdint>

class ConsoleLink;
class QTimerEvent;

inline constexpr int TEST_TIMER_ID = 3585;
inline constexpr int TEST_TIMER_PERIOD_MS = 1000;

// Counter of the test frames: process-wide, 0 at start, never reset.
extern int32_t g_TestCounter;

class TestTimer : public QObject {
public:
    // link must outlive the timer.
    explicit TestTimer(ConsoleLink& link);

    // Starts the ticks, or starts them over: there is never more than one
    // timer, and the counter goes on. Both are recorded in the session log.
    void start();
    void stop();
    bool running() const { return m_Ticks.isActive(); }
    // One tick now: the next frame goes to the device link, which drops it
    // when no serial or TCP link is open, and its text to the trace viewer.
    void tick();

protected:
    void timerEvent(QTimerEvent* event) override;

private:
    ConsoleLink& m_Link;
    QBasicTimer m_Ticks;
    // A tick that fell inside a TestTickHold: looked at on every pass of the
    // event loop and run on the first one after the hold, once however many fell.
    QBasicTimer m_HeldTick;
};

// Held for the length of one wait of the UI thread (the link session's
// pauses and its answer wait, the device link's own waits). Test-timer ticks
// wait meanwhile: a tick must not send its frame while an answer is awaited,
// as the send would empty the mailbox. UI thread only.
class TestTickHold {
public:
    TestTickHold();
    ~TestTickHold();
    TestTickHold(const TestTickHold&) = delete;
    TestTickHold& operator=(const TestTickHold&) = delete;

    // Whether a hold is in place.
    static bool held();
};
