// A day at the wall: the command box's history, search and completion, the
// module list, Reconnect after a dropped link, the About box and the window
// position kept. Real widgets driven by keys and clicks, against fake
// modules and the simulator on 127.0.23.x.
#include <QCheckBox>
#include <QCompleter>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>

#include <memory>

#include "app.h"
#include "command_recall.h"
#include "ip_address_edit.h"
#include "lumo_version.h"
#include "module_list.h"
#include "send_rig.h"
#include "session_log.h"
#include "session_log_model.h"
#include "sim_process.h"
#include "ui_waits.h"

namespace {

// A shown main dialog with private settings, state and data folders. The
// installed known commands are the tree's own file, found as in a data folder.
struct Rig {
    explicit Rig(const QByteArray& settings = {}) {
        qputenv("XDG_STATE_HOME", state.path().toLocal8Bit());
        qputenv("XDG_DATA_HOME", data.path().toLocal8Bit());
        QDir(data.path()).mkpath(QStringLiteral("cmdora"));
        QFile::copy(QStringLiteral(LUMO_KNOWN_COMMANDS), data.path() + QStringLiteral("/cmdora/known-commands"));
        sandbox.write(settings);
        open();
    }
    void open() {
        dlg = std::make_unique<D_CMDORA>();
        dlg->m_ReconnectMsPerSecond = 10;
        dlg->show();
    }
    // Closes the console (its close box) and starts a new one.
    void restart() {
        dlg->close();
        open();
    }
    QTemporaryDir state, data;
    SettingsSandbox sandbox;
    rig::FastUi ui;
    std::unique_ptr<D_CMDORA> dlg;

    QLineEdit* box() const { return dlg->m_Command; }
    // Where a person's key goes now: an open pop-up list, else the focus.
    static QWidget* keyTarget() {
        return QApplication::activePopupWidget() ? QApplication::activePopupWidget() : uiwait::focused();
    }
    void key(Qt::Key k, Qt::KeyboardModifiers m = Qt::NoModifier) { QTest::keyClick(keyTarget(), k, m); }
    void type(const QString& text) {
        QTest::keyClick(box(), Qt::Key_A, Qt::ControlModifier);
        QTest::keyClicks(box(), text);
    }
    QStringList records() {
        dlg->m_SessionLog->drain();
        QStringList out;
        SessionLogModel& model = dlg->m_SessionLog->model();
        for (int row = 0; row < model.rowCount(); ++row)
            out << QString::fromStdString(session::FormatLine(model.recordAt(row), "")).mid(1);
        return out;
    }
};

#define VERIFY_HAS(list, part)                                                                               \
    QVERIFY2(!(list).filter(part).isEmpty(), qPrintable(QString(part) + " not in:\n" + (list).join('\n')))

} // namespace

class TestConsoleDay : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { InstallLumoMessageSink(); }
    void historyWalksSendsAndSurvivesRestart();
    void searchAndCompletion();
    void moduleListScansAndHandsAddressOver();
    void reconnectAfterReset();
    void reconnectStopsWhenCleared();
    void aboutTabOrderAndPosition();
};

void TestConsoleDay::historyWalksSendsAndSurvivesRestart() {
    rig::TcpModule module("127.0.23.1", 3, 17); // answers a command with a line
    Rig r;
    QVERIFY(rig::openTcp(*r.dlg, "127.0.23.1"));
    r.dlg->m_Send->setEnabled(true);
    QVERIFY(uiwait::clickFocus(r.box()));
    auto sendTyped = [&r, &module](const QString& command, bool typed) {
        module.reply("OK: command " + command.toLatin1() + " done\r\n");
        if (typed)
            r.type(command);
        r.key(Qt::Key_Return);
        return r.dlg->m_Status->text() == QStringLiteral("Ack : OK: command %1 done\r").arg(command);
    };
    for (const char* command : {"za 1", "za 1", "za 2"})
        QVERIFY(sendTyped(QString::fromLatin1(command), true));

    // Half-typed (nothing known starts so), then back through the commands (the
    // repeat kept once) and forward to it again.
    r.type(QStringLiteral("zy"));
    QStringList walk;
    for (Qt::Key k : {Qt::Key_Up, Qt::Key_Up, Qt::Key_Up, Qt::Key_Down, Qt::Key_Down, Qt::Key_Down}) {
        r.key(k);
        walk << r.box()->text();
    }
    QCOMPARE(walk, (QStringList{"za 2", "za 1", "za 1", "za 2", "zy", "zy"}));

    // Enter sends the recalled command.
    r.key(Qt::Key_Up);
    r.key(Qt::Key_Up);
    QVERIFY(sendTyped(QStringLiteral("za 1"), false));

    QFile file(QString::fromStdString(session::HistoryPath()));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("za 1\nza 2\nza 1\n"));

    // A new console walks the same history.
    r.restart();
    QVERIFY(uiwait::clickFocus(r.box()));
    r.key(Qt::Key_Up);
    QCOMPARE(r.box()->text(), QStringLiteral("za 1"));
    r.key(Qt::Key_Up);
    QCOMPARE(r.box()->text(), QStringLiteral("za 2"));
}

