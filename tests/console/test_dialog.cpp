// The main dialog's controls, layout, link-kind choice, file-button labels,
// Enter and Esc, and the application run with its exit code.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QShortcut>
#include <QTimer>
#include <QtTest>

#include "app.h"
#include "d_cmdora.h"
#include "ip_address_edit.h"
#include "recording_ui.h"
#include "ui_waits.h"

class TestDialog : public QObject {
    Q_OBJECT
private slots:
    void controls_data();
    void controls();
    void tabOrderFollowsTemplate();
    void layoutFitsClientArea();
    void windowFrame();
    void initialState();
    void linkKindSwitch();
    void xAsciiRelabels();
    void enterRunsSendAndStays_data();
    void enterRunsSendAndStays();
    void escapeCloses();
    void autoTestShortcut();
    void connectRefusesWithoutSelection();
    void ipAddressTyping_data();
    void ipAddressTyping();
    void exitCodeHoweverClosed_data();
    void exitCodeHoweverClosed();
};

// Template order, with "Devices..." (1419) beside the port list.
const int kIds[] = {1032, 1282, 1418, 1419, 1350, 1940, 1471, 1942, 1943, 1005, 1006,
                    1007, 1008, 1645, 1180, 1945, 1009, 1103, 1946, 1947, 1948, 1559};

void TestDialog::controls_data() {
    QTest::addColumn<int>("id");
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("caption");
    QTest::newRow("Send") << 1032 << "QPushButton"
                          << "Send";
    QTest::newRow("Connect") << 1282 << "QPushButton"
                             << "Connect";
    QTest::newRow("port list") << 1418 << "QComboBox"
                               << "1";
    QTest::newRow("devices") << 1419 << "QPushButton"
                             << "Devices...";
    QTest::newRow("baud list") << 1350 << "QComboBox"
                               << "9600";
    QTest::newRow("command") << 1940 << "QLineEdit"
                             << "";
    QTest::newRow("address") << 1471 << "IpAddressEdit"
                             << "";
    QTest::newRow("COM") << 1942 << "QRadioButton"
                         << "COM";
    QTest::newRow("IP") << 1943 << "QRadioButton"
                        << "IP";
    QTest::newRow("1005") << 1005 << "QPushButton"
                          << "Save Z Command (.Bin)";
    QTest::newRow("1006") << 1006 << "QPushButton"
                          << "Load Z Command (.Bin)";
    QTest::newRow("1007") << 1007 << "QPushButton"
                          << "Save Z Command (.Txt) (55 AA)";
    QTest::newRow("1008") << 1008 << "QPushButton"
                          << "Save Z Command (.Txt) (0x55 0xAA)";
    QTest::newRow("X ASCII") << 1645 << "QCheckBox"
                             << "X ASCII";
    QTest::newRow("UDP") << 1180 << "QCheckBox"
                         << "UDP";
    QTest::newRow("status") << 1945 << "QLabel"
                            << "";
    QTest::newRow("1009") << 1009 << "QPushButton"
                          << "Save Z Command (.Txt) ($55$AA)";
    QTest::newRow("result") << 1103 << "QPlainTextEdit"
                            << "";
    QTest::newRow("1946") << 1946 << "QRadioButton"
                          << "";
    QTest::newRow("1947") << 1947 << "QRadioButton"
                          << "";
    QTest::newRow("1948") << 1948 << "QRadioButton"
                          << "";
    QTest::newRow("1559") << 1559 << "QPushButton"
                          << "UDP Clear Socket";
}

QString captionOf(QWidget* w) {
    if (auto* b = qobject_cast<QAbstractButton*>(w))
        return b->text();
    if (auto* c = qobject_cast<QComboBox*>(w))
        return c->currentText();
    if (auto* e = qobject_cast<QLineEdit*>(w))
        return e->text();
    if (auto* l = qobject_cast<QLabel*>(w))
        return l->text();
    if (auto* p = qobject_cast<QPlainTextEdit*>(w))
        return p->toPlainText();
    return {};
}

void TestDialog::controls() {
    QFETCH(int, id);
    QFETCH(QString, kind);
    QFETCH(QString, caption);
    SettingsSandbox sandbox;
    RecordingUi ui(0);
    D_CMDORA dlg;
    QWidget* w = dlg.control(id);
    QVERIFY(w);
    QCOMPARE(w->objectName(), QString::number(id));
    QCOMPARE(QString::fromLatin1(w->metaObject()->className()), kind);
    QCOMPARE(captionOf(w), caption);
}

