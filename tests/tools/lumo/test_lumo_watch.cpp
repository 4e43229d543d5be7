// lumo watch and lumo exporter as people run them, against simulators on
// loopback addresses of their own (127.24.x.y): --once for scripts, JSON
// lines, a module that hangs among healthy ones, the table on a
// pseudo-terminal ended by q and Ctrl+C, and the exporter's metrics read by
// prometheus_client's own parser, its page and its errors.
#include "lumo_program.h"
#include "metrics.h"
#include "sim_process.h"
#include "watch.h"
#include "watch_text.h"

#include <gtest/gtest.h>

#include <pty.h>
#include <sys/ioctl.h>

#include <cstdio>

using namespace simtest;
using namespace lumotest;

namespace {

// What parse_metrics.py understood of a text ("-") or a URL, and its status.
Outcome ParsedMetrics(const std::string& source, const std::string& text = "") {
    const std::string input = TempFile("metrics.txt", text);
    return RunProgram(LUMO_PYTHON3, {LUMO_PARSE_METRICS, source}, {}, input);
}

// Every line of out that holds what.
std::vector<std::string> LinesWith(const std::string& out, const std::string& what) {
    std::vector<std::string> lines;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);)
        if (line.find(what) != std::string::npos)
            lines.push_back(line);
    return lines;
}

// lumo run on a pseudo-terminal of 100 x 20 as its standard input, output
// and error; what it draws is read from the master side.
class TerminalLumo {
public:
    explicit TerminalLumo(const std::vector<std::string>& args) {
        winsize size{};
        size.ws_col = 100;
        size.ws_row = 20;
        int slave = -1;
        if (openpty(&m_Master, &slave, nullptr, nullptr, &size) < 0)
            return;
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        for (int fd = 0; fd < 3; ++fd)
            posix_spawn_file_actions_adddup2(&fa, slave, fd);
        posix_spawn_file_actions_addclose(&fa, m_Master);
        std::vector<std::string> all{LUMO_PROGRAM};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (auto& a : all)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        if (posix_spawn(&m_Pid, LUMO_PROGRAM, &fa, nullptr, argv.data(), environ) != 0)
            m_Pid = -1;
        posix_spawn_file_actions_destroy(&fa);
        close(slave);
    }
    ~TerminalLumo() {
        if (m_Pid > 0) {
            kill(m_Pid, SIGKILL);
            waitpid(m_Pid, nullptr, 0);
        }
        if (m_Master >= 0)
            close(m_Master);
    }
    // Reads until what has been drawn since the last Until holds every text (30 s at most).
    bool Until(const std::vector<std::string>& texts) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        for (;;) {
            if (std::all_of(texts.begin(), texts.end(),
                            [&](const std::string& t) { return m_Fresh.find(t) != std::string::npos; })) {
                m_Fresh.clear();
                return true;
            }
            if (!ReadMore(deadline))
                return false;
        }
    }
    void Type(const std::string& keys) { ASSERT_EQ(write(m_Master, keys.data(), keys.size()), ssize_t(keys.size())); }
    // The exit status once it has ended (reading what it draws meanwhile), -1 if it has not in 30 s.
    int Ended() {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        int st = 0;
        while (waitpid(m_Pid, &st, WNOHANG) == 0)
            if (!ReadMore(deadline) && std::chrono::steady_clock::now() > deadline)
                return -1;
        m_Pid = -1;
        while (ReadMore(std::chrono::steady_clock::now())) {
        }
        return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    }
    const std::string& All() const { return m_All; }

private:
    bool ReadMore(std::chrono::steady_clock::time_point deadline) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        pollfd p{m_Master, POLLIN, 0};
        if (poll(&p, 1, int(std::clamp<long long>(left.count(), 0, 100))) <= 0)
            return std::chrono::steady_clock::now() < deadline;
        char buf[4096];
        const ssize_t n = read(m_Master, buf, sizeof buf);
        if (n <= 0)
            return false; // the slave side is closed
        m_All.append(buf, size_t(n));
        m_Fresh.append(buf, size_t(n));
        return true;
    }
    int m_Master = -1;
    pid_t m_Pid = -1;
    std::string m_All, m_Fresh;
};

} // namespace

