// Answers that arrive a byte at a time, WaitMailbox, the wait hook and the
// mailbox hand-over under a stream.
#include <gtest/gtest.h>

#include "fake_module.h"
#include "message_recorder.h"

using namespace lumo_test;

namespace {

// The module sends one byte every 3 ms.
void Trickle(TcpModule& peer, const Bytes& bytes) {
    for (unsigned char b : bytes) {
        peer.Send({b});
        std::this_thread::sleep_for(std::chrono::milliseconds(3));
    }
}

int ConnectTrickled(CLumo_Net& net, TcpModule& peer, const Bytes& greeting, const Bytes& modeReply = {}) {
    std::thread module([&] {
        if (!peer.Accept())
            return;
        Trickle(peer, greeting);
        if (!modeReply.empty() && peer.Read(8).size() == 8)
            Trickle(peer, modeReply);
    });
    std::wstring addr = peer.Address();
    unsigned char out[3];
    const int rc = net.NetConnect_IPEPC(addr.data(), out, 0);
    module.join();
    return rc;
}

TEST(TcpPieces, GreetingsModeQueryAndAcknowledgementsByteByByte) {
    TcpModule peer("127.0.2.60");
    ASSERT_TRUE(peer.ok());
    MessageRecorder boxes;
    {
        CLumo_Net net;
        const Bytes modeReply = {0x55, 0xAA, 0x5F, 0xA0, 0x08, 0xF7, 'z', 0, 0, 0, 0, 0, 0};
        ASSERT_EQ(ConnectTrickled(net, peer, {5, 17, 0, 0, 0, 0, 0}, modeReply), 1);
        EXPECT_EQ(net.m_ToPCStyle, 17);
        EXPECT_EQ(net.m_ModeChar, 'z');

        // Status, result, errors added; a wrong first byte decides at once.
        const struct {
            Bytes answer;
            int result, errors;
        } rows[] = {{{0x00, 0xFF, 0x5A, 0xA5, 0x01}, 1, 0},
                    {{0x00, 0xFF, 0x5A, 0xA5, 0x00}, 0, 1},
                    {{0x00, 0xFF, 0x5A, 0xA5, 0x07}, 7, 0},
                    {{0x00, 0x12}, 0, 1}};
        const unsigned char frame[] = {0x55, 0xAA, 0x5F, 0xA0, 0x01, 0xFE, 0x42, 0x00};
        for (const auto& r : rows) {
            const int errors = net.m_AckErrorCounter;
            net.m_Client.SetRecvMode(RECV_COUNT, 5);
            net.Senddata(frame, sizeof frame);
            ASSERT_EQ(peer.Read(sizeof frame).size(), sizeof frame);
            std::thread module([&] { Trickle(peer, r.answer); });
            EXPECT_EQ(net.Check_Return(CHECK_ACK, 5, 10000), r.result);
            module.join();
            EXPECT_EQ(net.m_AckErrorCounter, errors + r.errors);
        }
        EXPECT_EQ(net.m_TimeoutCounter, 0);
        net.m_ToPCStyle = 0; // close without the handshake
        net.m_Client.ShutDown();
    }
    for (int x : {0, 1}) {
        CLumo_Net net;
        net.m_bXMode = x;
        const Bytes greeting = x ? XGreeting(0, 9, 6, 4) : Greeting(9, 0x20);
        EXPECT_EQ(ConnectTrickled(net, peer, greeting), 1);
        EXPECT_EQ(net.m_ConnectToPcID, 9);
        EXPECT_EQ(net.m_ToPCStyle, 0x20);
        EXPECT_EQ(net.m_ReadFileReturnlen, int(greeting.size()));
        net.m_Client.ShutDown();
    }
    EXPECT_TRUE(boxes.Messages().empty());
}

TEST(TcpPieces, WaitMailboxAndTheWaitHook) {
    TcpModule peer("127.0.2.61");
    ASSERT_TRUE(peer.ok());
    CLumo_Net net;
    ASSERT_EQ(ConnectGreeted(net, peer, Greeting(1, 0x20)), 1);

    // The hook runs on the waiting thread while it waits.
    std::atomic<int> ticks{0}, elsewhere{0};
    const auto waiter = std::this_thread::get_id();
    SetLumoWaitHook([&] { ++(std::this_thread::get_id() == waiter ? ticks : elsewhere); });
    EXPECT_FALSE(net.WaitMailbox(100)); // nothing comes
    EXPECT_EQ(net.Check_Return(CHECK_ACK, 1, 100), 0);
    SetLumoWaitHook(nullptr);
    EXPECT_GE(ticks.load(), 8);
    EXPECT_EQ(elsewhere.load(), 0);

    peer.Send({'a'});
    EXPECT_TRUE(net.WaitMailbox(5000));
    EXPECT_EQ(net.m_RecvBuf[0], 'a');
    net.ClearMailbox();
    peer.Close();
    EXPECT_FALSE(net.WaitMailbox(5000)); // the link dropped
    EXPECT_EQ(net.m_bConnected.load(), 0);
}

} // namespace

namespace {

// A module streams numbered bytes; the taker alternates ClearMailbox and
// writing the fields itself. Every publication in mode 99 holds the bytes
// since the last restart (at 1000 or more), so the stream can be checked
// byte for byte: nothing lost, nothing torn, no wake missed.
TEST(TcpMailbox, StreamTakenBothWaysArrivesWhole) {
    TcpModule peer("127.0.2.62");
    ASSERT_TRUE(peer.ok());
    CLumo_Net net;
    ASSERT_EQ(ConnectGreeted(net, peer, Greeting(1, 0x20)), 1);
    net.m_Client.SetRecvMode(RECV_IDLE, 1000);
    constexpr size_t kTotal = 1 << 20;
    std::thread module([&] {
        Bytes block(8192);
        for (size_t sent = 0; sent < kTotal; sent += block.size()) {
            for (size_t i = 0; i < block.size(); ++i)
                block[i] = static_cast<unsigned char>((sent + i) % 251);
            peer.Send(block);
        }
    });
    size_t base = 0, partial = 0, wrong = 0;
    for (int k = 0; base + partial < kTotal && net.WaitMailbox(5000); ++k) {
        const int n = net.m_RecvLen.load(std::memory_order_acquire);
        for (int i = 0; i < n; ++i)
            wrong += net.m_RecvBuf[i] != (base + i) % 251;
        partial = n < 1000 ? n : 0;
        if (n >= 1000)
            base += n; // a complete message: the next one starts afresh
        if (k % 2)
            net.ClearMailbox();
        else
            TakeMailbox(net);
    }
    module.join();
    EXPECT_EQ(base + partial, kTotal);
    EXPECT_EQ(wrong, 0u);
}

} // namespace
