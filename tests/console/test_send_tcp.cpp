// Send over TCP: the frames a module receives and what the dialog shows for
// its answers, against in-test modules of style 0 and style 17 on loopback.
#include <QApplication>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>
#include <QTest>
#include <QTimer>

#include "answer_reading.h"
#include "send_rig.h"

#include <memory>

using rig::hex;

namespace {
constexpr const char* kPlainAddr = "127.0.5.10";   // style 0, ID 3
constexpr const char* kStyle17Addr = "127.0.5.11"; // style 17, mode 'z', ID 5
constexpr const char* kLongAddr = "127.0.5.12";    // style 17, long answers

const QString kTimeout = QString::fromStdU16String(answer::kTimedOutText);

QByteArray ack(char s) {
    return QByteArray("\x00\xFF\x5A\xA5", 4) + s;
}

// Bytes of a preview rendering in notation 0 ("55 AA ...").
QByteArray previewBytes(const QString& rendering) {
    return QByteArray::fromHex(rendering.toLatin1());
}
} // namespace

class TestSendTcp : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();

    void plainFrames_data();
    void plainFrames();
    void xFrameKeepsStatus();
    void plainQueryReadByLines();
    void longCommandWarnsThenSends();
    void tooLongCommandsRefused_data();
    void tooLongCommandsRefused();
    void previewMatchesWire_data();
    void previewMatchesWire();
    void noLinkSendsNothing();
    void nestedSendReturns();

    void style17Answers_data();
    void style17Answers();
    void style17ReleasesMailbox();
    void longAnswerCutAtReplyArea();
    void longAnswerScrollsInTheRealBox();

private:
    rig::FastUi* m_Ui = nullptr;
    std::unique_ptr<rig::TcpModule> m_PlainModule;
    std::unique_ptr<D_CMDORA> m_Plain;
    std::unique_ptr<rig::TcpModule> m_Style17Module;
    std::unique_ptr<D_CMDORA> m_Style17;
};

void TestSendTcp::initTestCase() {
    m_Ui = new rig::FastUi;
    m_PlainModule = std::make_unique<rig::TcpModule>(kPlainAddr, 3, 0);
    QVERIFY(m_PlainModule->ok());
    m_Plain = std::make_unique<D_CMDORA>();
    QVERIFY(rig::openTcp(*m_Plain, kPlainAddr));
    QCOMPARE(m_Plain->m_Net.m_ConnectToPcID, 3);

    m_Style17Module = std::make_unique<rig::TcpModule>(kStyle17Addr, 5, 17, 'z');
    QVERIFY(m_Style17Module->ok());
    m_Style17 = std::make_unique<D_CMDORA>();
    QVERIFY(rig::openTcp(*m_Style17, kStyle17Addr));
    QCOMPARE(m_Style17->m_Net.m_ModeChar, uint8_t('z'));
}

void TestSendTcp::cleanupTestCase() {
    m_Plain.reset();
    m_Style17.reset();
    m_PlainModule.reset();
    m_Style17Module.reset();
    delete m_Ui;
}

void TestSendTcp::init() {
    m_Ui->boxes.clear();
    m_Ui->traceRecords.clear();
    m_PlainModule->clear();
    m_Style17Module->clear();
    for (D_CMDORA* d : {m_Plain.get(), m_Style17.get()}) {
        rig::setXFrames(*d, false);
        d->m_Status->setText(QStringLiteral("previous"));
    }
}

void TestSendTcp::plainFrames_data() {
    QTest::addColumn<QString>("command");
    QTest::addColumn<QByteArray>("frame");
    QTest::newRow("empty") << "" << QByteArray("55 AA 38 C7 02 FD 07 00 00");
    QTest::newRow("abc, ID 3") << "abc" << QByteArray("55 AA 38 C7 05 FA 07 61 62 63 00 00");
    QTest::newRow("low byte of each unit")
        << QString::fromStdU16String(u"\u00E9\u4E2D") << QByteArray("55 AA 38 C7 04 FB 07 E9 2D 00 00");
}

void TestSendTcp::plainFrames() {
    QFETCH(QString, command);
    QFETCH(QByteArray, frame);
    rig::send(*m_Plain, command);
    QCOMPARE(hex(m_PlainModule->waitReceived(int(frame.size() + 1) / 3)), frame);
    // a module of another style than 17 is not read for a normal command: nothing at all shows
    QCOMPARE(rig::status(*m_Plain), QString());
    QVERIFY(m_Ui->boxes.isEmpty());
    QCOMPARE(m_Ui->traces(), command.isEmpty() ? QList<QByteArray>() : QList<QByteArray>{command.toLatin1()});
}

