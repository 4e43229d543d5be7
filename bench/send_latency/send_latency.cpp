// bench_send_latency: how long Send takes from the click to the answer on the
// status line, for a normal command over TCP (module style 17), UDP and the
// serial port, against lumo-module-sim on 127.0.5.200. Offscreen Qt; the
// handler's own sleeps are real (500 ms polls), boxes are answered at once.
//
// usage: bench_send_latency [runs]   (default 10 per link)
#include "console_ui.h"
#include "d_cmdora.h"
#include "settings.h"

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

namespace {

constexpr const char *kAddress = "127.0.5.200";

// Real waits, boxes that never wait for a person, trace reports dropped.
class BenchUi : public ConsoleUi {
public:
    int boxes = 0;
    void messageBox(QWidget *, const QString &, const QString &, Icon) override { ++boxes; }
    QString saveFileName(QWidget *, const QString &, const QString &, const QString &) override { return {}; }
    QString openFileName(QWidget *, const QString &, const QString &) override { return {}; }
    void sleepMs(int ms) override { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }
    int sendTraceRecord(const QByteArray &) override { return 0; }
};

struct Figures {
    std::vector<double> ms;
    int answered = 0;
};

void report(const char *link, Figures f) {
    if (f.ms.empty()) {
        std::printf("%-8s no runs\n", link);
        return;
    }
    std::sort(f.ms.begin(), f.ms.end());
    double sum = 0;
    for (double v : f.ms)
        sum += v;
    std::printf("%-8s runs %2zu  answered %2d  min %8.1f ms  median %8.1f ms  mean %8.1f ms  max %8.1f ms\n",
                link, f.ms.size(), f.answered, f.ms.front(), f.ms[f.ms.size() / 2], sum / double(f.ms.size()),
                f.ms.back());
}

// Presses Send `runs` times with a normal command; an answer counts when the
// status line shows the acknowledgement of that very command.
Figures measure(D_CMDORA &dlg, int runs) {
    Figures f;
    for (int i = 0; i < runs; ++i) {
        dlg.m_Command->setText(QStringLiteral("za %1").arg(i));
        dlg.m_Status->setText(QString());
        const auto t0 = std::chrono::steady_clock::now();
        dlg.OnBnClickedSend();
        const auto t1 = std::chrono::steady_clock::now();
        f.ms.push_back(std::chrono::duration<double, std::milli>(t1 - t0).count());
        const QString status = dlg.m_Status->text();
        if (status.startsWith(QStringLiteral("Ack : ")) &&
            status.contains(QStringLiteral("command za %1 done").arg(i)))
            ++f.answered;
    }
    return f;
}

} // namespace

int main(int argc, char **argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
    const std::string serialLink = "/tmp/bench_send_latency_com" + std::to_string(::getpid());
    setenv("LUMO_COM1", serialLink.c_str(), 1);

    QApplication app(argc, argv);
    const QTemporaryDir settingsDir; // the dialog reads and writes its settings here
    g_SettingsPath = settingsDir.path() + QStringLiteral("/CMDORA_Unicode.bin");
    BenchUi ui;
    setConsoleUi(&ui);

    QProcess sim;
    sim.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    sim.start(QStringLiteral(LUMO_MODULE_SIM),
              {"--address", kAddress, "--tcp", "--udp", "--serial-link", QString::fromStdString(serialLink),
               "--style", "17", "--mode-char", "z"});
    bool ready = sim.waitForStarted(3000);
    while (ready && !sim.canReadLine())
        ready = sim.waitForReadyRead(3000);
    while (ready && sim.canReadLine() && !sim.readLine().startsWith("ready"))
        ready = sim.canReadLine() || sim.waitForReadyRead(3000);
    if (!ready) {
        std::fprintf(stderr, "bench_send_latency: the simulator did not get ready\n");
        return 1;
    }

    std::printf("Send to status line, normal command, %d runs per link (simulator on %s)\n", runs, kAddress);
    {
        D_CMDORA dlg;
        std::wstring address(kAddress, kAddress + std::char_traits<char>::length(kAddress));
        unsigned char reply[8] = {};
        dlg.m_Net.m_bXMode = 0;
        if (dlg.m_Net.NetConnect_IPEPC(address.data(), reply, 0) == 1) {
            dlg.m_bLinkOpen = 1;
            dlg.m_nSel = 1;
            report("TCP", measure(dlg, runs));
            dlg.m_Net.CloseNet();
        } else {
            std::printf("TCP      connect failed\n");
        }
        dlg.m_bLinkOpen = 0;
    }
    {
        D_CMDORA dlg;
        dlg.m_UdpSocket = UdpOpen();
        if (dlg.m_UdpSocket >= 0 && UdpConnect(dlg.m_UdpSocket, kAddress, LUMO_UDP_MODULE_PORT) &&
            UdpSetRecvTimeout(dlg.m_UdpSocket, 2000)) {
            dlg.m_Udp->setChecked(true);
            dlg.m_bLinkOpen = 1;
            dlg.m_nSel = 1;
            report("UDP", measure(dlg, runs));
        } else {
            std::printf("UDP      open failed\n");
        }
        if (dlg.m_UdpSocket >= 0)
            UdpClose(dlg.m_UdpSocket);
        dlg.m_bLinkOpen = 0;
    }
    {
        D_CMDORA dlg;
        if (dlg.m_Net.OpenCOM_IPConverter(1, 115200)) {
            dlg.m_bLinkOpen = 1;
            dlg.m_nSel = 0;
            report("serial", measure(dlg, runs));
            dlg.m_Net.CloseCOM();
        } else {
            std::printf("serial   open failed\n");
        }
        dlg.m_bLinkOpen = 0;
    }
    setConsoleUi(nullptr);
    sim.terminate();
    sim.waitForFinished(3000);
    return 0;
}
