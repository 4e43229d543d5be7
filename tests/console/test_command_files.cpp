// Command files: byte-exact frame files from the command box, and frame files
// loaded back into it. File choosers and message boxes go to a recorder.
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QtTest>

#include "d_cmdora.h"
#include "recording_ui.h"

namespace {

QByteArray hex(const char *text) {
    return QByteArray::fromHex(text);
}

// The X frame of a text of n letters 'a', built by hand.
QByteArray xFrameOfA(int n) {
    const int total = n + 15;
    QByteArray frame = hex("55AA5AA5") + char(total & 0xFF) + char(total >> 8) + hex("00021300FF01FE00") +
                       QByteArray(n, 'a');
    unsigned char sum = 0;
    for (char c : frame)
        sum = static_cast<unsigned char>(sum + static_cast<unsigned char>(c));
    return frame + char(sum);
}

} // namespace

class TestCommandFiles : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void savesFrame_data();
    void savesFrame();
    void longCommandWarnsAndSaves();
    void defaultName_data();
    void defaultName();
    void replacesExistingFile();
    void unwritablePathReportsAndLeavesNothing();
    void cancelDoesNothing();
    void refusesTextTooLongForFrame_data();
    void refusesTextTooLongForFrame();
    void loadsText_data();
    void loadsText();
    void unreadableFileReports();

private:
    QString filePath(const QString &name) const { return m_dir->filePath(name); }
    QByteArray read(const QString &path) const {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    void save(int notation) {
        if (notation < 0)
            m_dlg->OnBnClickedSaveBin();
        else
            m_dlg->OnBnClickedSaveTxt(notation);
    }

    SettingsSandbox m_settings;
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<RecordingUi> m_ui;
    std::unique_ptr<D_CMDORA> m_dlg;
};

void TestCommandFiles::initTestCase() {
    QVERIFY(QDir(m_settings.root()).exists());
}

void TestCommandFiles::init() {
    m_ui = std::make_unique<RecordingUi>(0.0);
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_dlg = std::make_unique<D_CMDORA>();
    QVERIFY(m_dlg->m_Command && m_dlg->m_XAscii);
    // A saved Z frame carries ID 15 whatever module is connected.
    m_dlg->m_Net.m_ConnectToPcID = 3;
}

void TestCommandFiles::cleanup() {
    m_dlg.reset();
    m_ui.reset();
}

void TestCommandFiles::savesFrame_data() {
    QTest::addColumn<QString>("command");
    QTest::addColumn<bool>("xAscii");
    QTest::addColumn<int>("notation"); // -1: binary
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("empty Z bin") << "" << false << -1 << hex("55AAF80702FD070000");
    QTest::newRow("empty X bin") << "" << true << -1 << hex("55AA5AA50F0000021300FF01FE0020");
    QTest::newRow("abc Z bin") << "abc" << false << -1 << hex("55AAF80705FA0761626300 00");
    QTest::newRow("abc X bin") << "abc" << true << -1 << hex("55AA5AA5120000021300FF01FE0061626349");
    QTest::newRow("abc Z 55 AA") << "abc" << false << 0 << QByteArray("55 AA F8 07 05 FA 07 61 62 63 00 00 ");
    QTest::newRow("abc Z 0x55") << "abc" << false << 1
                                << QByteArray("0x55 0xAA 0xF8 0x07 0x05 0xFA 0x07 0x61 0x62 0x63 0x00 0x00 ");
    QTest::newRow("abc Z $55") << "abc" << false << 2 << QByteArray("$55$AA$F8$07$05$FA$07$61$62$63$00$00");
    QTest::newRow("abc X 55 AA") << "abc" << true << 0
                                 << QByteArray("55 AA 5A A5 12 00 00 02 13 00 FF 01 FE 00 61 62 63 49 ");
    QTest::newRow("empty X $55") << "" << true << 2
                                 << QByteArray("$55$AA$5A$A5$0F$00$00$02$13$00$FF$01$FE$00$20");
    QTest::newRow("non-ASCII Z bin") << QString::fromUtf16(u"\u00E9\u4E2D") << false << -1
                                     << hex("55AAF80704FB07E92D0000");
}

