// Send on the serial port (a pseudo-terminal module) and over UDP (a loopback
// module): the bytes that go out and what the dialog shows for each answer.
#include <QTest>

#include "answer_reading.h"
#include "send_rig.h"

#include <memory>

using rig::hex;

namespace {
constexpr const char *kUdpAddr = "127.0.5.20";
constexpr int kComPort = 5;

const QString kTimeout = QString::fromStdU16String(answer::kTimedOutText);

QByteArray ack(char s) {
    return QByteArray("\x00\xFF\x5A\xA5", 4) + s;
}
} // namespace

class TestSendSerialUdp : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();

    void serialLines_data();
    void serialLines();
    void serialAnswers_data();
    void serialAnswers();
    void serialNoAnswerTimesOut();
    void serialLongCommands();

    void udpDatagrams_data();
    void udpDatagrams();
    void udpAnswers_data();
    void udpAnswers();
    void udpLongCommands();

private:
    // The status line and, unless box is empty, the one data box of a query.
    void checkShown(D_CMDORA& dialog, const QString& status, const QString& box);
    rig::FastUi *m_Ui = nullptr;
    std::unique_ptr<rig::SerialModule> m_SerialModule;
    std::unique_ptr<D_CMDORA> m_Serial;
    std::unique_ptr<rig::UdpModule> m_UdpModule;
    std::unique_ptr<D_CMDORA> m_Udp;
};

void TestSendSerialUdp::initTestCase() {
    m_Ui = new rig::FastUi;
    m_SerialModule = std::make_unique<rig::SerialModule>(kComPort);
    QVERIFY(m_SerialModule->ok());
    m_Serial = std::make_unique<D_CMDORA>();
    QVERIFY(rig::openSerial(*m_Serial, kComPort));

    m_UdpModule = std::make_unique<rig::UdpModule>(kUdpAddr);
    QVERIFY(m_UdpModule->ok());
    m_Udp = std::make_unique<D_CMDORA>();
    // a short receive time-out keeps the second receive of a query answer quick
    QVERIFY(rig::openUdp(*m_Udp, kUdpAddr, 200));
}

void TestSendSerialUdp::cleanupTestCase() {
    if (m_Serial)
        m_Serial->m_Net.CloseCOM();
    m_Serial.reset();
    m_Udp.reset();
    m_SerialModule.reset();
    m_UdpModule.reset();
    delete m_Ui;
}

void TestSendSerialUdp::init() {
    m_Ui->boxes.clear();
    m_Ui->traceRecords.clear();
    m_SerialModule->clear();
    m_UdpModule->clear();
    m_Serial->m_Status->setText(QStringLiteral("previous"));
    m_Udp->m_Status->setText(QStringLiteral("previous"));
}

void TestSendSerialUdp::serialLines_data() {
    QTest::addColumn<QString>("command");
    QTest::addColumn<QByteArray>("line");
    QTest::newRow("empty") << "" << QByteArray("\r");
    QTest::newRow("abc") << "abc" << QByteArray("abc\r");
}

void TestSendSerialUdp::serialLines() {
    QFETCH(QString, command);
    QFETCH(QByteArray, line);
    m_SerialModule->reply("OK\r\n");
    rig::send(*m_Serial, command);
    QCOMPARE(m_SerialModule->waitReceived(int(line.size())), line);
    QCOMPARE(rig::status(*m_Serial), QStringLiteral("Ack : OK\r"));
}

void TestSendSerialUdp::checkShown(D_CMDORA& dialog, const QString& status, const QString& box) {
    QCOMPARE(rig::status(dialog), status);
    if (box.isEmpty()) {
        QVERIFY(m_Ui->boxes.isEmpty());
    } else {
        QCOMPARE(m_Ui->boxes.size(), 1);
        QCOMPARE(m_Ui->boxes[0].text, box);
        QCOMPARE(m_Ui->boxes[0].caption, QStringLiteral("Device Information"));
    }
}

void TestSendSerialUdp::serialAnswers_data() {
    QTest::addColumn<QString>("command");
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<QString>("status");
    QTest::addColumn<QString>("box"); // empty: no box
    QTest::newRow("from the word, CR kept")
        << "ze 1" << QByteArray("ze 1 command OK\r\n") << "Ack : command OK\r"
        << "";
    QTest::newRow("no line feed") << "ze 2" << QByteArray("OK") << kTimeout << "";
    QTest::newRow("silent ack") << "ze 3" << ack(1) << "previous"
                                << "";
    QTest::newRow("refusing ack") << "ze 4" << ack(0) << kTimeout << "";
    QTest::newRow("query two lines") << "zh" << QByteArray("Device ID 1\r\nOK: command zh done\r\n")
                                     << "Ack : OK: command zh done\r"
                                     << "Device ID 1\r";
    QTest::newRow("query error line from the word")
        << "zs" << QByteArray("bad command zs\r\n") << "Ack : command zs\r"
        << "";
    QTest::newRow("query one line") << "zh" << QByteArray("Device ID 1\r\n") << kTimeout << "";
}