// One poll per target as a JSON line each (on a pipe, with or without
// --json); the status says whether every module was up.
TEST(LumoWatch, OnceTellsWhetherEveryModuleIsUp) {
    ChildProcess sim;
    ASSERT_TRUE(sim.Start(LUMO_MODULE_SIM,
                          {"--address", "127.24.1.1-127.24.1.2", "--tcp", "--id", "7", "--id-step", "1"}));
    const Outcome up = Lumo({"watch", "--once", "127.24.1.1-2"});
    EXPECT_EQ(up.status, 0) << up.err;
    const std::vector<std::string> lines = LinesWith(up.out, "{");
    ASSERT_EQ(lines.size(), 2u) << up.out;
    const std::string& second = lines[0].find("127.24.1.2") != std::string::npos ? lines[0] : lines[1];
    EXPECT_NE(second.find("\"poll\":1,\"target\":\"127.24.1.2\",\"up\":true,\"reason\":null,\"message\":null,"
                          "\"id\":8,\"style\":17,\"signal\":\"Signal 1920x1080 60Hz\","
                          "\"info\":\"Device ID 8 Style 17 Ver 1.00\",\"round_trip_ms\":"),
              std::string::npos)
        << second;

    const Outcome down = Lumo({"watch", "--once", "--json", "--jobs", "1", "127.24.1.1", "127.24.1.3"});
    EXPECT_EQ(down.status, 1) << down.err;
    EXPECT_NE(down.out.find("\"target\":\"127.24.1.3\",\"up\":false,\"reason\":\"refused\",\"message\":\"refused\","
                            "\"id\":null"),
              std::string::npos)
        << down.out;
    EXPECT_EQ(LinesWith(down.out, "\"up\":true").size(), 1u) << down.out;
}

// A module that never greets holds up its own row only: the healthy one
// beside it is polled again and again meanwhile; SIGTERM ends the watch.
TEST(LumoWatch, HangingModuleDelaysOnlyItsOwnRow) {
    ChildProcess healthy, silent;
    ASSERT_TRUE(healthy.Start(LUMO_MODULE_SIM, {"--address", "127.24.2.1", "--tcp"}));
    ASSERT_TRUE(silent.Start(LUMO_MODULE_SIM, {"--address", "127.24.2.2", "--tcp", "--misbehave", "silent"}));
    ChildProcess watch;
    ASSERT_TRUE(watch.Start(LUMO_PROGRAM, {"watch", "--interval", "0.1", "127.24.2.1-2"}, 0, false));
    int healthyPolls = 0;
    std::string line;
    while (watch.ReadLine(&line, 30000) && line.find("127.24.2.2") == std::string::npos)
        if (line.find("\"target\":\"127.24.2.1\",\"up\":true") != std::string::npos)
            ++healthyPolls;
    EXPECT_NE(line.find("\"poll\":1,\"target\":\"127.24.2.2\",\"up\":false,\"reason\":\"no_greeting\""),
              std::string::npos)
        << line;
    EXPECT_GE(healthyPolls, 2);
    EXPECT_EQ(watch.Stop(20000), 128 + SIGTERM);
}

// On a terminal: the table drawn on the alternate screen and redrawn in
// place from its top; q ends it with status 0, Ctrl+C with 130, and the
// terminal is given back either way.
TEST(LumoWatch, TableOnTerminalEndsOnQOrCtrlC) {
    ChildProcess sim;
    ASSERT_TRUE(sim.Start(LUMO_MODULE_SIM, {"--address", "127.24.3.1", "--tcp", "--id", "5"}));
    for (const char* key : {"q", "\x03"}) {
        TerminalLumo watch({"watch", "--interval", "0.2", "127.24.3.1", "127.24.3.2"});
        ASSERT_TRUE(watch.Until({"ADDRESS", "127.24.3.1", " up ", "Signal 1920x1080 60Hz", "127.24.3.2",
                                 "refused", "q quits"}))
            << watch.All();
        ASSERT_TRUE(watch.Until({"\x1b[H", "127.24.3.1"})) << watch.All(); // drawn again
        watch.Type(key);
        EXPECT_EQ(watch.Ended(), key[0] == 'q' ? 0 : 130);
        const std::string& all = watch.All();
        EXPECT_EQ(all.rfind("\x1b[?1049h", 0), 0u);
        EXPECT_EQ(Count(all, "\x1b[2J"), 1u); // cleared once: every later frame draws over the last
        EXPECT_NE(all.find("\x1b[?25h\x1b[?1049l"), std::string::npos);
    }
}

