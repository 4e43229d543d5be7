// The main dialog from the keyboard, as an operator uses it: Enter on push
// buttons, Tab and Shift+Tab round the template's order, the arrow keys in the
// radio groups, and typing or pasting an address over the filled IP control.
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QtTest>

#include "app.h"
#include "d_cmdora.h"
#include "ip_address_edit.h"
#include "recording_ui.h"

namespace {

void press(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QTest::keyClick(QApplication::focusWidget(), key, modifiers);
}

void type(const QString& text) {
    for (QChar c : text)
        QTest::keyClick(QApplication::focusWidget(), c.toLatin1());
}

// Template id of the dialog's control holding the focus (the IP control for its fields).
int focusedId(const D_CMDORA& dlg) {
    QWidget* w = QApplication::focusWidget();
    while (w && w->parentWidget() != &dlg)
        w = w->parentWidget();
    return w ? w->objectName().toInt() : -1;
}

QString dotted(const std::array<uint8_t, 4>& p) {
    return QStringLiteral("%1.%2.%3.%4").arg(p[0]).arg(p[1]).arg(p[2]).arg(p[3]);
}

} // namespace

class TestKeyboard : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { InstallLumoMessageSink(); }
    void enterClicksFocusedButton();
    void tabWalksTemplateOrder_data();
    void tabWalksTemplateOrder();
    void arrowsGoRoundRadioGroups();
    void typeAddressOverFilledControl_data();
    void typeAddressOverFilledControl();
};

void TestKeyboard::enterClicksFocusedButton() {
    SettingsSandbox sandbox;
    qputenv("LUMO_COM1", "/nonexistent/tty-for-cmdora-test");
    RecordingUi ui(0);
    D_CMDORA dlg;
    dlg.show();
    QVERIFY(QTest::qWaitForWindowActive(&dlg));
    QCOMPARE(QApplication::focusWidget(), dlg.m_Connect); // Send is disabled
    press(Qt::Key_Return);
    qunsetenv("LUMO_COM1");
    QCOMPARE(ui.boxTexts(), QStringList{"Error: Connect Error!!"}); // Connect ran, not Send

    dlg.m_UdpClearSocket->setFocus();
    press(Qt::Key_Enter, Qt::KeypadModifier);
    QVERIFY(dlg.testTimerRunning());
    dlg.m_SaveBin->setFocus();
    press(Qt::Key_Return);
    QCOMPARE(ui.saveRequests.size(), 1);
    QVERIFY(ui.traceRecords.isEmpty()); // Send never ran
    QVERIFY(dlg.isVisible());
}

void TestKeyboard::tabWalksTemplateOrder_data() {
    QTest::addColumn<int>("nSel");
    QTest::addColumn<QList<int>>("stops"); // from Connect, round to Connect
    QTest::newRow("COM") << 0 << QList<int>{1282, 1418, 1350, 1940, 1942, 1005, 1006, 1007,
                                            1008, 1645, 1180, 1009, 1103, 1948, 1559};
    QTest::newRow("IP") << 1 << QList<int>{1282, 1940, 1471, 1943, 1005, 1006, 1007,
                                           1008, 1645, 1180, 1009, 1103, 1948, 1559};
}

void TestKeyboard::tabWalksTemplateOrder() {
    QFETCH(int, nSel);
    QFETCH(QList<int>, stops);
    SettingsSandbox sandbox;
    sandbox.write(QByteArray("[CMDORA]\nnSel=") + QByteArray::number(nSel) + "\n");
    RecordingUi ui(0);
    D_CMDORA dlg;
    dlg.show();
    QVERIFY(QTest::qWaitForWindowActive(&dlg));
    dlg.m_Connect->setFocus();
    QList<int> forward{focusedId(dlg)}, backward{focusedId(dlg)}; // both read left to right
    for (int i = 0; i < stops.size(); ++i) {
        press(Qt::Key_Tab);
        forward << focusedId(dlg);
    }
    for (int i = 0; i < stops.size(); ++i) {
        press(Qt::Key_Tab, Qt::ShiftModifier);
        backward.prepend(focusedId(dlg));
    }
    QCOMPARE(forward, stops + QList<int>{1282});
    QCOMPARE(backward, forward);
    QVERIFY(!dlg.m_Result->toPlainText().contains(u'\t'));
    if (nSel == 1) {
        // The address control is one stop, entered at its first field and
        // left by Tab from any field.
        dlg.m_Command->setFocus();
        press(Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), dlg.m_Ip->field(0));
        dlg.m_Ip->field(2)->setFocus();
        press(Qt::Key_Tab);
        QCOMPARE(focusedId(dlg), 1943);
        dlg.m_Ip->field(2)->setFocus();
        press(Qt::Key_Tab, Qt::ShiftModifier);
        QCOMPARE(focusedId(dlg), 1940);
    }
}

