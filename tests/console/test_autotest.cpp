// The automatic command test dialog: lines cycle into the main dialog's
// command box one per tick; Start/Stop, delay reading, the skip of a tick that
// falls due during a Send, and a fresh state at every opening. Ticks are
// driven by calling OnTimer directly; one case runs the real timer.
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <functional>
#include <limits>

#include "console_ui.h"
#include "d_asciicmd_autotest.h"
#include "d_cmdora.h"

namespace {

class RecordingUi : public ConsoleUi {
public:
    QStringList boxes; // text, one per box

    void messageBox(QWidget*, const QString& text, const QString&, Icon) override { boxes.append(text); }
    QString saveFileName(QWidget*, const QString&, const QString&, const QString&) override { return {}; }
    QString openFileName(QWidget*, const QString&, const QString&) override { return {}; }
    void sleepMs(int) override {}
    int sendTraceRecord(const QByteArray&) override { return 0; }
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
    void openingStartsAfresh();
    void keys_data();
    void keys();

private:
    // Runs body inside OnAutoTest's modal run, then makes sure the dialog closes.
    void withOpenDialog(const std::function<void(D_ASCIICMD_AUTOTEST*)>& body);
    void tick(int times = 1) {
        for (int i = 0; i < times; ++i)
            m_test->OnTimer(AUTOTEST_TIMER_ID);
    }
    void start(const QString& delay = QStringLiteral("1000")) {
        m_test->m_Delay->setText(delay);
        m_test->m_Start->click();
    }

    QTemporaryDir m_config;
    RecordingUi m_ui;
    std::unique_ptr<D_CMDORA> m_main;
    D_ASCIICMD_AUTOTEST* m_test = nullptr; // child of m_main
};

void TestAutotest::initTestCase() {
    QVERIFY(m_config.isValid());
    qputenv("XDG_CONFIG_HOME", m_config.path().toLocal8Bit());
    setConsoleUi(&m_ui);
}

void TestAutotest::init() {
    m_ui.boxes.clear();
    m_main = std::make_unique<D_CMDORA>(); // no link open: Send only traces
    QVERIFY(m_main->m_Command);
    m_test = new D_ASCIICMD_AUTOTEST(m_main.get());
}

void TestAutotest::cleanup() {
    m_test = nullptr;
    m_main.reset();
}

void TestAutotest::cyclesLines_data() {
    QTest::addColumn<QString>("list");
    QTest::addColumn<QStringList>("sent");
    QTest::newRow("three lines") << "zw 000000\nzh\nabc" << QStringList{"zw 000000", "zh", "abc", "zw 000000", "zh", "abc"};
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
    connect(m_main->m_Command, &QLineEdit::textChanged, this,
            [&] { seen << m_test->m_LastCommand->text(); });
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
    QCOMPARE(m_ui.boxes, started ? QStringList{} : QStringList{kRefused});
}

void TestAutotest::tickDuringSendIsSkipped() {
    m_test->m_List->setPlainText("a\nb");
    m_main->m_Command->setText("typed");
    start();
    m_main->m_bInSend = true; // a Send is showing a box whose loop delivers the tick
    tick(3);
    QCOMPARE(m_test->m_nLine, 0);
    QCOMPARE(m_test->m_LastCommand->text(), "Static");
    QCOMPARE(m_main->m_Command->text(), "typed");
    m_main->m_bInSend = false;
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
    connect(m_main->m_Command, &QLineEdit::textChanged, this, [&](const QString& t) { sent << t; });
    start("5");
    QTRY_VERIFY_WITH_TIMEOUT(sent.size() >= 4, 5000);
    m_test->m_Start->click();
    QCOMPARE(sent.mid(0, 4), (QStringList{"a", "b", "c", "a"}));
    QCOMPARE(m_test->m_LastCommand->text(), sent.back());
}

void TestAutotest::withOpenDialog(const std::function<void(D_ASCIICMD_AUTOTEST*)>& body) {
    bool ran = false;
    QTimer::singleShot(0, m_main.get(), [&] {
        auto* dialog = m_main->findChild<D_ASCIICMD_AUTOTEST*>(QString(), Qt::FindDirectChildrenOnly);
        // m_test is a second child; the open one is the visible one.
        for (auto* d : m_main->findChildren<D_ASCIICMD_AUTOTEST*>(QString(), Qt::FindDirectChildrenOnly))
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
    QCOMPARE(m_main->findChildren<D_ASCIICMD_AUTOTEST*>().size(), 1); // the opened one is gone
}

void TestAutotest::openingStartsAfresh() {
    for (int opening = 0; opening < 2; ++opening) {
        withOpenDialog([&](D_ASCIICMD_AUTOTEST* d) {
            QCOMPARE(d->windowTitle(), "ASCII CMD Test");
            QCOMPARE(d->parentWidget(), m_main.get());
            QVERIFY(d->isModal());
            QCOMPARE(d->findChild<QLineEdit*>("1947"), d->m_Delay);
            QCOMPARE(d->findChild<QPushButton*>("1282"), d->m_Start);
            QCOMPARE(d->findChild<QPlainTextEdit*>("1104"), d->m_List);
            QCOMPARE(d->findChild<QLabel*>("1925"), d->m_LastCommand);
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
    withOpenDialog([&](D_ASCIICMD_AUTOTEST* d) {
        auto* w = d->findChild<QWidget*>(target);
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
