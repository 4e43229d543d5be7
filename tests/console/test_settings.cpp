// The settings file: reading and writing rules, and what the main dialog
// opens with for a given file.
#include <QComboBox>
#include <QLineEdit>
#include <QRadioButton>
#include <QtTest>

#include "d_cmdora.h"
#include "ip_address_edit.h"
#include "recording_ui.h"
#include "settings.h"

using Parts = std::array<uint8_t, 4>;
Q_DECLARE_METATYPE(Parts)

class TestSettings : public QObject {
    Q_OBJECT
private slots:
    void conversion_data();
    void conversion();
    void readRules_data();
    void readRules();
    void writeKeepsOtherLines();
    void firstRunWritesNothing();
    void storedChoices_data();
    void storedChoices();
    void choicesSurviveRestart();
    void addressWrittenOnFieldChange();
};

void TestSettings::conversion_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<long>("value");
    QTest::newRow("plain") << "300" << 300L;
    QTest::newRow("leading space and plus") << "  +12" << 12L;
    QTest::newRow("negative") << "-1" << -1L;
    QTest::newRow("stops at non-digit") << "12ab3" << 12L;
    QTest::newRow("no digits") << "abc" << 0L;
    QTest::newRow("empty") << "" << 0L;
    QTest::newRow("sign only") << "-" << 0L;
    QTest::newRow("clamped high") << "99999999999" << 2147483647L;
    QTest::newRow("clamped low") << "-99999999999" << -2147483648L;
}

void TestSettings::conversion() {
    QFETCH(QString, text);
    QFETCH(long, value);
    QCOMPARE(SettingToLong(text), value);
}

void TestSettings::readRules_data() {
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("key");
    QTest::addColumn<int>("count");
    QTest::addColumn<QString>("value");
    QTest::newRow("plain") << QByteArray("[CMDORA]\nCOM=3\n") << "COM" << 1 << "3";
    QTest::newRow("crlf and spaces") << QByteArray("[CMDORA]\r\n  COM = 3 \r\n") << "COM" << 1 << "3";
    QTest::newRow("case of names") << QByteArray("[cmdora]\ncom=4\n") << "COM" << 1 << "4";
    QTest::newRow("empty value") << QByteArray("[CMDORA]\nCOM=\n") << "COM" << 0 << "";
    QTest::newRow("missing key") << QByteArray("[CMDORA]\nBAUDRATE=1\n") << "COM" << 0 << "";
    QTest::newRow("other section") << QByteArray("[OTHER]\nCOM=5\n[CMDORA]\nnSel=1\n") << "COM" << 0 << "";
    QTest::newRow("quoted") << QByteArray("[CMDORA]\nCOM=\"2\"\n") << "COM" << 1 << "2";
    QTest::newRow("cut to 255") << QByteArray("[CMDORA]\nCOM=" + QByteArray(300, '7') + "\n") << "COM" << 255
                                << QString(255, u'7');
}

void TestSettings::readRules() {
    QFETCH(QByteArray, file);
    QFETCH(QString, key);
    QFETCH(int, count);
    QFETCH(QString, value);
    SettingsSandbox sandbox;
    sandbox.write(file);
    QString got;
    QCOMPARE(ReadSetting(key, got), count);
    QCOMPARE(got, value);
}

void TestSettings::writeKeepsOtherLines() {
    SettingsSandbox sandbox;
    sandbox.write("[OTHER]\nCOM=9\n\n[CMDORA]\nnSel=1\nCOM=2\n[LAST]\nx=y\n");
    WriteSetting(QStringLiteral("COM"), 5);
    WriteSetting(QStringLiteral("BAUDRATE"), 4);
    QCOMPARE(sandbox.content(),
             QByteArray("[OTHER]\nCOM=9\n\n[CMDORA]\nnSel=1\nCOM=5\nBAUDRATE=4\n[LAST]\nx=y\n"));

    SettingsSandbox fresh; // no file: the file and the section are made
    WriteSetting(QStringLiteral("nSel"), 1);
    QCOMPARE(fresh.content(), QByteArray("[CMDORA]\nnSel=1\n"));
}

void TestSettings::firstRunWritesNothing() {
    SettingsSandbox sandbox;
    RecordingUi ui(0);
    D_CMDORA dlg;
    QCOMPARE(dlg.m_Ip->parts(), (Parts{127, 0, 0, 1}));
    QVERIFY(dlg.m_RadioCom->isChecked());
    QVERIFY(!dlg.m_RadioIp->isChecked());
    QCOMPARE(dlg.m_ComList->currentText(), QStringLiteral("1"));
    QCOMPARE(dlg.m_BaudList->currentText(), QStringLiteral("9600"));
    QVERIFY(!dlg.m_Ip->isEnabled());
    QVERIFY(!sandbox.exists());
}