void TestDialog::tabOrderFollowsTemplate() {
    SettingsSandbox sandbox;
    RecordingUi ui(0);
    D_CMDORA dlg;
    QList<int> seen;
    QWidget* w = &dlg;
    for (int guard = 0; guard < 500; ++guard) {
        w = w->nextInFocusChain();
        if (w == &dlg)
            break;
        bool ok = false;
        const int id = w->objectName().toInt(&ok);
        if (ok && w->parentWidget() == &dlg)
            seen << id;
    }
    QCOMPARE(seen, QList<int>(std::begin(kIds), std::end(kIds)));
}

void TestDialog::layoutFitsClientArea() {
    SettingsSandbox sandbox;
    RecordingUi ui(0);
    D_CMDORA dlg;
    QCOMPARE(dlg.minimumSize(), dlg.maximumSize()); // fixed size
    const QRect client = dlg.rect();
    // 262 x 275 dialog units: taller than wide, as the template is.
    QVERIFY(client.height() > client.width());
    for (int id : kIds) {
        QWidget* w = dlg.control(id);
        QVERIFY2(client.contains(w->geometry()), qPrintable(QString::number(id)));
    }
    // Rows of the template keep their order on screen.
    QVERIFY(dlg.control(1282)->y() < dlg.control(1940)->y());
    QVERIFY(dlg.control(1940)->geometry().bottom() < dlg.control(1103)->y());
    QVERIFY(dlg.control(1103)->geometry().bottom() < dlg.control(1945)->y() + 1);
    QVERIFY(dlg.control(1945)->geometry().bottom() < dlg.control(1005)->y());
    QVERIFY(dlg.control(1007)->geometry().bottom() < dlg.control(1008)->y());
    QVERIFY(dlg.control(1008)->geometry().bottom() < dlg.control(1009)->y());
    // The frame lies behind the link controls, so clicks reach them.
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    for (int id : {1418, 1350, 1942, 1943, 1645, 1180, 1282}) {
        QWidget* w = dlg.control(id);
        QWidget* hit = dlg.childAt(w->geometry().center());
        QVERIFY2(hit == w || w->isAncestorOf(hit), qPrintable(QString::number(id)));
    }
}

void TestDialog::windowFrame() {
    SettingsSandbox sandbox;
    RecordingUi ui(0);
    D_CMDORA dlg;
    QCOMPARE(dlg.windowTitle(), QStringLiteral("Cmdora"));
    const Qt::WindowFlags flags = dlg.windowFlags();
    QVERIFY(flags & Qt::WindowCloseButtonHint);
    QVERIFY(!(flags & Qt::WindowMinimizeButtonHint));
    QVERIFY(!(flags & Qt::WindowMaximizeButtonHint));
}

void TestDialog::initialState() {
    SettingsSandbox sandbox;
    RecordingUi ui(0);
    D_CMDORA dlg;
    QCOMPARE(int(dlg.m_Link.m_bLinkOpen), 0);
    QVERIFY(!dlg.m_Send->isEnabled());
    QVERIFY(dlg.m_NotationDollar->isChecked());
    QVERIFY(!dlg.m_NotationSpace->isChecked() && !dlg.m_Notation0x->isChecked());
    QVERIFY(dlg.m_RadioCom->isChecked());
    QCOMPARE(dlg.m_ComList->count(), 8);
    QCOMPARE(dlg.m_ComList->itemText(7), QStringLiteral("8"));
    QStringList rates;
    for (int i = 0; i < dlg.m_BaudList->count(); ++i)
        rates << dlg.m_BaudList->itemText(i);
    QCOMPARE(rates, (QStringList{"9600", "14400", "19200", "38400", "57600", "115200"}));
}

void TestDialog::linkKindSwitch() {
    SettingsSandbox sandbox;
    RecordingUi ui(0);
    D_CMDORA dlg;
    dlg.m_RadioIp->click();
    QCOMPARE(int(dlg.m_nSel), 1);
    QVERIFY(dlg.m_RadioIp->isChecked() && !dlg.m_RadioCom->isChecked());
    QVERIFY(dlg.m_Ip->isEnabled());
    QVERIFY(!dlg.m_ComList->isEnabled() && !dlg.m_BaudList->isEnabled());
    QVERIFY(dlg.m_NotationDollar->isChecked()); // the other radio group is untouched
    QCOMPARE(sandbox.content(), QByteArray("[CMDORA]\nnSel=1\n"));
    dlg.m_RadioCom->click();
    QCOMPARE(int(dlg.m_nSel), 0);
    QVERIFY(!dlg.m_Ip->isEnabled());
    QVERIFY(dlg.m_ComList->isEnabled() && dlg.m_BaudList->isEnabled());
    QCOMPARE(sandbox.content(), QByteArray("[CMDORA]\nnSel=0\n"));
    // Picking a notation leaves the link kind alone.
    dlg.m_NotationSpace->click();
    QVERIFY(dlg.m_RadioCom->isChecked() && dlg.m_NotationSpace->isChecked() &&
            !dlg.m_NotationDollar->isChecked());
}