void TestKeyboard::arrowsGoRoundRadioGroups() {
    SettingsSandbox sandbox;
    RecordingUi ui(0);
    D_CMDORA dlg;
    dlg.show();
    QVERIFY(QTest::qWaitForWindowActive(&dlg));
    dlg.m_Command->setText(QStringLiteral("abc"));
    dlg.m_NotationDollar->setFocus();
    press(Qt::Key_Down); // round to the first
    QCOMPARE(QApplication::focusWidget(), dlg.m_NotationSpace);
    QVERIFY(dlg.m_NotationSpace->isChecked() && !dlg.m_NotationDollar->isChecked());
    QVERIFY(dlg.m_Result->toPlainText().startsWith(QStringLiteral("55 AA ")));
    press(Qt::Key_Up); // and back round to the last
    QCOMPARE(QApplication::focusWidget(), dlg.m_NotationDollar);
    QVERIFY(dlg.m_Result->toPlainText().startsWith(QStringLiteral("$55$AA")));

    dlg.m_RadioCom->setFocus();
    press(Qt::Key_Left); // round to "IP": a click, settings and all
    QCOMPARE(QApplication::focusWidget(), dlg.m_RadioIp);
    QCOMPARE(int(dlg.m_nSel), 1);
    QVERIFY(dlg.m_RadioIp->isChecked() && dlg.m_Ip->isEnabled() && !dlg.m_ComList->isEnabled());
    QCOMPARE(sandbox.content(), QByteArray("[CMDORA]\nnSel=1\n"));
    press(Qt::Key_Right);
    QCOMPARE(int(dlg.m_nSel), 0);
    QCOMPARE(sandbox.content(), QByteArray("[CMDORA]\nnSel=0\n"));
}

void TestKeyboard::typeAddressOverFilledControl_data() {
    QTest::addColumn<QString>("how");
    QTest::addColumn<QString>("address");
    for (const char* how : {"tab in", "click", "click, select all", "paste", "paste by menu"})
        for (const char* address : {"192.168.1.20", "127.0.77.1"})
            QTest::addRow("%s %s", how, address) << how << address;
}

void TestKeyboard::typeAddressOverFilledControl() {
    QFETCH(QString, how);
    QFETCH(QString, address);
    SettingsSandbox sandbox;
    sandbox.write("[CMDORA]\nnSel=1\nIPAddressField0=10\nIPAddressField1=200\n"
                  "IPAddressField2=30\nIPAddressField3=40\n");
    RecordingUi ui(0);
    D_CMDORA dlg;
    dlg.show();
    QVERIFY(QTest::qWaitForWindowActive(&dlg));
    QCOMPARE(dotted(dlg.m_Ip->parts()), QStringLiteral("10.200.30.40"));
    if (how == "tab in") {
        dlg.m_Command->setFocus();
        press(Qt::Key_Tab);
    } else if (how.startsWith("paste")) {
        QGuiApplication::clipboard()->setText(address);
        QLineEdit* field = dlg.m_Ip->field(2);
        if (how == "paste") {
            QTest::mouseClick(field, Qt::LeftButton, {}, QPoint(2, field->height() / 2));
            press(Qt::Key_V, Qt::ControlModifier);
        } else {
            // The right press, then the menu request that the window system follows it with.
            QTest::mouseClick(field, Qt::RightButton);
            QContextMenuEvent request(QContextMenuEvent::Mouse, field->rect().center(),
                                      field->mapToGlobal(field->rect().center()));
            QApplication::sendEvent(field, &request);
            QVERIFY(QApplication::activePopupWidget());
            QTest::keyClick(QApplication::activePopupWidget(), Qt::Key_P); // &Paste
        }
    } else {
        QTest::mouseClick(dlg.m_Ip->field(0), Qt::LeftButton);
    }
    if (how == "click, select all")
        press(Qt::Key_A, Qt::ControlModifier);
    if (!how.startsWith("paste")) {
        type(address);
    }
    QCOMPARE(dotted(dlg.m_Ip->parts()), address);
    QCOMPARE(dotted(ReadStoredAddress()), address);
    press(Qt::Key_Tab); // leaves the control
    QCOMPARE(focusedId(dlg), 1943);
    QCOMPARE(dotted(ReadStoredAddress()), address);
}

QTEST_MAIN(TestKeyboard)
#include "test_keyboard.moc"
