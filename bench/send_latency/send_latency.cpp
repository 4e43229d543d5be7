// bench_send_latency: the console's Send, from the click to the answer shown
// (status line or answer box), against lumo-module-sim on 127.0.5.200, which
// answers at once. The dialog runs on the offscreen platform with the
// console's own waits (repainting between slices); boxes are answered at once.
//
// TCP normal commands (za N, status line) and queries (zh, answer box of a
// style-17 module in mode 'z') are measured twice in the same run: with the
// TCP wait as it is now (woken by the publication), and with the wait the
// console had before (each 500-ms step paused whole, then one look at the
// mailbox). UDP and serial normal commands are printed for reference: their
// readings keep their fixed pauses.
//
// usage: bench_send_latency [runs]   (default 20 per line)
#include "app.h"
#include "console_ui.h"
#include "d_cmdora.h"
#include "settings.h"

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

constexpr const char* kAddress = "127.0.5.200";
using Clock = std::chrono::steady_clock;

// The console's own waits (or, for the "before" lines, the earlier TCP wait);
// boxes never wait for a person; trace reports are dropped.
class BenchUi : public ConsoleUi {
public:
    BenchUi() { m_Real = setConsoleUi(this); }
    ~BenchUi() override { setConsoleUi(nullptr); }

    bool pollLikeBefore = false;
    int boxes = 0;
    QString lastBox;

    void messageBox(QWidget*, const QString& text, const QString&, Icon) override {
        ++boxes;
        lastBox = text;
    }
    QString saveFileName(QWidget*, const QString&, const QString&, const QString&) override { return {}; }
    QString openFileName(QWidget*, const QString&, const QString&) override { return {}; }
    void sleepMs(int ms) override { m_Real->sleepMs(ms); }
    bool awaitMs(int ms, const std::function<bool(int)>& ready) override {
        if (!pollLikeBefore)
            return m_Real->awaitMs(ms, ready);
        m_Real->sleepMs(ms); // the whole step, whatever arrives meanwhile
        return ready(0);
    }
    int sendTraceRecord(const QByteArray&) override { return 0; }

private:
    ConsoleUi* m_Real = nullptr;
};

struct Figures {
    std::vector<double> ms;
    int answered = 0;
    double median() const {
        std::vector<double> v = ms;
        std::sort(v.begin(), v.end());
        return v.empty() ? 0 : v[v.size() / 2];
    }
};

void report(const char* label, const Figures& f) {
    if (f.ms.empty()) {
        std::printf("  %-58s no runs\n", label);
        return;
    }
    std::vector<double> v = f.ms;
    std::sort(v.begin(), v.end());
    std::printf("  %-58s %3zu runs  %3d answered  median %8.2f ms  min %8.2f  max %8.2f\n", label, v.size(),
                f.answered, v[v.size() / 2], v.front(), v.back());
}

// Presses Send `runs` times; a run counts as answered when what was shown is
// the answer to that very command.
Figures measure(D_CMDORA& dlg, BenchUi& ui, int runs, bool query) {
    Figures f;
    for (int i = 0; i < runs; ++i) {
        const QString command = query ? QStringLiteral("zh") : QStringLiteral("za %1").arg(i);
        dlg.m_Command->setText(command);
        dlg.m_Status->setText(QString());
        const int boxesBefore = ui.boxes;
        const auto t0 = Clock::now();
        dlg.OnBnClickedSend();
        f.ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
        const QString status = dlg.m_Status->text();
        if (query ? ui.boxes == boxesBefore + 1 && ui.lastBox.startsWith(QStringLiteral("Device ID"))
                  : status.contains(QStringLiteral("command za %1 done").arg(i)))
            ++f.answered;
    }
    return f;
}

