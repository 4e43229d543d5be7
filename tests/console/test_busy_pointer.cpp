// The busy pointer of Connect and Send on every link: the platform's arrow
// with an hourglass during every wait, blocking receives and the greeting
// wait included, and put back once the operation has returned.
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QtTest>

#include <atomic>
#include <thread>

#include "app.h"
#include "d_cmdora.h"
#include "ip_address_edit.h"
#include "loopback.h"
#include "pty_pair.h"
#include "recording_ui.h"

using lumo_test::Bytes;
using namespace std::chrono_literals;

namespace {

constexpr int kNone = -1;
constexpr int kBusy = Qt::BusyCursor;

// The pointer the application forces now, kNone when the windows' own shows.
// Read from a module's thread only while the dialog's thread is blocked.
int pointerShape() {
    const QCursor* c = QGuiApplication::overrideCursor();
    return c ? int(c->shape()) : kNone;
}

// Clicks Send with the mouse after typing the command.
void clickSend(D_CMDORA& dlg, const QString& command) {
    dlg.m_Command->setText(command);
    QTest::mouseClick(dlg.m_Send, Qt::LeftButton);
}

void aimIp(D_CMDORA& dlg, std::array<uint8_t, 4> parts, bool udp) {
    dlg.m_RadioIp->click();
    dlg.m_Ip->setParts(parts);
    dlg.m_Udp->setChecked(udp);
}

} // namespace

class TestBusyPointer : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { InstallLumoMessageSink(); }
    void serialConnectAndSend();
    void tcpConnectAndSend();
    void udpConnectAndSend();
    void tcpWaitsKeepPainting();
};

void TestBusyPointer::serialConnectAndSend() {
    SettingsSandbox sandbox;
    lumo_test::PtyPair pty(3);
    QVERIFY(pty.ok());
    RecordingUi ui(0.01);
    QList<int> shapes;
    ui.onSleep = [&](int) {
        shapes << pointerShape();
        if (shapes.size() == 1)
            QVERIFY(pty.Write("O.K\r\n>") && pty.WaitDelivered(6));
    };
    D_CMDORA dlg;
    dlg.show();
    dlg.m_ComList->setCurrentIndex(2);
    QTest::mouseClick(dlg.m_Connect, Qt::LeftButton);
    QCOMPARE(int(dlg.m_Link.m_bLinkOpen), 1);
    QCOMPARE(shapes, QList<int>(shapes.size(), kBusy));
    QCOMPARE(shapes.size(), 3); // the prompt wait's two pauses, the one after "ze 0000 0"
    QCOMPARE(pointerShape(), kNone);

    pty.Drain();
    shapes.clear();
    ui.onSleep = [&](int) {
        shapes << pointerShape();
        if (shapes.size() == 1)
            QVERIFY(pty.Write("OK: command za done\r\n") && pty.WaitDelivered(21));
    };
    clickSend(dlg, QStringLiteral("za"));
    QCOMPARE(dlg.m_Status->text(), QStringLiteral("Ack : command za done\r"));
    QVERIFY(!shapes.isEmpty());
    QCOMPARE(shapes, QList<int>(shapes.size(), kBusy));
    QCOMPARE(pointerShape(), kNone);
    QTest::mouseClick(dlg.m_Connect, Qt::LeftButton);
}

void TestBusyPointer::tcpConnectAndSend() {
    SettingsSandbox sandbox;
    RecordingUi ui(0.01);
    lumo_test::TcpListener listener("127.0.9.1", LUMO_MODULE_PORT);
    QVERIFY(listener.ok());
    std::atomic<int> duringGreetingWait{0};
    std::thread module([&] {
        lumo_test::TcpConnection c = listener.Accept(5s);
        if (!c.ok())
            return;
        std::this_thread::sleep_for(50ms); // the dialog waits for the greeting meanwhile
        duringGreetingWait = pointerShape();
        c.Send(Bytes{5, 17, 0, 0, 0, 0, 0});
        c.RecvExact(8); // mode query
        c.Send(lumo_test::Hex("55 AA 5F A0 01 FE 7A 00 00 00 00 00 00"));
        c.Recv();                          // the Z frame of the command
        std::this_thread::sleep_for(30ms); // the dialog polls meanwhile
        c.Send("OK: command za done\r\n");
        c.WaitClosed(3s);
    });
    D_CMDORA dlg;
    dlg.show();
    aimIp(dlg, {127, 0, 9, 1}, false);
    QTest::mouseClick(dlg.m_Connect, Qt::LeftButton);
    QCOMPARE(dlg.m_Connect->text(), QStringLiteral("Disconnect"));
    QCOMPARE(duringGreetingWait.load(), kBusy);
    QCOMPARE(pointerShape(), kNone);

    QList<int> shapes;
    ui.onSleep = [&](int) { shapes << pointerShape(); };
    clickSend(dlg, QStringLiteral("za"));
    QCOMPARE(dlg.m_Status->text(), QStringLiteral("Ack : OK: command za done\r"));
    QVERIFY(!shapes.isEmpty());
    QCOMPARE(shapes, QList<int>(shapes.size(), kBusy));
    QCOMPARE(pointerShape(), kNone);
    dlg.m_Net.m_Client.ShutDown(); // the module's thread ends with the link
    module.join();
}