void TestCommandFiles::savesFrame() {
    QFETCH(QString, command);
    QFETCH(bool, xAscii);
    QFETCH(int, notation);
    QFETCH(QByteArray, expected);

    m_dlg->m_Command->setText(command);
    m_dlg->m_XAscii->setChecked(xAscii);
    const QString path = filePath(notation < 0 ? "frame.bin" : "frame.Txt");
    m_ui->nextSavePath = path;
    save(notation);

    QCOMPARE(read(path), expected);
    QVERIFY(m_ui->boxes.isEmpty());
    QCOMPARE(m_ui->saveRequests.size(), 1);
    QCOMPARE(m_ui->saveRequests[0].filter, notation < 0 ? "Firmware File(*.bin)" : "Firmware File(*.Txt)");
    QCOMPARE(m_ui->saveRequests[0].defaultSuffix, notation < 0 ? "bin" : "Txt");
    QCOMPARE(m_dlg->m_Command->text(), command); // a save leaves the box alone
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files), QStringList{QFileInfo(path).fileName()});
}

void TestCommandFiles::longCommandWarnsAndSaves() {
    m_dlg->m_Command->setText(QString(250, 'a'));
    m_dlg->m_XAscii->setChecked(true);
    const QString path = filePath("long.Txt");
    m_ui->nextSavePath = path;
    m_dlg->OnBnClickedSaveTxt(0);

    QCOMPARE(m_ui->boxes.size(), 1);
    QCOMPARE(m_ui->boxes[0].text, "Error");
    QCOMPARE(m_ui->boxes[0].caption, "Morrack");
    QCOMPARE(m_ui->boxes[0].icon, ConsoleUi::Icon::None);
    const QByteArray text = read(path);
    QCOMPARE(text.size(), 265 * 3);
    const QByteArray frame = xFrameOfA(250);
    QCOMPARE(QByteArray::fromHex(text), frame);
    QVERIFY(text.endsWith(QByteArray::number(static_cast<unsigned char>(frame.back()), 16).toUpper() + ' '));
}

void TestCommandFiles::defaultName_data() {
    QTest::addColumn<QString>("command");
    QTest::addColumn<bool>("xAscii");
    QTest::addColumn<QString>("expected");
    const QString twenty = "zw 000000 abcdefghij";
    QTest::newRow("Z 20 chars") << twenty << false << "zw 000000";
    QTest::newRow("X 20 chars") << twenty << true << "zw 000000 ab";
    QTest::newRow("short") << "ab" << true << "ab";
    QTest::newRow("empty") << "" << false << "";
}

void TestCommandFiles::defaultName() {
    QFETCH(QString, command);
    QFETCH(bool, xAscii);
    QFETCH(QString, expected);
    m_dlg->m_Command->setText(command);
    m_dlg->m_XAscii->setChecked(xAscii);
    for (int notation = -1; notation <= 2; ++notation)
        save(notation); // cancelled: no path to answer with
    QCOMPARE(m_ui->saveRequests.size(), 4);
    for (const auto &c : m_ui->saveRequests)
        QCOMPARE(c.defaultName, expected);
}

void TestCommandFiles::replacesExistingFile() {
    const QString path = filePath("abc.bin");
    {
        QFile old(path);
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write(QByteArray(500, 'x'));
    }
    m_dlg->m_Command->setText("abc");
    m_ui->nextSavePath = path;
    m_dlg->OnBnClickedSaveBin();
    QCOMPARE(read(path), hex("55AAF80705FA0761626300 00"));
    QVERIFY(m_ui->boxes.isEmpty());
}

void TestCommandFiles::unwritablePathReportsAndLeavesNothing() {
    const QString path = filePath("missing/abc.bin");
    m_dlg->m_Command->setText("abc");
    m_ui->nextSavePath = path;
    m_dlg->OnBnClickedSaveBin();

    QCOMPARE(m_ui->boxes.size(), 1);
    QCOMPARE(m_ui->boxes[0].caption, "Error");
    QCOMPARE(m_ui->boxes[0].icon, ConsoleUi::Icon::Error);
    QVERIFY2(m_ui->boxes[0].text.startsWith("Cannot write " + path + ": "), qPrintable(m_ui->boxes[0].text));
    QVERIFY(!QFile::exists(path));
    QVERIFY(QDir(m_dir->path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).isEmpty());
}

void TestCommandFiles::cancelDoesNothing() {
    m_dlg->m_Command->setText("abc");
    for (int notation = -1; notation <= 2; ++notation)
        save(notation);
    m_dlg->OnBnClickedLoadBin();
    QCOMPARE(m_ui->saveRequests.size(), 4);
    QCOMPARE(m_ui->openRequests.size(), 1);
    QCOMPARE(m_ui->openRequests[0].filter, "Firmware File(*.bin)");
    QVERIFY(m_ui->boxes.isEmpty());
    QCOMPARE(m_dlg->m_Command->text(), "abc");
    QVERIFY(QDir(m_dir->path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).isEmpty());
}

