// Send against the module simulator program: the answers of a style-17
// module in mode 'z' and of another style, over TCP, UDP and the serial port.
#include <QCoreApplication>
#include <QFileInfo>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

#include "answer_reading.h"
#include "ip_address_edit.h"
#include "send_rig.h"

#include <memory>

namespace {

const QString kTimeout = QString::fromStdU16String(answer::kTimedOutText);

// One simulator process; ended (SIGTERM) and reaped by its owner.
class Simulator {
public:
    Simulator(const QStringList& args) {
        const QString program =
            QCoreApplication::applicationDirPath() + "/../../tools/module_sim/lumo-module-sim";
        if (!QFileInfo(program).isExecutable())
            return;
        m_Proc.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_Proc.start(program, args);
        if (!m_Proc.waitForStarted(3000))
            return;
        while (m_Proc.waitForReadyRead(3000) || m_Proc.canReadLine()) {
            while (m_Proc.canReadLine())
                if (m_Proc.readLine().startsWith("ready"))
                    m_Ready = true;
            if (m_Ready)
                break;
        }
    }
    ~Simulator() {
        m_Proc.terminate();
        if (!m_Proc.waitForFinished(3000))
            m_Proc.kill();
        m_Proc.waitForFinished(1000);
    }
    bool ready() const { return m_Ready; }

private:
    QProcess m_Proc;
    bool m_Ready = false;
};

QString serialLinkPath(const char* what) {
    return QStringLiteral("/tmp/cmdora-test-send-sim-%1-%2")
        .arg(what)
        .arg(QCoreApplication::applicationPid());
}

} // namespace

class TestSendSim : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void style17Tcp_data();
    void style17Tcp();
    void otherStyleTcp();
    void udpQuery();
    void serialQueryAndNoLineFeed();
    void chunkedAnswersTcp();

private:
    rig::FastUi* m_Ui = nullptr;
    std::unique_ptr<Simulator> m_Sim17;
    std::unique_ptr<D_CMDORA> m_Tcp17;
};

void TestSendSim::initTestCase() {
    m_Ui = new rig::FastUi;
    m_Sim17 = std::make_unique<Simulator>(
        QStringList{"--address", "127.0.5.40", "--tcp", "--id", "4", "--style", "17", "--mode-char", "z"});
    if (!m_Sim17->ready())
        QSKIP("lumo-module-sim not available");
    m_Tcp17 = std::make_unique<D_CMDORA>();
    QVERIFY(rig::openTcp(*m_Tcp17, "127.0.5.40"));
    QCOMPARE(m_Tcp17->m_Net.m_ToPCStyle, 17);
    QCOMPARE(m_Tcp17->m_Net.m_ModeChar, uint8_t('z'));
}

void TestSendSim::cleanupTestCase() {
    m_Tcp17.reset();
    m_Sim17.reset();
    delete m_Ui;
}

void TestSendSim::init() {
    m_Ui->boxes.clear();
    if (m_Tcp17)
        m_Tcp17->m_Status->setText(QStringLiteral("previous"));
}

void TestSendSim::style17Tcp_data() {
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("status");
    QTest::addColumn<QString>("box"); // "caption: text", empty for none
    QTest::newRow("normal") << "za 1"
                            << "Ack : OK: command za 1 done\r"
                            << "";
    QTest::newRow("zh end mark") << "zh"
                                 << ""
                                 << "Device Information: Device ID 4 Style 17 Ver 1.00";
    QTest::newRow("zw end mark") << "zw 000000"
                                 << ""
                                 << "Source position: Position 0 0 1920 1080";
    QTest::newRow("ZS end mark") << "ZS"
                                 << ""
                                 << "Signal Type: Signal 1920x1080 60Hz";
}

void TestSendSim::style17Tcp() {
    QFETCH(QString, command);
    QFETCH(QString, status);
    QFETCH(QString, box);
    rig::send(*m_Tcp17, command);
    QCOMPARE(rig::status(*m_Tcp17), status);
    QCOMPARE(m_Ui->boxTexts(), box.isEmpty() ? QStringList() : QStringList{box});
}

void TestSendSim::otherStyleTcp() {
    Simulator sim({"--address", "127.0.5.41", "--tcp", "--id", "2", "--style", "5"});
    QVERIFY(sim.ready());
    D_CMDORA dlg;
    QVERIFY(rig::openTcp(dlg, "127.0.5.41"));
    dlg.m_Status->setText(QStringLiteral("previous"));
    // a normal command is not read at all: the line stays as the send left it
    rig::send(dlg, QStringLiteral("za 1"));
    QCOMPARE(rig::status(dlg), QString());
    QVERIFY(m_Ui->boxes.isEmpty());
    // the unread answer lands before the next send empties the mailbox
    QTRY_VERIFY_WITH_TIMEOUT(dlg.m_Net.m_RecvReady.load() != 0, 5000);
    // a query is read by lines
    rig::send(dlg, QStringLiteral("zh"));
    QCOMPARE(rig::status(dlg), QStringLiteral("Ack : OK: command zh done\r"));
    QCOMPARE(m_Ui->boxTexts(), QStringList{"Device Information: Device ID 2 Style 5 Ver 1.00\r"});
}

