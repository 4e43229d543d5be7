// Reading rules of the Send handler, from tables of answers and what each
// reading shows.
#include <QTest>

#include "answer_reading.h"

using answer::AckWord;
using answer::Outcome;

namespace {

QByteArray ack(char status) {
    return QByteArray("\x00\xFF\x5A\xA5", 4) + status;
}

std::u16string u16(const char *s) {
    std::u16string out;
    while (*s)
        out.push_back(static_cast<unsigned char>(*s++));
    return out;
}

QString optText(const std::optional<std::u16string> &s) {
    return s ? QString::fromStdU16String(*s) : QStringLiteral("<none>");
}

const unsigned char *bytes(const QByteArray &b) {
    return reinterpret_cast<const unsigned char *>(b.constData());
}

const QString kTimeout = QString::fromStdU16String(answer::kTimedOutText);

} // namespace

class TestAnswerReading : public QObject {
    Q_OBJECT
private slots:
    void classification_data();
    void classification();
    void deviceInfoQuery();
    void replyText();
    void endMarkAndSilentAck();
    void normalAnswer_data();
    void normalAnswer();
    void queryLines_data();
    void queryLines();
    void untilEndMark_data();
    void untilEndMark();
    void tooLongTexts();
};

void TestAnswerReading::classification_data() {
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("letter"); // empty: normal command
    QTest::addColumn<QString>("caption");
    QTest::newRow("zw six zeros") << "zw 000000"
                                  << "w"
                                  << "Source position";
    QTest::newRow("zw last digit 1") << "zw 000001"
                                     << ""
                                     << "";
    QTest::newRow("zw alone") << "zw"
                              << ""
                              << "";
    QTest::newRow("zw eight chars") << "zw 00000"
                                    << ""
                                    << "";
    QTest::newRow("ZW third char ignored") << "ZWx000000 more"
                                           << "W"
                                           << "Source position";
    QTest::newRow("ZS") << "ZS"
                        << "S"
                        << "Signal Type";
    QTest::newRow("zs with args") << "zs 1"
                                  << "s"
                                  << "Signal Type";
    QTest::newRow("zh") << "zh"
                        << "h"
                        << "Device Information";
    QTest::newRow("Zh") << "Zh 0000"
                        << "h"
                        << "Device Information";
    QTest::newRow("za normal") << "za 1"
                               << ""
                               << "";
    QTest::newRow("z alone") << "z"
                             << ""
                             << "";
    QTest::newRow("hz not a query") << "hz"
                                    << ""
                                    << "";
    QTest::newRow("empty") << ""
                           << ""
                           << "";
}

void TestAnswerReading::classification() {
    QFETCH(QString, command);
    QFETCH(QString, letter);
    QFETCH(QString, caption);
    const std::u16string text = command.toStdU16String();
    const char16_t got = answer::QueryLetter(text);
    QCOMPARE(got == 0 ? QString() : QString(QChar(got)), letter);
    QCOMPARE(answer::IsQueryCommand(text), !letter.isEmpty());
    QCOMPARE(QString::fromStdU16String(answer::QueryCaption(got)), caption);
}

void TestAnswerReading::deviceInfoQuery() {
    QVERIFY(answer::IsDeviceInfoQuery(u"zh"));
    QVERIFY(answer::IsDeviceInfoQuery(u"ZH 1"));
    QVERIFY(answer::IsDeviceInfoQuery(u"zH"));
    QVERIFY(!answer::IsDeviceInfoQuery(u"zs"));
    QVERIFY(!answer::IsDeviceInfoQuery(u"z"));
}

void TestAnswerReading::replyText() {
    const QByteArray b("ab\xE9\x00xy", 6);
    QCOMPARE(answer::ReplyText(bytes(b), 6), std::u16string(u"ab\u00E9"));
    QCOMPARE(answer::ReplyText(bytes(b), 2), std::u16string(u"ab"));
    QCOMPARE(answer::FindLineFeed(bytes(QByteArray("a\nb\n")), 0, 4), 1L);
    QCOMPARE(answer::FindLineFeed(bytes(QByteArray("a\nb\n")), 2, 4), 3L);
    QCOMPARE(answer::FindLineFeed(bytes(QByteArray("a\nb\n")), 0, 1), -1L);
    QCOMPARE(answer::FindCommandWord(u"x Command y command"), size_t(12));
    QCOMPARE(answer::FindCommandWord(u"x Command y"), size_t(2));
    QCOMPARE(answer::FindCommandWord(u"COMMAND"), std::u16string::npos);
}

void TestAnswerReading::endMarkAndSilentAck() {
    const QByteArray data = QByteArray("info") + ack(1);
    QCOMPARE(answer::FindEndMark(bytes(data), size_t(data.size())), 4L);
    // an end mark cut by the count does not count
    QCOMPARE(answer::FindEndMark(bytes(data), size_t(data.size() - 1)), -1L);
    QCOMPARE(answer::FindEndMark(bytes(ack(0)), 5), -1L);
    QVERIFY(answer::IsSilentAck(bytes(ack(1)), 5));
    QVERIFY(!answer::IsSilentAck(bytes(ack(0)), 5));
    QVERIFY(!answer::IsSilentAck(bytes(data), size_t(data.size())));
}

