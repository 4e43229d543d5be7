// The automatic command test dialog: lines cycle into the main dialog's
// command box one per tick; Start/Stop, delay reading, the skip of a tick that
// falls due during a Send, and a fresh state at every opening. Ticks are
// driven by calling OnTimer directly; one case runs the real timer.
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <functional>
#include <limits>

#include "d_asciicmd_autotest.h"
#include "d_cmdora.h"
#include "recording_ui.h"
#include "send_rig.h"

namespace {

// lumo-module-sim on a loopback address for the life of the object.
class ModuleSim {
public:
    static QString program() {
        const QString env = qEnvironmentVariable("LUMO_MODULE_SIM");
        return !env.isEmpty()
                   ? env
                   : QCoreApplication::applicationDirPath() + "/../../tools/module_sim/lumo-module-sim";
    }
    // Starts it and waits (at most 5 s) for its "ready" line.
    bool start(const QStringList &args) {
        m_Proc.start(program(), args);
        if (!m_Proc.waitForStarted(5000))
            return false;
        while (m_Proc.waitForReadyRead(5000)) {
            while (m_Proc.canReadLine())
                if (m_Proc.readLine().startsWith("ready"))
                    return true;
        }
        return false;
    }
    ~ModuleSim() {
        if (m_Proc.state() == QProcess::NotRunning)
            return;
        m_Proc.terminate();
        if (!m_Proc.waitForFinished(3000))
            m_Proc.kill();
        m_Proc.waitForFinished(3000);
    }

private:
    QProcess m_Proc;
};

const QString kRefused = QStringLiteral("Delay must be a positive number of milliseconds.");

} // namespace

class TestAutotest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void cyclesLines_data();
    void cyclesLines();
    void lastCommandShownBeforeCommandBox();
    void restartsWhenListShrinks();
    void stopStartGoesOn();
    void delayText_data();
    void delayText();
    void tickDuringSendIsSkipped();
    void tickWhileStoppedDoesNothing();
    void realTimerSends();
    void cyclesAgainstModule();
    void tickInQueryBoxIsSkipped();
    void openingStartsAfresh();
    void keys_data();
    void keys();

private:
    // Runs body inside OnAutoTest's modal run, then makes sure the dialog closes.
    void withOpenDialog(const std::function<void(D_ASCIICMD_AUTOTEST *)> &body);
    void tick(int times = 1) {
        for (int i = 0; i < times; ++i)
            m_test->OnTimer(AUTOTEST_TIMER_ID);
    }
    void start(const QString &delay = QStringLiteral("1000")) {
        m_test->m_Delay->setText(delay);
        m_test->m_Start->click();
    }

    // Box texts shown so far.
    QStringList boxTexts() const {
        QStringList out;
        for (const RecordedBox &b : m_ui->boxes)
            out << b.text;
        return out;
    }

    SettingsSandbox m_settings;
    std::unique_ptr<RecordingUi> m_ui;
    std::unique_ptr<D_CMDORA> m_main;
    D_ASCIICMD_AUTOTEST *m_test = nullptr; // child of m_main
};

void TestAutotest::initTestCase() {
    QVERIFY(QDir(m_settings.root()).exists());
}

void TestAutotest::init() {
    m_ui = std::make_unique<RecordingUi>(0.0);
    m_main = std::make_unique<D_CMDORA>(); // no link open: Send only traces
    QVERIFY(m_main->m_Command);
    m_test = new D_ASCIICMD_AUTOTEST(m_main.get());
}

void TestAutotest::cleanup() {
    m_test = nullptr;
    m_main.reset();
    m_ui.reset();
}

void TestAutotest::cyclesLines_data() {
    QTest::addColumn<QString>("list");
    QTest::addColumn<QStringList>("sent");
    QTest::newRow("three lines") << "zw 000000\nzh\nabc"
                                 << QStringList{"zw 000000", "zh", "abc", "zw 000000", "zh", "abc"};
    QTest::newRow("final break") << "a\nb\n" << QStringList{"a", "b", "", "a", "b", ""};
    QTest::newRow("empty list") << "" << QStringList{"", ""};
    QTest::newRow("long line") << QString(1500, 'x') << QStringList{QString(AUTOTEST_MAX_LINE, 'x')};
}

