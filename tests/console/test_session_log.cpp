// The session log as an operator meets it: the real main dialog, the "Session
// Log" window and the automatic test against the module simulator over TCP,
// UDP and a serial pseudo-terminal; the records in the window and the lines in
// the file; a link the module drops; a flood of records.
#include <QCheckBox>
#include <QClipboard>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QScrollBar>
#include <QTableView>
#include <QtTest>

#include <atomic>
#include <cstring>
#include <thread>

#include "app.h"
#include "d_asciicmd_autotest.h"
#include "frames.h"
#include "pty_pair.h"
#include "send_rig.h"
#include "session_log.h"
#include "session_log_window.h"
#include "sim_process.h"

namespace {

QByteArray addressSettings(int a, int b, int c, int d) {
    return QStringLiteral("[CMDORA]\nnSel=1\nIPAddressField0=%1\nIPAddressField1=%2\nIPAddressField2=%3\n"
                          "IPAddressField3=%4\n")
        .arg(a)
        .arg(b)
        .arg(c)
        .arg(d)
        .toLatin1();
}

// A shown main dialog with private settings and a private state folder.
struct Rig {
    explicit Rig(const QByteArray& settings = {}, double sleepScale = 0.05) : ui(sleepScale) {
        qputenv("XDG_STATE_HOME", state.path().toLocal8Bit());
        sandbox.write(settings);
        dlg = std::make_unique<D_CMDORA>();
        dlg->show();
    }
    QTemporaryDir state;
    SettingsSandbox sandbox;
    RecordingUi ui;
    std::unique_ptr<D_CMDORA> dlg;

    SessionLogModel& model() { return dlg->m_SessionLog->model(); }
    // Every record held, as its file line without the time stamp.
    QStringList records() {
        dlg->m_SessionLog->drain();
        QStringList out;
        for (int row = 0; row < model().rowCount(); ++row)
            out << QString::fromStdString(session::FormatLine(model().recordAt(row), "")).mid(1);
        return out;
    }
    // The log file's lines; each must begin with its local time to the millisecond.
    QStringList fileLines() {
        QFile f(dlg->m_SessionLog->filePath());
        if (!f.open(QIODevice::ReadOnly))
            return {QStringLiteral("no file ") + f.fileName()};
        static const QRegularExpression stamp(QStringLiteral(R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3} )"));
        QStringList out;
        for (const QByteArray& line : f.readAll().split('\n')) {
            if (line.isEmpty())
                continue;
            const QString text = QString::fromUtf8(line);
            out << (stamp.match(text).hasMatch() ? text.mid(24) : QStringLiteral("BAD STAMP ") + text);
        }
        return out;
    }
    void click(QAbstractButton* b) { QTest::mouseClick(b, Qt::LeftButton); }
    void type(const QString& command) {
        QTest::mouseClick(dlg->m_Command, Qt::LeftButton);
        QTest::keyClick(dlg->m_Command, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClicks(dlg->m_Command, command); // over what the box held
        QTest::keyClick(dlg->m_Command, Qt::Key_Return);
    }
    SessionLogWindow* window() { return dlg->m_SessionLog->window(); }
};

// Fails with the whole list when no entry holds part.
#define VERIFY_HAS(list, part)                                                                               \
    QVERIFY2(!(list).filter(part).isEmpty(), qPrintable(QString(part) + " not in:\n" + (list).join('\n')))

QString zFrameHex(int id, std::u16string_view text) {
    unsigned char frame[300];
    const size_t n = lumo::ZCommandFrame(frame, sizeof frame, id, text);
    return QString::fromStdString(session::HexBytes(frame, n));
}

} // namespace

class TestSessionLog : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { InstallLumoMessageSink(); }
    void tcpSessionWindowFileAndAutotest();
    void udpAndSerialLinks();
    void serialWithNothingAttached();
    void linkDroppedByModule_data();
    void linkDroppedByModule();
    void floodKeepsWindowBoundedAndFileWhole();
};