void TestAnswerReading::normalAnswer_data() {
    QTest::addColumn<QByteArray>("reply"); // as read; empty: nothing arrived
    QTest::addColumn<bool>("serial");
    QTest::addColumn<QString>("status"); // "<none>": status line not written
    QTest::newRow("serial from word, CR kept")
        << QByteArray("ze 1 command OK\r\nrest") << true << "Ack : command OK\r";
    QTest::newRow("udp whole line") << QByteArray("ze 1 command OK\r\nrest") << false
                                    << "Ack : ze 1 command OK\r";
    QTest::newRow("serial Command word") << QByteArray("bad Command\n") << true << "Ack : Command";
    QTest::newRow("serial command before Command")
        << QByteArray("Command x command y\n") << true << "Ack : command y";
    QTest::newRow("serial no word") << QByteArray("OK\n") << true << "Ack : OK";
    QTest::newRow("zero byte ends the line text") << QByteArray("OK\0junk\n", 8) << false << "Ack : OK";
    QTest::newRow("no line feed") << QByteArray("OK") << true << kTimeout;
    QTest::newRow("silent ack serial") << ack(1) << true << "<none>";
    QTest::newRow("silent ack udp") << ack(1) << false << "<none>";
    QTest::newRow("refused ack") << ack(0) << false << kTimeout;
    QTest::newRow("ack plus more") << ack(1) + 'x' << false << kTimeout;
    QTest::newRow("nothing") << QByteArray() << true << kTimeout;
}

void TestAnswerReading::normalAnswer() {
    QFETCH(QByteArray, reply);
    QFETCH(bool, serial);
    QFETCH(QString, status);
    const Outcome o = answer::ReadNormalAnswer(bytes(reply), reply.isEmpty() ? 0 : reply.size(),
                                               serial ? AckWord::FromCommandWord : AckWord::WholeLine);
    QCOMPARE(optText(o.status), status);
    QVERIFY(!o.boxText);
    QCOMPARE(o.timedOut, status == kTimeout);
    // a failed read (-1) reads like nothing at all
    if (reply.isEmpty())
        QCOMPARE(answer::ReadNormalAnswer(nullptr, -1, AckWord::WholeLine), answer::TimedOut());
}

void TestAnswerReading::queryLines_data() {
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<bool>("serial");
    QTest::addColumn<QString>("status");
    QTest::addColumn<QString>("box"); // "<none>": no box
    QTest::newRow("two lines udp") << QByteArray("DATA 1\r\nACK OK\r\n") << false << "Ack : ACK OK\r"
                                   << "DATA 1\r";
    QTest::newRow("two lines serial") << QByteArray("DATA 1\nACK\n") << true << "Ack : ACK"
                                      << "DATA 1";
    QTest::newRow("one line") << QByteArray("DATA 1\n") << false << kTimeout << "<none>";
    QTest::newRow("no line feed") << QByteArray("DATA") << true << kTimeout << "<none>";
    QTest::newRow("error line udp whole")
        << QByteArray("bad command zh\r\n") << false << "Ack : bad command zh\r"
        << "<none>";
    QTest::newRow("error line serial from word")
        << QByteArray("bad command zh\r\n") << true << "Ack : command zh\r"
        << "<none>";
    QTest::newRow("error Command udp")
        << QByteArray("Unknown Command\nx\n") << false << "Ack : Unknown Command"
        << "<none>";
    QTest::newRow("word in line 2 only") << QByteArray("D\nno command\n") << false << "Ack : no command"
                                         << "D";
    QTest::newRow("nothing") << QByteArray() << false << kTimeout << "<none>";
}

void TestAnswerReading::queryLines() {
    QFETCH(QByteArray, reply);
    QFETCH(bool, serial);
    QFETCH(QString, status);
    QFETCH(QString, box);
    const Outcome o = answer::ReadQueryLines(bytes(reply), reply.size(),
                                             serial ? AckWord::FromCommandWord : AckWord::WholeLine, u'h');
    QCOMPARE(optText(o.status), status);
    QCOMPARE(optText(o.boxText), box);
    if (o.boxText)
        QCOMPARE(o.boxCaption, std::u16string(u"Device Information"));
}

void TestAnswerReading::untilEndMark_data() {
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QString>("box");
    QTest::addColumn<QString>("status");
    QTest::newRow("data then mark") << QByteArray("Model X\r\nRev 2\r\n") + ack(1) << "Model X\r\nRev 2\r\n"
                                    << "<none>";
    QTest::newRow("mark only") << ack(1) << ""
                               << "<none>";
    QTest::newRow("refusal is no mark") << QByteArray("x") + ack(0) << "<none>" << kTimeout;
    QTest::newRow("no mark") << QByteArray("Model X\n") << "<none>" << kTimeout;
    QTest::newRow("nothing") << QByteArray() << "<none>" << kTimeout;
}

void TestAnswerReading::untilEndMark() {
    QFETCH(QByteArray, reply);
    QFETCH(QString, box);
    QFETCH(QString, status);
    const Outcome o = answer::ReadUntilEndMark(bytes(reply), reply.size(), u'w');
    QCOMPARE(optText(o.boxText), box);
    QCOMPARE(optText(o.status), status);
    if (o.boxText)
        QCOMPARE(o.boxCaption, std::u16string(u"Source position"));
}

void TestAnswerReading::tooLongTexts() {
    QCOMPARE(answer::MaxCommandChars(answer::SendPath::ZFrame), 253);
    QCOMPARE(answer::MaxCommandChars(answer::SendPath::XFrame), 2033);
    QCOMPARE(answer::MaxCommandChars(answer::SendPath::Serial), 1023);
    QCOMPARE(answer::MaxCommandChars(answer::SendPath::Udp), 1023);
    QCOMPARE(answer::CommandTooLongText(answer::SendPath::ZFrame),
             u16("Command too long: at most 253 characters over TCP"));
}

QTEST_MAIN(TestAnswerReading)
#include "test_answer_reading.moc"
