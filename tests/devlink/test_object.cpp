// CLumo_Net on its own: start values, progress texts, the mailbox hand-back,
// the offline switch and the version tables.
#include "lumo_net.h"
#include "message_recorder.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

using lumo_test::MessageRecorder;

namespace {

struct Fresh : testing::Test {
    std::unique_ptr<CLumo_Net> net = std::make_unique<CLumo_Net>();
    std::vector<std::wstring> progress;
    void RecordProgress() {
        net->m_hLogWnd = [this](const std::wstring& text) { progress.push_back(text); };
    }
};

bool AllZero(const void* p, size_t n) {
    auto b = static_cast<const unsigned char*>(p);
    for (size_t i = 0; i < n; ++i)
        if (b[i] != 0)
            return false;
    return true;
}

} // namespace

TEST_F(Fresh, StartValues) {
    EXPECT_EQ(net->m_LinkKind, LINK_NONE);
    EXPECT_EQ(net->m_ToPCStyle, 255);
    EXPECT_EQ(net->m_ComOpen, 0);
    EXPECT_EQ(net->m_bConnected.load(), 0);
    EXPECT_EQ(net->m_SendState, 0);
    EXPECT_EQ(net->m_LastStatus, 1);
    EXPECT_EQ(net->m_bXMode, 0);
    EXPECT_EQ(net->m_RecvHold.load(), 0);
    EXPECT_EQ(net->m_CommError, 0);
    EXPECT_EQ(net->m_ReadFileReturnlen, 0);
    EXPECT_EQ(net->m_ConnectToPcID, 15); // the "no module" ID: preview address F8
    EXPECT_EQ(net->m_RecvReady.load(), 0);
    EXPECT_EQ(net->m_RecvLen.load(), 0);
    EXPECT_EQ(net->m_RecvSource.load(), nullptr);
    EXPECT_TRUE(net->m_strIP.empty());
    EXPECT_FALSE(net->m_hLogWnd);
    EXPECT_FALSE(net->m_hOwnerWnd);
    EXPECT_FALSE(net->m_Client.IsOpen());
    EXPECT_TRUE(AllZero(net->m_DevStyle, sizeof net->m_DevStyle)); // plain five-byte acknowledgement
    EXPECT_TRUE(AllZero(net->m_AckBuf, sizeof net->m_AckBuf));
    EXPECT_TRUE(AllZero(net->m_RecvBuf, sizeof net->m_RecvBuf));
    EXPECT_TRUE(AllZero(net->m_ReturnBuf, sizeof net->m_ReturnBuf));
    EXPECT_TRUE(AllZero(net->m_BIOSver, sizeof net->m_BIOSver));
    EXPECT_TRUE(AllZero(net->m_MBDBIOSver, sizeof net->m_MBDBIOSver));
    EXPECT_TRUE(AllZero(net->m_MBABIOSver, sizeof net->m_MBABIOSver));
}

TEST_F(Fresh, CloseWithNothingOpenReturnsOneWithoutProgressText) {
    RecordProgress();
    EXPECT_EQ(net->CloseCOM(), 1);
    EXPECT_EQ(net->Skarn_ClearBuffer(), 1);
    EXPECT_TRUE(progress.empty());
    EXPECT_EQ(net->m_LinkKind, LINK_NONE);
}

TEST_F(Fresh, ProgressTextIsPrefixAndLiteralOnlyWithALogWindow) {
    net->SendProgress(L"IP10.0.0.5 ", L"--------------NetConnect"); // no window: nothing happens
    RecordProgress();
    net->SendProgress(L"IP10.0.0.5 ", L"--------------NetConnect");
    net->SendProgress(L"COM3 ", L"------------CloseCOM");
    EXPECT_EQ(progress, (std::vector<std::wstring>{L"IP10.0.0.5 --------------NetConnect",
                                                   L"COM3 ------------CloseCOM"}));
}

TEST_F(Fresh, NoLinkOperationsTouchNoCallbackAndNoOutput) {
    // Both window stand-ins empty: nothing may call them (an empty
    // std::function would throw).
    unsigned char out[2] = {0xAB, 0xCD};
    EXPECT_EQ(net->Skarn_Device(out, 0), 0); // no serial link: output untouched
    EXPECT_EQ(out[0], 0xAB);
    EXPECT_EQ(out[1], 0xCD);
    unsigned char frame[8] = {0x55, 0xAA, 0xFF, 0x00, 0x01, 0xFE, 0x19, 0x00};
    net->Peltra_Senddata(0, frame, sizeof frame);
    net->Peltra_Senddata(0, nullptr, 0xFFFFFFFFu); // a nonsense count is dropped
    EXPECT_EQ(net->CloseCOM(), 1);
}