void TestConsoleDay::searchAndCompletion() {
    Rig r;
    // The operator's own file adds a command and amends an installed one.
    QFile own(r.sandbox.root() + QStringLiteral("/Norvane_Lumo/known-commands"));
    QVERIFY(own.open(QIODevice::WriteOnly));
    own.write("# mine\nzq | 12 | my query\nzw | 111111 | my window\n");
    own.close();
    session::CommandHistory::Append(session::HistoryPath(), "ze 0000 1");
    session::CommandHistory::Append(session::HistoryPath(), "za 7");
    r.open();
    QVERIFY(uiwait::clickFocus(r.box()));

    // Ctrl+R: a part finds the earlier command; Enter takes it.
    r.key(Qt::Key_R, Qt::ControlModifier);
    QTRY_VERIFY(r.dlg->m_Recall->searchWindow() && r.dlg->m_Recall->searchWindow()->isVisible());
    auto* part = r.dlg->m_Recall->searchWindow()->findChild<QLineEdit*>();
    QTRY_VERIFY(part->hasFocus());
    QTest::keyClicks(part, QStringLiteral("000"));
    auto* found = r.dlg->m_Recall->searchWindow()->findChild<QListWidget*>();
    QCOMPARE(found->count(), 1);
    QTest::keyClick(part, Qt::Key_Return);
    QTRY_VERIFY(!r.dlg->m_Recall->searchWindow()->isVisible());
    QCOMPARE(r.box()->text(), QStringLiteral("ze 0000 1"));

    // Typing offers the known commands with their hints; Tab takes the one chosen.
    QTRY_VERIFY(r.box()->hasFocus());
    r.type(QStringLiteral("zw"));
    QCompleter* completer = r.dlg->m_Recall->completer();
    QTRY_VERIFY(completer->popup()->isVisible());
    QCOMPARE(completer->completionCount(), 2); // zw and ZW
    QCOMPARE(completer->completionModel()->index(0, 0).data().toString(), QStringLiteral("zw 111111  \u2014 my window"));
    r.key(Qt::Key_Tab);
    QTRY_VERIFY(!completer->popup()->isVisible());
    QCOMPARE(r.box()->text(), QStringLiteral("zw "));
    QVERIFY(r.box()->hasFocus()); // Tab took the command, not the focus

    // Enter takes a completion too, without sending.
    r.type(QStringLiteral("zq"));
    QTRY_VERIFY(completer->popup()->isVisible());
    r.key(Qt::Key_Return);
    QTRY_VERIFY(!completer->popup()->isVisible());
    QCOMPARE(r.box()->text(), QStringLiteral("zq "));
    QVERIFY(r.ui.boxes.isEmpty());
}

