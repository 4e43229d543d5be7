// Serial connect, disconnect and close of the main dialog against a module
// played on the master side of a pseudo-terminal.
#include <QCheckBox>
#include <QComboBox>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTextEdit>
#include <QtTest>

#include <cerrno>
#include <termios.h>

#include "app.h"
#include "d_cmdora.h"
#include "ip_address_edit.h"
#include "pty_pair.h"
#include "recording_ui.h"

using lumo_test::Bytes;
using lumo_test::PtyPair;
using lumo_test::TextBytes;
using namespace std::chrono_literals;

namespace {

constexpr int kPort = 3; // COM3 -> the pty slave

// Enabled states of the controls that differ between the dialog's states.
struct Enabled {
    bool send, lists, ip, radios, checks;
    QString caption;
};

Enabled enabledOf(const D_CMDORA& d) {
    return {d.m_Send->isEnabled(),
            d.m_ComList->isEnabled() && d.m_BaudList->isEnabled(),
            d.m_Ip->isEnabled(),
            d.m_RadioCom->isEnabled() && d.m_RadioIp->isEnabled(),
            d.m_Udp->isEnabled() && d.m_XAscii->isEnabled(),
            d.m_Connect->text()};
}

#define COMPARE_STATE(dlg, expected)                                                                         \
    do {                                                                                                     \
        const Enabled got_ = enabledOf(dlg);                                                                 \
        const Enabled want_ = expected;                                                                      \
        QCOMPARE(got_.caption, want_.caption);                                                               \
        QCOMPARE(got_.send, want_.send);                                                                     \
        QCOMPARE(got_.lists, want_.lists);                                                                   \
        QCOMPARE(got_.ip, want_.ip);                                                                         \
        QCOMPARE(got_.radios, want_.radios);                                                                 \
        QCOMPARE(got_.checks, want_.checks);                                                                 \
    } while (0)

const Enabled kNoLinkSerial{false, true, false, true, true, "Connect"};
const Enabled kSerialOpen{true, false, false, false, true, "Disconnect"};

QByteArray asText(const Bytes& b) {
    return QByteArray(reinterpret_cast<const char*>(b.data()), qsizetype(b.size()));
}

} // namespace

class TestConnect : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { InstallLumoMessageSink(); }
    void promptWait_data();
    void promptWait();
    void disconnectAndClose();
    void closeBoxDuringPromptWait();
    void portDoesNotOpen();
    void realBoxShowsDetails();
    void rateFromList();
};

void TestConnect::promptWait_data() {
    QTest::addColumn<QByteArray>("answer"); // written once, during the first pause
    QTest::addColumn<bool>("prompt");
    QTest::newRow("O.K line") << QByteArray("O.K\r\n") << true;
    QTest::newRow("prompt >") << QByteArray("\r\n>") << true;
    QTest::newRow("prompt $") << QByteArray("hello\n$ ") << true;
    QTest::newRow("O.K on the second line only") << QByteArray("hello\r\nO.K\r\n") << false;
    QTest::newRow("no line feed") << QByteArray("O.K>") << false;
    QTest::newRow("nothing") << QByteArray() << false;
}

void TestConnect::promptWait() {
    QFETCH(QByteArray, answer);
    QFETCH(bool, prompt);
    SettingsSandbox sandbox;
    PtyPair pty(kPort);
    QVERIFY(pty.ok());
    RecordingUi ui(0.04); // 500 ms pauses become 20 ms; the pty is quicker than that
    Bytes first;
    ui.onSleep = [&](int) {
        if (ui.sleeps.size() != 1)
            return;
        first = pty.ReadExact(1, 1s);
        if (!answer.isEmpty())
            QVERIFY(pty.Write(std::string_view(answer.constData(), size_t(answer.size()))) &&
                    pty.WaitDelivered(size_t(answer.size())));
    };
    D_CMDORA dlg;
    dlg.m_ComList->setCurrentIndex(kPort - 1);
    dlg.m_Connect->click();

    QCOMPARE(asText(first), QByteArray("\r"));
    QCOMPARE(asText(pty.ReadUntilIdle(150ms)), QByteArray("ze 0000 0\r"));
    // Attempt 1 finds nothing; an attempt with data re-reads after 1000 ms.
    QList<int> sleeps{500};
    if (answer.isEmpty()) {
        for (int i = 1; i < 15; ++i)
            sleeps << 500;
    } else if (prompt) {
        sleeps << 1000;
    } else {
        sleeps << 1000 << 500; // attempt 2 took the answer and found no prompt
        for (int attempt = 3; attempt <= 15; ++attempt)
            sleeps << 500;
    }
    sleeps << 500; // the pause after "ze 0000 0"
    QCOMPARE(ui.sleeps, sleeps);
    QVERIFY(ui.boxes.isEmpty());
    QCOMPARE(int(dlg.m_Link.m_bLinkOpen), 1);
    COMPARE_STATE(dlg, kSerialOpen);
    QCOMPARE(int(dlg.m_Net.m_LinkKind), int(LINK_SERIAL));
    dlg.m_Connect->click(); // leaves the pty free for the next row
}

