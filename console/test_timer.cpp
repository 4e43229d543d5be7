#include "test_timer.h"

#include <QString>
#include <QTimerEvent>

#include "command_text.h"
#include "console_link.h"
#include "frames.h"
#include "lumo_net.h"
#include "trace.h"

int32_t g_TestCounter = 0;

namespace {
// Waits of the UI thread in progress; there is one UI thread, so one count.
int g_TickHolds = 0;
} // namespace

TestTickHold::TestTickHold() {
    ++g_TickHolds;
}

TestTickHold::~TestTickHold() {
    --g_TickHolds;
}

bool TestTickHold::held() {
    return g_TickHolds > 0;
}

TestTimer::TestTimer(ConsoleLink& link) : m_Link(link) {}

void TestTimer::start() {
    stop();
    m_Ticks.start(TEST_TIMER_PERIOD_MS, this);
    m_Link.recorder().Test("test timer started");
}

void TestTimer::stop() {
    m_HeldTick.stop();
    if (m_Ticks.isActive()) {
        m_Ticks.stop();
        m_Link.recorder().Test("test timer stopped");
    }
}

void TestTimer::timerEvent(QTimerEvent* event) {
    if (event->timerId() == m_Ticks.timerId()) {
        if (TestTickHold::held())
            m_HeldTick.start(0, this); // ticks during a wait fold into one
        else
            tick();
    } else if (event->timerId() == m_HeldTick.timerId()) {
        if (TestTickHold::held())
            return;
        m_HeldTick.stop();
        tick();
    } else {
        QObject::timerEvent(event);
    }
}

void TestTimer::tick() {
    const int32_t value = g_TestCounter;
    // wraps instead of overflowing after 2^31 ticks
    g_TestCounter = static_cast<int32_t>(static_cast<uint32_t>(value) + 1u);
    const QString text = QStringLiteral("XL 001002001 Test %1").arg(value);
    unsigned char frame[2048];
    const size_t total = lumo::XCommandFrame(frame, sizeof frame, commandUnits(text));
    if (total > 0)
        m_Link.net().Peltra_Senddata(0, frame, static_cast<unsigned int>(total));
    SendTrace(text.toLatin1());
}