void TestAutotest::cyclesLines() {
    QFETCH(QString, list);
    QFETCH(QStringList, sent);
    m_test->m_List->setPlainText(list);
    start();
    QStringList lastLines, commands;
    for (qsizetype i = 0; i < sent.size(); ++i) {
        tick();
        lastLines << m_test->m_LastCommand->text();
        commands << m_main->m_Command->text();
    }
    QCOMPARE(lastLines, sent);
    QCOMPARE(commands, sent);
    const int lines = int(list.count('\n')) + 1;
    QCOMPARE(int(m_test->m_nLine), int(sent.size() - 1) % lines + 1);
}

void TestAutotest::lastCommandShownBeforeCommandBox() {
    m_test->m_List->setPlainText("one\ntwo");
    QStringList seen; // last-command line at the moment the command box changes
    connect(m_main->m_Command, &QLineEdit::textChanged, this, [&] { seen << m_test->m_LastCommand->text(); });
    start();
    tick(2);
    QCOMPARE(seen, (QStringList{"one", "two"}));
}

void TestAutotest::restartsWhenListShrinks() {
    m_test->m_List->setPlainText("a\nb\nc");
    start();
    tick(2);
    m_test->m_List->setPlainText("x\ny");
    tick();
    QCOMPARE(m_main->m_Command->text(), "x");
    QCOMPARE(m_test->m_nLine, 1);
}

void TestAutotest::stopStartGoesOn() {
    m_test->m_List->setPlainText("a\nb\nc");
    start();
    QVERIFY(m_test->timerRunning());
    QCOMPARE(m_test->m_Start->text(), "Stop");
    tick(2);

    m_test->m_Start->click();
    QCOMPARE(m_test->m_Start->text(), "Start");
    QVERIFY(!m_test->timerRunning());
    QVERIFY(!m_test->m_bRunning);
    tick(); // a tick still on its way when stopped sends nothing
    QCOMPARE(m_main->m_Command->text(), "b");

    m_test->m_Start->click();
    tick();
    QCOMPARE(m_main->m_Command->text(), "c");
    QCOMPARE(m_test->m_LastCommand->text(), "c");
}

void TestAutotest::delayText_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("delay");
    QTest::addColumn<bool>("started");
    QTest::newRow("1000") << "1000" << 1000 << true;
    QTest::newRow("250ms") << "250ms" << 250 << true;
    QTest::newRow("space sign") << "  +42x" << 42 << true;
    QTest::newRow("abc") << "abc" << 0 << false;
    QTest::newRow("zero") << "0" << 0 << false;
    QTest::newRow("negative") << "-5" << -5 << false;
    QTest::newRow("16th char ignored") << "0000000000000007" << 0 << false;
    QTest::newRow("overflow") << "99999999999" << std::numeric_limits<int32_t>::max() << true;
}

void TestAutotest::delayText() {
    QFETCH(QString, text);
    QFETCH(int, delay);
    QFETCH(bool, started);
    start(text);
    QCOMPARE(m_test->m_nDelay, delay);
    QCOMPARE(bool(m_test->m_bRunning), started);
    QCOMPARE(m_test->timerRunning(), started);
    QCOMPARE(m_test->m_Start->text(), started ? "Stop" : "Start");
    QCOMPARE(boxTexts(), started ? QStringList{} : QStringList{kRefused});
}