void TestConnect::disconnectAndClose() {
    SettingsSandbox sandbox;
    PtyPair pty(kPort);
    QVERIFY(pty.ok());
    RecordingUi ui(0.01);
    ui.onSleep = [&](int) {
        if (ui.sleeps.size() == 1)
            QVERIFY(pty.Write("O.K\r\n>") && pty.WaitDelivered(6));
    };
    D_CMDORA dlg;
    dlg.m_ComList->setCurrentIndex(kPort - 1);
    COMPARE_STATE(dlg, kNoLinkSerial);

    dlg.m_Connect->click();
    COMPARE_STATE(dlg, kSerialOpen);
    QCOMPARE(asText(pty.ReadUntilIdle(150ms)), QByteArray("\rze 0000 0\r"));

    // Disconnect: three strings in this order, then the port closes.
    dlg.m_Connect->click();
    QCOMPARE(asText(pty.ReadUntilIdle(150ms)), QByteArray("ze 0000 1\r*0\rexit\r"));
    COMPARE_STATE(dlg, kNoLinkSerial);
    QCOMPARE(int(dlg.m_Link.m_bLinkOpen), 0);
    QCOMPARE(dlg.m_Net.m_ComOpen, 0);

    // The operator may switch to IP after a serial disconnect.
    dlg.m_RadioIp->click();
    QVERIFY(dlg.m_Ip->isEnabled());
    dlg.m_RadioCom->click();

    // Closing with the link open sends only "*0" and "exit".
    ui.sleeps.clear();
    dlg.m_Connect->click();
    QCOMPARE(asText(pty.ReadUntilIdle(150ms)), QByteArray("\rze 0000 0\r"));
    dlg.show();
    QTest::keyClick(&dlg, Qt::Key_Escape);
    QVERIFY(!dlg.isVisible());
    QCOMPARE(asText(pty.ReadUntilIdle(150ms)), QByteArray("*0\rexit\r"));
    QCOMPARE(int(dlg.m_Link.m_bLinkOpen), 0);
    QCOMPARE(dlg.m_Net.m_ComOpen, 0);
    QVERIFY(ui.boxes.isEmpty());
}

void TestConnect::closeBoxDuringPromptWait() {
    SettingsSandbox sandbox;
    PtyPair pty(kPort);
    QVERIFY(pty.ok());
    RecordingUi ui(0.01);
    D_CMDORA dlg;
    dlg.m_ComList->setCurrentIndex(kPort - 1);
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    bool visibleAfterClose = false;
    ui.onSleep = [&](int) {
        if (ui.sleeps.size() == 2) {
            dlg.close(); // the close box, while the prompt wait pauses
            visibleAfterClose = dlg.isVisible();
        }
    };
    dlg.m_Connect->click();
    QVERIFY(visibleAfterClose);
    QCOMPARE(asText(pty.ReadUntilIdle(150ms)), QByteArray("\rze 0000 0\r"));
    // Once the connect has finished, the close goes on as from the idle dialog.
    QTRY_VERIFY_WITH_TIMEOUT(!dlg.isVisible(), 3000);
    QCOMPARE(asText(pty.ReadUntilIdle(150ms)), QByteArray("*0\rexit\r"));
    QCOMPARE(dlg.m_Net.m_ComOpen, 0);
}