// The metrics as prometheus_client reads them, from the latest polls of
// two modules up and one down; the page; a stop by SIGTERM.
TEST(LumoExporter, ServesMetricsAndPage) {
    ChildProcess sim;
    ASSERT_TRUE(sim.Start(LUMO_MODULE_SIM,
                          {"--address", "127.24.4.1-127.24.4.2", "--tcp", "--id", "3", "--id-step", "1"}));
    ChildProcess exporter;
    ASSERT_TRUE(exporter.Start(LUMO_PROGRAM,
                               {"exporter", "--listen", "127.24.4.100:9725", "--interval", "0.2", "127.24.4.1-3"},
                               0, false));
    const std::string url = "http://127.24.4.100:9725/";
    Outcome parsed;
    for (int i = 0; i < 300; ++i) { // until the first whole round is in
        parsed = ParsedMetrics(url + "metrics");
        if (parsed.status == 0 && parsed.out.find("lumo_poll_duration_seconds{} ") != std::string::npos)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    ASSERT_EQ(parsed.status, 0) << parsed.out << parsed.err;
    const std::string& m = parsed.out;
    for (const char* line :
         {"# content-type text/plain; version=0.0.4; charset=utf-8", "# lumo_module_up gauge",
          "lumo_module_up{target=127.24.4.1} 1.0", "lumo_module_up{target=127.24.4.3} 0.0",
          "lumo_module_info{id=4,style=17,target=127.24.4.2,version=1.00} 1.0",
          "lumo_module_signal_info{signal=Signal 1920x1080 60Hz,target=127.24.4.1} 1.0",
          "# lumo_poll_errors counter", "lumo_poll_errors_total{reason=refused,target=127.24.4.3}",
          "# lumo_poll_duration_seconds gauge", "# lumo_module_last_change_timestamp_seconds gauge"})
        EXPECT_NE(m.find(line), std::string::npos) << line << "\n" << m;
    EXPECT_EQ(LinesWith(m, "lumo_module_round_trip_seconds{").size(), 2u) << m;
    EXPECT_EQ(LinesWith(m, "127.24.4.3").size(), 3u) << m; // up, last change, errors: nothing it did not say

    const Outcome page = RunProgram("/usr/bin/curl", {"-s", "-i", url});
    EXPECT_NE(page.out.find("Content-Type: text/html; charset=utf-8"), std::string::npos) << page.out;
    EXPECT_NE(page.out.find("<meta http-equiv=\"refresh\" content=\"1\">"), std::string::npos);
    EXPECT_NE(page.out.find("<td>127.24.4.2</td><td>up</td><td class=\"number\">4</td>"), std::string::npos)
        << page.out;
    EXPECT_NE(page.out.find("<tr class=\"down"), std::string::npos);
    if (std::string(LUMO_XMLLINT).empty()) {
        ADD_FAILURE() << "xmllint is not installed: run scripts/install-deps.sh";
    } else { // well formed: every element closed where it was opened
        const std::string html = TempFile("page.html", page.out.substr(page.out.find("<!DOCTYPE")));
        const Outcome lint = RunProgram(LUMO_XMLLINT, {"--html", "--noout", html});
        EXPECT_EQ(lint.status, 0) << lint.err;
        EXPECT_EQ(lint.err, "");
    }
    const Outcome missing = RunProgram("/usr/bin/curl", {"-s", "-o", "/dev/null", "-w", "%{http_code}", url + "x"});
    EXPECT_EQ(missing.out, "404");

    EXPECT_EQ(exporter.Stop(20000), 0);
}

// A label value with a quote, a backslash and a line feed still parses
// and reads back as it was; a port taken is status 2 with the reason.
TEST(LumoExporter, OddSignalTextsAndTakenPort) {
    lumo_cli::WatchView view;
    view.rows.resize(1);
    lumo_cli::ModuleRow& row = view.rows[0];
    row.target = "127.24.5.1";
    row.polls = 1;
    row.id = 1;
    row.style = 17;
    row.info = "Device ID 1 Style 17 Ver 2.\"0\"";
    row.last.up = true;
    row.last.signal = "Signal \"A\\B\"\nnext";
    const Outcome parsed = ParsedMetrics("-", lumo_cli::MetricsText(view));
    ASSERT_EQ(parsed.status, 0) << parsed.out << parsed.err;
    EXPECT_NE(parsed.out.find("lumo_module_signal_info{signal=Signal \"A\\B\"\nnext,target=127.24.5.1} 1.0"),
              std::string::npos)
        << parsed.out;
    EXPECT_NE(parsed.out.find("version=2.\"0\"}"), std::string::npos) << parsed.out;

    Fd taken(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    const sockaddr_in at = Addr("127.24.5.100", 9725);
    ASSERT_EQ(bind(taken.Get(), reinterpret_cast<const sockaddr*>(&at), sizeof at), 0);
    ASSERT_EQ(listen(taken.Get(), 1), 0);
    const Outcome busy = Lumo({"exporter", "--listen", "127.24.5.100:9725", "127.24.5.1"});
    EXPECT_EQ(busy.status, 2);
    EXPECT_EQ(busy.err, "lumo: exporter: cannot listen on 127.24.5.100:9725: Address already in use\n");
    for (const std::vector<std::string>& bad :
         {std::vector<std::string>{"watch"}, {"watch", "--interval", "0.05", "127.24.5.1"},
          {"exporter", "--listen", "127.24.5.100", "127.24.5.1"}, {"exporter", "--once", "127.24.5.1"}})
        EXPECT_EQ(Lumo(bad).status, 64) << bad.back();
}

// What a row keeps across polls: when it last changed (not at a poll that
// found the same), the errors per reason, the id of a greeting that came;
// a poll of an older round than the row's last is dropped.
TEST(LumoWatch, RowsAcrossPolls) {
    using lumo_cli::WallClock;
    const WallClock::time_point t0 = WallClock::now();
    const auto at = [&](int s) { return t0 + std::chrono::seconds(s); };
    const auto poll = [](bool up, const std::string& signal) {
        lumo_cli::ModulePoll p;
        p.up = up;
        p.reason = up ? "" : "refused";
        p.id = up ? 3 : -1;
        p.style = up ? 17 : -1;
        p.signal = signal;
        return p;
    };
    lumo_cli::ModuleRow row;
    ASSERT_TRUE(ApplyPoll(row, poll(true, "Signal A"), 0, at(0)));
    EXPECT_FALSE(row.changed);
    ASSERT_TRUE(ApplyPoll(row, poll(true, "Signal A"), 1, at(5)));
    EXPECT_FALSE(row.changed);
    EXPECT_EQ(row.lastChange, at(0));
    ASSERT_TRUE(ApplyPoll(row, poll(false, ""), 2, at(10)));
    EXPECT_TRUE(row.changed);
    EXPECT_EQ(row.lastChange, at(10));
    EXPECT_EQ(row.id, 3); // no greeting: the last one known stays
    EXPECT_FALSE(ApplyPoll(row, poll(true, "Signal B"), 1, at(15)));
    ASSERT_TRUE(ApplyPoll(row, poll(false, ""), 3, at(20)));
    EXPECT_FALSE(row.changed);
    EXPECT_EQ(row.errors, (std::map<std::string, uint64_t>{{"refused", 2}}));
    EXPECT_EQ(lumo_cli::RowCells(row, at(80))[lumo_cli::kChanged], "1m10s");

    EXPECT_EQ(lumo_cli::ParseKeys("\x1b[Aq\x1b[6~\x1bOH\x1b"),
              (std::vector<int>{lumo_cli::kKeyUp, 'q', lumo_cli::kKeyPageDown, lumo_cli::kKeyHome, 0x1b}));
}

// A table taller than the terminal: the scroll stays within the rows, the
// footer says which are shown, and no line is wider than the terminal.
TEST(LumoWatch, FrameScrollsWithinTheRows) {
    lumo_cli::WatchView view;
    view.interval = std::chrono::seconds(5);
    for (int i = 1; i <= 30; ++i) {
        lumo_cli::ModuleRow row;
        row.target = "127.24.6." + std::to_string(i);
        view.rows.push_back(row);
    }
    size_t scroll = SIZE_MAX;
    const std::string frame = lumo_cli::TerminalFrame(view, lumo_cli::WallClock::now(), 60, 10, &scroll, false);
    EXPECT_EQ(scroll, 23u);
    EXPECT_EQ(frame.find("127.24.6.23 "), std::string::npos);
    EXPECT_NE(frame.find("127.24.6.30 "), std::string::npos);
    EXPECT_NE(frame.find("rows 24-30 of 30"), std::string::npos) << frame;
    std::istringstream lines(frame);
    int count = 0;
    for (std::string line; std::getline(lines, line, '\r'); ++count) {
        line = line.substr(line.find_first_not_of('\n'));
        if (line.rfind("\x1b[H", 0) == 0)
            line.erase(0, 3);
        const std::string text = line.substr(0, line.find("\x1b[K"));
        EXPECT_LE(std::count_if(text.begin(), text.end(), [](char c) { return (c & 0xC0) != 0x80; }), 60) << text;
    }
    EXPECT_EQ(count, 10);
}
