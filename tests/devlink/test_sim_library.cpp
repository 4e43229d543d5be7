// A program that knows the device link only through libCtrl_Lumo.so's
// exports and public fields, driving the simulated module over TCP: connect
// with greeting and mode query, a binary frame and its acknowledgement, the
// acknowledged disconnect handshake and the close.
#include <ctrl_lumo/lumo_net.h>

#include "sim_process.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

using namespace simtest;

namespace {

// Waits for the receive thread to publish, takes the message, hands the mailbox back.
Bytes TakePublished(CLumo_Net& net, int timeoutMs = 5000) {
    for (int waited = 0; waited < timeoutMs; waited += 5) {
        if (net.m_RecvReady.load(std::memory_order_acquire) == 1) {
            const int n = std::clamp(net.m_RecvLen.load(std::memory_order_acquire), 0, LUMO_MAILBOX_SIZE);
            Bytes got(net.m_RecvBuf, net.m_RecvBuf + n);
            net.m_RecvLen.store(0, std::memory_order_release);
            net.m_RecvReady.store(0, std::memory_order_release);
            return got;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return {};
}

TEST(LibraryAgainstSimulator, ConnectFrameAcknowledgeAndClose) {
    ChildProcess sim;
    ASSERT_TRUE(sim.Start(LUMO_MODULE_SIM,
                          {"--address", "127.0.3.40", "--tcp", "--id", "5", "--style", "17", "--mode-char", "z"}));

    auto net = std::make_unique<CLumo_Net>();
    std::vector<std::wstring> progress;
    net->m_hLogWnd = [&progress](const std::wstring& text) { progress.push_back(text); };

    wchar_t address[] = L"127.0.3.40";
    unsigned char out[3] = {0xAA, 0xAA, 0xAA};
    ASSERT_EQ(net->NetConnect_IPEPC(address, out, 0), 1);
    EXPECT_EQ(Bytes(out, out + 3), (Bytes{0x05, 0x11, 0x00}));
    EXPECT_EQ(net->m_ConnectToPcID, 5);
    EXPECT_EQ(net->m_ToPCStyle, 17);
    EXPECT_EQ(net->m_ModeChar, 'z'); // the mode query ran
    EXPECT_EQ(net->m_bConnected.load(), 1);

    // A binary command frame for module 5: its acknowledgement reaches the mailbox.
    unsigned char frame[8] = {0x55, 0xAA, 0x5F, 0xA0, 0x01, 0xFE, 0x42, 0x00};
    net->Peltra_Senddata(0, frame, sizeof frame);
    EXPECT_EQ(TakePublished(*net), (Bytes{0x00, 0xFF, 0x5A, 0xA5, 0x01}));

    // The disconnect handshake is acknowledged through the acknowledgement check.
    EXPECT_EQ(net->Skarn_Disconnect(5), 1);
    EXPECT_EQ(net->m_LastStatus, 1);
    EXPECT_EQ(net->m_TimeoutCounter, 0);

    EXPECT_EQ(net->CloseNet(), 1);
    EXPECT_EQ(net->m_bConnected.load(), 0);
    EXPECT_EQ(net->m_LinkKind, LINK_TCP); // close leaves the link kind

    ASSERT_GE(progress.size(), 3u);
    EXPECT_EQ(progress.front(), L"IP127.0.3.40 --------------NetConnect");
    EXPECT_EQ(progress[1], L"IP127.0.3.40 --------------Open ok");
    EXPECT_NE(std::find(progress.begin(), progress.end(), L"IP127.0.3.40 ------------CloseNet"), progress.end());
    net.reset(); // no thread outlives the object
}

} // namespace
