// TCP and UDP connect, disconnect and close of the main dialog against
// modules played by loopback peers in this test.
#include <QCheckBox>
#include <QComboBox>
#include <QPushButton>
#include <QRadioButton>
#include <QtTest>

#include "app.h"
#include "d_cmdora.h"
#include "fake_module.h"
#include "ip_address_edit.h"
#include "recording_ui.h"

using lumo_test::Bytes;
using lumo_test::Greeting;
using lumo_test::Hex;
using lumo_test::TcpModule;
using lumo_test::XGreeting;
using namespace std::chrono_literals;

namespace {

// A fresh loopback address of this program's block for each use.
std::string nextAddress() {
    static int host = 10;
    return "127.0.4." + std::to_string(host++);
}

std::array<uint8_t, 4> partsOf(const std::string& address) {
    const QStringList p = QString::fromStdString(address).split(u'.');
    return {uint8_t(p[0].toInt()), uint8_t(p[1].toInt()), uint8_t(p[2].toInt()), uint8_t(p[3].toInt())};
}

struct Enabled {
    bool send, lists, ip, radios, checks;
    QString caption;
};

#define COMPARE_STATE(dlg, expected)                                                                         \
    do {                                                                                                     \
        const Enabled want_ = expected;                                                                      \
        QCOMPARE((dlg).m_Connect->text(), want_.caption);                                                    \
        QCOMPARE((dlg).m_Send->isEnabled(), want_.send);                                                     \
        QCOMPARE((dlg).m_ComList->isEnabled() && (dlg).m_BaudList->isEnabled(), want_.lists);                \
        QCOMPARE((dlg).m_Ip->isEnabled(), want_.ip);                                                         \
        QCOMPARE((dlg).m_RadioCom->isEnabled() && (dlg).m_RadioIp->isEnabled(), want_.radios);               \
        QCOMPARE((dlg).m_Udp->isEnabled() && (dlg).m_XAscii->isEnabled(), want_.checks);                     \
    } while (0)

const Enabled kTcpOpen{true, false, false, false, false, "Disconnect"};
const Enabled kUdpOpen{true, false, true, false, false, "Disconnect"};
// After an IP disconnect or a failed IP connect everything but Send is on.
const Enabled kIpNoLinkAll{false, true, true, true, true, "Connect"};
// After the style-17 warning the lists stay off.
const Enabled kIpNoLinkListsOff{false, false, true, true, true, "Connect"};

const QString kWarning = QStringLiteral(
    "WARNING: Currently unable to connect. Press \"Ctrl\" + \"Esc\" keys on the USB keyboard connected to "
    "your "
    "Fenwyr and then try to reconnect. \r\nThis message is only applicable when using the Fenwyr series.");

// The dialog in IP mode, aimed at address.
void aim(D_CMDORA& dlg, const std::string& address, bool udp, bool xmode) {
    dlg.m_RadioIp->click();
    dlg.m_Ip->setParts(partsOf(address));
    dlg.m_Udp->setChecked(udp);
    dlg.m_XAscii->setChecked(xmode);
}

} // namespace

class TestConnectIp : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { InstallLumoMessageSink(); }
    void tcpXModeThenNormal();
    void tcpFailures_data();
    void tcpFailures();
    void udpAfterProbe_data();
    void udpAfterProbe();
    void closeWithLinkOpen_data();
    void closeWithLinkOpen();
    void connectClickStopsTestTimer();
};

