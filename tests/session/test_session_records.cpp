// The session log without a window: the lines a record makes, the recorder's
// link state and times under reports from two threads, and the log file's
// naming, clashes and pruning.
#include "log/log_file.h"
#include "log/recorder.h"
#include "utf8.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <set>
#include <thread>

namespace fs = std::filesystem;
using session::Record;
using session::RecordKind;

namespace {

Record R(RecordKind kind, std::string link, std::vector<uint8_t> bytes = {}, std::string text = {},
         std::string note = {}) {
    Record r;
    r.kind = kind;
    r.link = std::move(link);
    r.bytes = std::move(bytes);
    r.text = std::move(text);
    r.note = std::move(note);
    return r;
}

LumoTapRecord Event(LumoTapEvent event, LumoTapLink link, const std::wstring& where, int error = 0) {
    LumoTapRecord t;
    t.event = event;
    t.link = link;
    t.where = where;
    t.error = error;
    return t;
}

std::vector<std::string> ReadLines(const std::string& path) {
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

struct TempDir {
    fs::path path = fs::temp_directory_path() / ("session-log-test-" + std::to_string(::getpid()));
    TempDir() { fs::remove_all(path); }
    ~TempDir() { fs::remove_all(path); }
};

} // namespace

TEST(SessionLogLine, OneLinePerKind) {
    const std::string stamp = "2026-12-07T14:31:22.123";
    Record send = R(RecordKind::Send, "TCP 10.0.0.5:20036", {0x55, 0xAA}, "za \"1\"", "answered in 12 ms");
    send.answer = {'O', 'K', 0x0D, 0x0A};
    const std::pair<Record, std::string> rows[] = {
        {R(RecordKind::Tx, "TCP 10.0.0.5:20036", {0x55, 0xAA, 0x38, 0xC7, 0x7A}),
         "tx TCP 10.0.0.5:20036 55 AA 38 C7 7A |U.8.z|"},
        {R(RecordKind::Tx, "TCP 10.0.0.5:20036", {0x01}, {}, "send failed: broken pipe"),
         "tx TCP 10.0.0.5:20036 01 |.| send failed: broken pipe"},
        {R(RecordKind::Rx, "COM1 /dev/ttyUSB0", {0x4F, 0x2E, 0x4B, 0x0D, 0x0A, 0x3E}),
         "rx COM1 /dev/ttyUSB0 4F 2E 4B 0D 0A 3E |O.K..>|"},
        {R(RecordKind::Rx, "UDP 10.0.0.5:20037"), "rx UDP 10.0.0.5:20037 ||"},
        {R(RecordKind::Link, "TCP 10.0.0.5:20036", {}, "module ID 5 style 17"),
         "link TCP 10.0.0.5:20036 module ID 5 style 17"},
        {R(RecordKind::Progress, "COM1 /dev/ttyS0", {}, "COM1 ------------CloseCOM"),
         "progress COM1 /dev/ttyS0 COM1 ------------CloseCOM"},
        {R(RecordKind::Box, "", {}, "Currently unable. \r\nThis \"message\"", "WARNING"),
         "box - \"WARNING\" \"Currently unable. \\r\\nThis \\\"message\\\"\""},
        {send,
         "send TCP 10.0.0.5:20036 \"za \\\"1\\\"\" answered in 12 ms; sent 55 AA |U.|; answer 4F 4B 0D 0A "
         "|OK..|"},
        {R(RecordKind::Test, "", {}, "test timer started"), "test - test timer started"},
    };
    for (const auto& [record, line] : rows)
        EXPECT_EQ(session::FormatLine(record, stamp), stamp + " " + line);
    EXPECT_EQ(lumo::ToUtf8(std::u16string(u"\u00e9\U0001F600\xD800")),
              "\xC3\xA9\xF0\x9F\x98\x80\xEF\xBF\xBD");
}

TEST(SessionLogRecorder, LinkStateTimesAndWords) {
    session::Recorder rec;
    rec.SetCollecting(true);
    const std::wstring udp = L"UDP 10.0.0.5:20037", tcp = L"TCP 10.0.0.5:20036";
    rec.Tap(Event(LumoTapEvent::ConnectStarted, LumoTapLink::Udp, udp));
    rec.Tap(Event(LumoTapEvent::ConnectStarted, LumoTapLink::Tcp, tcp));
    rec.Tap(Event(LumoTapEvent::Connected, LumoTapLink::Tcp, tcp));
    LumoTapRecord greeting = Event(LumoTapEvent::Greeting, LumoTapLink::Tcp, tcp);
    greeting.id = 5;
    greeting.style = 17;
    rec.Tap(greeting);
    rec.Tap(Event(LumoTapEvent::Closed, LumoTapLink::Tcp, tcp));
    EXPECT_FALSE(rec.State().open);
    rec.Tap(Event(LumoTapEvent::Connected, LumoTapLink::Udp, udp));
    session::LinkState s = rec.State();
    EXPECT_TRUE(s.open && s.kind == session::LinkKind::Udp && s.name == "UDP 10.0.0.5:20037");
    EXPECT_EQ(s.moduleId, 5); // learnt from the probe before the datagram socket
    rec.Tap(Event(LumoTapEvent::LinkLost, LumoTapLink::Udp, udp, ECONNRESET));
    EXPECT_TRUE(rec.State().lost);

    session::SendResult send;
    send.command = u"za 1";
    send.link = u"UDP 10.0.0.9:20037"; // the address field changed; the socket did not
    send.outcome = session::SendOutcome::TimedOut;
    rec.SendDone(send);
    rec.Tap(Event(LumoTapEvent::ConnectStarted, LumoTapLink::Tcp, L"TCP 10.0.0.6:20036"));
    rec.Tap(Event(LumoTapEvent::ConnectFailed, LumoTapLink::Tcp, L"TCP 10.0.0.6:20036", ECONNREFUSED));

    std::vector<Record> got;
    EXPECT_EQ(rec.Take(got), 0u);
    ASSERT_EQ(got.size(), 10u);
    EXPECT_EQ(got[0].sinceOpenMs, -1); // no link open yet
    EXPECT_EQ(got[2].sinceOpenMs, 0);  // the probe's "connected"
    EXPECT_GE(got[4].sinceOpenMs, 0);  // its "closed" still counts from it
    EXPECT_EQ(got[5].sinceOpenMs, 0);  // the datagram link opened anew
    EXPECT_EQ(got[6].text, "link lost: reset by the module");
    EXPECT_EQ(got[7].link, "UDP 10.0.0.5:20037");
    EXPECT_EQ(got[7].note, "timed out");
    EXPECT_EQ(got[9].text, "connect failed: refused");
    for (size_t i = 1; i < got.size(); ++i)
        EXPECT_EQ(got[i].seq, got[i - 1].seq + 1);
}

TEST(SessionLogRecorder, TwoThreadsOneOrderBoundedWaiting) {
    TempDir dir;
    session::Recorder rec;
    rec.SetFile(std::make_unique<session::LogFile>(dir.path.string(), "2026-12-07_14-31-22.log"));
    rec.SetCollecting(true, 1000);
    int wakes = 0;
    rec.SetWake([&wakes] { ++wakes; });
    constexpr int kEach = 20000;
    auto report = [&rec](LumoTapKind kind) {
        for (int i = 0; i < kEach; ++i) {
            const unsigned char b[2] = {static_cast<unsigned char>(i >> 8), static_cast<unsigned char>(i)};
            LumoTapRecord t;
            t.kind = kind;
            t.link = LumoTapLink::Tcp;
            t.where = L"TCP 127.0.0.1:20036";
            t.bytes = b;
            t.size = 2;
            rec.Tap(t);
        }
    };
    std::thread rx(report, LumoTapKind::Received);
    report(LumoTapKind::Sent);
    rx.join();
    std::vector<Record> got;
    EXPECT_EQ(rec.Take(got), 2u * kEach - 1000);
    ASSERT_EQ(got.size(), 1000u);
    EXPECT_EQ(got.back().seq, 2u * kEach);
    EXPECT_EQ(wakes, 1); // nobody took in between
    const std::vector<std::string> lines = ReadLines(dir.path / "2026-12-07_14-31-22.log");
    ASSERT_EQ(lines.size(), 2u * kEach);
    EXPECT_EQ(lines.back().substr(24), session::FormatLine(got.back(), "").substr(1));
}

TEST(SessionLogFile, MadeWithTheFirstLineNamedPrunedAndReopened) {
    TempDir dir;
    const std::string logs = (dir.path / "Norvane_Lumo" / "logs").string();
    fs::create_directories(logs);
    for (int i = 0; i < 55; ++i) // older sessions, and a file that is not a session log
        std::ofstream(logs + "/2026-11-" + std::to_string(10 + i / 24) + "_" + (i % 24 < 10 ? "0" : "") +
                      std::to_string(i % 24) + "-00-00.log");
    std::ofstream(logs + "/notes.txt");
    const std::string name = session::LogFileName(0);
    EXPECT_EQ(name.size(), std::string("1970-01-01_00-00-00.log").size());
    std::ofstream(logs + "/2026-12-07_14-31-22.log") << "another console\n";

    session::LogFile file(logs, "2026-12-07_14-31-22.log");
    EXPECT_TRUE(file.WriteLine("first"));
    EXPECT_EQ(file.Path(), logs + "/2026-12-07_14-31-22-2.log"); // the name was taken
    file.Close();
    EXPECT_TRUE(file.WriteLine("second"));
    EXPECT_EQ(ReadLines(file.Path()), (std::vector<std::string>{"first", "second"}));

    std::set<std::string> left;
    for (const auto& e : fs::directory_iterator(logs))
        left.insert(e.path().filename().string());
    EXPECT_EQ(left.size(), session::kLogFilesKept + 1);
    EXPECT_TRUE(left.count("notes.txt") && left.count("2026-12-07_14-31-22.log"));
    EXPECT_FALSE(left.count("2026-11-10_00-00-00.log")); // the oldest went

    session::LogFile unwritable("/proc/no-such-folder", "x.log");
    EXPECT_FALSE(unwritable.WriteLine("x"));
    EXPECT_NE(unwritable.Error(), 0);

    ::setenv("XDG_STATE_HOME", "/state", 1);
    EXPECT_EQ(session::LogDirectory(), "/state/Norvane_Lumo/logs");
    ::setenv("XDG_STATE_HOME", "relative", 1);
    ::setenv("HOME", "/home/op", 1);
    EXPECT_EQ(session::LogDirectory(), "/home/op/.local/state/Norvane_Lumo/logs");
}