void TestSessionLog::tcpSessionWindowFileAndAutotest() {
    simtest::ChildProcess sim;
    QVERIFY(sim.Start(LUMO_MODULE_SIM, {"--address", "127.0.7.1", "--tcp", "--id", "5", "--style", "17"}));
    Rig r(addressSettings(127, 0, 7, 1));
    QVERIFY(QTest::qWaitForWindowActive(r.dlg.get()));
    r.click(r.dlg->m_Connect);
    QCOMPARE(r.dlg->m_Connect->text(), QStringLiteral("Disconnect"));
    r.type(QStringLiteral("za 1"));
    r.type(QStringLiteral("zh"));

    // Ctrl+L opens the window; its header names the link and the module.
    QTest::keyClick(r.dlg->m_Command, Qt::Key_L, Qt::ControlModifier); // typed in the command box
    QVERIFY(r.window() && r.window()->isVisible());
    QTRY_COMPARE(r.window()->m_LinkLabel->text(),
                 QStringLiteral("TCP 127.0.7.1:20036   module ID 5 style 17 mode z"));
    QVERIFY(!r.window()->m_LostLabel->isVisible());

    const QString tcp = QStringLiteral("TCP 127.0.7.1:20036 ");
    QStringList records = r.records();
    VERIFY_HAS(records, "progress TCP 127.0.7.1 IP127.0.7.1 --------------NetConnect");
    for (const char* event : {"connect started", "connected", "module ID 5 style 17", "mode character z",
                              "open: module ID 5 style 17 mode z"})
        QVERIFY2(records.contains(QStringLiteral("link ") + tcp + event), event);
    VERIFY_HAS(records, QStringLiteral("tx ") + tcp + zFrameHex(5, u"za 1") + " |");
    VERIFY_HAS(records, QStringLiteral("rx ") + tcp +
                            "4F 4B 3A 20 63 6F 6D 6D 61 6E 64 20 7A 61 20 31 20 64 6F 6E 65 0D 0A "
                            "|OK: command za 1 done..|");
    VERIFY_HAS(records, QStringLiteral("send ") + tcp + "\"za 1\" answered in ");
    VERIFY_HAS(records, "; status \"Ack : OK: command za 1 done\\r\"; sent " + zFrameHex(5, u"za 1"));
    VERIFY_HAS(records,
               QStringLiteral("box ") + tcp + "\"Device Information\" \"Device ID 5 Style 17 Ver 1.00\"");
    VERIFY_HAS(records, "; box \"Device Information\" \"Device ID 5 Style 17 Ver 1.00\"; sent ");

    // The automatic test counts its run and is recorded starting and stopping.
    {
        D_ASCIICMD_AUTOTEST test(r.dlg.get());
        test.show();
        test.m_List->setPlainText(QStringLiteral("za 2\nza 3"));
        test.m_Delay->setText(QStringLiteral("20"));
        r.click(test.m_Start);
        QTRY_VERIFY_WITH_TIMEOUT(test.m_RunSent >= 3, 10000);
        r.click(test.m_Start);
        QCOMPARE(test.m_RunAnswered, test.m_RunSent);
        QVERIFY(test.m_RunLastRoundTripMs >= 0);
        QCOMPARE(test.m_Counts->text(),
                 QStringLiteral("Sent %1   Answered %1   Timed out 0   Last round trip %2 ms")
                     .arg(test.m_RunSent)
                     .arg(test.m_RunLastRoundTripMs));
        records = r.records();
        VERIFY_HAS(records, "test " + tcp + "automatic test started, delay 20 ms");
        VERIFY_HAS(records, QStringLiteral("test %1automatic test stopped: %2 sent, %2 answered, 0 timed out")
                                .arg(tcp)
                                .arg(test.m_RunSent));
    }

    // Filters, search and copy work on what the window holds.
    SessionLogWindow* w = r.window();
    r.click(w->m_Bytes);
    r.click(w->m_Events);
    QTRY_VERIFY(r.model().rowCount() > 0);
    for (int row = 0; row < r.model().rowCount(); ++row)
        QCOMPARE(r.model().recordAt(row).kind, session::RecordKind::Send);
    r.click(w->m_Bytes);
    r.click(w->m_Events);
    w->m_Search->setFocus();
    QTest::keyClicks(w->m_Search, QStringLiteral("5a a5 01"));
    QTest::keyClick(w->m_Search, Qt::Key_Return);
    const QModelIndex found = w->m_View->currentIndex();
    QVERIFY(found.isValid());
    QVERIFY(r.model().recordAt(found.row()).kind == session::RecordKind::Rx ||
            r.model().recordAt(found.row()).kind == session::RecordKind::Send);
    w->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(w));
    QTest::keyClick(w->m_View, Qt::Key_C, Qt::ControlModifier);
    QVERIFY(QGuiApplication::clipboard()->text().contains(QStringLiteral("00 FF 5A A5 01")));

    r.click(r.dlg->m_Connect); // Disconnect
    QTRY_COMPARE(w->m_LinkLabel->text(), QStringLiteral("No link open"));
    records = r.records();
    VERIFY_HAS(records, "link " + tcp + "disconnect");
    VERIFY_HAS(records, "tx " + tcp + "55 AA 5F A0 01 FE 17 00 |U._....."); // the disconnect handshake
    QCOMPARE(records.last(), "link " + tcp + "closed");

    // The file holds every record, in order, one line each; Save writes the same lines.
    QCOMPARE(r.fileLines(), records);
    r.ui.nextSavePath = r.state.filePath(QStringLiteral("saved.txt"));
    r.click(w->m_Save);
    QFile saved(r.ui.nextSavePath);
    QVERIFY(saved.open(QIODevice::ReadOnly));
    QFile file(r.dlg->m_SessionLog->filePath());
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(saved.readAll(), file.readAll());
    r.ui.nextSavePath = r.state.filePath(QStringLiteral("saved.csv"));
    r.click(w->m_Save);
    QFile csv(r.ui.nextSavePath);
    QVERIFY(csv.open(QIODevice::ReadOnly));
    const QList<QByteArray> rows = csv.readAll().split('\n');
    QCOMPARE(rows.first(), QByteArray("time,since open (ms),link,kind,hex,text,answer hex\r"));
    QCOMPARE(rows.size() - 2, records.size());

    // Turned off, the file takes nothing more; the choice lives outside the settings file.
    r.click(w->m_WriteFile);
    r.click(r.dlg->m_UdpClearSocket);
    QCOMPARE(r.fileLines(), records);
    QCOMPARE(r.sandbox.content(), addressSettings(127, 0, 7, 1));
    QFile choice(SessionLog::choicePath());
    QVERIFY(choice.open(QIODevice::ReadOnly));
    QVERIFY(choice.readAll().contains("file=false"));
}