void TestConnect::portDoesNotOpen() {
    SettingsSandbox sandbox;
    qputenv("LUMO_COM6", "/nonexistent/tty-for-cmdora-test");
    RecordingUi ui(0);
    D_CMDORA dlg;
    dlg.m_ComList->setCurrentIndex(5);
    dlg.m_Connect->click();
    qunsetenv("LUMO_COM6");
    QCOMPARE(ui.boxTexts(), QStringList{"Error: Connect Error!!"});
    QCOMPARE(ui.boxes[0].icon, ConsoleUi::Icon::Error);
    QCOMPARE(ui.boxes[0].details,
             QStringLiteral("Serial port: COM6\nDevice: /nonexistent/tty-for-cmdora-test "
                            "(set by LUMO_COM6)\nReason: no such device"));
    QCOMPARE(int(dlg.m_Link.m_bLinkOpen), 0);
    COMPARE_STATE(dlg, kNoLinkSerial);
    QVERIFY(ui.sleeps.isEmpty());
}

// The box a person sees: text, caption and icon as ever, the details behind
// its "Show Details...". Tests run as root, whom no file mode keeps out, so
// the device link's report of the failed open is made to carry EACCES, as it
// does for a user outside the dialout group.
void TestConnect::realBoxShowsDetails() {
    SettingsSandbox sandbox;
    qputenv("LUMO_COM2", "/nonexistent/tty-for-cmdora-test");
    D_CMDORA dlg;
    dlg.m_Net.m_hTap = [tap = dlg.m_Net.m_hTap](const LumoTapRecord& r) {
        LumoTapRecord denied = r;
        if (r.event == LumoTapEvent::ConnectFailed)
            denied.error = EACCES;
        tap(denied);
    };
    dlg.m_ComList->setCurrentIndex(1);
    QString text, caption, shown;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QTimer closer; // polls: the busy pointer's event pass comes before the box
    closer.setInterval(20);
    connect(&closer, &QTimer::timeout, this, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box)
            return;
        closer.stop();
        text = box->text();
        caption = box->windowTitle();
        icon = box->icon();
        for (QAbstractButton* b : box->buttons())
            if (box->buttonRole(b) == QMessageBox::ActionRole)
                QTest::mouseClick(b, Qt::LeftButton); // "Show Details..."
        if (auto* details = box->findChild<QTextEdit*>(); details && details->isVisible())
            shown = details->toPlainText();
        QTest::mouseClick(box->button(QMessageBox::Ok), Qt::LeftButton);
    });
    closer.start();
    QTimer::singleShot(5000, &closer, &QTimer::stop); // bounded, should no box come
    QTest::mouseClick(dlg.m_Connect, Qt::LeftButton);
    qunsetenv("LUMO_COM2");
    QCOMPARE(text, QStringLiteral("Connect Error!!"));
    QCOMPARE(caption, QStringLiteral("Error"));
    QCOMPARE(icon, QMessageBox::Critical);
    QCOMPARE(shown,
             QStringLiteral("Serial port: COM2\nDevice: /nonexistent/tty-for-cmdora-test (set by LUMO_COM2)\n"
                            "Reason: permission denied\nSerial devices belong to the dialout group: add "
                            "yourself with \"sudo usermod -aG dialout $USER\", then log in again."));
}

void TestConnect::rateFromList() {
    SettingsSandbox sandbox;
    sandbox.write("[CMDORA]\nBAUDRATE=5\n");
    PtyPair pty(kPort);
    QVERIFY(pty.ok());
    RecordingUi ui(0);
    D_CMDORA dlg;
    dlg.m_ComList->setCurrentIndex(kPort - 1);
    dlg.m_Connect->click();
    QCOMPARE(dlg.m_Net.m_ComPort, kPort);
    termios tio{};
    QCOMPARE(tcgetattr(pty.MasterFd(), &tio), 0);
    QCOMPARE(cfgetospeed(&tio), speed_t(B115200));
    dlg.m_Connect->click();
}

QTEST_MAIN(TestConnect)
#include "test_connect.moc"