void TestSendTcp::xFrameKeepsStatus() {
    rig::setXFrames(*m_Plain, true);
    rig::send(*m_Plain, QString());
    QCOMPARE(hex(m_PlainModule->waitReceived(15)),
             QByteArray("55 AA 5A A5 0F 00 00 02 13 00 FF 01 FE 00 20"));
    rig::send(*m_Plain, QStringLiteral("abc"));
    QCOMPARE(hex(m_PlainModule->waitReceived(33).mid(15)),
             QByteArray("55 AA 5A A5 12 00 00 02 13 00 FF 01 FE 00 61 62 63 49"));
    QCOMPARE(rig::status(*m_Plain), QStringLiteral("previous"));
}

void TestSendTcp::plainQueryReadByLines() {
    m_PlainModule->reply("Device ID 3\r\nOK: command zh done\r\n");
    rig::send(*m_Plain, QStringLiteral("zh"));
    QCOMPARE(rig::status(*m_Plain), QStringLiteral("Ack : OK: command zh done\r"));
    QCOMPARE(m_Ui->boxes.size(), 1);
    QCOMPARE(m_Ui->boxes[0].text, QStringLiteral("Device ID 3\r"));
    QCOMPARE(m_Ui->boxes[0].caption, QStringLiteral("Device Information"));
    QCOMPARE(m_Ui->boxes[0].icon, ConsoleUi::Icon::None);
    QCOMPARE(m_Plain->m_Net.m_RecvLen.load(), 0);
}

void TestSendTcp::longCommandWarnsThenSends() {
    const QString command(101, QLatin1Char('a'));
    rig::send(*m_Plain, command);
    QCOMPARE(m_Ui->boxes.size(), 1);
    QCOMPARE(m_Ui->boxes[0].text, QStringLiteral("Error"));
    QCOMPARE(m_Ui->boxes[0].caption, QStringLiteral("Morrack"));
    QCOMPARE(m_Ui->boxes[0].icon, ConsoleUi::Icon::None);
    const QByteArray got = m_PlainModule->waitReceived(110);
    QCOMPARE(got.size(), 110);
    QCOMPARE(static_cast<unsigned char>(got[4]), 103); // L = n + 2
    // the trace area holds 255 characters
    QCOMPARE(m_Ui->traces().value(0), command.toLatin1());
}

void TestSendTcp::tooLongCommandsRefused_data() {
    QTest::addColumn<bool>("xAscii");
    QTest::addColumn<int>("length");
    QTest::addColumn<int>("frameLength"); // 0: refused
    QTest::newRow("Z 253 fits") << false << 253 << 262;
    QTest::newRow("Z 254 refused") << false << 254 << 0;
    QTest::newRow("Z 1100 refused") << false << 1100 << 0;
    QTest::newRow("X 2033 fits") << true << 2033 << 2048;
    QTest::newRow("X 2034 refused") << true << 2034 << 0;
}

void TestSendTcp::tooLongCommandsRefused() {
    QFETCH(bool, xAscii);
    QFETCH(int, length);
    QFETCH(int, frameLength);
    rig::setXFrames(*m_Plain, xAscii);
    rig::send(*m_Plain, QString(length, QLatin1Char('q')));
    if (frameLength == 0) {
        const QString expected =
            xAscii ? QStringLiteral("Command too long: at most 2033 characters in an X frame")
                   : QStringLiteral("Command too long: at most 253 characters over TCP");
        QCOMPARE(rig::status(*m_Plain), expected);
        QVERIFY(m_Ui->boxes.isEmpty()); // refused before the length warning
        // nothing went out: the next frame is the first the module sees
        rig::setXFrames(*m_Plain, false);
        rig::send(*m_Plain, QStringLiteral("abc"));
        QCOMPARE(hex(m_PlainModule->waitReceived(12)), QByteArray("55 AA 38 C7 05 FA 07 61 62 63 00 00"));
        return;
    }
    const QByteArray got = m_PlainModule->waitReceived(frameLength);
    QCOMPARE(got.size(), frameLength);
    if (xAscii) {
        QCOMPARE(static_cast<unsigned char>(got[4]) | static_cast<unsigned char>(got[5]) << 8, frameLength);
        unsigned char sum = 0;
        for (int i = 0; i < frameLength - 1; ++i)
            sum = static_cast<unsigned char>(sum + static_cast<unsigned char>(got[i]));
        QCOMPARE(static_cast<unsigned char>(got[frameLength - 1]), sum);
    } else {
        QCOMPARE(static_cast<unsigned char>(got[4]), 255);
    }
}

