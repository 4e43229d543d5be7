// The device link's tap: what a recorder sees of real TCP and serial links.
#include <gtest/gtest.h>

#include <cerrno>
#include <mutex>

#include "fake_module.h"
#include "message_recorder.h"
#include "pty_pair.h"

using namespace lumo_test;

namespace {

struct Rec {
    LumoTapKind kind;
    LumoTapEvent event;
    std::wstring where, text; // text: progress or box text, or "id style socket mode" of an event
    Bytes bytes;
    int error;
};

struct TapLog {
    std::mutex mu;
    std::vector<Rec> recs;
    LumoTap Tap() {
        return [this](const LumoTapRecord& r) {
            std::wstring text(r.text);
            if (r.kind == LumoTapKind::Event)
                text = std::to_wstring(r.id) + L" " + std::to_wstring(r.style) + L" " +
                       std::to_wstring(r.socketId) + L" " + std::to_wstring(r.modeChar);
            std::lock_guard lock(mu);
            recs.push_back({r.kind, r.event, std::wstring(r.where), text + std::wstring(r.caption),
                            Bytes(r.bytes, r.bytes + r.size), r.error});
        };
    }
    std::vector<Rec> Of(LumoTapKind kind) {
        std::lock_guard lock(mu);
        std::vector<Rec> out;
        std::copy_if(recs.begin(), recs.end(), std::back_inserter(out),
                     [&](const Rec& r) { return r.kind == kind; });
        return out;
    }
    Bytes Joined(LumoTapKind kind, const std::wstring& where) {
        Bytes all;
        for (const Rec& r : Of(kind)) {
            EXPECT_EQ(r.where, where);
            all.insert(all.end(), r.bytes.begin(), r.bytes.end());
        }
        return all;
    }
    // Each event as "<event> <error> <where or details>".
    std::vector<std::wstring> Events(bool details) {
        std::vector<std::wstring> out;
        for (const Rec& r : Of(LumoTapKind::Event))
            out.push_back(std::to_wstring(int(r.event)) + L" " + std::to_wstring(r.error) + L" " +
                          (details ? r.text : r.where));
        return out;
    }
};

const Bytes kAck = {0x00, 0xFF, 0x5A, 0xA5, 0x01};
const Bytes kModeReply = {0x55, 0xAA, 0x5F, 0xA0, 0x08, 0xF7, 'z', 0, 0, 0, 0, 0, 0};

TEST(Tap, Style17LinkFromConnectToClose) {
    TcpModule peer("127.0.2.50");
    ASSERT_TRUE(peer.ok());
    TapLog log;
    CLumo_Net net;
    net.m_hTap = log.Tap(); // no log window: the tap still gets every progress text
    Bytes wire;             // everything the module read
    std::thread module([&] {
        ASSERT_TRUE(peer.Accept());
        peer.Send({5, 17, 0, 0, 0, 0, 0});
        wire = peer.Read(8);
        peer.Send(kModeReply);
        const Bytes more = peer.Read(16); // a frame, then the disconnect handshake
        peer.Send(kAck);
        wire.insert(wire.end(), more.begin(), more.end());
    });
    wchar_t addr[] = L"127.0.2.50";
    unsigned char out[3];
    ASSERT_EQ(net.NetConnect_IPEPC(addr, out, 0), 1);
    const unsigned char frame[] = {0x55, 0xAA, 0x5F, 0xA0, 0x01, 0xFE, 0x19, 0x00};
    net.Senddata(frame, sizeof frame);
    net.Senddata(frame, 0); // nothing to send: no record
    net.CloseNet();
    module.join();

    const std::wstring where = L"TCP 127.0.2.50:20036";
    EXPECT_EQ(log.Joined(LumoTapKind::Sent, where), wire);
    Bytes heard = {5, 17, 0, 0, 0, 0, 0};
    heard.insert(heard.end(), kModeReply.begin(), kModeReply.end());
    heard.insert(heard.end(), kAck.begin(), kAck.end());
    EXPECT_EQ(log.Joined(LumoTapKind::Received, where), heard);
    // ConnectStarted, Connected, Greeting (id 5 style 17), ModeChar 'z', Closed.
    EXPECT_EQ(log.Events(true),
              (std::vector<std::wstring>{L"1 0 -1 -1 -1 -1", L"2 0 -1 -1 -1 -1", L"4 0 5 17 -1 -1",
                                         L"5 0 -1 -1 -1 122", L"7 0 -1 -1 -1 -1"}));
    for (const std::wstring& e : log.Events(false))
        EXPECT_TRUE(e.ends_with(where)) << e;
    const auto progress = log.Of(LumoTapKind::Progress);
    ASSERT_EQ(progress.size(), 6u); // connect 2, greeting check 2, handshake check 1, close 1
    EXPECT_EQ(progress.front().text, L"IP127.0.2.50 --------------NetConnect");
    EXPECT_EQ(progress.back().text, L"IP127.0.2.50 ------------CloseNet");
}

TEST(Tap, FailuresLossesAndBoxes) {
    MessageRecorder boxes;
    TapLog log;
    CLumo_Net net;
    net.m_hTap = log.Tap();
    wchar_t refused[] = L"127.0.2.51"; // nobody listens
    unsigned char out[3];
    EXPECT_EQ(net.NetConnect_IPEPC(refused, out, 0), 0);
    TcpModule peer("127.0.2.52");
    ASSERT_TRUE(peer.ok());
    for (bool reset : {false, true}) {
        net.m_bXMode = reset; // the second greeting is a 17-byte one: id 3, socket 9
        ASSERT_EQ(ConnectGreeted(net, peer, reset ? XGreeting(0, 3, 0, 9) : Greeting(1, 0x20)), 1);
        reset ? peer.Reset() : peer.Close();
        ASSERT_TRUE(WaitFor([&] { return net.m_bConnected.load() == 0; }));
    }
    ASSERT_TRUE(boxes.WaitForCount(1));
    const unsigned char frame[] = {0x55};
    net.m_Client.SendData(&net, frame, 1); // on the reset socket: a send error box
    net.CloseNet();

    const std::wstring refusedErr = std::to_wstring(ECONNREFUSED), resetErr = std::to_wstring(ECONNRESET);
    EXPECT_EQ(log.Events(true),
              (std::vector<std::wstring>{L"1 0 -1 -1 -1 -1", L"3 " + refusedErr + L" -1 -1 -1 -1",
                                         L"1 0 -1 -1 -1 -1", L"2 0 -1 -1 -1 -1", L"4 0 1 32 -1 -1",
                                         L"6 0 -1 -1 -1 -1", L"1 0 -1 -1 -1 -1", L"2 0 -1 -1 -1 -1",
                                         L"4 0 3 26 9 -1", L"6 " + resetErr + L" -1 -1 -1 -1",
                                         L"7 0 -1 -1 -1 -1"}));
    const auto sent = log.Of(LumoTapKind::Sent);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_NE(sent[0].error, 0);
    // Every box the operator saw, in order, and nothing more.
    const auto shown = boxes.Messages();
    const auto tapped = log.Of(LumoTapKind::Box);
    ASSERT_EQ(tapped.size(), shown.size());
    for (size_t i = 0; i < shown.size(); ++i)
        EXPECT_EQ(tapped[i].text, shown[i].text + shown[i].caption);
    EXPECT_EQ(tapped.front().text, L"Recvthread Error!! Didn't Connect to 127.0.2.52Error");
}

TEST(Tap, SerialPortNamesItsDevice) {
    lumo_test::PtyPair pty(97);
    ASSERT_TRUE(pty.ok());
    TapLog log;
    CLumo_Net net;
    net.m_hTap = log.Tap();
    EXPECT_EQ(net.OpenCOM_IPConverter(98, 115200), 0); // /dev/ttyS97: no such device
    ASSERT_EQ(net.OpenCOM_IPConverter(97, 115200), 1);
    const unsigned char line[] = {'z', 'h', '\r'};
    EXPECT_EQ(net.Senddata(line, sizeof line), 3);
    EXPECT_EQ(pty.ReadExact(3), Bytes(line, line + 3));
    ASSERT_TRUE(pty.Write(kAck));
    EXPECT_EQ(net.Check_Return(CHECK_ACK, 3, 2000), 1);
    net.CloseCOM();

    const std::wstring where = L"COM97 " + std::wstring(pty.SlavePath().begin(), pty.SlavePath().end());
    const auto sent = log.Of(LumoTapKind::Sent);
    ASSERT_EQ(sent.size(), 1u); // the whole line once, not byte by byte
    EXPECT_EQ(sent[0].bytes, Bytes(line, line + 3));
    EXPECT_EQ(log.Joined(LumoTapKind::Received, where), kAck);
    EXPECT_EQ(log.Events(false),
              (std::vector<std::wstring>{L"1 0 COM98 /dev/ttyS97",
                                         L"3 " + std::to_wstring(ENOENT) + L" COM98 /dev/ttyS97",
                                         L"1 0 " + where, L"2 0 " + where, L"7 0 " + where}));
    EXPECT_EQ(log.Of(LumoTapKind::Progress).back().text, L"COM97 ------------CloseCOM");
}

} // namespace