bool startSimulator(QProcess& sim, const std::string& serialLink) {
    sim.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    sim.start(QStringLiteral(LUMO_MODULE_SIM),
              {"--address", kAddress, "--tcp", "--udp", "--serial-link", QString::fromStdString(serialLink),
               "--style", "17", "--mode-char", "z"});
    bool ready = sim.waitForStarted(3000);
    while (ready && !sim.canReadLine())
        ready = sim.waitForReadyRead(3000);
    while (ready && sim.canReadLine() && !sim.readLine().startsWith("ready"))
        ready = sim.canReadLine() || sim.waitForReadyRead(3000);
    return ready;
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;
    const std::string serialLink = "/tmp/bench_send_latency_com" + std::to_string(::getpid());
    setenv("LUMO_COM1", serialLink.c_str(), 1);

    QApplication app(argc, argv);
    InstallLumoMessageSink();        // and the device link's wait hook, as the console has them
    const QTemporaryDir settingsDir; // the dialog reads and writes its settings here
    g_SettingsPath = settingsDir.path() + QStringLiteral("/CMDORA_Unicode.bin");
    BenchUi ui;

    QProcess sim;
    if (!startSimulator(sim, serialLink)) {
        std::fprintf(stderr, "bench_send_latency: the simulator did not get ready\n");
        return 1;
    }

    std::printf("Console Send to answer shown, %d runs per line (simulator on %s, style 17, mode 'z', "
                "answering at once)\n",
                runs, kAddress);
    double before[2] = {0, 0}, now[2] = {0, 0};
    {
        D_CMDORA dlg;
        std::wstring address(kAddress, kAddress + std::char_traits<char>::length(kAddress));
        unsigned char reply[8] = {};
        dlg.m_Net.m_bXMode = 0;
        if (dlg.m_Net.NetConnect_IPEPC(address.data(), reply, 0) == 1) {
            dlg.m_nSel = 1;
            dlg.m_Link.adopt({.kind = session::LinkKind::Tcp,
                              .name = session::TcpLinkName(std::u16string(address.begin(), address.end()))});
            const char* labels[2][2] = {{"TCP normal command, status line, wait woken (now)",
                                         "TCP query zh, answer box, wait woken (now)"},
                                        {"TCP normal command, status line, 500-ms steps (before)",
                                         "TCP query zh, answer box, 500-ms steps (before)"}};
            for (int q = 0; q < 2; ++q) {
                ui.pollLikeBefore = false;
                const Figures fNow = measure(dlg, ui, runs, q == 1);
                ui.pollLikeBefore = true;
                const Figures fBefore = measure(dlg, ui, std::max(1, runs / 4), q == 1);
                ui.pollLikeBefore = false;
                report(labels[0][q], fNow);
                report(labels[1][q], fBefore);
                now[q] = fNow.median();
                before[q] = fBefore.median();
            }
            dlg.m_Net.CloseNet();
        } else {
            std::printf("  TCP connect failed\n");
        }
        dlg.m_Link.m_bLinkOpen = 0;
    }
    {
        D_CMDORA dlg;
        const int socket = UdpOpen();
        if (socket >= 0 && UdpConnect(socket, kAddress, LUMO_UDP_MODULE_PORT) &&
            UdpSetRecvTimeout(socket, 2000)) {
            dlg.m_Udp->setChecked(true);
            dlg.m_nSel = 1;
            // the dialog's link owns the socket from here and closes it
            dlg.m_Link.adopt(
                {.kind = session::LinkKind::Udp,
                 .udpSocket = socket,
                 .name = session::UdpLinkName(std::u16string(kAddress, kAddress + std::strlen(kAddress)))});
            report("UDP normal command, status line (reference: fixed pauses)",
                   measure(dlg, ui, runs, false));
        } else {
            std::printf("  UDP open failed\n");
            if (socket >= 0)
                UdpClose(socket);
        }
    }
    {
        D_CMDORA dlg;
        if (dlg.m_Net.OpenCOM_IPConverter(1, 115200)) {
            dlg.m_nSel = 0;
            dlg.m_Link.adopt({.kind = session::LinkKind::Serial, .name = session::SerialLinkName(1)});
            report("serial normal command, status line (reference: fixed pauses)",
                   measure(dlg, ui, std::max(1, runs / 4), false));
            dlg.m_Net.CloseCOM();
        } else {
            std::printf("  serial open failed\n");
        }
        dlg.m_Link.m_bLinkOpen = 0;
    }
    for (int q = 0; q < 2; ++q)
        if (now[q] > 0)
            std::printf(
                "%s: median %.2f ms now against %.1f ms before (%.0f times faster; goal under 5 ms)\n",
                q ? "TCP query" : "TCP normal command", now[q], before[q], before[q] / now[q]);
    sim.terminate();
    sim.waitForFinished(3000);
    return 0;
}