void TestAutotest::tickDuringSendIsSkipped() {
    m_test->m_List->setPlainText("a\nb");
    m_main->m_Command->setText("typed");
    start();
    m_main->m_Link.m_bInSend = true; // a Send is showing a box whose loop delivers the tick
    tick(3);
    QCOMPARE(m_test->m_nLine, 0);
    QCOMPARE(m_test->m_LastCommand->text(), "Static");
    QCOMPARE(m_main->m_Command->text(), "typed");
    m_main->m_Link.m_bInSend = false;
    tick();
    QCOMPARE(m_main->m_Command->text(), "a");
    QCOMPARE(m_test->m_nLine, 1);
}

void TestAutotest::tickWhileStoppedDoesNothing() {
    m_test->m_List->setPlainText("a");
    m_main->m_Command->setText("typed");
    tick();
    m_test->OnTimer(AUTOTEST_TIMER_ID + 1); // not ours
    QCOMPARE(m_main->m_Command->text(), "typed");
    QCOMPARE(m_test->m_LastCommand->text(), "Static");
    QCOMPARE(m_test->m_nLine, 0);
}

void TestAutotest::realTimerSends() {
    m_test->m_List->setPlainText("a\nb\nc");
    QStringList sent;
    connect(m_main->m_Command, &QLineEdit::textChanged, this, [&](const QString &t) { sent << t; });
    start("5");
    QTRY_VERIFY_WITH_TIMEOUT(sent.size() >= 4, 5000);
    m_test->m_Start->click();
    QCOMPARE(sent.mid(0, 4), (QStringList{"a", "b", "c", "a"}));
    QCOMPARE(m_test->m_LastCommand->text(), sent.back());
}

void TestAutotest::cyclesAgainstModule() {
    ModuleSim sim;
    if (!QFileInfo(ModuleSim::program()).isExecutable())
        QSKIP("lumo-module-sim not built");
    QVERIFY(sim.start({"--address", "127.0.6.1", "--udp"}));
    QVERIFY(rig::openUdp(*m_main, "127.0.6.1", 300));

    m_test->m_List->setPlainText("za 1\nzb 2\nzc 3");
    start();
    QStringList acks;
    for (int i = 0; i < 6; ++i) {
        tick();
        acks << rig::status(*m_main);
    }
    const QStringList cycle = {"Ack : OK: command za 1 done\r", "Ack : OK: command zb 2 done\r",
                               "Ack : OK: command zc 3 done\r"};
    QCOMPARE(acks, cycle + cycle);
    QVERIFY(m_ui->boxes.isEmpty());
}

void TestAutotest::tickInQueryBoxIsSkipped() {
    ModuleSim sim;
    if (!QFileInfo(ModuleSim::program()).isExecutable())
        QSKIP("lumo-module-sim not built");
    QVERIFY(sim.start({"--address", "127.0.6.2", "--udp"}));
    QVERIFY(rig::openUdp(*m_main, "127.0.6.2", 300));

    m_test->m_List->setPlainText("zh\nza 1");
    // The query's data box runs a message loop that delivers a due tick.
    QStringList inBox;
    m_ui->onBox = [&](const RecordedBox &) {
        tick();
        inBox << m_main->m_Command->text() << QString::number(m_test->m_nLine)
              << m_test->m_LastCommand->text();
    };
    start();
    tick();
    QCOMPARE(inBox, (QStringList{"zh", "0", "zh"}));
    QCOMPARE(m_ui->boxes.size(), 1);
    QCOMPARE(m_ui->boxes[0].caption, "Device Information");
    QCOMPARE(m_ui->boxes[0].text, "Device ID 1 Style 17 Ver 1.00\r"); // the CR stays with the line
    QCOMPARE(rig::status(*m_main), "Ack : OK: command zh done\r");
    QCOMPARE(m_test->m_nLine, 1);

    tick(); // the skipped tick is not made up for: the next one sends line 1
    QCOMPARE(rig::status(*m_main), "Ack : OK: command za 1 done\r");
    QCOMPARE(m_test->m_nLine, 2);
}