void TestSendTcp::previewMatchesWire_data() {
    QTest::addColumn<bool>("xAscii");
    QTest::addColumn<QString>("command");
    QTest::newRow("Z") << false << "ze 0001 7";
    QTest::newRow("X") << true << "XL 001002001 hello";
    QTest::newRow("Z non-ASCII") << false << QString::fromStdU16String(u"z\u00E9\u4E2D");
}

void TestSendTcp::previewMatchesWire() {
    QFETCH(bool, xAscii);
    QFETCH(QString, command);
    rig::setXFrames(*m_Plain, xAscii);
    m_Plain->m_NotationSpace->setChecked(true);
    m_Plain->m_Command->setText(command); // the text change renders the preview
    m_Plain->OnEnChangeCommand();
    const QByteArray preview = previewBytes(m_Plain->m_Result->toPlainText());
    QVERIFY(!preview.isEmpty());
    m_Plain->OnBnClickedSend();
    QCOMPARE(hex(m_PlainModule->waitReceived(int(preview.size()))), hex(preview));
}

void TestSendTcp::noLinkSendsNothing() {
    m_Plain->m_Link.m_bLinkOpen = 0;
    rig::send(*m_Plain, QStringLiteral("abc"));
    m_Plain->m_Link.m_bLinkOpen = 1;
    QCOMPARE(rig::status(*m_Plain), QStringLiteral("previous"));
    QCOMPARE(m_Ui->traces(), QList<QByteArray>{"abc"}); // the trace comes before the link check
    rig::send(*m_Plain, QStringLiteral("x"));
    QCOMPARE(hex(m_PlainModule->waitReceived(10)), QByteArray("55 AA 38 C7 03 FC 07 78 00 00"));
}

void TestSendTcp::nestedSendReturns() {
    m_Plain->m_Link.m_bInSend = true;
    rig::send(*m_Plain, QStringLiteral("abc"));
    m_Plain->m_Link.m_bInSend = false;
    QVERIFY(m_Ui->traces().isEmpty());
    rig::send(*m_Plain, QStringLiteral("x"));
    QCOMPARE(m_PlainModule->waitReceived(10).size(), 10);
    QVERIFY(!m_Plain->m_Link.m_bInSend);
}

void TestSendTcp::style17Answers_data() {
    QTest::addColumn<QString>("command");
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<QString>("status");
    QTest::addColumn<QString>("box"); // empty: no box
    QTest::addColumn<QString>("caption");
    QTest::newRow("normal line") << "za 1" << QByteArray("OK: command za 1 done\r\n")
                                 << "Ack : OK: command za 1 done\r"
                                 << ""
                                 << "";
    QTest::newRow("silent ack") << "za 2" << ack(1) << ""
                                << ""
                                << "";
    QTest::newRow("refusing ack") << "za 3" << ack(0) << kTimeout << ""
                                  << "";
    QTest::newRow("no line feed") << "za 4" << QByteArray("OK") << kTimeout << ""
                                  << "";
    QTest::newRow("zh end mark") << "zh" << QByteArray("Device ID 5 Style 17\r\n") + ack(1) << ""
                                 << "Device ID 5 Style 17\r\n"
                                 << "Device Information";
    QTest::newRow("zw end mark") << "zw 000000" << QByteArray("Position 0 0 1920 1080") + ack(1) << ""
                                 << "Position 0 0 1920 1080"
                                 << "Source position";
    QTest::newRow("ZS end mark") << "ZS" << QByteArray("Signal 1920x1080") + ack(1) << ""
                                 << "Signal 1920x1080"
                                 << "Signal Type";
    QTest::newRow("query lines, no end mark") << "zs" << QByteArray("Signal\r\nOK\r\n") << kTimeout << ""
                                              << "";
    QTest::newRow("zw last digit 1 is normal")
        << "zw 000001" << QByteArray("OK: command done\r\n") << "Ack : OK: command done\r"
        << ""
        << "";
}

void TestSendTcp::style17Answers() {
    QFETCH(QString, command);
    QFETCH(QByteArray, answer);
    QFETCH(QString, status);
    QFETCH(QString, box);
    QFETCH(QString, caption);
    m_Style17Module->reply(answer);
    rig::send(*m_Style17, command);
    QCOMPARE(rig::status(*m_Style17), status);
    if (box.isEmpty()) {
        QVERIFY(m_Ui->boxes.isEmpty());
    } else {
        QCOMPARE(m_Ui->boxes.size(), 1);
        QCOMPARE(m_Ui->boxes[0].text, box);
        QCOMPARE(m_Ui->boxes[0].caption, caption);
    }
    const QByteArray frame = m_Style17Module->received();
    QCOMPARE(static_cast<unsigned char>(frame.size() > 2 ? frame[2] : 0), 0x58); // ID 5, text class
}