void TestCommandFiles::refusesTextTooLongForFrame_data() {
    QTest::addColumn<int>("length");
    QTest::addColumn<bool>("xAscii");
    QTest::addColumn<bool>("saved");
    QTest::newRow("Z 253") << 253 << false << true;
    QTest::newRow("Z 254") << 254 << false << false;
    QTest::newRow("X 2033") << 2033 << true << true;
    QTest::newRow("X 2034") << 2034 << true << false;
}

void TestCommandFiles::refusesTextTooLongForFrame() {
    QFETCH(int, length);
    QFETCH(bool, xAscii);
    QFETCH(bool, saved);
    m_dlg->m_Command->setText(QString(length, 'a'));
    m_dlg->m_XAscii->setChecked(xAscii);
    const QString path = filePath("big.bin");
    m_ui->nextSavePath = path;
    m_dlg->OnBnClickedSaveBin();

    QVERIFY(!m_ui->boxes.isEmpty());
    QCOMPARE(m_ui->boxes[0].text, "Error"); // the long-command warning comes first
    if (saved) {
        QCOMPARE(m_ui->boxes.size(), 1);
        const QByteArray bytes = read(path);
        QCOMPARE(bytes.size(), length + (xAscii ? 15 : 9));
        if (xAscii)
            QCOMPARE(bytes, xFrameOfA(length));
        else
            QCOMPARE(bytes.left(7), hex("55AAF807FF0007"));
    } else {
        QCOMPARE(m_ui->boxes.size(), 2);
        QCOMPARE(m_ui->boxes[1].caption, "Error");
        QVERIFY(m_ui->boxes[1].text.contains("Nothing was saved"));
        QVERIFY(m_ui->saveRequests.isEmpty());
        QVERIFY(!QFile::exists(path));
    }
}

void TestCommandFiles::loadsText_data() {
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<bool>("xAscii");
    QTest::addColumn<QString>("expected");
    const QByteArray zAbc = hex("55AAF80705FA0761626300 00");
    const QByteArray xAbc = hex("55AA5AA5120000021300FF01FE0061626349");
    QTest::newRow("Z abc, box off") << zAbc << false << "abc";
    QTest::newRow("Z abc, box on") << zAbc << true << "";
    QTest::newRow("X abc, box on") << xAbc << true << "abc";
    QTest::newRow("X abc, box off") << xAbc << false << QString::fromUtf16(u"\u0002\u0013");
    QTest::newRow("X 200, box on") << xFrameOfA(200) << true << QString(113, 'a');
    QTest::newRow("Z no end, box off")
        << (hex("55AAF807") + QByteArray(300, char(0xE9))) << false << QString(121, QChar(0xE9));
    QTest::newRow("X header only") << xAbc.left(15) << true << "";
    QTest::newRow("short, box off") << hex("55AA") << false << "";
    QTest::newRow("empty file") << QByteArray() << false << "";
}

void TestCommandFiles::loadsText() {
    QFETCH(QByteArray, file);
    QFETCH(bool, xAscii);
    QFETCH(QString, expected);
    const QString path = filePath("in.bin");
    {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(file);
    }
    m_dlg->m_Command->setText("old");
    m_dlg->m_XAscii->setChecked(xAscii);
    m_ui->nextOpenPath = path;
    m_dlg->OnBnClickedLoadBin();

    QCOMPARE(m_dlg->m_Command->text(), expected);
    QVERIFY(m_ui->boxes.isEmpty());
    QCOMPARE(m_ui->openRequests.size(), 1);
    QCOMPARE(m_ui->openRequests[0].filter, "Firmware File(*.bin)");
    QCOMPARE(m_ui->openRequests[0].defaultSuffix, "bin");
}

void TestCommandFiles::unreadableFileReports() {
    const QString path = filePath("absent.bin");
    m_dlg->m_Command->setText("old");
    m_ui->nextOpenPath = path;
    m_dlg->OnBnClickedLoadBin();
    QCOMPARE(m_ui->boxes.size(), 1);
    QCOMPARE(m_ui->boxes[0].caption, "Error");
    QCOMPARE(m_ui->boxes[0].icon, ConsoleUi::Icon::Error);
    QVERIFY2(m_ui->boxes[0].text.startsWith("Cannot open " + path + ": "), qPrintable(m_ui->boxes[0].text));
    QCOMPARE(m_dlg->m_Command->text(), "old");
}

QTEST_MAIN(TestCommandFiles)
#include "test_command_files.moc"