void TestConnectIp::tcpXModeThenNormal() {
    SettingsSandbox sandbox;
    RecordingUi ui(0);
    const std::string address = nextAddress();
    // First connection greets in X mode, the second normally: each connect
    // must have told the link which greeting to expect.
    TcpModule peer(address);
    QVERIFY(peer.ok());
    peer.Serve({XGreeting(4, 4, 30 - 26, 9), Greeting(5, 3)});
    D_CMDORA dlg;
    aim(dlg, address, false, true);

    dlg.m_Connect->click();
    QCOMPARE(ui.boxTexts(), QStringList{});
    QCOMPARE(dlg.m_Net.m_bXMode, 1);
    QCOMPARE(dlg.m_Net.m_ConnectToPcID, 4);
    QCOMPARE(dlg.m_Net.m_ToPCStyle, 30);
    QCOMPARE(int(dlg.m_Link.m_bLinkOpen), 1);
    COMPARE_STATE(dlg, kTcpOpen);

    dlg.m_Connect->click();
    COMPARE_STATE(dlg, kIpNoLinkAll);
    QCOMPARE(int(dlg.m_Link.m_bLinkOpen), 0);
    QTRY_COMPARE_WITH_TIMEOUT(peer.Closed(), 1, 5000);

    dlg.m_XAscii->setChecked(false);
    dlg.m_Connect->click();
    QCOMPARE(ui.boxTexts(), QStringList{});
    QCOMPARE(dlg.m_Net.m_bXMode, 0);
    QCOMPARE(dlg.m_Net.m_ConnectToPcID, 5);
    QCOMPARE(dlg.m_Net.m_ToPCStyle, 3);
    COMPARE_STATE(dlg, kTcpOpen);
    dlg.m_Connect->click();
    QTRY_COMPARE_WITH_TIMEOUT(peer.Closed(), 2, 5000);
    QCOMPARE(peer.Accepted(), 2);
}

void TestConnectIp::tcpFailures_data() {
    QTest::addColumn<int>("peerKind"); // 0 none, 1 FF FF greeting, 2 X 14 bytes, 3 style 17 bad mode reply
    QTest::addColumn<bool>("xmode");
    QTest::addColumn<bool>("udp");
    QTest::addColumn<QStringList>("boxes"); // "%1" stands for the address
    QTest::addColumn<bool>("listsOn");
    QTest::addColumn<QString>("details"); // behind the last box's details button
    QTest::newRow("nothing listens") << 0 << false << false << QStringList{"Error: Connect failure!!"} << true
                                     << "Address: %1, TCP port 20036\nReason: refused";
    QTest::newRow("greeting FF FF")
        << 1 << false << false << QStringList{"Error: 3 Didn't Connect to %1", "Error: Connect failure!!"}
        << true
        << "Address: %1, TCP port 20036\nReason: no system error; the module took "
           "the connection, but its greeting did not come or was not one the "
           "console accepts";
    QTest::newRow("X greeting of 14")
        << 2 << true << false << QStringList{"Message: Rev len = 14, connect failure"} << true << "";
    QTest::newRow("style 17 refuses") << 3 << false << false << QStringList{kWarning} << false << "";
    QTest::newRow("style 17 refuses the UDP probe")
        << 3 << false << true << QStringList{kWarning} << false << "";
}

void TestConnectIp::tcpFailures() {
    QFETCH(int, peerKind);
    QFETCH(bool, xmode);
    QFETCH(bool, udp);
    QFETCH(QStringList, boxes);
    QFETCH(bool, listsOn);
    QFETCH(QString, details);
    SettingsSandbox sandbox;
    RecordingUi ui(0);
    const std::string address = nextAddress();
    std::unique_ptr<TcpModule> peer;
    if (peerKind != 0) {
        peer = std::make_unique<TcpModule>(address);
        QVERIFY(peer->ok());
        Bytes x14 = XGreeting(1, 1, 30 - 26, 0);
        x14.resize(14);
        // Style 17 in normal mode: the mode query answered badly, then the
        // disconnect frame the close sends acknowledged.
        if (peerKind == 3) {
            peer->Reply(Bytes(13, 0));
            peer->Reply(Hex("00 FF 5A A5 01"));
        }
        peer->Serve({peerKind == 1 ? Hex("FF FF 00 00 00 00 00") : peerKind == 2 ? x14 : Greeting(5, 17)});
    }
    D_CMDORA dlg;
    aim(dlg, address, udp, xmode);
    dlg.m_Connect->click();

    QCOMPARE(dlg.m_Link.udpSocket(), -1);
    for (QString& b : boxes)
        b.replace(QStringLiteral("%1"), QString::fromStdString(address));
    QCOMPARE(ui.boxTexts(), boxes);
    for (const RecordedBox& b : ui.boxes)
        QCOMPARE(b.icon, ConsoleUi::Icon::Error);
    QCOMPARE(ui.boxes.last().details, details.replace(QStringLiteral("%1"), QString::fromStdString(address)));
    QCOMPARE(int(dlg.m_Link.m_bLinkOpen), 0);
    COMPARE_STATE(dlg, listsOn ? kIpNoLinkAll : kIpNoLinkListsOff);
    if (peerKind == 3) {
        QCOMPARE(lumo_test::ToHex(peer->Received()),
                 std::string("55 AA 5F A0 01 FE 6D 00 55 AA 5F A0 01 FE 17 00"));
        QTRY_COMPARE_WITH_TIMEOUT(peer->Closed(), 1, 5000);
    }
}

