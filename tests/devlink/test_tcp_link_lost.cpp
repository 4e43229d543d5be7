// What an owner does when the module drops the link: reconnect or close from
// within the link-lost notice, and a message box still open while the link
// is closed and the object destroyed.
#include <gtest/gtest.h>

#include <condition_variable>
#include <memory>
#include <mutex>

#include "fake_module.h"
#include "message_recorder.h"
#include "open_fds.h"

using namespace lumo_test;

namespace {

const Bytes kAckOk = {0x00, 0xFF, 0x5A, 0xA5, 0x01};

TEST(TcpLinkLost, ReconnectFromTheNoticeToTheSameOrAnotherModule) {
    TcpModule first("127.0.2.40");
    TcpModule other("127.0.2.41");
    ASSERT_TRUE(first.ok() && other.ok());
    for (TcpModule* next : {&first, &other}) {
        SCOPED_TRACE(next == &first ? "same" : "other");
        CLumo_Net net;
        std::atomic<int> notices{0}, reconnected{-1};
        std::atomic<bool> armed{false}; // orders the connect before the notice's use of net
        net.m_hOwnerWnd = [&](unsigned, uintptr_t, intptr_t) {
            if (notices++ > 0)
                return; // the second loss ends the test
            WaitFor([&] { return armed.load(); });
            std::wstring addr = next->Address();
            unsigned char out[3];
            reconnected = net.NetConnect_IPEPC(addr.data(), out, 0);
        };
        ASSERT_EQ(ConnectGreeted(net, first, Greeting(1, 0x20)), 1);
        armed = true;
        first.Close(); // the notice connects; the listener holds the connection
        std::thread module([&] {
            if (next->Accept())
                next->Send(Greeting(2, 0x20));
        });
        ASSERT_TRUE(WaitFor([&] { return reconnected.load() != -1; }, 10000));
        module.join();
        EXPECT_EQ(reconnected.load(), 1);
        EXPECT_EQ(net.m_ConnectToPcID, 2);
        EXPECT_EQ(net.m_bConnected.load(), 1);

        // The new link carries an acknowledged exchange.
        const unsigned char frame[] = {0x55, 0xAA, 0x2F, 0xD0, 0x01, 0xFE, 0x19, 0x00};
        net.m_Client.SetRecvMode(RECV_COUNT, 5);
        net.Senddata(frame, sizeof frame);
        EXPECT_EQ(next->Read(sizeof frame), Bytes(frame, frame + sizeof frame));
        next->Send(kAckOk);
        EXPECT_EQ(net.Check_Return(CHECK_ACK, 2, 10000), 1);
        net.CloseNet();
        EXPECT_TRUE(next->SeesClose());
        EXPECT_EQ(notices.load(), 1);
    }
}

TEST(TcpLinkLost, CloseNetFromTheNotice) {
    TcpModule peer("127.0.2.42");
    ASSERT_TRUE(peer.ok());
    MessageRecorder boxes;
    const int fds = lumo_test::OpenFdCount();
    auto net = std::make_unique<CLumo_Net>();
    std::atomic<int> closed{-1};
    std::atomic<bool> armed{false};
    net->m_hOwnerWnd = [&](unsigned, uintptr_t, intptr_t) {
        WaitFor([&] { return armed.load(); });
        closed = net->CloseNet();
    };
    ASSERT_EQ(ConnectGreeted(*net, peer, Greeting(1, 0x20)), 1);
    armed = true;
    peer.Reset();
    ASSERT_TRUE(WaitFor([&] { return closed.load() != -1; }, 10000));
    EXPECT_EQ(closed.load(), 1);
    EXPECT_FALSE(net->m_Client.IsOpen());
    net.reset();
    peer.Close();
    EXPECT_EQ(lumo_test::OpenFdCount(), fds);
    EXPECT_TRUE(boxes.Messages().empty());
}

// The reset box stays open while the link is closed and the object destroyed:
// either the sink waits on the closing thread, or it just takes its time.
class TcpBoxOutlastsTheLink : public ::testing::TestWithParam<bool> {};

TEST_P(TcpBoxOutlastsTheLink, CloseAndDestroyDoNotWaitForIt) {
    const bool waitsOnCloser = GetParam();
    TcpModule peer(waitsOnCloser ? "127.0.2.43" : "127.0.2.44");
    ASSERT_TRUE(peer.ok());
    struct Box {
        std::mutex mu;
        std::condition_variable cv;
        bool entered = false, released = false, done = false;
        std::wstring text;
    };
    auto box = std::make_shared<Box>();
    LumoMessageSink previous =
        ExchangeLumoMessageSink([box, waitsOnCloser](const std::wstring& text, const std::wstring&) {
            std::unique_lock lock(box->mu);
            box->entered = true;
            box->cv.notify_all();
            if (waitsOnCloser)
                box->cv.wait_for(lock, std::chrono::seconds(20), [&] { return box->released; });
            else
                box->cv.wait_for(lock, std::chrono::milliseconds(1500), [] { return false; });
            box->text = text; // read only now: the link and its object are gone
            box->done = true;
            box->cv.notify_all();
        });
    auto net = std::make_unique<CLumo_Net>();
    ASSERT_EQ(ConnectGreeted(*net, peer, Greeting(1, 0x20)), 1);
    peer.Reset();
    {
        std::unique_lock lock(box->mu);
        ASSERT_TRUE(box->cv.wait_for(lock, std::chrono::seconds(5), [&] { return box->entered; }));
    }
    if (waitsOnCloser) {
        EXPECT_EQ(net->CloseNet(), 1);
    }
    net.reset();
    {
        std::unique_lock lock(box->mu);
        EXPECT_FALSE(box->done); // closed and destroyed while the box was open
        box->released = true;
        box->cv.notify_all();
        EXPECT_TRUE(box->cv.wait_for(lock, std::chrono::seconds(5), [&] { return box->done; }));
        EXPECT_EQ(box->text, L"Recvthread Error!! Didn't Connect to " + peer.Address());
    }
    ExchangeLumoMessageSink(std::move(previous));
}

INSTANTIATE_TEST_SUITE_P(Sinks, TcpBoxOutlastsTheLink, ::testing::Values(true, false),
                         [](const ::testing::TestParamInfo<bool>& i) {
                             return std::string(i.param ? "WaitsOnTheClosingThread" : "TakesItsTime");
                         });

} // namespace