void TestSettings::storedChoices_data() {
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<Parts>("address");
    QTest::addColumn<int>("nSel");
    QTest::addColumn<int>("com"); // list position, -1 none
    QTest::addColumn<int>("baud");
    QTest::addColumn<bool>("comChecked");
    QTest::addColumn<bool>("ipChecked");
    QTest::newRow("all zero address") << QByteArray("[CMDORA]\nIPAddressField0=0\nIPAddressField1=0\n"
                                                    "IPAddressField2=0\nIPAddressField3=0\n")
                                      << Parts{127, 0, 0, 1} << 0 << 0 << 0 << true << false;
    QTest::newRow("low 8 bits") << QByteArray("[CMDORA]\nIPAddressField0=10\nIPAddressField1=300\n"
                                              "IPAddressField2=-1\nIPAddressField3=7x\n")
                                << Parts{10, 44, 255, 7} << 0 << 0 << 0 << true << false;
    QTest::newRow("IP mode") << QByteArray("[CMDORA]\nnSel=1\n") << Parts{127, 0, 0, 1} << 1 << 0 << 0
                             << false << true;
    QTest::newRow("kind 2") << QByteArray("[CMDORA]\nnSel=2\n") << Parts{127, 0, 0, 1} << 2 << 0 << 0 << false
                            << false;
    QTest::newRow("kind 258 is 2") << QByteArray("[CMDORA]\nnSel=258\n") << Parts{127, 0, 0, 1} << 2 << 0 << 0
                                   << false << false;
    QTest::newRow("empty kind ignored")
        << QByteArray("[CMDORA]\nnSel=\n") << Parts{127, 0, 0, 1} << 0 << 0 << 0 << true << false;
    QTest::newRow("positions") << QByteArray("[CMDORA]\nCOM=3\nBAUDRATE=5\n") << Parts{127, 0, 0, 1} << 0 << 3
                               << 5 << true << false;
    QTest::newRow("out of range") << QByteArray("[CMDORA]\nCOM=8\nBAUDRATE=-1\n") << Parts{127, 0, 0, 1} << 0
                                  << -1 << -1 << true << false;
}

void TestSettings::storedChoices() {
    QFETCH(QByteArray, file);
    QFETCH(Parts, address);
    QFETCH(int, nSel);
    QFETCH(int, com);
    QFETCH(int, baud);
    QFETCH(bool, comChecked);
    QFETCH(bool, ipChecked);
    SettingsSandbox sandbox;
    sandbox.write(file);
    RecordingUi ui(0);
    D_CMDORA dlg;
    QCOMPARE(dlg.m_Ip->parts(), address);
    QCOMPARE(int(dlg.m_nSel), nSel);
    QCOMPARE(dlg.m_ComList->currentIndex(), com);
    QCOMPARE(dlg.m_BaudList->currentIndex(), baud);
    QCOMPARE(dlg.m_RadioCom->isChecked(), comChecked);
    QCOMPARE(dlg.m_RadioIp->isChecked(), ipChecked);
    // Serial kind: the lists are on and the address off; any other kind the reverse.
    QCOMPARE(dlg.m_ComList->isEnabled(), nSel == 0);
    QCOMPARE(dlg.m_BaudList->isEnabled(), nSel == 0);
    QCOMPARE(dlg.m_Ip->isEnabled(), nSel != 0);
    QCOMPARE(sandbox.content(), file); // reading writes nothing
}

void TestSettings::choicesSurviveRestart() {
    SettingsSandbox sandbox;
    RecordingUi ui(0);
    {
        D_CMDORA dlg;
        QTest::keyClick(dlg.m_BaudList, Qt::Key_Down); // 14400, as the operator picks it
        QCOMPARE(dlg.m_BaudList->currentIndex(), 1);
        dlg.m_RadioIp->click();
    }
    {
        D_CMDORA dlg;
        QVERIFY(dlg.m_RadioIp->isChecked());
        QCOMPARE(int(dlg.m_nSel), 1);
        QCOMPARE(dlg.m_BaudList->currentText(), QStringLiteral("14400"));
        dlg.m_RadioCom->click();
    }
    D_CMDORA dlg;
    QVERIFY(dlg.m_RadioCom->isChecked());
    QCOMPARE(int(dlg.m_nSel), 0);
    QVERIFY(dlg.m_ComList->isEnabled());
}

void TestSettings::addressWrittenOnFieldChange() {
    SettingsSandbox sandbox;
    RecordingUi ui(0);
    {
        D_CMDORA dlg;
        dlg.m_RadioIp->click();
        QLineEdit* field = dlg.m_Ip->field(0);
        field->selectAll();
        QTest::keyClicks(field, "10");
        QTest::keyClicks(dlg.m_Ip->field(3), "9"); // appended to "1"
    }
    QString value;
    QCOMPARE(ReadSetting(QStringLiteral("IPAddressField0"), value), 2);
    QCOMPARE(value, QStringLiteral("10"));
    D_CMDORA dlg;
    QCOMPARE(dlg.m_Ip->parts(), (Parts{10, 0, 0, 19}));
}

QTEST_MAIN(TestSettings)
#include "test_settings.moc"