void TestConnectIp::udpAfterProbe_data() {
    QTest::addColumn<bool>("tcpPeer");
    QTest::newRow("probe answered") << true;
    QTest::newRow("probe refused") << false; // a style other than 17 does not stop it
}

void TestConnectIp::udpAfterProbe() {
    QFETCH(bool, tcpPeer);
    SettingsSandbox sandbox;
    RecordingUi ui(0);
    const std::string address = nextAddress();
    std::unique_ptr<TcpModule> peer;
    if (tcpPeer) {
        peer = std::make_unique<TcpModule>(address);
        peer->Serve({Greeting(2, 3)});
    }
    lumo_test::UdpPeer module(address, LUMO_UDP_MODULE_PORT);
    QVERIFY(module.ok());
    D_CMDORA dlg;
    aim(dlg, address, true, false);
    dlg.m_Connect->click();

    QCOMPARE(ui.boxTexts(), QStringList{});
    QCOMPARE(int(dlg.m_Link.m_bLinkOpen), 1);
    COMPARE_STATE(dlg, kUdpOpen);
    if (tcpPeer) {
        QCOMPARE(peer->Accepted(), 1);
        QTRY_COMPARE_WITH_TIMEOUT(peer->Closed(), 1, 5000); // the probe link is closed at once
    }
    // The socket is aimed at the module's UDP port.
    QVERIFY(dlg.m_Link.udpSocket() >= 0);
    QCOMPARE(UdpSend(dlg.m_Link.udpSocket(), "zh", 2), 2);
    const auto datagram = module.Recv(2000ms);
    QVERIFY(datagram.has_value());
    QCOMPARE(lumo_test::ToHex(datagram->bytes), std::string("7A 68"));

    dlg.m_Connect->click();
    QCOMPARE(dlg.m_Link.udpSocket(), -1);
    QCOMPARE(int(dlg.m_Link.m_bLinkOpen), 0);
    COMPARE_STATE(dlg, kIpNoLinkAll);
}

void TestConnectIp::closeWithLinkOpen_data() {
    QTest::addColumn<bool>("udp");
    QTest::newRow("TCP") << false;
    QTest::newRow("UDP") << true;
}

void TestConnectIp::closeWithLinkOpen() {
    QFETCH(bool, udp);
    SettingsSandbox sandbox;
    RecordingUi ui(0);
    const std::string address = nextAddress();
    TcpModule peer(address);
    peer.Serve({Greeting(2, 3)});
    D_CMDORA dlg;
    aim(dlg, address, udp, false);
    dlg.m_Connect->click();
    QCOMPARE(int(dlg.m_Link.m_bLinkOpen), 1);
    dlg.show();
    QTest::keyClick(&dlg, Qt::Key_Escape);
    QVERIFY(!dlg.isVisible());
    QCOMPARE(int(dlg.m_Link.m_bLinkOpen), 0);
    QTRY_COMPARE_WITH_TIMEOUT(peer.Closed(), 1, 5000);
    QCOMPARE(dlg.m_Link.udpSocket(), -1);
    if (!udp)
        QCOMPARE(dlg.m_Net.m_bConnected.load(), 0);
    QVERIFY(ui.boxes.isEmpty());
}

void TestConnectIp::connectClickStopsTestTimer() {
    SettingsSandbox sandbox;
    RecordingUi ui(0);
    D_CMDORA dlg;
    aim(dlg, nextAddress(), false, false); // nobody listens there
    dlg.m_UdpClearSocket->click();
    QVERIFY(dlg.testTimerRunning());
    dlg.m_Connect->click();
    QVERIFY(!dlg.testTimerRunning());
    QCOMPARE(ui.boxTexts(), QStringList{"Error: Connect failure!!"});
}

QTEST_MAIN(TestConnectIp)
#include "test_connect_ip.moc"
