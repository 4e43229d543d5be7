// The main dialog from the keyboard, as an operator uses it: Enter on push
// buttons, Tab round the template's order, the arrow keys in radio groups, and
// typing or pasting an address over the filled IP control.
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
#include "ui_waits.h"

namespace {

// key: a Qt::Key, or a character as typed
template <class Key> void press(Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QWidget* focused = uiwait::focused();
    QVERIFY(focused);
    QTest::keyClick(focused, key, modifiers);
}

// Template id of the control holding the focus (the IP control for its fields).
int focusedId(const QWidget* dlg) {
    QWidget* w = QApplication::focusWidget();
    while (w && w->parentWidget() != dlg)
        w = w->parentWidget();
    return w ? w->objectName().toInt() : -1;
}

QString dotted(const std::array<uint8_t, 4>& p) {
    return QStringLiteral("%1.%2.%3.%4").arg(p[0]).arg(p[1]).arg(p[2]).arg(p[3]);
}

// A shown main dialog over a private settings file holding `settings`.
struct Rig {
    explicit Rig(const QByteArray& settings = {}) {
        sandbox.write(settings);
        dlg = std::make_unique<D_CMDORA>();
        dlg->show();
    }
    SettingsSandbox sandbox;
    RecordingUi ui{0};
    std::unique_ptr<D_CMDORA> dlg;
};

} // namespace

class TestKeyboard : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { InstallLumoMessageSink(); }
    void enterClicksButtonArrowsGoRoundGroups();
    void tabGoesRoundTemplateOrder_data();
    void tabGoesRoundTemplateOrder();
    void addressOverFilledControl_data();
    void addressOverFilledControl();
};

void TestKeyboard::enterClicksButtonArrowsGoRoundGroups() {
    qputenv("LUMO_COM1", "/nonexistent/tty-for-cmdora-test");
    Rig r;
    QVERIFY(QTest::qWaitForWindowActive(r.dlg.get()));
    QTRY_COMPARE(QApplication::focusWidget(), r.dlg->m_Connect); // Send is disabled
    press(Qt::Key_Return);
    qunsetenv("LUMO_COM1");
    QCOMPARE(r.ui.boxTexts(), QStringList{"Error: Connect Error!!"}); // Connect ran
    QVERIFY(uiwait::focus(r.dlg->m_UdpClearSocket));
    press(Qt::Key_Enter, Qt::KeypadModifier);
    QVERIFY(r.dlg->testTimerRunning() && r.dlg->isVisible());

    // The arrow keys go round a radio group, clicking the button moved to.
    r.dlg->m_Command->setText(QStringLiteral("abc"));
    QVERIFY(uiwait::focus(r.dlg->m_NotationDollar));
    press(Qt::Key_Down);
    QCOMPARE(QApplication::focusWidget(), r.dlg->m_NotationSpace);
    QVERIFY(r.dlg->m_NotationSpace->isChecked() && r.dlg->m_Result->toPlainText().startsWith("55 AA "));
    QVERIFY(uiwait::focus(r.dlg->m_RadioCom));
    press(Qt::Key_Left);
    QCOMPARE(QApplication::focusWidget(), r.dlg->m_RadioIp);
    QVERIFY(r.dlg->m_RadioIp->isChecked() && r.dlg->m_Ip->isEnabled() && !r.dlg->m_ComList->isEnabled());
    QCOMPARE(r.sandbox.content(), QByteArray("[CMDORA]\nnSel=1\n"));
}

void TestKeyboard::tabGoesRoundTemplateOrder_data() {
    QTest::addColumn<QByteArray>("settings");
    QTest::addColumn<QList<int>>("stops"); // from Connect round to Connect
    // 0: the "Session Log" button, which is not in the template, comes last
    const QList<int> tail{1005, 1006, 1007, 1008, 1645, 1180, 1009, 1103, 1948, 1559, 0, 1282};
    QTest::newRow("COM") << QByteArray() << QList<int>{1282, 1418, 1419, 1350, 1940, 1942} + tail;
    QTest::newRow("IP") << QByteArray("[CMDORA]\nnSel=1\n") << QList<int>{1282, 1940, 1471, 1943} + tail;
}

void TestKeyboard::tabGoesRoundTemplateOrder() {
    QFETCH(QByteArray, settings);
    QFETCH(QList<int>, stops);
    Rig r(settings);
    QVERIFY(QTest::qWaitForWindowActive(r.dlg.get()));
    QList<int> forward{focusedId(r.dlg.get())}, backward{forward};
    for (qsizetype i = 1; i < stops.size(); ++i) {
        press(Qt::Key_Tab);
        forward << focusedId(r.dlg.get());
    }
    for (qsizetype i = 1; i < stops.size(); ++i) {
        press(Qt::Key_Tab, Qt::ShiftModifier);
        backward.prepend(focusedId(r.dlg.get()));
    }
    QCOMPARE(forward, stops);
    QCOMPARE(backward, stops);
    QVERIFY(!r.dlg->m_Result->toPlainText().contains(u'\t'));
    if (r.dlg->m_Ip->isEnabled()) { // Tab leaves the address from any field
        QVERIFY(uiwait::focus(r.dlg->m_Ip->field(2)));
        press(Qt::Key_Tab);
        QCOMPARE(focusedId(r.dlg.get()), 1943);
    }
}

void TestKeyboard::addressOverFilledControl_data() {
    QTest::addColumn<QString>("how");
    QTest::addColumn<QString>("address");
    for (const char* how : {"tab in", "click", "click, select all", "paste", "paste by menu"})
        for (const char* address : {"192.168.1.20", "127.0.77.1"})
            QTest::addRow("%s %s", how, address) << how << address;
}

void TestKeyboard::addressOverFilledControl() {
    QFETCH(QString, how);
    QFETCH(QString, address);
    Rig r(
        "[CMDORA]\nnSel=1\nIPAddressField0=10\nIPAddressField1=200\nIPAddressField2=30\nIPAddressField3=4\n");
    QVERIFY(QTest::qWaitForWindowActive(r.dlg.get()));
    QLineEdit* field = r.dlg->m_Ip->field(how.startsWith("paste") ? 2 : 0);
    QGuiApplication::clipboard()->setText(address);
    if (how == "tab in") {
        QVERIFY(uiwait::focus(r.dlg->m_Command));
        press(Qt::Key_Tab);
    } else if (how == "paste by menu") {
        QTest::mouseClick(field, Qt::RightButton);
    } else {
        QVERIFY(uiwait::clickFocus(field));
    }
    if (how == "click, select all")
        press(Qt::Key_A, Qt::ControlModifier);
    if (how == "paste") {
        press(Qt::Key_V, Qt::ControlModifier);
    } else if (how == "paste by menu") { // the menu request that the window system sends on the right press
        QContextMenuEvent request(QContextMenuEvent::Mouse, QPoint(2, 2), field->mapToGlobal(QPoint(2, 2)));
        QApplication::sendEvent(field, &request);
        QTest::keyClick(QApplication::activePopupWidget(), Qt::Key_P); // &Paste
    } else {
        for (QChar c : address)
            press(c.toLatin1());
    }
    QCOMPARE(dotted(r.dlg->m_Ip->parts()), address);
    QCOMPARE(dotted(ReadStoredAddress()), address);
}

QTEST_MAIN(TestKeyboard)
#include "test_keyboard.moc"