void TestBusyPointer::udpConnectAndSend() {
    SettingsSandbox sandbox;
    RecordingUi ui(0.01);
    // The TCP probe finds no module (refused at once); the datagram link goes on.
    lumo_test::UdpPeer module("127.0.9.2", LUMO_UDP_MODULE_PORT);
    QVERIFY(module.ok());
    std::atomic<int> duringReceive{0};
    std::thread answer([&] {
        const auto datagram = module.Recv(5s);
        if (!datagram)
            return;
        std::this_thread::sleep_for(50ms); // the dialog blocks in its receive meanwhile
        duringReceive = pointerShape();
        module.SendTo(datagram->from, datagram->fromPort, std::string_view("OK: command zb done\r\n"));
    });
    D_CMDORA dlg;
    dlg.show();
    aimIp(dlg, {127, 0, 9, 2}, true);
    QTest::mouseClick(dlg.m_Connect, Qt::LeftButton);
    QCOMPARE(dlg.m_Connect->text(), QStringLiteral("Disconnect"));
    QCOMPARE(pointerShape(), kNone);

    clickSend(dlg, QStringLiteral("zb"));
    answer.join();
    QCOMPARE(dlg.m_Status->text(), QStringLiteral("Ack : OK: command zb done\r"));
    QCOMPARE(duringReceive.load(), kBusy);
    QCOMPARE(pointerShape(), kNone);
    QTest::mouseClick(dlg.m_Connect, Qt::LeftButton);
}

// Counts the paints of a widget and the pointer at each.
struct PaintCounter : QObject {
    QList<int> shapes;
    bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == QEvent::Paint)
            shapes << pointerShape();
        return false;
    }
};

// The real waits of a TCP connect (the device link's greeting wait) and of
// Send (the answer wait) let paints through, with the busy pointer: a label
// that a timer changes every 20 ms keeps painting while they block.
void TestBusyPointer::tcpWaitsKeepPainting() {
    SettingsSandbox sandbox;
    RecordingUi ui(0.01);
    lumo_test::TcpListener listener("127.0.9.3", LUMO_MODULE_PORT);
    QVERIFY(listener.ok());
    std::thread module([&] {
        lumo_test::TcpConnection c = listener.Accept(5s);
        if (!c.ok())
            return;
        std::this_thread::sleep_for(300ms);
        c.Send(Bytes{5, 17, 0, 0, 0, 0, 0});
        c.RecvExact(8); // mode query
        c.Send(lumo_test::Hex("55 AA 5F A0 01 FE 7A 00 00 00 00 00 00"));
        c.Recv(); // the Z frame of the command
        std::this_thread::sleep_for(300ms);
        c.Send("OK: command za done\r\n");
        c.WaitClosed(3s);
    });
    D_CMDORA dlg;
    dlg.show();
    aimIp(dlg, {127, 0, 9, 3}, false);
    QLabel clock;
    clock.show();
    PaintCounter paints;
    clock.installEventFilter(&paints);
    QTimer tick;
    int n = 0;
    connect(&tick, &QTimer::timeout, &clock, [&] { clock.setText(QString::number(++n)); });
    tick.start(20);

    QTest::mouseClick(dlg.m_Connect, Qt::LeftButton);
    QCOMPARE(dlg.m_Connect->text(), QStringLiteral("Disconnect"));
    QVERIFY2(paints.shapes.size() >= 3, qPrintable(QString::number(paints.shapes.size())));
    QCOMPARE(paints.shapes, QList<int>(paints.shapes.size(), kBusy));

    paints.shapes.clear();
    setConsoleUi(nullptr); // the console's own answer wait
    clickSend(dlg, QStringLiteral("za"));
    setConsoleUi(&ui);
    QCOMPARE(dlg.m_Status->text(), QStringLiteral("Ack : OK: command za done\r"));
    QVERIFY2(paints.shapes.size() >= 3, qPrintable(QString::number(paints.shapes.size())));
    QCOMPARE(paints.shapes, QList<int>(paints.shapes.size(), kBusy));
    dlg.m_Net.m_Client.ShutDown(); // the module's thread ends with the link
    module.join();
}

QTEST_MAIN(TestBusyPointer)
#include "test_busy_pointer.moc"