void TestAutotest::withOpenDialog(const std::function<void(D_ASCIICMD_AUTOTEST *)> &body) {
    bool ran = false;
    QTimer::singleShot(0, m_main.get(), [&] {
        auto *dialog = m_main->findChild<D_ASCIICMD_AUTOTEST *>(QString(), Qt::FindDirectChildrenOnly);
        // m_test is a second child; the open one is the visible one.
        for (auto *d : m_main->findChildren<D_ASCIICMD_AUTOTEST *>(QString(), Qt::FindDirectChildrenOnly))
            if (d != m_test)
                dialog = d;
        ran = true;
        QVERIFY(dialog && dialog != m_test);
        body(dialog);
        if (dialog->isVisible())
            dialog->reject();
    });
    m_main->OnAutoTest();
    QVERIFY(ran);
    QCOMPARE(m_main->findChildren<D_ASCIICMD_AUTOTEST *>().size(), 1); // the opened one is gone
}

void TestAutotest::openingStartsAfresh() {
    for (int opening = 0; opening < 2; ++opening) {
        withOpenDialog([&](D_ASCIICMD_AUTOTEST *d) {
            QCOMPARE(d->windowTitle(), "ASCII CMD Test");
            QCOMPARE(d->parentWidget(), m_main.get());
            QVERIFY(d->isModal());
            QCOMPARE(d->findChild<QLineEdit *>("1947"), d->m_Delay);
            QCOMPARE(d->findChild<QPushButton *>("1282"), d->m_Start);
            QCOMPARE(d->findChild<QPlainTextEdit *>("1104"), d->m_List);
            QCOMPARE(d->findChild<QLabel *>("1925"), d->m_LastCommand);
            QCOMPARE(d->m_Delay->text(), "1000");
            QCOMPARE(d->m_Delay->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignHCenter);
            QCOMPARE(d->m_List->lineWrapMode(), QPlainTextEdit::NoWrap);
            QCOMPARE(d->m_Start->text(), "Start");
            QCOMPARE(d->m_LastCommand->text(), "Static");
            QCOMPARE(d->m_nLine, 0);
            QVERIFY(!d->m_bRunning);
            d->m_List->setPlainText("a\nb\nc");
            d->m_Delay->setText("500");
            d->m_Start->click();
            d->OnTimer(AUTOTEST_TIMER_ID);
            d->OnTimer(AUTOTEST_TIMER_ID);
            QCOMPARE(m_main->m_Command->text(), "b");
        });
    }
}

void TestAutotest::keys_data() {
    QTest::addColumn<QString>("target"); // objectName of the control with the focus
    QTest::addColumn<int>("key");
    QTest::addColumn<bool>("closes");
    QTest::addColumn<QString>("caption"); // of the Start/Stop button afterwards
    QTest::newRow("Enter in delay box") << "1947" << int(Qt::Key_Return) << true << "Start";
    QTest::newRow("Esc") << "1947" << int(Qt::Key_Escape) << true << "Start";
    QTest::newRow("Enter in list") << "1104" << int(Qt::Key_Return) << false << "Start";
    QTest::newRow("Enter on button") << "1282" << int(Qt::Key_Return) << false << "Stop";
}

void TestAutotest::keys() {
    QFETCH(QString, target);
    QFETCH(int, key);
    QFETCH(bool, closes);
    QFETCH(QString, caption);
    withOpenDialog([&](D_ASCIICMD_AUTOTEST *d) {
        auto *w = d->findChild<QWidget *>(target);
        QVERIFY(w);
        d->activateWindow();
        w->setFocus();
        QTRY_COMPARE(d->focusWidget(), w);
        QTest::keyClick(w, Qt::Key(key));
        QCOMPARE(d->isVisible(), !closes);
        QCOMPARE(d->m_Start->text(), caption);
        if (target == "1104")
            QCOMPARE(d->m_List->toPlainText(), "\n");
        QCOMPARE(d->timerRunning(), caption == "Stop" && !closes);
    });
}

QTEST_MAIN(TestAutotest)
#include "test_autotest.moc"