void TestDialog::xAsciiRelabels() {
    SettingsSandbox sandbox;
    RecordingUi ui(0);
    D_CMDORA dlg;
    dlg.m_XAscii->click();
    QCOMPARE(dlg.m_SaveBin->text(), QStringLiteral("Save X Command (.Bin)"));
    QCOMPARE(dlg.m_LoadBin->text(), QStringLiteral("Load X Command (.Bin)"));
    QCOMPARE(dlg.m_SaveTxtSpace->text(), QStringLiteral("Save X Command (.Txt) (55 AA)"));
    QCOMPARE(dlg.m_SaveTxt0x->text(), QStringLiteral("Save X Command (.Txt) (0x55 0xAA)"));
    QCOMPARE(dlg.m_SaveTxtDollar->text(), QStringLiteral("Save X Command (.Txt) ($55 $AA)"));
    dlg.m_XAscii->click();
    QCOMPARE(dlg.m_SaveBin->text(), QStringLiteral("Save Z Command (.Bin)"));
    QCOMPARE(dlg.m_SaveTxtDollar->text(), QStringLiteral("Save Z Command (.Txt) ($55 $AA)"));
}

void TestDialog::enterRunsSendAndStays_data() {
    QTest::addColumn<int>("focusId");
    QTest::newRow("command box") << 1940;
    QTest::newRow("result box") << 1103;
    QTest::newRow("check box") << 1180;
    QTest::newRow("port list") << 1418;
}

void TestDialog::enterRunsSendAndStays() {
    QFETCH(int, focusId);
    SettingsSandbox sandbox;
    RecordingUi ui(0);
    D_CMDORA dlg;
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    dlg.m_Command->setText(QStringLiteral("zh"));
    QWidget* target = dlg.control(focusId);
    QVERIFY(uiwait::focus(target));
    // Send with no link reports the command to the trace viewer and sends nothing.
    QTest::keyClick(target, Qt::Key_Return);
    QVERIFY(dlg.isVisible());
    QCOMPARE(dlg.result(), 0);
    QCOMPARE(ui.traceRecords.size(), 1);
    QVERIFY(ui.boxes.isEmpty());
    QVERIFY(dlg.m_Result->toPlainText().count(u'\n') < 1); // no line break went in
}

void TestDialog::escapeCloses() {
    SettingsSandbox sandbox;
    RecordingUi ui(0);
    D_CMDORA dlg;
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    QVERIFY(uiwait::focus(dlg.m_Command));
    QTest::keyClick(dlg.m_Command, Qt::Key_Escape);
    QVERIFY(!dlg.isVisible());
    QCOMPARE(dlg.result(), int(QDialog::Rejected));
}

void TestDialog::autoTestShortcut() {
    SettingsSandbox sandbox;
    RecordingUi ui(0);
    D_CMDORA dlg;
    const QKeySequence wanted(Qt::CTRL | Qt::SHIFT | Qt::ALT | Qt::Key_F10);
    int found = 0;
    for (QShortcut* s : dlg.findChildren<QShortcut*>())
        if (s->key() == wanted && s->context() == Qt::WindowShortcut && s->isEnabled())
            ++found;
    QCOMPARE(found, 1);

    // The keystroke opens a modal dialog over this one, with no link open.
    dlg.show();
    QVERIFY(QTest::qWaitForWindowActive(&dlg));
    QString opened; // class of the modal dialog, which lives only while it runs
    QWidget* openedParent = nullptr;
    QTimer closer;
    closer.setInterval(20);
    connect(&closer, &QTimer::timeout, [&] {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal && modal != &dlg) {
            opened = QString::fromLatin1(modal->metaObject()->className());
            openedParent = modal->parentWidget();
            closer.stop();
            modal->close();
        }
    });
    closer.start();
    QTimer::singleShot(3000, &closer, &QTimer::stop); // bounded, should nothing open
    QTest::keyClick(dlg.m_Command, Qt::Key_F10, Qt::ControlModifier | Qt::ShiftModifier | Qt::AltModifier);
    QCOMPARE(opened, QStringLiteral("D_ASCIICMD_AUTOTEST"));
    QCOMPARE(openedParent, &dlg);
    QVERIFY(dlg.isVisible());
}