TEST_F(Fresh, ClearMailboxHandsThePublishedMessageBack) {
    net->m_RecvBuf[0] = 0x55;
    net->m_RecvLen = 5;
    net->m_RecvSource = &net->m_Client;
    net->m_RecvReady = 1;
    net->ClearMailbox();
    EXPECT_EQ(net->m_RecvReady.load(), 0);
    EXPECT_EQ(net->m_RecvLen.load(), 0);
    EXPECT_EQ(net->m_RecvSource.load(), nullptr);
    EXPECT_EQ(net->m_RecvBuf[0], 0);
}

TEST_F(Fresh, ClearMailboxLeavesTheThreadsBufferAloneWhenNothingIsPublished) {
    net->m_RecvBuf[0] = 0x55; // the receive thread's half-built message
    net->m_RecvLen = 3;
    net->ClearMailbox();
    EXPECT_EQ(net->m_RecvLen.load(), 0);
    EXPECT_EQ(net->m_RecvBuf[0], 0x55);
}

TEST_F(Fresh, SendStateIsSignExtended) {
    const struct {
        char value;
        int state;
    } cases[] = {{1, 1}, {static_cast<char>(0x80), -128}, {static_cast<char>(0xFF), -1}, {0x7F, 127}, {0, 0}};
    for (const auto& c : cases) {
        net->SendState(c.value);
        EXPECT_EQ(net->m_SendState, c.state) << int(static_cast<unsigned char>(c.value));
    }
}

TEST_F(Fresh, VersionReaders) {
    using Reader = void (CLumo_Net::*)(int, unsigned long*);
    const struct {
        const char* name;
        Reader read;
        uint32_t* table;
    } readers[] = {{"BIOS", &CLumo_Net::GetBIOSver, net->m_BIOSver},
                   {"MBD", &CLumo_Net::GetMBDBIOSver, net->m_MBDBIOSver},
                   {"MBA", &CLumo_Net::GetMBABIOSver, net->m_MBABIOSver}};
    for (const auto& r : readers) {
        unsigned long out = 77;
        (net.get()->*r.read)(0, &out);
        EXPECT_EQ(out, 0u) << r.name;

        r.table[14] = 0xDEADBEEF;
        (net.get()->*r.read)(14, &out);
        EXPECT_EQ(out, 0xDEADBEEFu) << r.name;

        for (int bad : {-1, 15, 1000000}) {
            out = 77;
            (net.get()->*r.read)(bad, &out);
            EXPECT_EQ(out, 77u) << r.name << " index " << bad;
        }
        (net.get()->*r.read)(3, nullptr);
    }
}

TEST(MessageSink, RecorderCollectsFromAnyThreadAndRestoresThePreviousSink) {
    MessageRecorder outer;
    {
        MessageRecorder inner;
        std::thread other([] { LumoShowMessage(L"from the receive side", L"Error"); });
        LumoShowMessage(L"Rev len = 14, connect failure", L"Message");
        other.join();
        ASSERT_TRUE(inner.WaitForCount(2));
        EXPECT_EQ(inner.Count(), 2u);
        EXPECT_EQ(outer.Count(), 0u);
    }
    LumoShowMessage(L"after", L"Error");
    ASSERT_EQ(outer.Count(), 1u);
    EXPECT_EQ(outer.Messages()[0].text, L"after");
    EXPECT_EQ(outer.Messages()[0].caption, L"Error");
}

TEST(MessageSink, ABoxStillOpenDoesNotHoldUpAnotherThreadsMessage) {
    // The console's sink shows a modal box on the UI thread; meanwhile the
    // receive thread must still get its message out.
    struct Flags {
        std::atomic<bool> boxOpen{false}, secondShown{false}, heardWhileOpen{false};
    };
    auto flags = std::make_shared<Flags>();
    LumoMessageSink previous =
        ExchangeLumoMessageSink([flags](const std::wstring& text, const std::wstring&) {
            if (text != L"box") {
                flags->secondShown = true;
                return;
            }
            flags->boxOpen = true;
            for (int i = 0; i < 500 && !flags->secondShown; ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            flags->heardWhileOpen = flags->secondShown.load();
        });
    std::thread ui([] { LumoShowMessage(L"box", L"Error"); });
    for (int i = 0; i < 500 && !flags->boxOpen; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    LumoShowMessage(L"Recvthread Error!! Didn't Connect to 127.0.0.2", L"Error");
    ui.join();
    ExchangeLumoMessageSink(std::move(previous));
    EXPECT_TRUE(flags->heardWhileOpen);
}
