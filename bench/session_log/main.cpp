// bench_session_log: what the session log costs the console.
//
// 1. Flood, while the "Session Log" window is open and follows, each run once
//    with the log off and once on (window and file):
//    - tap: 10,000 received records a second for 10 s reported on the device
//      link's tap from a thread of their own, as the receive thread reports
//      a module's chunks;
//    - link: a module on 127.0.9.1 floods a real TCP link with 24-byte chunks
//      at 10,000 a second, and a helper takes the mailbox as a Send's wait
//      does (the receive thread's hand-over then sets the record rate).
//    Figures: CPU of the console (the process without the module's and the
//    helper's threads), records a second, paints of the table a second and
//    the longest stall of the event loop.
// 2. A window holding 100,000 records: time to scroll, page, filter, search
//    and take a batch of new records (the oldest dropping), each with its paint.
//
// Offscreen Qt unless a display is given; runs in private state and config
// folders. usage: bench_session_log [seconds]   (default 10)
#include "console_ui.h"
#include "d_cmdora.h"
#include "session_log.h"
#include "session_log_window.h"
#include "settings.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QEventLoop>
#include <QKeyEvent>
#include <QLineEdit>
#include <QScrollBar>
#include <QTableView>
#include <QTemporaryDir>
#include <QTimer>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <random>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;
constexpr const char* kAddress = "127.0.9.1";
constexpr int kRate = 10000;     // chunks a second
constexpr double kPauseMs = 100; // what an operator sees as a pause

class BenchUi : public ConsoleUi {
public:
    void messageBox(QWidget*, const QString&, const QString&, Icon) override {}
    QString saveFileName(QWidget*, const QString&, const QString&, const QString&) override { return {}; }
    QString openFileName(QWidget*, const QString&, const QString&) override { return {}; }
    void sleepMs(int ms) override { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }
    bool awaitMs(int ms, const std::function<bool(int)>& ready) override {
        for (int left = ms; left > 0; left -= 10)
            if (ready(std::min(left, 10)))
                return true;
        return false;
    }
    int sendTraceRecord(const QByteArray&) override { return 0; }
};

double threadCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

double processCpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

double msSince(Clock::time_point t0) {
    return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

// Counts paints of a widget.
class PaintCounter : public QObject {
public:
    int paints = 0;
    bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == QEvent::Paint)
            ++paints;
        return false;
    }
};

