// The link session as a program without a window uses it: connect outcomes
// and Send records over TCP, the serial port and UDP against the simulator.
#include "answer_reading.h"
#include "frames.h"
#include "log/recorder.h"
#include "lumo_net.h"
#include "session.h"
#include "sim_process.h"
#include "tcp_answer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using namespace simtest;

namespace {

// Records what a person would see; pauses run at a tenth.
struct Front : session::FrontEnd {
    std::vector<std::u16string> statuses, boxes;
    std::vector<std::string> traces;
    int busy = 0, maxBusy = 0;
    long slept = 0; // milliseconds of pauses asked for
    void ShowStatus(const std::u16string& t) override { statuses.push_back(t); }
    void ShowBox(const std::u16string& t, const std::u16string& c, session::BoxIcon) override {
        boxes.push_back(c + u": " + t);
    }
    void Sleep(int ms) override {
        slept += ms;
        std::this_thread::sleep_for(std::chrono::microseconds(ms * 100));
    }
    void BeginBusy() override { maxBusy = std::max(maxBusy, ++busy); }
    void EndBusy() override { --busy; }
    void TraceCommand(const std::string& t) override { traces.push_back(t); }
};

Bytes Z(int id, std::u16string_view text) {
    Bytes b(300);
    b.resize(lumo::ZCommandFrame(b.data(), b.size(), id, text));
    return b;
}

} // namespace

TEST(Session, TcpConnectAndSendRecords) {
    ChildProcess sim;
    ASSERT_TRUE(sim.Start(LUMO_MODULE_SIM, {"--address", "127.0.6.1", "--tcp", "--id", "4"}));
    CLumo_Net net;
    Front front;
    session::Session link(net, front);

    const session::SendResult none = link.Send(u"za 1");
    EXPECT_EQ(none.outcome, session::SendOutcome::NoLink);
    EXPECT_EQ(front.traces, std::vector<std::string>{"za 1"});
    EXPECT_EQ(front.maxBusy, 0);

    const session::ConnectOutcome open = link.OpenTcp(u"127.0.6.1", false);
    ASSERT_TRUE(open.ok());
    EXPECT_EQ(open.name, u"TCP 127.0.6.1:20036");
    EXPECT_EQ(open.moduleId, 4);
    EXPECT_EQ(open.style, 17);
    EXPECT_EQ(open.modeChar, 'z');

    const session::SendResult normal = link.Send(u"za 1");
    EXPECT_EQ(normal.outcome, session::SendOutcome::Answered);
    EXPECT_EQ(normal.link, u"TCP 127.0.6.1:20036");
    EXPECT_EQ(normal.sent, Z(4, u"za 1"));
    EXPECT_EQ(normal.answer, B("OK: command za 1 done\r\n"));
    EXPECT_EQ(normal.status, u"Ack : OK: command za 1 done\r");
    EXPECT_GE(normal.roundTripUs, 0);

    const session::SendResult query = link.Send(u"zh");
    EXPECT_EQ(query.outcome, session::SendOutcome::Answered);
    EXPECT_TRUE(query.query);
    EXPECT_EQ(query.answer, Cat(B("Device ID 4 Style 17 Ver 1.00"), {0x00, 0xFF, 0x5A, 0xA5, 0x01}));
    EXPECT_EQ(query.boxText, u"Device ID 4 Style 17 Ver 1.00");
    EXPECT_EQ(query.boxCaption, u"Device Information");
    EXPECT_FALSE(query.status);

    const session::SendResult tooLong = link.Send(std::u16string(254, u'q'));
    EXPECT_EQ(tooLong.outcome, session::SendOutcome::RefusedTooLong);
    EXPECT_TRUE(tooLong.sent.empty());
    EXPECT_EQ(front.busy, 0);
    EXPECT_EQ(front.maxBusy, 1);
    net.m_ToPCStyle = 0; // close without the disconnect handshake
}

TEST(Session, SerialPromptAndUdpText) {
    ChildProcess sim;
    ASSERT_TRUE(sim.Start(LUMO_MODULE_SIM, {"--address", "127.0.6.2", "--udp", "--serial"}));
    ASSERT_EQ(setenv("LUMO_COM5", sim.SerialPath().c_str(), 1), 0);
    CLumo_Net net;
    Front front;
    {
        session::Session link(net, front);
        const session::ConnectOutcome serial = link.OpenSerial(5, 115200);
        ASSERT_TRUE(serial.ok());
        EXPECT_TRUE(serial.promptSeen);
        EXPECT_EQ(serial.name, u"COM5");
        const session::SendResult s = link.Send(u"zs");
        EXPECT_EQ(s.outcome, session::SendOutcome::Answered);
        EXPECT_EQ(s.sent, B("zs\r"));
        EXPECT_EQ(s.status, u"Ack : OK: command zs done\r"); // the second line shows whole
        EXPECT_EQ(s.boxText, u"Signal 1920x1080 60Hz\r");

        // the next open disconnects the serial link first
        const session::ConnectOutcome udp = link.OpenUdp(u"127.0.6.2");
        ASSERT_TRUE(udp.ok());
        EXPECT_EQ(udp.netResult, 0); // no TCP module to probe: refused, and the datagram link goes on
        const session::SendResult u = link.Send(u"zb 1");
        EXPECT_EQ(u.sent, B(std::string("zb 1\0", 5)));
        EXPECT_EQ(u.status, u"Ack : OK: command zb 1 done\r");
    }
    EXPECT_EQ(net.m_ComOpen, 0);
    unsetenv("LUMO_COM5");
}

