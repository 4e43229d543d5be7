// Hexadecimal renderings and the command preview of the main dialog.
#include <QCheckBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QTest>

#include "d_cmdora.h"
#include "hex_notation.h"

class TestPreview : public QObject {
    Q_OBJECT
private slots:
    void renderHex_data();
    void renderHex();
    void preview_data();
    void preview();
    void previewFollowsTyping();
    void previewOfTooLongCommand_data();
    void previewOfTooLongCommand();
};

void TestPreview::renderHex_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("notation");
    QTest::addColumn<QByteArray>("expected");
    const QByteArray two("\x55\xAA", 2);
    QTest::newRow("space") << two << 0 << QByteArray("55 AA ");
    QTest::newRow("0x") << two << 1 << QByteArray("0x55 0xAA ");
    QTest::newRow("dollar") << two << 2 << QByteArray("$55$AA");
    QTest::newRow("low digits upper case")
        << QByteArray("\x00\x0f\xab", 3) << 1 << QByteArray("0x00 0x0F 0xAB ");
    QTest::newRow("empty") << QByteArray() << 2 << QByteArray();
}

void TestPreview::renderHex() {
    QFETCH(QByteArray, bytes);
    QFETCH(int, notation);
    QFETCH(QByteArray, expected);
    const auto *p = reinterpret_cast<const unsigned char *>(bytes.constData());
    QCOMPARE(RenderHex(p, static_cast<size_t>(bytes.size()), notation), expected);
}

void TestPreview::preview_data() {
    QTest::addColumn<QString>("command");
    QTest::addColumn<bool>("xAscii");
    QTest::addColumn<int>("notation");
    QTest::addColumn<int>("id");
    QTest::addColumn<QString>("rendering");
    QTest::newRow("abc Z notation 0, ID low nibble 15")
        << "abc" << false << 0 << 0x1F << "55 AA F8 07 05 FA 07 61 62 63 00 00 ";
    QTest::newRow("abc Z notation 2") << "abc" << false << 2 << 15 << "$55$AA$F8$07$05$FA$07$61$62$63$00$00";
    QTest::newRow("abc X notation 1")
        << "abc" << true << 1 << 0
        << "0x55 0xAA 0x5A 0xA5 0x12 0x00 0x00 0x02 0x13 0x00 0xFF 0x01 0xFE 0x00 0x61 0x62 0x63 0x49 ";
    QTest::newRow("empty Z, ID 3") << "" << false << 0 << 3 << "55 AA 38 C7 02 FD 07 00 00 ";
    QTest::newRow("empty X") << "" << true << 0 << 3 << "55 AA 5A A5 0F 00 00 02 13 00 FF 01 FE 00 20 ";
}

void TestPreview::preview() {
    QFETCH(QString, command);
    QFETCH(bool, xAscii);
    QFETCH(int, notation);
    QFETCH(int, id);
    QFETCH(QString, rendering);
    D_CMDORA dlg;
    dlg.m_Net.m_ConnectToPcID = id;
    dlg.m_XAscii->setChecked(xAscii);
    QRadioButton *radios[] = {dlg.m_NotationSpace, dlg.m_Notation0x, dlg.m_NotationDollar};
    radios[notation]->setChecked(true);
    dlg.m_Result->setPlainText(QStringLiteral("old text"));
    dlg.m_Command->setText(command);
    dlg.OnEnChangeCommand();
    QCOMPARE(dlg.m_Result->toPlainText(), rendering);
}

void TestPreview::previewFollowsTyping() {
    D_CMDORA dlg;
    dlg.m_XAscii->setChecked(true);
    dlg.m_NotationSpace->setChecked(true);
    // a 250-character command renders all 265 bytes of its X frame
    dlg.m_Command->setText(QString(250, QLatin1Char('k')));
    const QStringList items = dlg.m_Result->toPlainText().split(QLatin1Char(' '), Qt::SkipEmptyParts);
    QCOMPARE(items.size(), 265);
    QCOMPARE(items.value(4), QStringLiteral("09")); // T = 265 = 0x0109
    QCOMPARE(items.value(5), QStringLiteral("01"));
}

void TestPreview::previewOfTooLongCommand_data() {
    QTest::addColumn<bool>("xAscii");
    QTest::addColumn<int>("length");
    QTest::addColumn<QString>("note"); // empty: a frame of length + overhead bytes
    QTest::newRow("Z 253") << false << 253 << "";
    QTest::newRow("Z 254") << false << 254 << "Command too long: at most 253 characters over TCP";
    QTest::newRow("Z 1016") << false << 1016 << "Command too long: at most 253 characters over TCP";
    QTest::newRow("X 2033") << true << 2033 << "";
    QTest::newRow("X 5000") << true << 5000 << "Command too long: at most 2033 characters in an X frame";
}

void TestPreview::previewOfTooLongCommand() {
    QFETCH(bool, xAscii);
    QFETCH(int, length);
    QFETCH(QString, note);
    D_CMDORA dlg;
    dlg.m_XAscii->setChecked(xAscii);
    dlg.m_NotationDollar->setChecked(true);
    dlg.m_Command->setText(QString(length, QLatin1Char('m')));
    const QString shown = dlg.m_Result->toPlainText();
    if (note.isEmpty())
        QCOMPARE(shown.count(QLatin1Char('$')), length + (xAscii ? 15 : 9));
    else
        QCOMPARE(shown, note);
}

QTEST_MAIN(TestPreview)
#include "test_preview.moc"