void TestDialog::connectRefusesWithoutSelection() {
    SettingsSandbox sandbox;
    sandbox.write("[CMDORA]\nCOM=12\n");
    RecordingUi ui(0);
    D_CMDORA dlg;
    QCOMPARE(dlg.m_ComList->currentIndex(), -1);
    dlg.m_Connect->click();
    QCOMPARE(ui.boxTexts(), QStringList{"Error: Choose a serial port and a baud rate first."});
    QCOMPARE(ui.boxes[0].icon, ConsoleUi::Icon::Error);
    QCOMPARE(int(dlg.m_Link.m_bLinkOpen), 0);
    QVERIFY(!dlg.m_Send->isEnabled());
    QVERIFY(dlg.m_ComList->isEnabled() && dlg.m_BaudList->isEnabled());
    QCOMPARE(dlg.m_Connect->text(), QStringLiteral("Connect"));
    QVERIFY(dlg.m_RadioCom->isEnabled());
    // Once a port is chosen the list has a selection again.
    dlg.m_ComList->setCurrentIndex(0);
    QCOMPARE(dlg.m_ComList->currentText(), QStringLiteral("1"));
}

void TestDialog::ipAddressTyping_data() {
    QTest::addColumn<QString>("keys"); // typed into field 0 after clearing all four
    QTest::addColumn<QString>("parts");
    QTest::newRow("dots move on") << "10.1.2.3"
                                  << "10.1.2.3";
    QTest::newRow("three digits move on") << "192168001002"
                                          << "192.168.1.2";
    QTest::newRow("above 255 becomes 255") << "3001"
                                           << "255.1.0.0";
    QTest::newRow("letters refused") << "1a2"
                                     << "12.0.0.0";
    QTest::newRow("leading dot stays") << ".7"
                                       << "7.0.0.0";
}

void TestDialog::ipAddressTyping() {
    QFETCH(QString, keys);
    QFETCH(QString, parts);
    IpAddressEdit edit;
    QSignalSpy changes(&edit, &IpAddressEdit::fieldChanged);
    edit.setParts({0, 0, 0, 0});
    QCOMPARE(changes.count(), 0); // setting is not an operator change
    for (int i = 0; i < 4; ++i)
        edit.field(i)->clear();
    edit.show();
    QVERIFY(uiwait::focus(edit.field(0)));
    for (QChar c : keys) {
        QWidget* field = uiwait::focused(); // the edit moves the focus along as digits come
        QVERIFY(field);
        QTest::keyClick(field, c.toLatin1());
    }
    const auto p = edit.parts();
    QCOMPARE(QStringLiteral("%1.%2.%3.%4").arg(p[0]).arg(p[1]).arg(p[2]).arg(p[3]), parts);
    QVERIFY(changes.count() > 0);
}

void TestDialog::exitCodeHoweverClosed_data() {
    QTest::addColumn<int>("how"); // 0 Esc key, 1 close box, 2 reject
    QTest::newRow("Esc") << 0;
    QTest::newRow("close box") << 1;
    QTest::newRow("accept is Send, then Esc") << 2;
}

void TestDialog::exitCodeHoweverClosed() {
    QFETCH(int, how);
    SettingsSandbox sandbox;
    QDir(sandbox.root()).removeRecursively(); // start-up makes the folders itself
    RecordingUi ui(0);
    bool closedOne = false;
    QTimer closer;
    closer.setInterval(20);
    connect(&closer, &QTimer::timeout, [&] {
        QDialog* dlg = dynamic_cast<D_CMDORA*>(QApplication::activeModalWidget());
        if (!dlg)
            return;
        closer.stop();
        closedOne = true;
        if (how == 0)
            QTest::keyClick(dlg, Qt::Key_Escape);
        else if (how == 1)
            dlg->close();
        else {
            dlg->accept(); // runs Send, stays open
            QVERIFY(dlg->isVisible());
            dlg->reject();
        }
    });
    closer.start();
    CMorrackApp app;
    QCOMPARE(app.Run(), 139810);
    QVERIFY(closedOne);
    QVERIFY(QFileInfo(sandbox.root() + "/Norvane_Lumo/Temporary").isDir());
    QCOMPARE(g_SettingsPath, sandbox.root() + "/Norvane_Lumo/CMDORA_Unicode.bin");
    QVERIFY(!QFile::exists(g_SettingsPath));
}

QTEST_MAIN(TestDialog)
#include "test_dialog.moc"
