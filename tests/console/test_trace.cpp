// The trace report record and its delivery to a listener on the abstract
// Unix datagram socket (an in-test listener, and the viewer program).
#include <QCoreApplication>
#include <QFileInfo>
#include <QProcess>
#include <QTest>

#include "trace.h"

#include <cstddef>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

// A private name per test process, so parallel tests and a real viewer never meet.
QByteArray testName(const char *what) {
    return QByteArray("cmdora-test-") + what + '-' + QByteArray::number(::getpid());
}

// Datagram listener bound to an abstract name; owns its descriptor.
class AbstractListener {
public:
    explicit AbstractListener(const QByteArray &name) {
        m_Fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::memcpy(addr.sun_path + 1, name.constData(), static_cast<size_t>(name.size()));
        const auto len = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
        if (m_Fd >= 0 && ::bind(m_Fd, reinterpret_cast<sockaddr *>(&addr), len) != 0) {
            ::close(m_Fd);
            m_Fd = -1;
        }
    }
    ~AbstractListener() {
        if (m_Fd >= 0)
            ::close(m_Fd);
    }
    bool ok() const { return m_Fd >= 0; }
    // One datagram within 2 s, empty when none came.
    QByteArray receive() {
        pollfd p{m_Fd, POLLIN, 0};
        if (::poll(&p, 1, 2000) <= 0)
            return {};
        QByteArray buf(8192, '\0');
        const ssize_t n = ::recv(m_Fd, buf.data(), static_cast<size_t>(buf.size()), 0);
        return n > 0 ? buf.left(n) : QByteArray();
    }

private:
    int m_Fd = -1;
};

int32_t lengthField(const QByteArray &record) {
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i)
        v = (v << 8) | static_cast<unsigned char>(record[i]);
    return static_cast<int32_t>(v);
}

} // namespace

class TestTrace : public QObject {
    Q_OBJECT
private slots:
    void record_data();
    void record();
    void listenerReceivesRecord();
    void noListenerIsSilent();
    void viewerPrintsRecord();
};

void TestTrace::record_data() {
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<int>("length");
    QTest::newRow("test frame text") << QByteArray("XL 001002001 Test 0") << 19;
    QTest::newRow("empty") << QByteArray() << 0;
    QTest::newRow("cut at zero byte") << QByteArray("abc\0def", 7) << 3;
    QTest::newRow("exactly 5000") << QByteArray(5000, 'x') << 5000;
    QTest::newRow("cut at 5000") << QByteArray(6000, 'y') << 5000;
}

void TestTrace::record() {
    QFETCH(QByteArray, text);
    QFETCH(int, length);
    const QByteArray rec = BuildTraceRecord(text);
    QCOMPARE(rec.size(), kTraceRecordSize);
    QCOMPARE(lengthField(rec), length);
    QCOMPARE(rec.mid(4, length), text.left(length));
    // everything after the text is zero
    QCOMPARE(rec.mid(4 + length), QByteArray(kTraceRecordSize - 4 - length, '\0'));
}

void TestTrace::listenerReceivesRecord() {
    const QByteArray name = testName("listener");
    AbstractListener listener(name);
    QVERIFY(listener.ok());
    const QByteArray rec = BuildTraceRecord("XL 001002001 Test 0");
    QCOMPARE(SendTraceRecordToViewer(rec, name), 1);
    QCOMPARE(listener.receive(), rec);
}

void TestTrace::noListenerIsSilent() {
    QCOMPARE(SendTraceRecordToViewer(BuildTraceRecord("abc"), testName("nobody")), 0);
    // a record of the wrong size is never sent
    const QByteArray name = testName("short");
    AbstractListener listener(name);
    QCOMPARE(SendTraceRecordToViewer(QByteArray("abc"), name), 0);
}

void TestTrace::viewerPrintsRecord() {
    const QString viewer =
        QCoreApplication::applicationDirPath() + "/../../tools/trace_viewer/lumo-trace-viewer";
    if (!QFileInfo(viewer).isExecutable())
        QSKIP("lumo-trace-viewer not built");
    const QByteArray name = testName("viewer");
    QProcess proc;
    proc.start(viewer, {"--name", QString::fromLatin1(name), "--count", "1"});
    QVERIFY(proc.waitForStarted(3000));
    QVERIFY(proc.waitForReadyRead(3000));
    QVERIFY(proc.readLine().startsWith("ready"));
    QCOMPARE(SendTraceRecordToViewer(BuildTraceRecord("zh 0000"), name), 1);
    QVERIFY(proc.waitForFinished(3000));
    const QByteArray line = proc.readAll();
    QVERIFY2(line.trimmed().endsWith(" zh 0000"), line.constData());
}

QTEST_MAIN(TestTrace)
#include "test_trace.moc"
