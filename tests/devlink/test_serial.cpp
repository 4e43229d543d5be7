// Serial link on a pseudo-terminal: the test plays the module on the master.
#include "fake_module.h"
#include "lumo_net.h"
#include "open_fds.h"
#include "posix_serial.h"
#include "pty_pair.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <string>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using lumo_test::Bytes;
using lumo_test::PtyPair;
using lumo_test::WaitFor; // pty input reaches the slave asynchronously

// A second descriptor on the slave, for the line calls the master cannot make.
class SlaveEnd {
public:
    explicit SlaveEnd(const PtyPair& pty) : m_Fd(::open(pty.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC)) {}
    ~SlaveEnd()
    {
        if (m_Fd >= 0)
            ::close(m_Fd);
    }
    SlaveEnd(const SlaveEnd&) = delete;
    SlaveEnd& operator=(const SlaveEnd&) = delete;
    int Fd() const { return m_Fd; }

private:
    int m_Fd;
};

constexpr int kPort = 3;

TEST(SerialOpen, MissingPortFailsAndLeavesNoLink)
{
    ::setenv("LUMO_COM7", "/dev/lumo-no-such-port", 1); // mapped to nothing
    ::setenv("LUMO_COM9", "/dev/null", 1);              // exists, not a terminal
    for (int port : {7, 9, 250, 0, -1}) {                // 250: /dev/ttyS249
        SCOPED_TRACE(port);
        const int fds = lumo_test::OpenFdCount();
        CLumo_Net net;
        EXPECT_EQ(net.OpenCOM_IPConverter(port, 115200), 0);
        EXPECT_EQ(net.m_ComOpen, 0);
        EXPECT_EQ(net.m_hCom, 0);
        EXPECT_EQ(net.m_LinkKind, LINK_NONE);
        EXPECT_EQ(net.m_ConnectToPcID, 9999);
        EXPECT_EQ(lumo_test::OpenFdCount(), fds);
    }
    ::unsetenv("LUMO_COM7");
    ::unsetenv("LUMO_COM9");
}

TEST(SerialOpen, RatesAppliedOrRefused)
{
    struct Row {
        int baud;
        int result;
    };
    const Row rows[] = {{115200, 1}, {9600, 1}, {14400, 1}, {0, 0}, {-9600, 0}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.baud);
        PtyPair pty(kPort);
    ASSERT_TRUE(pty.ok());
        ASSERT_TRUE(pty.ok());
        termios before{};
        ASSERT_EQ(::tcgetattr(pty.MasterFd(), &before), 0);
        before.c_cflag |= CSTOPB | PARENB; // stop bits must survive, parity must not
        ASSERT_EQ(::tcsetattr(pty.MasterFd(), TCSANOW, &before), 0);
        const int fds = lumo_test::OpenFdCount();

        CLumo_Net net;
        ASSERT_EQ(net.OpenCOM_IPConverter(kPort, row.baud), row.result);
        if (row.result == 0) {
            EXPECT_EQ(net.m_ComOpen, 0);
            EXPECT_EQ(net.m_hCom, 0);
            EXPECT_EQ(net.m_LinkKind, LINK_NONE);
            EXPECT_EQ(lumo_test::OpenFdCount(), fds);
            continue;
        }
        EXPECT_EQ(net.m_ComOpen, 1);
        EXPECT_GT(net.m_hCom, 2);
        EXPECT_EQ(net.m_LinkKind, LINK_SERIAL);
        EXPECT_EQ(net.m_ComPort, kPort);
        termios after{};
        ASSERT_EQ(::tcgetattr(pty.MasterFd(), &after), 0);
        EXPECT_EQ(after.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
        EXPECT_EQ(after.c_cflag & PARENB, 0u);
        EXPECT_NE(after.c_cflag & CSTOPB, 0u);
        EXPECT_EQ(after.c_lflag & (ICANON | ECHO), 0u);
        if (row.baud == 115200) {
            EXPECT_EQ(::cfgetospeed(&after), static_cast<speed_t>(B115200));
        }
        EXPECT_EQ(net.CloseCOM(), 1);
        EXPECT_EQ(lumo_test::OpenFdCount(), fds);
    }
}

TEST(SerialOpen, SecondOpenClosesTheFirst)
{
    PtyPair pty(kPort);
    ASSERT_TRUE(pty.ok());
    const int fds = lumo_test::OpenFdCount();
    CLumo_Net net;
    ASSERT_EQ(net.OpenCOM_IPConverter(kPort, 115200), 1);
    ASSERT_EQ(net.OpenCOM_IPConverter(kPort, 115200), 1);
    EXPECT_EQ(lumo_test::OpenFdCount(), fds + 1);
    net.CloseCOM();
    EXPECT_EQ(lumo_test::OpenFdCount(), fds);
}

