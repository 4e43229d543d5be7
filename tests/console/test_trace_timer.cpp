// The test timer of the main dialog: numbered X frames as a module receives
// them, their trace reports, and one timer however often it is started.
#include <QTest>

#include "send_rig.h"
#include "test_timer.h"

#include <memory>

using rig::hex;

namespace {
constexpr const char* kAddr = "127.0.5.30"; // style 0, ID 1
}

class TestTraceTimer : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void framesAndTraces();
    void secondClickKeepsOneTimer();
    void ticksWithoutLinkStillTrace();
    void tickWaitsForSend();

private:
    rig::FastUi* m_Ui = nullptr;
    std::unique_ptr<rig::TcpModule> m_Module;
    std::unique_ptr<D_CMDORA> m_Dlg;
};

void TestTraceTimer::initTestCase() {
    m_Ui = new rig::FastUi;
    m_Module = std::make_unique<rig::TcpModule>(kAddr, 1, 0);
    QVERIFY(m_Module->ok());
    m_Dlg = std::make_unique<D_CMDORA>();
    QVERIFY(rig::openTcp(*m_Dlg, kAddr));
}

void TestTraceTimer::cleanupTestCase() {
    m_Dlg.reset();
    m_Module.reset();
    delete m_Ui;
}

void TestTraceTimer::framesAndTraces() {
    QCOMPARE(g_TestCounter, 0); // first ticks of the process
    for (int tick = 0; tick < 11; ++tick)
        m_Dlg->OnTimer(TEST_TIMER_ID);
    const QByteArray got = m_Module->waitReceived(10 * 34 + 35);
    QCOMPARE(got.size(), 10 * 34 + 35);
    QCOMPARE(hex(got.left(34)),
             QByteArray("55 AA 5A A5 22 00 00 02 13 00 FF 01 FE 00 58 4C 20 30 30 31 30 30 32 30 "
                        "30 31 20 54 65 73 74 20 30 BB"));
    const QByteArray eleventh = got.mid(10 * 34);
    QCOMPARE(static_cast<unsigned char>(eleventh[4]), 0x23);
    QCOMPARE(eleventh.mid(14, 20), QByteArray("XL 001002001 Test 10"));
    unsigned char sum = 0;
    for (int i = 0; i < 34; ++i)
        sum = static_cast<unsigned char>(sum + static_cast<unsigned char>(eleventh[i]));
    QCOMPARE(static_cast<unsigned char>(eleventh[34]), sum);
    QCOMPARE(m_Ui->traces().size(), 11);
    QCOMPARE(m_Ui->traces().first(), QByteArray("XL 001002001 Test 0"));
    QCOMPARE(m_Ui->traces().last(), QByteArray("XL 001002001 Test 10"));
    QCOMPARE(g_TestCounter, 11);
}

void TestTraceTimer::secondClickKeepsOneTimer() {
    // two clicks in a row: the ticks come from one timer, one per period
    D_CMDORA dlg;
    m_Ui->traceRecords.clear();
    dlg.OnBnClickedUdpClearSocket();
    dlg.OnBnClickedUdpClearSocket();
    QVERIFY(dlg.testTimerRunning());
    QTRY_VERIFY_WITH_TIMEOUT(!m_Ui->traces().isEmpty(), 5000);
    QTest::qWait(300); // a second timer would have ticked within milliseconds
    QCOMPARE(m_Ui->traces().size(), 1);
    // a restart goes on counting where the ticks left off
    const QByteArray first = m_Ui->traces().first();
    dlg.OnBnClickedUdpClearSocket();
    QTRY_VERIFY_WITH_TIMEOUT(m_Ui->traces().size() == 2, 5000);
    const int firstValue = first.mid(first.lastIndexOf(' ') + 1).toInt();
    QCOMPARE(m_Ui->traces().last(), QByteArray("XL 001002001 Test ") + QByteArray::number(firstValue + 1));
}

void TestTraceTimer::ticksWithoutLinkStillTrace() {
    D_CMDORA dlg; // no link: the frame is dropped, the report still goes
    m_Ui->traceRecords.clear();
    const int32_t before = g_TestCounter;
    dlg.OnTimer(TEST_TIMER_ID);
    QCOMPARE(g_TestCounter, before + 1);
    QCOMPARE(m_Ui->traces(),
             QList<QByteArray>{QByteArray("XL 001002001 Test ") + QByteArray::number(before)});
}

void TestTraceTimer::tickWaitsForSend() {
    // With the real seam, whose waits let timer events through, a tick that
    // falls while Send waits for its answer must not send in between.
    rig::TcpModule module("127.0.5.31", 2, 17, 'z');
    QVERIFY(module.ok());
    D_CMDORA dlg;
    QVERIFY(rig::openTcp(dlg, "127.0.5.31"));
    module.clear(); // the mode query
    module.reply("OK: command za done\r\n", 1600); // the tick comes at 1000 ms
    setConsoleUi(nullptr);
    dlg.OnBnClickedUdpClearSocket();
    rig::send(dlg, QStringLiteral("za"));
    const QList<QByteArray> duringSend = module.units();
    setConsoleUi(m_Ui);
    QCOMPARE(rig::status(dlg), QStringLiteral("Ack : OK: command za done\r"));
    QCOMPARE(duringSend.size(), 1); // the Z frame alone
    // the held tick goes out once the event loop is free
    QTRY_VERIFY_WITH_TIMEOUT(module.units().size() >= 2, 3000);
    QVERIFY(module.units()[1].startsWith(QByteArray("\x55\xAA\x5A\xA5", 4)));
}

QTEST_MAIN(TestTraceTimer)
#include "test_trace_timer.moc"