void TestSendSim::udpQuery() {
    Simulator sim({"--address", "127.0.5.42", "--udp"});
    QVERIFY(sim.ready());
    D_CMDORA dlg;
    QVERIFY(rig::openUdp(dlg, "127.0.5.42", 200));
    rig::send(dlg, QStringLiteral("zs"));
    QCOMPARE(rig::status(dlg), QStringLiteral("Ack : OK: command zs done\r"));
    QCOMPARE(m_Ui->boxTexts(), QStringList{"Signal Type: Signal 1920x1080 60Hz\r"});
}

void TestSendSim::serialQueryAndNoLineFeed() {
    const QString link = serialLinkPath("com");
    {
        Simulator sim({"--address", "127.0.5.43", "--serial", "--serial-link", link});
        QVERIFY(sim.ready());
        qputenv("LUMO_COM6", link.toLocal8Bit());
        D_CMDORA dlg;
        QVERIFY(rig::openSerial(dlg, 6));
        rig::send(dlg, QStringLiteral("zh"));
        // the second line shows whole, also on the serial port
        QCOMPARE(rig::status(dlg), QStringLiteral("Ack : OK: command zh done\r"));
        QCOMPARE(m_Ui->boxTexts(), QStringList{"Device Information: Device ID 1 Style 17 Ver 1.00\r"});
        dlg.m_Net.CloseCOM();
    }
    m_Ui->boxes.clear();
    {
        // an answer without a line feed shows the time-out at once
        Simulator sim({"--address", "127.0.5.43", "--serial", "--serial-link", link, "--misbehave", "nolf"});
        QVERIFY(sim.ready());
        D_CMDORA dlg;
        QVERIFY(rig::openSerial(dlg, 6));
        rig::send(dlg, QStringLiteral("ze 1"));
        QCOMPARE(rig::status(dlg), kTimeout);
        dlg.m_Net.CloseCOM();
    }
    qunsetenv("LUMO_COM6");
}

void TestSendSim::chunkedAnswersTcp() {
    // Every reply comes in pieces of 7 bytes, 20 ms apart (the greeting whole).
    // Each answer is read whole, and none is taken for the next.
    const QStringList chunks{"--tcp", "--misbehave", "chunks", "--chunk", "7"};
    Simulator sim17(QStringList{"--address", "127.0.5.44", "--id", "6", "--style", "17"} + chunks);
    Simulator sim5(QStringList{"--address", "127.0.5.45", "--id", "7", "--style", "5"} + chunks);
    QVERIFY(sim17.ready() && sim5.ready());
    SettingsSandbox sandbox;
    RecordingUi ui(0.1); // 50-ms polls: an answer's pieces come within 200 ms

    struct Exchange {
        QString command, status, box; // box: "caption: text", empty for none
    };
    auto run = [&ui](std::array<uint8_t, 4> address, const QList<Exchange>& exchanges) {
        D_CMDORA dlg;
        dlg.m_RadioIp->click();
        dlg.m_Ip->setParts(address);
        dlg.m_Connect->click();
        QCOMPARE(dlg.m_Connect->text(), QStringLiteral("Disconnect"));
        for (const Exchange& e : exchanges) {
            ui.boxes.clear();
            rig::send(dlg, e.command);
            QCOMPARE(rig::status(dlg), e.status);
            QCOMPARE(ui.boxTexts(), e.box.isEmpty() ? QStringList() : QStringList{e.box});
        }
    };
    run({127, 0, 5, 44}, {
                             {"za 1", "Ack : OK: command za 1 done\r", ""},
                             {"zh", "", "Device Information: Device ID 6 Style 17 Ver 1.00"},
                             {"zw 000000", "", "Source position: Position 0 0 1920 1080"},
                             {"zb 22", "Ack : OK: command zb 22 done\r", ""},
                             {"ZS", "", "Signal Type: Signal 1920x1080 60Hz"},
                             {"zc", "Ack : OK: command zc done\r", ""},
                         });
    run({127, 0, 5, 45},
        {
            {"zh", "Ack : OK: command zh done\r", "Device Information: Device ID 7 Style 5 Ver 1.00\r"},
            {"zs", "Ack : OK: command zs done\r", "Signal Type: Signal 1920x1080 60Hz\r"},
            {"zw 000000", "Ack : OK: command zw 000000 done\r", "Source position: Position 0 0 1920 1080\r"},
        });
}

QTEST_MAIN(TestSendSim)
#include "test_send_sim.moc"
