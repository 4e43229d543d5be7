// Ctrl_Lumo.dll as a Windows program uses it, under Wine against the Linux
// simulators of simulators.sh: the log window's WM_USER+2 texts of a connect
// and a close, the owner window's WM_USER+1 when the module resets the link,
// a box through the program's exported Lumo_MessageSink, a COM port.
#include <ctrl_lumo/lumo_net.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "windows_test.h"

namespace {

std::mutex g_BoxMutex;
std::vector<std::wstring> g_Boxes; // "caption: text"

} // namespace

// Exported (dllexport by its declaration): the library finds it by name.
extern "C" void Lumo_MessageSink(const wchar_t* text, const wchar_t* caption) {
    std::lock_guard lock(g_BoxMutex);
    g_Boxes.push_back(std::wstring(caption) + L": " + text);
}

namespace {

using std::chrono::seconds;

std::wstring Joined(const std::vector<std::wstring>& texts) {
    std::wstring all;
    for (const auto& t : texts)
        all += t + L"\n";
    return all;
}

TEST(WindowsLibrary, LogWindowGetsTheTextsOfAConnectAndAClose) {
    wintest::RecordingWindow log;
    ASSERT_NE(log.Handle(), nullptr);
    auto net = std::make_unique<CLumo_Net>();
    net->m_hLogWnd = log.Handle();
    wchar_t address[] = L"127.0.25.1";
    unsigned char reply[3] = {};
    ASSERT_EQ(net->NetConnect_IPEPC(address, reply, 0), 1);
    EXPECT_EQ(reply[0], 1); // the simulator's identifier and style
    EXPECT_EQ(reply[1], 17);
    EXPECT_EQ(net->m_ModeChar, 'z');

    // The device query's answer arrives in the mailbox over TCP.
    unsigned char out[2] = {0xEE, 0xEE};
    EXPECT_EQ(net->Skarn_Device(out, 0), 0);
    ASSERT_TRUE(wintest::WaitFor([&] { return net->m_RecvReady.load() == 1 && net->m_RecvLen.load() >= 7; },
                                 std::chrono::seconds(10)));
    const unsigned char info[7] = {0x12, 0x34, 0x00, 0xFF, 0x5A, 0xA5, 0x01};
    EXPECT_TRUE(std::equal(info, info + 7, net->m_RecvBuf));
    net->m_RecvLen = 0;
    net->m_RecvReady = 0;

    EXPECT_EQ(net->CloseNet(), 1);
    const std::vector<std::wstring> texts = log.Texts(); // sent synchronously: all there
    ASSERT_GE(texts.size(), 3u) << Joined(texts);
    EXPECT_EQ(texts[0], L"IP127.0.25.1 --------------NetConnect");
    EXPECT_EQ(texts[1], L"IP127.0.25.1 --------------Open ok");
    EXPECT_EQ(texts[2], L"IP:127.0.25.1 ---------Check_Return");
    EXPECT_NE(std::find(texts.begin(), texts.end(), L"IP127.0.25.1 ------------CloseNet"), texts.end())
        << Joined(texts);
    net.reset();
}

TEST(WindowsLibrary, OwnerWindowHearsOfAReset) {
    wintest::RecordingWindow owner;
    auto net = std::make_unique<CLumo_Net>();
    net->m_hOwnerWnd = owner.Handle();
    wchar_t address[] = L"127.0.25.2";
    unsigned char reply[3] = {};
    ASSERT_EQ(net->NetConnect_IPEPC(address, reply, 1), 1);
    unsigned char frame[] = {0x55, 0xAA, 0x18, 0xE7, 0x04, 0xFB, 0x07, 'z', 'a', 0x00, 0x00};
    net->Peltra_Senddata(0, frame, sizeof frame); // the first command: the module resets the link
    const std::vector<WPARAM> notices = owner.WaitNotices(1, std::chrono::seconds(10));
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_EQ(notices[0], 2u);
    EXPECT_TRUE(wintest::WaitFor([&] { return net->m_bConnected.load() == 0; }, std::chrono::seconds(5)));
    std::lock_guard lock(g_BoxMutex);
    for (const auto& box : g_Boxes)
        EXPECT_EQ(box.find(L"Recvthread"), std::wstring::npos) << "no box with an owner window";
}

TEST(WindowsLibrary, BoxesReachTheProgramsSink) {
    {
        std::lock_guard lock(g_BoxMutex);
        g_Boxes.clear();
    }
    CLumo_Net net;
    wchar_t address[] = L"127.0.25.3";
    unsigned char reply[3] = {};
    EXPECT_EQ(net.NetConnect_IPEPC(address, reply, 0), 0);
    EXPECT_EQ(net.m_LinkKind, LINK_NONE);
    std::lock_guard lock(g_BoxMutex);
    ASSERT_EQ(g_Boxes.size(), 1u);
    EXPECT_EQ(g_Boxes[0], L"Error: 3 Didn't Connect to 127.0.25.3");
}

// COM11 is the simulator's pseudo-terminal (the prefix's dosdevices/com11),
// opened as \\.\COM11.
TEST(WindowsLibrary, DeviceQueryOverComPortAboveNine) {
    CLumo_Net net;
    EXPECT_EQ(net.OpenCOM_IPConverter(31, 115200), 0); // nothing behind COM31
    EXPECT_EQ(net.m_ComOpen, 0);
    ASSERT_EQ(net.OpenCOM_IPConverter(11, 115200), 1);
    EXPECT_EQ(net.m_LinkKind, LINK_SERIAL);
    unsigned char out[2] = {};
    EXPECT_EQ(net.Skarn_Device(out, 2), 1);
    EXPECT_EQ(out[0], 0x12);
    EXPECT_EQ(out[1], 0x34);
    EXPECT_EQ(net.CloseCOM(), 1);
    EXPECT_EQ(net.m_LinkKind, LINK_NONE);
    ASSERT_EQ(net.OpenCOM_IPConverter(11, 9600), 1); // closed: it opens again
    net.CloseCOM();
}

} // namespace