void TestConsoleDay::moduleListScansAndHandsAddressOver() {
    simtest::ChildProcess sim;
    QVERIFY(sim.Start(LUMO_MODULE_SIM,
                      {"--address", "127.0.23.11-127.0.23.12", "--tcp", "--id", "4", "--id-step", "1", "--style", "5"}));
    Rig r;
    QVERIFY(uiwait::active(r.dlg.get()));
    QTest::mouseClick(r.dlg->findChild<QPushButton*>(QStringLiteral("Modules")), Qt::LeftButton);
    ModuleListWindow* modules = r.dlg->m_Modules;
    QVERIFY(modules && uiwait::active(modules));
    QVERIFY(uiwait::clickFocus(modules->rangeEdit()));
    QTest::keyClicks(modules->rangeEdit(), QStringLiteral("127.0.23.10-127.0.23.13"));
    QTest::keyClick(modules->rangeEdit(), Qt::Key_Return);
    QTRY_VERIFY_WITH_TIMEOUT(!modules->scanning(), 20000);
    QCOMPARE(modules->progress()->value(), 4);
    QCOMPARE(modules->statusLabel()->text(), QStringLiteral("4 addresses scanned, 2 found."));
    QTreeWidget* list = modules->list();
    list->sortItems(ModuleListWindow::ColAddress, Qt::AscendingOrder);
    QCOMPARE(list->topLevelItemCount(), 2);
    QCOMPARE(list->topLevelItem(1)->text(ModuleListWindow::ColId), QStringLiteral("5"));
    QCOMPARE(list->topLevelItem(1)->text(ModuleListWindow::ColStyle), QStringLiteral("5"));
    QCOMPARE(list->topLevelItem(1)->text(ModuleListWindow::ColInfo), QStringLiteral("Device ID 5 Style 5 Ver 1.00"));

    // Saved as CSV.
    QTemporaryDir out;
    r.ui.nextSavePath = out.path() + QStringLiteral("/modules.csv");
    QTest::mouseClick(modules->findChild<QPushButton*>(QStringLiteral("SaveCsv")), Qt::LeftButton);
    QFile csv(r.ui.nextSavePath);
    QVERIFY(csv.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = csv.readAll().split('\n');
    QCOMPARE(lines.value(0), QByteArray("address,id,style,mode,information,connect_ms"));
    QVERIFY(lines.value(2).startsWith("127.0.23.12,5,5,,Device ID 5 Style 5 Ver 1.00,"));

    // Enter on a row: its address in the IP control, IP chosen; kept for the next start.
    QVERIFY(uiwait::clickFocus(list));
    list->setCurrentItem(list->topLevelItem(1));
    QTest::keyClick(list, Qt::Key_Return);
    QCOMPARE(r.dlg->m_Ip->parts(), (std::array<uint8_t, 4>{127, 0, 23, 12}));
    QVERIFY(r.dlg->m_RadioIp->isChecked());
    QVERIFY(r.dlg->m_Ip->isEnabled());
    QVERIFY(r.sandbox.content().contains("IPAddressField3=12"));

    // The last range comes back in a new console's window.
    r.restart();
    r.dlg->OnModules();
    QCOMPARE(r.dlg->m_Modules->rangeEdit()->text(), QStringLiteral("127.0.23.10-127.0.23.13"));
}

void TestConsoleDay::reconnectAfterReset() {
    simtest::ChildProcess sim;
    QVERIFY(sim.Start(LUMO_MODULE_SIM,
                      {"--address", "127.0.23.20", "--tcp", "--id", "2", "--style", "5", "--misbehave", "reset"}));
    Rig r(addressSettings(127, 0, 23, 20));
    QVERIFY(uiwait::active(r.dlg.get()));
    QTest::mouseClick(r.dlg->m_Reconnect, Qt::LeftButton);
    QVERIFY(r.dlg->m_Reconnect->isChecked());
    QTest::mouseClick(r.dlg->m_Connect, Qt::LeftButton);
    QCOMPARE(r.dlg->m_Connect->text(), QStringLiteral("Disconnect"));

    // The module resets the link on the command; the console comes back to it on its own.
    QVERIFY(uiwait::clickFocus(r.box()));
    r.type(QStringLiteral("za 1"));
    r.key(Qt::Key_Return);
    QTRY_VERIFY_WITH_TIMEOUT(r.dlg->m_Status->text().startsWith(QStringLiteral("Link lost")), 10000);
    QTRY_VERIFY_WITH_TIMEOUT(r.records().contains(QStringLiteral("link TCP 127.0.23.20:20036 reconnected")) ||
                                 r.records().contains(QStringLiteral("link - reconnected")),
                             10000);
    const QStringList records = r.records();
    VERIFY_HAS(records, "reconnect try 1 in 1 s");
    VERIFY_HAS(records, "reconnect try 1");
    QCOMPARE(r.dlg->m_Status->text(), QStringLiteral("Link lost and reconnected"));
    // As a Connect leaves it.
    QCOMPARE(r.dlg->m_Connect->text(), QStringLiteral("Disconnect"));
    QVERIFY(r.dlg->m_Send->isEnabled());
    QVERIFY(!r.dlg->m_RadioCom->isEnabled() && !r.dlg->m_Ip->isEnabled());
    QCOMPARE(r.dlg->m_Link.link().kind, session::LinkKind::Tcp);

    // The operator's Disconnect is no loss.
    QTest::mouseClick(r.dlg->m_Connect, Qt::LeftButton);
    QCOMPARE(r.dlg->m_Connect->text(), QStringLiteral("Connect"));
    QCOMPARE(r.dlg->reconnectAttempt(), 0);
    QVERIFY(!r.dlg->reconnectPending());
}

void TestConsoleDay::reconnectStopsWhenCleared() {
    auto module = std::make_unique<rig::TcpModule>("127.0.23.21", 2, 5);
    Rig r(addressSettings(127, 0, 23, 21));
    r.dlg->m_ReconnectMsPerSecond = 1000; // the tries wait their real seconds here
    QVERIFY(uiwait::active(r.dlg.get()));
    QTest::mouseClick(r.dlg->m_Reconnect, Qt::LeftButton);
    QTest::mouseClick(r.dlg->m_Connect, Qt::LeftButton);
    QCOMPARE(r.dlg->m_Connect->text(), QStringLiteral("Disconnect"));
    module.reset(); // the module goes away for good
    QTRY_COMPARE_WITH_TIMEOUT(r.dlg->m_Status->text(), QStringLiteral("Link lost: reconnecting in 1 s"), 10000);
    QVERIFY(r.dlg->reconnectPending());
    QCOMPARE(r.dlg->m_Connect->text(), QStringLiteral("Connect"));
    QTest::mouseClick(r.dlg->m_Reconnect, Qt::LeftButton);
    QVERIFY(!r.dlg->reconnectPending());
    QCOMPARE(r.dlg->reconnectAttempt(), 0);
    QCOMPARE(r.dlg->m_Status->text(), QStringLiteral("Link lost"));
    VERIFY_HAS(r.records(), "reconnect stopped: Reconnect cleared");
}

void TestConsoleDay::aboutTabOrderAndPosition() {
    Rig r;
    QVERIFY(uiwait::active(r.dlg.get()));
    QVERIFY(uiwait::focus(r.box()));
    r.key(Qt::Key_F1);
    QTRY_COMPARE(r.ui.boxes.size(), 1);
    QCOMPARE(r.ui.boxes[0].caption, QStringLiteral("About Cmdora"));
    QVERIFY(r.ui.boxes[0].text.contains(QStringLiteral("Cmdora " LUMO_VERSION)));
    QVERIFY(r.ui.boxes[0].text.contains(QStringLiteral("Qt ") + QLatin1String(qVersion())));
    QVERIFY(r.ui.boxes[0].text.contains(QStringLiteral("Built 2")));
    QTest::mouseClick(r.dlg->m_AboutButton, Qt::LeftButton);
    QCOMPARE(r.ui.boxes.size(), 2);

    // The new controls come after "Session Log", then round to Connect (Send is off without a link).
    QVERIFY(uiwait::focus(r.dlg->m_SessionLogButton));
    QList<QWidget*> order;
    for (int i = 0; i < 4; ++i) {
        r.key(Qt::Key_Tab);
        order << uiwait::focused();
    }
    QCOMPARE(order, (QList<QWidget*>{r.dlg->m_Reconnect, r.dlg->m_ModulesButton, r.dlg->m_AboutButton,
                                     r.dlg->m_Connect}));

    // The window's position is kept for the next start.
    r.dlg->move(37, 29);
    const QPoint moved = r.dlg->pos();
    r.restart();
    QCOMPARE(r.dlg->pos(), moved);
}

QTEST_MAIN(TestConsoleDay)
#include "test_console_day.moc"