void TestSessionLog::udpAndSerialLinks() {
    const QString link =
        QStringLiteral("/tmp/cmdora-test-session-log-%1").arg(QCoreApplication::applicationPid());
    simtest::ChildProcess sim;
    QVERIFY(sim.Start(LUMO_MODULE_SIM, {"--address", "127.0.7.2", "--tcp", "--udp", "--id", "3", "--style",
                                        "9", "--serial-link", link.toStdString()}));
    qputenv("LUMO_COM1", link.toLocal8Bit());
    Rig r(addressSettings(127, 0, 7, 2));
    QVERIFY(QTest::qWaitForWindowActive(r.dlg.get()));
    r.click(r.dlg->m_SessionLogButton);
    QVERIFY(r.window()->isVisible());

    r.click(r.dlg->m_Udp);
    r.click(r.dlg->m_Connect);
    QTRY_COMPARE(r.window()->m_LinkLabel->text(),
                 QStringLiteral("UDP 127.0.7.2:20037   module ID 3 style 9"));
    r.type(QStringLiteral("zs"));
    r.click(r.dlg->m_Connect);
    const QString udp = QStringLiteral("UDP 127.0.7.2:20037 ");
    QStringList records = r.records();
    QVERIFY(records.contains("link " + udp + "connect started"));
    VERIFY_HAS(records, "link TCP 127.0.7.2:20036 module ID 3 style 9"); // the probe before the datagrams
    QVERIFY(records.contains("link " + udp + "open: module ID 3 style 9"));
    QVERIFY(records.contains("tx " + udp + "7A 73 00 |zs.|"));
    VERIFY_HAS(records, "rx " + udp + "53 69 67 6E 61 6C ");
    VERIFY_HAS(records, "send " + udp + "\"zs\" answered in ");
    QCOMPARE(records.last(), "link " + udp + "closed");

    r.click(r.dlg->m_RadioCom);
    r.click(r.dlg->m_Connect);
    QCOMPARE(r.dlg->m_Connect->text(), QStringLiteral("Disconnect"));
    r.type(QStringLiteral("za 7"));
    r.click(r.dlg->m_Connect);
    qunsetenv("LUMO_COM1");
    const QString com = "COM1 " + link + " ";
    records = r.records();
    for (const QString& expected :
         {"link " + com + "connect started", "link " + com + "connected", "tx " + com + "0D |.|",
          "link " + com + "prompt seen", "tx " + com + "7A 65 20 30 30 30 30 20 30 0D |ze 0000 0.|",
          "tx " + com + "7A 61 20 37 0D |za 7.|", "link " + com + "open", "link " + com + "disconnect",
          "tx " + com + "7A 65 20 30 30 30 30 20 31 0D |ze 0000 1.|", "tx " + com + "2A 30 0D |*0.|",
          "tx " + com + "65 78 69 74 0D |exit.|", "progress " + com + "COM1 ------------CloseCOM",
          "link " + com + "closed"})
        QVERIFY2(records.contains(expected), qPrintable(expected + " not in:\n" + records.join('\n')));
    VERIFY_HAS(records, "rx " + com + "4F 4B 3A 20 63 6F 6D 6D 61 6E 64 20 7A 61 20 37 ");
    VERIFY_HAS(records, "send " + com + "\"za 7\" answered in ");
    QCOMPARE(r.fileLines(), records);

    // A port that does not open: its box (shown with details) is in the log too.
    qputenv("LUMO_COM1", (link + "-gone").toLocal8Bit());
    r.click(r.dlg->m_Connect);
    qunsetenv("LUMO_COM1");
    QCOMPARE(r.dlg->m_Connect->text(), QStringLiteral("Connect"));
    VERIFY_HAS(r.records(), QStringLiteral("box COM1 %1-gone \"Error\" \"Connect Error!!\"").arg(link));
}