// A device put behind a number opens as that port; LUMO_COM<N> still wins.
TEST(SerialOpen, DevicePutBehindANumber)
{
    PtyPair pty(kPort); // sets LUMO_COM<kPort>, which a mapping of 12 must not touch
    ASSERT_TRUE(pty.ok());
    lumo_serial::SetPortDevice(12, pty.SlavePath());
    EXPECT_EQ(lumo_serial::PortDevice(12), pty.SlavePath());
    CLumo_Net net;
    ASSERT_EQ(net.OpenCOM_IPConverter(12, 9600), 1);
    net.CloseCOM();
    lumo_serial::SetPortDevice(kPort, "/dev/lumo-no-such-port");
    EXPECT_EQ(lumo_serial::PortDevice(kPort), pty.SlavePath());
    lumo_serial::SetPortDevice(12, "");
    lumo_serial::SetPortDevice(kPort, "");
    EXPECT_EQ(lumo_serial::PortDevice(12), "/dev/ttyS11");
}

TEST(SerialOpen, BusyPortFails)
{
    PtyPair pty(kPort);
    ASSERT_TRUE(pty.ok());
    CLumo_Net first;
    ASSERT_EQ(first.OpenCOM_IPConverter(kPort, 115200), 1);
    const int fds = lumo_test::OpenFdCount();
    CLumo_Net second;
    EXPECT_EQ(second.OpenCOM_IPConverter(kPort, 115200), 0);
    EXPECT_EQ(second.m_ComOpen, 0);
    EXPECT_EQ(second.m_hCom, 0);
    EXPECT_EQ(lumo_test::OpenFdCount(), fds);
    first.CloseCOM();
    EXPECT_EQ(second.OpenCOM_IPConverter(kPort, 115200), 1); // free again
    second.CloseCOM();
}

TEST(SerialOpen, DescriptorNeverAStandardStream)
{
    PtyPair pty(kPort);
    ASSERT_TRUE(pty.ok());
    const int savedIn = ::dup(STDIN_FILENO);
    ::close(STDIN_FILENO); // the next open would otherwise get 0
    CLumo_Net net;
    const int opened = net.OpenCOM_IPConverter(kPort, 115200);
    const int fd = net.m_hCom;
    net.CloseCOM();
    if (savedIn >= 0) {
        ::dup2(savedIn, STDIN_FILENO);
        ::close(savedIn);
    }
    EXPECT_EQ(opened, 1);
    EXPECT_GT(fd, 2);
}