// The flooding module: greets (id 1, style 5), then sends chunks at kRate for `seconds`.
class FloodModule {
public:
    explicit FloodModule(int seconds) {
        m_Listen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const int on = 1;
        ::setsockopt(m_Listen, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(LUMO_MODULE_PORT);
        ::inet_pton(AF_INET, kAddress, &a.sin_addr);
        if (::bind(m_Listen, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(m_Listen, 1) != 0) {
            std::perror("bench_session_log: listen (run it in a private network namespace?)");
            std::exit(1);
        }
        m_Thread = std::thread([this, seconds] { run(seconds); });
    }
    ~FloodModule() {
        m_Stop = true;
        m_Thread.join();
        ::close(m_Listen);
    }
    void start() { m_Go = true; }
    bool done() const { return m_Done; }
    long chunks() const { return m_Chunks; }
    double cpu() const { return m_Cpu; }

private:
    void run(int seconds) {
        const int conn = ::accept4(m_Listen, nullptr, nullptr, SOCK_CLOEXEC);
        const double cpu0 = threadCpuSeconds();
        const int on = 1;
        ::setsockopt(conn, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        const unsigned char greeting[7] = {1, 5, 0, 0, 0, 0, 0};
        ::send(conn, greeting, sizeof greeting, MSG_NOSIGNAL);
        while (!m_Go && !m_Stop)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        const auto start = Clock::now();
        const long total = long(seconds) * kRate;
        unsigned char chunk[24];
        for (long i = 0; i < total && !m_Stop; ++i) {
            // paced: chunk i leaves at i / kRate seconds
            std::this_thread::sleep_until(start + std::chrono::microseconds(i * 1000000 / kRate));
            std::fill(std::begin(chunk), std::end(chunk), static_cast<unsigned char>(i));
            if (::send(conn, chunk, sizeof chunk, MSG_NOSIGNAL) != sizeof chunk)
                break;
            ++m_Chunks;
        }
        m_Cpu = threadCpuSeconds() - cpu0;
        m_Done = true;
        while (!m_Stop)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        ::close(conn);
    }
    int m_Listen = -1;
    std::thread m_Thread;
    std::atomic<bool> m_Go{false}, m_Stop{false}, m_Done{false};
    std::atomic<long> m_Chunks{0};
    std::atomic<double> m_Cpu{0};
};

struct FloodFigures {
    double seconds = 0, floodSeconds = 0, consoleCores = 0, uiCores = 0, paintsPerSecond = 0, maxStallMs = 0;
    long chunks = 0;
    uint64_t records = 0;
};

enum class Source { Tap, Link };

// Reports kRate received chunks a second on the tap for `seconds`, from its own thread.
class TapFlood {
public:
    TapFlood(CLumo_Net& net, int seconds) : m_Net(net), m_Seconds(seconds) {}
    ~TapFlood() {
        if (m_Thread.joinable())
            m_Thread.join();
    }
    void start() {
        m_Thread = std::thread([this] {
            const std::wstring where = L"TCP 127.0.9.1:20036";
            unsigned char chunk[24];
            const auto start = Clock::now();
            const long total = long(m_Seconds) * kRate;
            for (long i = 0; i < total; ++i) {
                std::this_thread::sleep_until(start + std::chrono::microseconds(i * 1000000 / kRate));
                std::fill(std::begin(chunk), std::end(chunk), static_cast<unsigned char>(i));
                LumoTapRecord r;
                r.kind = LumoTapKind::Received;
                r.link = LumoTapLink::Tcp;
                r.where = where;
                r.bytes = chunk;
                r.size = sizeof chunk;
                m_Net.m_hTap(r);
                ++m_Chunks;
            }
            m_Done = true;
        });
    }
    bool done() const { return m_Done; }
    long chunks() const { return m_Chunks; }

private:
    CLumo_Net& m_Net;
    int m_Seconds;
    std::thread m_Thread;
    std::atomic<bool> m_Done{false};
    std::atomic<long> m_Chunks{0};
};

// Runs the event loop until done() holds.
template <typename Done> void runUntil(Done done) {
    QEventLoop loop;
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, [&] {
        if (done())
            loop.quit();
    });
    check.start(20);
    loop.exec();
}

FloodFigures flood(Source source, bool logOn, int seconds) {
    std::unique_ptr<FloodModule> module;
    if (source == Source::Link)
        module = std::make_unique<FloodModule>(seconds);
    D_CMDORA dlg;
    dlg.show();
    if (!logOn) {
        // nobody listens: no file, nothing collected
        dlg.m_SessionLog->recorder().SetFile(nullptr);
        dlg.m_SessionLog->recorder().SetCollecting(false);
    }
    dlg.m_SessionLog->showWindow();
    SessionLogWindow* window = dlg.m_SessionLog->window();
    window->resize(1200, 700);
    PaintCounter paints;
    window->m_View->viewport()->installEventFilter(&paints);

    std::wstring address(kAddress, kAddress + std::strlen(kAddress));
    unsigned char reply[8] = {};
    if (module && dlg.m_Net.NetConnect_IPEPC(address.data(), reply, 0) != 1) {
        std::fprintf(stderr, "bench_session_log: no link to the flooding module\n");
        std::exit(1);
    }
    TapFlood tapFlood(dlg.m_Net, seconds);
    // Takes every publication at once, as a Send's wait does.
    std::atomic<bool> stop{false};
    std::atomic<double> takerCpu{0};
    std::thread taker([&] {
        const double cpu0 = threadCpuSeconds();
        while (!stop && module) {
            if (dlg.m_Net.m_RecvReady.load(std::memory_order_acquire)) {
                dlg.m_Net.m_RecvLen.store(0, std::memory_order_relaxed);
                dlg.m_Net.m_RecvReady.store(0, std::memory_order_release);
            } else {
                std::this_thread::sleep_for(std::chrono::microseconds(20));
            }
        }
        takerCpu = threadCpuSeconds() - cpu0;
    });

    // The event loop's pulse: a 10-ms timer whose lateness is a stall.
    double maxStall = 0;
    auto last = Clock::now();
    QTimer pulse;
    QObject::connect(&pulse, &QTimer::timeout, [&] {
        const double gap = msSince(last);
        maxStall = std::max(maxStall, gap - 10);
        last = Clock::now();
    });
    QApplication::processEvents();
    const uint64_t seq0 = [&] {
        dlg.m_SessionLog->drain();
        return uint64_t(dlg.m_SessionLog->model().held());
    }();
    const int paints0 = paints.paints;
    const double cpu0 = processCpuSeconds(), ui0 = threadCpuSeconds();
    const auto t0 = Clock::now();
    if (module)
        module->start();
    else
        tapFlood.start();
    last = Clock::now();
    pulse.start(10);
    runUntil([&] { return module ? module->done() : tapFlood.done(); });
    const double floodSeconds = msSince(t0) / 1000;
    const auto settled = Clock::now() + std::chrono::milliseconds(200); // the last records reach the window
    runUntil([&] { return Clock::now() >= settled; });
    pulse.stop();
    FloodFigures f;
    f.seconds = msSince(t0) / 1000; // the flood and the last drains after it
    f.floodSeconds = floodSeconds;
    const double uiCpu = threadCpuSeconds() - ui0;
    stop = true;
    taker.join();
    const double processCpu = processCpuSeconds() - cpu0;
    f.consoleCores = (processCpu - (module ? module->cpu() : 0) - takerCpu) / f.seconds;
    f.uiCores = uiCpu / f.seconds;
    f.paintsPerSecond = (paints.paints - paints0) / f.seconds;
    f.maxStallMs = maxStall;
    f.chunks = module ? module->chunks() : tapFlood.chunks();
    dlg.m_SessionLog->drain();
    f.records = dlg.m_SessionLog->model().held() + dlg.m_SessionLog->model().dropped() - seq0;
    if (module)
        dlg.m_Net.CloseNet();
    return f;
}

// ---- a window holding 100,000 records ----

std::vector<session::Record> makeRecords(size_t n) {
    std::vector<session::Record> out(n);
    std::mt19937 rng(7);
    const int64_t now = QDateTime::currentMSecsSinceEpoch();
    for (size_t i = 0; i < n; ++i) {
        session::Record& r = out[i];
        r.seq = i + 1;
        r.wallMs = now - int64_t(n - i);
        r.sinceOpenMs = int64_t(i);
        r.link = "TCP 10.0.0.5:20036";
        switch (i % 10) {
        case 0:
            r.kind = session::RecordKind::Link;
            r.text = "module ID 5 style 17";
            break;
        case 1:
            r.kind = session::RecordKind::Send;
            r.text = "za " + std::to_string(i);
            r.note = "answered in 12 ms; status \"Ack : OK\"";
            r.bytes = {0x55, 0xAA, 0x58, 0xA7, 0x05, 0xFA, 0x07, 0x7A, 0x61};
            break;
        default:
            r.kind = i % 2 ? session::RecordKind::Rx : session::RecordKind::Tx;
            r.bytes.resize(16 + rng() % 48);
            for (uint8_t& b : r.bytes)
                b = uint8_t(rng());
            break;
        }
    }
    out[n - 3].text = "needle near the end";
    return out;
}

struct Timing {
    double mean = 0, max = 0;
    int runs = 0;
    void add(double ms) {
        mean = (mean * runs + ms) / (runs + 1);
        max = std::max(max, ms);
        ++runs;
    }
    void print(const char* what) const {
        std::printf("  %-44s runs %4d  mean %7.2f ms  max %7.2f ms  %s\n", what, runs, mean, max,
                    max < kPauseMs ? "no visible pause" : "VISIBLE PAUSE");
    }
};

void bigWindow() {
    constexpr size_t kHeld = 100000;
    D_CMDORA dlg;
    SessionLogModel& model = dlg.m_SessionLog->model();
    dlg.m_SessionLog->recorder().SetCollecting(false); // only the records below
    std::vector<session::Record> records = makeRecords(kHeld);
    auto t0 = Clock::now();
    model.append(records);
    const double fillMs = msSince(t0);
    dlg.m_SessionLog->showWindow();
    SessionLogWindow* w = dlg.m_SessionLog->window();
    w->resize(1200, 800);
    QApplication::processEvents();
    QTableView* view = w->m_View;
    auto paintNow = [view] { view->viewport()->repaint(); };
    std::printf("window holding %zu records (filled in %.1f ms):\n", model.held(), fillMs);

    Timing jump, page, filter, search, batch;
    std::mt19937 rng(3);
    QScrollBar* bar = view->verticalScrollBar();
    for (int i = 0; i < 200; ++i) {
        t0 = Clock::now();
        bar->setValue(int(rng() % unsigned(bar->maximum() + 1)));
        paintNow();
        jump.add(msSince(t0));
    }
    view->setFocus();
    for (int i = 0; i < 200; ++i) {
        QKeyEvent key(QEvent::KeyPress, Qt::Key_PageDown, Qt::NoModifier);
        t0 = Clock::now();
        QApplication::sendEvent(view, &key);
        paintNow();
        page.add(msSince(t0));
    }
    for (QCheckBox* box :
         {w->m_Bytes, w->m_Events, w->m_Transactions, w->m_Bytes, w->m_Events, w->m_Transactions}) {
        t0 = Clock::now();
        box->toggle();
        paintNow();
        filter.add(msSince(t0));
    }
    for (int d : {1, 2, 0}) {
        t0 = Clock::now();
        w->m_Direction->setCurrentIndex(d);
        paintNow();
        filter.add(msSince(t0));
    }
    for (const char* text : {"needle", "5A A5 01 FF", "no such text anywhere"}) {
        view->setCurrentIndex(model.index(0, 0));
        w->m_Search->setText(QString::fromLatin1(text));
        t0 = Clock::now();
        w->findNext(true);
        paintNow();
        search.add(msSince(t0));
    }
    bar->setValue(bar->maximum());
    for (int i = 0; i < 100; ++i) {
        std::vector<session::Record> more = makeRecords(500); // one drain at 10,000 a second
        t0 = Clock::now();
        model.append(more);
        paintNow();
        batch.add(msSince(t0));
    }
    jump.print("jump to a random place and paint");
    page.print("Page Down and paint");
    filter.print("change a filter and paint");
    search.print("search all records and paint");
    batch.print("take 500 new records at the cap and paint");
    std::printf("  records held after the batches: %zu (cap %zu), %llu dropped\n", model.held(), model.cap(),
                static_cast<unsigned long long>(model.dropped()));
}

} // namespace

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir state, config;
    qputenv("XDG_STATE_HOME", state.path().toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
    g_SettingsPath = config.filePath(QStringLiteral("CMDORA_Unicode.bin")); // stays absent: nothing is chosen
    QApplication app(argc, argv);
    BenchUi ui;
    setConsoleUi(&ui);

    for (Source source : {Source::Tap, Source::Link}) {
        std::printf("flood (%s): %d chunks of 24 bytes a second for %d s, Session Log window open\n",
                    source == Source::Tap ? "tap" : "link", kRate, seconds);
        const FloodFigures off = flood(source, false, seconds);
        const FloodFigures on = flood(source, true, seconds);
        for (const auto& [name, f] : {std::pair{"log off", off}, std::pair{"log on ", on}})
            std::printf("  %s  chunks %6ld  records %6llu (%5.0f/s)  console %.3f cores (UI thread %.3f)  "
                        "paints %5.1f/s  longest stall %5.1f ms\n",
                        name, f.chunks, static_cast<unsigned long long>(f.records),
                        double(f.records) / f.floodSeconds, f.consoleCores, f.uiCores, f.paintsPerSecond,
                        f.maxStallMs);
        std::printf("  the log costs %.3f cores at %.0f records/s; console under 1 core and painting: %s\n",
                    on.consoleCores - off.consoleCores, double(on.records) / on.floodSeconds,
                    on.consoleCores < 1.0 && on.paintsPerSecond >= 5 && on.maxStallMs < kPauseMs ? "yes"
                                                                                                 : "NO");
    }
    bigWindow();
    setConsoleUi(nullptr);
    return 0;
}