void TestSessionLog::serialWithNothingAttached() {
    lumo_test::PtyPair pty(2); // LUMO_COM2, with nobody on the other end
    QVERIFY(pty.ok());
    Rig r("[CMDORA]\nCOM=1\n", 0.002);
    r.click(r.dlg->m_Connect);
    const QString expected =
        QStringLiteral("link COM2 %1 no prompt after 15 attempts: is anything attached to %1?")
            .arg(QString::fromStdString(pty.SlavePath()));
    QVERIFY2(r.records().contains(expected), qPrintable(r.records().join('\n')));
    QVERIFY(r.fileLines().contains(expected));
    QVERIFY(r.ui.boxes.isEmpty()); // the record is in addition: still no box
    r.click(r.dlg->m_Connect);
}

void TestSessionLog::linkDroppedByModule_data() {
    QTest::addColumn<bool>("reset");
    QTest::newRow("closed") << false;
    QTest::newRow("reset") << true;
}

void TestSessionLog::linkDroppedByModule() {
    QFETCH(bool, reset);
    // A module that resets the link on the first command, or a small peer that closes it.
    simtest::ChildProcess sim;
    std::unique_ptr<rig::TcpModule> peer;
    if (reset)
        QVERIFY(sim.Start(LUMO_MODULE_SIM, {"--address", "127.0.7.4", "--tcp", "--id", "2", "--style", "5",
                                            "--misbehave", "reset"}));
    else
        peer = std::make_unique<rig::TcpModule>("127.0.7.4", 2, 5);
    Rig r(addressSettings(127, 0, 7, 4));
    r.click(r.dlg->m_Connect);
    r.click(r.dlg->m_SessionLogButton);
    QVERIFY(!r.window()->m_LostLabel->isVisible());
    if (reset) {
        r.type(QStringLiteral("za 1"));
    } else {
        QTRY_VERIFY(!r.records().filter("link TCP 127.0.7.4:20036 open").isEmpty());
        peer.reset(); // the module closes its end
    }
    const QString lost = QStringLiteral("link TCP 127.0.7.4:20036 link lost: %1 by the module")
                             .arg(reset ? QStringLiteral("reset") : QStringLiteral("closed"));
    QTRY_VERIFY_WITH_TIMEOUT(r.records().contains(lost), 5000);
    // The header says so in a colour that stands out, while the dialog still counts the link open.
    QTRY_VERIFY(r.window()->m_LostLabel->isVisible());
    QCOMPARE(r.window()->m_LostLabel->text(), QStringLiteral("link lost"));
    const QImage shown = r.window()->m_LostLabel->grab().toImage();
    const QColor c = shown.pixelColor(2, shown.height() / 2);
    QVERIFY2(c.red() > 150 && c.green() < 80 && c.blue() < 80, qPrintable(c.name()));
    QCOMPARE(r.dlg->m_Connect->text(), QStringLiteral("Disconnect"));
    if (reset) { // with no owner window the device link shows its box, recorded as well
        const QString box =
            QStringLiteral("box TCP 127.0.7.4:20036 \"Error\" \"Recvthread Error!! Didn't Connect to "
                           "127.0.7.4\"");
        QTRY_VERIFY(r.records().contains(box));
    }
    QVERIFY(r.fileLines().contains(lost));
    r.click(r.dlg->m_Connect);
    QTRY_VERIFY(!r.window()->m_LostLabel->isVisible());
}