void TestSendSerialUdp::serialAnswers() {
    QFETCH(QString, command);
    QFETCH(QByteArray, answer);
    QFETCH(QString, status);
    QFETCH(QString, box);
    m_SerialModule->reply(answer);
    rig::send(*m_Serial, command);
    checkShown(*m_Serial, status, box);
}

void TestSendSerialUdp::serialNoAnswerTimesOut() {
    m_SerialModule->reply(QByteArray()); // the module stays silent
    const long before = m_Ui->sleptMs();
    rig::send(*m_Serial, QStringLiteral("ze 9"));
    QCOMPARE(rig::status(*m_Serial), kTimeout);
    QCOMPARE(m_Ui->sleptMs() - before, 15 * 500L); // fifteen polls 500 ms apart
}

void TestSendSerialUdp::serialLongCommands() {
    // no 100-character warning on the serial port
    m_SerialModule->reply("OK\r\n");
    rig::send(*m_Serial, QString(150, QLatin1Char('s')));
    QCOMPARE(m_SerialModule->waitReceived(151).size(), 151);
    QVERIFY(m_Ui->boxes.isEmpty());
    // the enlarged line area holds 1023 characters and the CR
    m_SerialModule->clear();
    m_SerialModule->reply("OK\r\n");
    rig::send(*m_Serial, QString(1023, QLatin1Char('t')));
    QCOMPARE(m_SerialModule->waitReceived(1024).size(), 1024);
    // one more is refused, and nothing goes out
    m_SerialModule->clear();
    rig::send(*m_Serial, QString(1024, QLatin1Char('u')));
    QCOMPARE(rig::status(*m_Serial),
             QStringLiteral("Command too long: at most 1023 characters on the serial port"));
    m_SerialModule->reply("OK\r\n");
    rig::send(*m_Serial, QStringLiteral("v"));
    QCOMPARE(m_SerialModule->waitReceived(2), QByteArray("v\r"));
}

void TestSendSerialUdp::udpDatagrams_data() {
    QTest::addColumn<QString>("command");
    QTest::addColumn<QByteArray>("datagram");
    QTest::newRow("empty") << "" << QByteArray("\0", 1);
    QTest::newRow("abc") << "abc" << QByteArray("abc\0", 4);
}

void TestSendSerialUdp::udpDatagrams() {
    QFETCH(QString, command);
    QFETCH(QByteArray, datagram);
    m_UdpModule->reply("OK\r\n");
    rig::send(*m_Udp, command);
    QCOMPARE(m_UdpModule->units(), QList<QByteArray>{datagram});
    QCOMPARE(rig::status(*m_Udp), QStringLiteral("Ack : OK\r"));
}

void TestSendSerialUdp::udpAnswers_data() {
    QTest::addColumn<QString>("command");
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<QString>("status");
    QTest::addColumn<QString>("box"); // empty: no box
    QTest::newRow("whole line") << "ze 1" << QByteArray("ze 1 command OK\r\n") << "Ack : ze 1 command OK\r"
                                << "";
    QTest::newRow("no line feed") << "ze 2" << QByteArray("OK") << kTimeout << "";
    QTest::newRow("silent ack") << "ze 3" << ack(1) << ""
                                << "";
    QTest::newRow("query two lines") << "zh" << QByteArray("Device ID 1\r\nOK: command zh done\r\n")
                                     << "Ack : OK: command zh done\r"
                                     << "Device ID 1\r";
    QTest::newRow("query error line whole")
        << "zh" << QByteArray("bad command zh\r\n") << "Ack : bad command zh\r"
        << "";
    QTest::newRow("query one line") << "zh" << QByteArray("Device ID 1\r\n") << kTimeout << "";
}

void TestSendSerialUdp::udpAnswers() {
    QFETCH(QString, command);
    QFETCH(QByteArray, answer);
    QFETCH(QString, status);
    QFETCH(QString, box);
    m_UdpModule->reply(answer);
    rig::send(*m_Udp, command);
    checkShown(*m_Udp, status, box);
}

void TestSendSerialUdp::udpLongCommands() {
    // above 100 characters the warning comes first, then the datagram goes out
    m_UdpModule->reply("OK\r\n");
    rig::send(*m_Udp, QString(101, QLatin1Char('a')));
    QCOMPARE(m_Ui->boxes.size(), 1);
    QCOMPARE(m_Ui->boxes[0].text, QStringLiteral("Error"));
    QCOMPARE(m_Ui->boxes[0].caption, QStringLiteral("Morrack"));
    QCOMPARE(m_UdpModule->units().value(0).size(), 102);
    // past the datagram area: refused, nothing sent
    m_UdpModule->clear();
    m_Ui->boxes.clear();
    rig::send(*m_Udp, QString(1024, QLatin1Char('b')));
    QCOMPARE(rig::status(*m_Udp), QStringLiteral("Command too long: at most 1023 characters over UDP"));
    QVERIFY(m_Ui->boxes.isEmpty());
    QTest::qWait(50);
    QVERIFY(m_UdpModule->units().isEmpty());
}

QTEST_MAIN(TestSendSerialUdp)
#include "test_send_serial_udp.moc"
