// Check_Return's serial variants, with the test playing the module on the
// master side of a pseudo-terminal.
#include <gtest/gtest.h>

#include <chrono>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "fake_module.h"
#include "lumo_net.h"
#include "pty_pair.h"

namespace {

using lumo_test::Bytes;

struct SerialRow {
    const char *name;
    int port;            // LUMO_COM<port> names this row's pty
    unsigned char style; // m_DevStyle entry of the identifier
    int id;
    Bytes answer;
    int result;
    uint8_t lastStatus;
    int errorsAdded;
    bool mismatchText; // the header search reports a stray byte
};

// Waits until the port's input queue holds n bytes (written by the master).
bool WaitQueued(CLumo_Net &net, size_t n) {
    return lumo_test::WaitFor([&] { return net.ComBytesWaiting() >= static_cast<int>(n); }, 2000);
}

void PrintTo(const SerialRow &r, std::ostream *os) {
    *os << r.name;
}

class SerialCheckReturn : public ::testing::TestWithParam<SerialRow> {};

TEST_P(SerialCheckReturn, ReadsTheAcknowledgement) {
    const SerialRow &r = GetParam();
    lumo_test::PtyPair pty(r.port);
    ASSERT_TRUE(pty.ok());
    CLumo_Net net;
    ASSERT_EQ(net.OpenCOM_IPConverter(r.port, 115200), 1);
    std::vector<std::wstring> log;
    net.m_hLogWnd = [&](const std::wstring &t) { log.push_back(t); };
    if (r.id >= 0 && r.id < 36)
        net.m_DevStyle[r.id] = r.style;
    ASSERT_TRUE(pty.Write(r.answer));
    ASSERT_TRUE(WaitQueued(net, r.answer.size()));

    EXPECT_EQ(net.Check_Return(CHECK_ACK, r.id, 2000), r.result);
    EXPECT_EQ(net.m_LastStatus, r.lastStatus);
    EXPECT_EQ(net.m_AckErrorCounter, r.errorsAdded);
    EXPECT_EQ(net.m_TimeoutCounter, 0);
    bool mismatch = false;
    for (const auto &t : log)
        mismatch = mismatch || t.find(L"Get_CekReturn Error") != std::wstring::npos;
    EXPECT_EQ(mismatch, r.mismatchText);
    net.CloseCOM();
}

INSTANTIATE_TEST_SUITE_P(
    Variants, SerialCheckReturn,
    ::testing::Values(
        // Plain style: five bytes, the status is not looked at.
        SerialRow{"PlainIgnoresStatus", 91, 0x20, 3, {0x00, 0xFF, 0x5A, 0xA5, 0x00}, 1, 0, 0, false},
        // Identifier outside the table: the plain variant.
        SerialRow{"OutsideTableIsPlain", 92, 0, 40, {0x00, 0xFF, 0x5A, 0xA5, 0x00}, 1, 0, 0, false},
        // Style 0x11: six bytes, status returned, 0 counted.
        SerialRow{"SixByteRefused", 93, 0x11, 4, {0x00, 0xFF, 0x5A, 0xA5, 0x00, 0x00}, 0, 0, 1, false},
        SerialRow{"SixByteTaken", 94, 0x90, 4, {0x00, 0xFF, 0x5A, 0xA5, 0x02, 0x00}, 2, 2, 0, false},
        // Style 0x12: stray bytes before the header are skipped.
        SerialRow{"HeaderSearchSkipsStrayBytes",
                  95,
                  0x12,
                  5,
                  {0x41, 0x0A, 0x00, 0xFF, 0x5A, 0xA5, 0x07},
                  7,
                  7,
                  0,
                  true}),
    [](const ::testing::TestParamInfo<SerialRow> &info) { return std::string(info.param.name); });

TEST(SerialSenddata, DrainsInputThenWritesEveryByte) {
    lumo_test::PtyPair pty(96);
    ASSERT_TRUE(pty.ok());
    CLumo_Net net;
    ASSERT_EQ(net.OpenCOM_IPConverter(96, 115200), 1);
    const unsigned char frame[] = {0x55, 0xAA, 0xFF, 0x00, 0x01, 0xFE, 0x19, 0x00};

    ASSERT_TRUE(pty.Write(lumo_test::Bytes{'o', 'l', 'd'}));
    ASSERT_TRUE(WaitQueued(net, 3));
    EXPECT_EQ(net.Senddata(frame, 0), 0); // nothing to send, the input is emptied all the same
    EXPECT_EQ(net.ComBytesWaiting(), 0);

    EXPECT_EQ(net.Senddata(frame, sizeof frame), static_cast<int>(sizeof frame));
    EXPECT_EQ(pty.ReadExact(sizeof frame), lumo_test::Bytes(frame, frame + sizeof frame));

    net.m_SendState = 1; // offline: nothing goes out, the result is 1
    EXPECT_EQ(net.Senddata(frame, sizeof frame), 1);
    EXPECT_TRUE(pty.ReadExact(1, std::chrono::milliseconds(100)).empty());
    net.m_SendState = 0;
    net.CloseCOM();
}

} // namespace