void TestSessionLog::floodKeepsWindowBoundedAndFileWhole() {
    // The receive thread's pace with a module flooding the link: rx records
    // from another thread while the operator's Send waits on a real link.
    rig::TcpModule module("127.0.7.5", 1, 17, 'a');
    QVERIFY(module.ok());
    Rig r(addressSettings(127, 0, 7, 5), 0.1);
    r.click(r.dlg->m_Connect);
    constexpr int kCap = 2000;
    constexpr int kFlood = 30000;
    r.dlg->m_SessionLog->model().setCap(kCap);
    r.click(r.dlg->m_SessionLogButton);
    r.dlg->m_SessionLog->drain();
    const int before = r.fileLines().size();

    std::atomic<bool> done{false};
    std::thread flood([&] {
        const std::wstring where = L"TCP 127.0.7.5:20036";
        unsigned char chunk[24];
        for (int i = 0; i < kFlood; ++i) {
            std::memset(chunk, i & 0xFF, sizeof chunk);
            LumoTapRecord rec;
            rec.kind = LumoTapKind::Received;
            rec.link = LumoTapLink::Tcp;
            rec.where = where;
            rec.bytes = chunk;
            rec.size = sizeof chunk;
            r.dlg->m_Net.m_hTap(rec);
        }
        done = true;
    });
    r.type(QStringLiteral("za 1")); // no answer comes: the Send waits its whole bound, painting meanwhile
    QTRY_VERIFY_WITH_TIMEOUT(done.load(), 20000);
    flood.join();
    QTRY_COMPARE(static_cast<size_t>(r.model().held()), static_cast<size_t>(kCap));
    QVERIFY(r.model().dropped() > 0);
    // The window followed to the newest record.
    QTableView* view = r.window()->m_View;
    QTRY_COMPARE(view->verticalScrollBar()->value(), view->verticalScrollBar()->maximum());
    // Nothing was lost on the way to the file, and the window holds its newest lines.
    const QStringList file = r.fileLines();
    VERIFY_HAS(file, "send TCP 127.0.7.5:20036 \"za 1\" timed out in ");
    QCOMPARE(file.filter(QRegularExpression(QStringLiteral("^rx TCP 127.0.7.5:20036 ([0-9A-F]{2} ){24}\\|")))
                 .size(),
             kFlood);
    QVERIFY(file.size() > before + kFlood);
    QCOMPARE(file.mid(file.size() - kCap), r.records());
}

QTEST_MAIN(TestSessionLog)
#include "test_session_log.moc"