// A failed connect says why, in the words a person looks for.
TEST(Session, FailedConnectCarriesTheSystemReason) {
    CLumo_Net net;
    Front front;
    session::Session s(net, front);

    // Nothing listens on this address: the module link is refused.
    const session::ConnectOutcome tcp = s.OpenTcp(u"127.0.31.9", false);
    EXPECT_FALSE(tcp.ok());
    EXPECT_EQ(session::ReasonWords(tcp.osError), u"refused");

    // A serial port whose device does not exist.
    ASSERT_EQ(setenv("LUMO_COM7", "/nonexistent/ttyLUMO", 1), 0);
    const session::ConnectOutcome serial = s.OpenSerial(7, 9600);
    unsetenv("LUMO_COM7");
    EXPECT_EQ(serial.status, session::ConnectStatus::PortNotOpened);
    EXPECT_EQ(session::ReasonWords(serial.osError), u"no such device");
    EXPECT_EQ(session::ReasonHint(EACCES, session::LinkKind::Serial).find(u"dialout") != std::u16string::npos,
              true);
    EXPECT_FALSE(s.IsOpen());
}

// The TCP answer is taken when its publication wakes the wait, without a
// pause; a link that drops is still waited out to the whole bound.
TEST(Session, TcpWaitWakesOnTheAnswerAndWaitsOutADroppedLink) {
    ChildProcess sim;
    ASSERT_TRUE(sim.Start(LUMO_MODULE_SIM,
                          {"--address", "127.0.6.3", "--tcp", "--style", "5", "--misbehave", "reset"}));
    CLumo_Net net;
    Front front;
    session::Session link(net, front);
    ASSERT_TRUE(link.OpenTcp(u"127.0.6.3", false).ok());
    front.slept = 0;
    const session::SendResult reset = link.Send(u"zs"); // a query, read by lines; the module resets instead
    EXPECT_EQ(reset.outcome, session::SendOutcome::TimedOut);
    EXPECT_GE(front.slept, session::kTcpWaitLimitMs * 9 / 10);
    EXPECT_LE(front.slept, session::kTcpWaitLimitMs);
    net.m_ToPCStyle = 0;

    ChildProcess good;
    ASSERT_TRUE(good.Start(LUMO_MODULE_SIM, {"--address", "127.0.6.4", "--tcp"}));
    ASSERT_TRUE(link.OpenTcp(u"127.0.6.4", false).ok());
    front.slept = 0;
    for (int i = 0; i < 20; ++i)
        EXPECT_EQ(link.Send(u"zh").outcome, session::SendOutcome::Answered);
    EXPECT_EQ(front.slept, 0);
    net.m_ToPCStyle = 0;
}

// An answer that stops short is taken once the module has been quiet for a
// quarter of a second, and then read as the console reads it: the line feed
// the module sends a second and a half later is no longer part of it.
TEST(Session, ShortAnswerIsTakenAfterAQuietPause) {
    ChildProcess sim;
    ASSERT_TRUE(sim.Start(LUMO_MODULE_SIM, {"--address", "127.0.6.5", "--tcp", "--misbehave", "chunks", "--chunk",
                                            "20", "--chunk-pause", "1500"}));
    CLumo_Net net;
    Front front;
    session::Session link(net, front);
    ASSERT_TRUE(link.OpenTcp(u"127.0.6.5", false).ok());
    ASSERT_EQ(net.m_ModeChar, 'z');
    const session::SendResult r = link.Send(u"n3"); // "OK: command n3 done\r", then "\n"
    EXPECT_EQ(r.answer, B("OK: command n3 done\r"));
    EXPECT_EQ(r.outcome, session::SendOutcome::TimedOut);
    EXPECT_EQ(r.status, std::u16string(answer::kTimedOutText));
    net.m_ToPCStyle = 0;
}

// A frame is recorded before its bytes leave: even when the sending thread is
// held up in its report, the answer's record comes after the frame's.
TEST(Session, SentFrameIsRecordedBeforeItsAnswer) {
    ChildProcess sim;
    ASSERT_TRUE(sim.Start(LUMO_MODULE_SIM, {"--address", "127.0.6.6", "--tcp"}));
    session::Recorder rec; // outlives the session, whose close it still records
    rec.SetCollecting(true);
    std::atomic<bool> answerRecorded{false};
    CLumo_Net net;
    Front front;
    session::Session link(net, front);
    link.Tap().SetListener([&](const LumoTapRecord& r) {
        if (r.kind == LumoTapKind::Sent) // held up: at most until an answer is recorded
            for (int i = 0; i < 300 && !answerRecorded; ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        rec.Tap(r);
        if (r.kind == LumoTapKind::Received)
            answerRecorded = true;
    });
    ASSERT_TRUE(link.OpenTcp(u"127.0.6.6", false).ok());
    answerRecorded = false;
    ASSERT_EQ(link.Send(u"za 1").outcome, session::SendOutcome::Answered);

    std::vector<session::Record> records;
    rec.Take(records);
    auto find = [&](session::RecordKind kind, const Bytes& bytes) {
        return std::find_if(records.begin(), records.end(),
                            [&](const session::Record& x) { return x.kind == kind && x.bytes == bytes; });
    };
    const auto tx = find(session::RecordKind::Tx, Z(1, u"za 1"));
    const auto rx = find(session::RecordKind::Rx, B("OK: command za 1 done\r\n"));
    ASSERT_NE(tx, records.end());
    ASSERT_NE(rx, records.end());
    EXPECT_LT(tx->seq, rx->seq);
    EXPECT_LE(tx->wallMs, rx->wallMs);
    net.m_ToPCStyle = 0;
}
