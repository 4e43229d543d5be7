// Hexadecimal renderings and the command preview of the main dialog.
#include <QTest>

#include "hex_notation.h"

class TestPreview : public QObject {
    Q_OBJECT
private slots:
    void renderHex_data();
    void renderHex();
};

void TestPreview::renderHex_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("notation");
    QTest::addColumn<QByteArray>("expected");
    const QByteArray two("\x55\xAA", 2);
    QTest::newRow("space") << two << 0 << QByteArray("55 AA ");
    QTest::newRow("0x") << two << 1 << QByteArray("0x55 0xAA ");
    QTest::newRow("dollar") << two << 2 << QByteArray("$55$AA");
    QTest::newRow("low digits upper case") << QByteArray("\x00\x0f\xab", 3) << 1 << QByteArray("0x00 0x0F 0xAB ");
    QTest::newRow("empty") << QByteArray() << 2 << QByteArray();
}

void TestPreview::renderHex() {
    QFETCH(QByteArray, bytes);
    QFETCH(int, notation);
    QFETCH(QByteArray, expected);
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.constData());
    QCOMPARE(RenderHex(p, static_cast<size_t>(bytes.size()), notation), expected);
}

QTEST_MAIN(TestPreview)
#include "test_preview.moc"