void TestSendTcp::style17ReleasesMailbox() {
    m_Style17Module->reply("OK: command za done\r\n");
    rig::send(*m_Style17, QStringLiteral("za"));
    QCOMPARE(m_Style17->m_Net.m_RecvLen.load(), 0);
    QCOMPARE(m_Style17->m_Net.m_RecvReady.load(), uint8_t(0));
    // the next answer is read as its own
    m_Style17Module->reply("OK: second\r\n");
    rig::send(*m_Style17, QStringLiteral("zb"));
    QCOMPARE(rig::status(*m_Style17), QStringLiteral("Ack : OK: second\r"));
}

void TestSendTcp::longAnswerCutAtReplyArea() {
    // Until-ack reception publishes a whole answer however long, and the
    // reply area holds the whole mailbox: long data shows whole, by end mark
    // and by lines.
    rig::TcpModule module(kLongAddr, 2, 17, 'z');
    QVERIFY(module.ok());
    D_CMDORA dlg;
    QVERIFY(rig::openTcp(dlg, kLongAddr));
    module.reply(QByteArray(4000, 'y') + ack(1));
    rig::send(dlg, QStringLiteral("zh"));
    QCOMPARE(m_Ui->boxes.size(), 1);
    QCOMPARE(m_Ui->boxes[0].text, QString(4000, QLatin1Char('y')));
    m_Ui->boxes.clear();

    module.reply(QByteArray(9000, 'x') + ack(1));
    rig::send(dlg, QStringLiteral("zh"));
    QCOMPARE(rig::status(dlg), QString());
    QCOMPARE(m_Ui->boxes.size(), 1);
    QCOMPARE(m_Ui->boxes[0].text, QString(9000, QLatin1Char('x')));
    QCOMPARE(dlg.m_Net.m_RecvLen.load(), 0);
    m_Ui->boxes.clear();

    // a module of another style answers by lines; 6000 bytes of data in one line
    rig::TcpModule plain("127.0.5.13", 3, 5);
    QVERIFY(plain.ok());
    D_CMDORA lines;
    QVERIFY(rig::openTcp(lines, "127.0.5.13"));
    plain.reply(QByteArray(6000, 'w') + "\r\nOK: command zs done\r\n");
    rig::send(lines, QStringLiteral("zs"));
    QCOMPARE(rig::status(lines), QStringLiteral("Ack : OK: command zs done\r"));
    QCOMPARE(m_Ui->boxes.size(), 1);
    QCOMPARE(m_Ui->boxes[0].text, QString(6000, QLatin1Char('w')) + QLatin1Char('\r'));
}

void TestSendTcp::longAnswerScrollsInTheRealBox() {
    // The real box: a long text scrolls inside it, a short one does not; both
    // keep their text and caption, and the box has the plain pointer.
    rig::TcpModule module("127.0.5.14", 2, 17, 'z');
    QVERIFY(module.ok());
    D_CMDORA dlg;
    QVERIFY(rig::openTcp(dlg, "127.0.5.14"));
    struct Seen {
        QString text, caption;
        bool scrolls = false;
        int pointer = -1;
    } seen;
    QTimer closer;
    closer.setInterval(20);
    connect(&closer, &QTimer::timeout, this, [&seen] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box)
            return;
        seen = {box->text(), box->windowTitle(), box->findChild<QScrollArea*>() != nullptr,
                QGuiApplication::overrideCursor() ? int(QGuiApplication::overrideCursor()->shape()) : -1};
        box->button(QMessageBox::Ok)->click();
    });
    closer.start();
    setConsoleUi(nullptr);
    module.reply(QByteArray(9000, 'x') + ack(1));
    rig::send(dlg, QStringLiteral("zh"));
    const Seen longBox = seen;
    module.reply(QByteArray("Position 1 2") + ack(1));
    rig::send(dlg, QStringLiteral("zw 000000"));
    setConsoleUi(m_Ui);
    QCOMPARE(longBox.text, QString(9000, QLatin1Char('x')));
    QCOMPARE(longBox.caption, QStringLiteral("Device Information"));
    QVERIFY(longBox.scrolls);
    QCOMPARE(longBox.pointer, int(Qt::ArrowCursor));
    QCOMPARE(seen.text, QStringLiteral("Position 1 2"));
    QCOMPARE(seen.caption, QStringLiteral("Source position"));
    QVERIFY(!seen.scrolls);
    QCOMPARE(QGuiApplication::overrideCursor(), nullptr);
}

QTEST_MAIN(TestSendTcp)
#include "test_send_tcp.moc"