TEST(SerialRead, LimitLeavesTheRestWaiting)
{
    PtyPair pty(kPort);
    ASSERT_TRUE(pty.ok());
    CLumo_Net net;
    ASSERT_EQ(net.OpenCOM_IPConverter(kPort, 115200), 1);
    unsigned char buf[16] = {};
    EXPECT_EQ(net.ReadComData(buf, sizeof buf), 0); // nothing waits: at once

    ASSERT_TRUE(pty.Write(Bytes{1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
    ASSERT_TRUE(WaitFor([&] { return net.ComBytesWaiting() == 10; }));
    EXPECT_EQ(net.ReadComData(buf, 4), 4);
    EXPECT_EQ(Bytes(buf, buf + 4), (Bytes{1, 2, 3, 4}));
    EXPECT_EQ(net.ComBytesWaiting(), 6);
    EXPECT_EQ(net.ReadComData(buf, sizeof buf), 6);
    EXPECT_EQ(Bytes(buf, buf + 6), (Bytes{5, 6, 7, 8, 9, 10}));
    net.CloseCOM();
    EXPECT_EQ(net.ComBytesWaiting(), 0);
    EXPECT_EQ(net.ReadComData(buf, sizeof buf), 0);
}

TEST(SerialRead, ExactCounts)
{
    struct Row {
        Bytes arrives;
        int count;
        int partial;
        int result;
    };
    const Bytes answer = {0x12, 0x34, 0x00, 0xFF, 0x5A, 0xA5, 0x01};
    const Row rows[] = {
        {{0x12, 0x34, 0x00}, 7, 1, -1},
        {{0x12, 0x34, 0x00}, 7, 0, 0},
        {{}, 7, 1, 0},
        {answer, 7, 0, 7},
        {answer, LUMO_MAILBOX_SIZE + 1, 1, 0}, // beyond the staging area
        {answer, -1, 1, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << "count " << row.count << " arriving " << row.arrives.size());
        PtyPair pty(kPort);
    ASSERT_TRUE(pty.ok());
        ASSERT_TRUE(pty.ok());
        CLumo_Net net;
        ASSERT_EQ(net.OpenCOM_IPConverter(kPort, 115200), 1);
        if (!row.arrives.empty()) {
            ASSERT_TRUE(pty.Write(row.arrives));
            ASSERT_TRUE(WaitFor([&] { return net.ComBytesWaiting() == static_cast<int>(row.arrives.size()); }));
        }
        Bytes out(16, 0xEE);
        EXPECT_EQ(net.ReadComExact(out.data(), row.count, 0, row.partial), row.result);
        const size_t copied = row.count > 0 && row.count <= LUMO_MAILBOX_SIZE ? row.arrives.size() : 0;
        EXPECT_EQ(Bytes(out.begin(), out.begin() + copied), Bytes(row.arrives.begin(), row.arrives.begin() + copied));
        EXPECT_TRUE(std::all_of(out.begin() + copied, out.end(), [](unsigned char b) { return b == 0xEE; }));
        net.CloseCOM();
    }
}

TEST(SerialOffline, ReportsWithoutTouchingAnything)
{
    CLumo_Net net;
    net.m_SendState = 1;
    ::setenv("LUMO_COM8", "/dev/lumo-no-such-port", 1);
    EXPECT_EQ(net.OpenCOM_IPConverter(8, 115200), 1);
    EXPECT_EQ(net.m_ComOpen, 1);
    EXPECT_EQ(net.m_hCom, 0);
    EXPECT_EQ(net.m_LinkKind, LINK_NONE);
    EXPECT_EQ(net.m_ConnectToPcID, 9999);

    for (int state : {1, -128, 2}) {
        SCOPED_TRACE(state);
        net.m_SendState = state;
        unsigned char buf[8] = {0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE};
        EXPECT_EQ(net.ReadComData(buf, sizeof buf), 1);
        EXPECT_EQ(net.ReadComExact(buf, 7, 0, 1), 0);
        EXPECT_TRUE(std::all_of(buf, buf + 8, [](unsigned char b) { return b == 0xEE; }));
    }
    // Only exactly 1 pretends: any other offline value tries the real port.
    net.m_SendState = 2;
    EXPECT_EQ(net.OpenCOM_IPConverter(8, 115200), 0);
    ::unsetenv("LUMO_COM8");
}

TEST(SerialWrite, TextLineOutAnswerBack)
{
    PtyPair pty(kPort);
    ASSERT_TRUE(pty.ok());
    CLumo_Net net;
    ASSERT_EQ(net.OpenCOM_IPConverter(kPort, 115200), 1);
    const std::string line = "ze 0000 0\r";
    for (char c : line)
        EXPECT_EQ(net.WriteComByte(static_cast<unsigned char>(c)), 1);
    EXPECT_EQ(pty.ReadExact(line.size()), Bytes(line.begin(), line.end()));
    EXPECT_EQ(net.m_WriteOverlapped.Offset, line.size());

    const Bytes answer = {'O', 'K', '\r', '\n', 0x00, 0xFF};
    ASSERT_TRUE(pty.Write(answer));
    Bytes got;
    WaitFor([&] {
        unsigned char buf[32];
        const int n = net.ReadComData(buf, sizeof buf);
        got.insert(got.end(), buf, buf + n);
        return got.size() >= answer.size();
    });
    EXPECT_EQ(got, answer);
    net.CloseCOM();
}

TEST(SerialWrite, ByteNotTakenInTimeIsDropped)
{
    PtyPair pty(kPort);
    ASSERT_TRUE(pty.ok());
    SlaveEnd slave(pty);
    ASSERT_GE(slave.Fd(), 0);
    CLumo_Net net;
    ASSERT_EQ(net.OpenCOM_IPConverter(kPort, 115200), 1);
    ASSERT_EQ(::tcflow(slave.Fd(), TCOOFF), 0); // output held, as after an XOFF
    EXPECT_EQ(net.WriteComByte('a'), 1);          // gives up after its bound
    EXPECT_EQ(net.m_WriteOverlapped.Offset, 0u);
    ASSERT_EQ(::tcflow(slave.Fd(), TCOON), 0);
    EXPECT_EQ(net.WriteComByte('b'), 1);
    EXPECT_EQ(net.m_WriteOverlapped.Offset, 1u);
    EXPECT_EQ(pty.ReadExact(1), Bytes{'b'});
    net.CloseCOM();
}

TEST(SerialClose, RepeatedCloseIsHarmlessAndSilent)
{
    PtyPair pty(kPort);
    ASSERT_TRUE(pty.ok());
    std::vector<std::wstring> texts;
    CLumo_Net net;
    net.m_hLogWnd = [&](const std::wstring& text) { texts.push_back(text); };
    EXPECT_EQ(net.CloseCOM(), 1); // nothing open
    EXPECT_TRUE(texts.empty());

    ASSERT_EQ(net.OpenCOM_IPConverter(kPort, 115200), 1);
    EXPECT_EQ(net.CloseCOM(), 1);
    const size_t afterFirst = texts.size();
    EXPECT_EQ(net.CloseCOM(), 1);
    EXPECT_EQ(texts.size(), afterFirst); // the second close says nothing
    EXPECT_EQ(net.m_ComOpen, 0);
    EXPECT_EQ(net.m_hCom, 0);
    EXPECT_EQ(net.m_LinkKind, LINK_NONE);
}

TEST(SerialClose, ProgressTextNamesThePort)
{
    PtyPair pty(kPort);
    ASSERT_TRUE(pty.ok());
    std::vector<std::wstring> texts;
    CLumo_Net net;
    net.m_hLogWnd = [&](const std::wstring& text) { texts.push_back(text); };
    ASSERT_EQ(net.OpenCOM_IPConverter(kPort, 115200), 1);
    EXPECT_EQ(net.CloseCOM(), 1);
    EXPECT_EQ(texts, std::vector<std::wstring>{L"COM3 ------------CloseCOM"});
}

} // namespace
