// Clear-socket datagrams and the datagram wrappers, on loopback.
#include "loopback.h"
#include "open_fds.h"
#include "lumo_net.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

using lumo_test::Bytes;
using lumo_test::UdpPeer;


// 127.0.1.20 with its first part in the top byte.
constexpr unsigned long kModule = (127ul << 24) | (0ul << 16) | (1ul << 8) | 20ul;
// The broadcast of the module's /16 network; on loopback an ordinary address.
constexpr const char* kBroadcast = "127.0.255.255";

TEST(ClearSocket, ThreeDatagramsFromPort60102)
{
    UdpPeer listener(kBroadcast, LUMO_CLEAR_DEST_PORT);
    ASSERT_TRUE(listener.ok()) << std::strerror(errno);
    CLumo_Net net;
    const int fds = lumo_test::OpenFdCount();
    EXPECT_TRUE(net.UDP_Clear_Socket(kModule));
    EXPECT_EQ(lumo_test::OpenFdCount(), fds);
    for (unsigned char seq = 0; seq < 3; ++seq) {
        SCOPED_TRACE(int(seq));
        const auto got = listener.Recv();
        ASSERT_TRUE(got);
        Bytes expected = lumo_test::Hex("46 6F 72 63 65 5F 52 49 50 00 7F 00 01 14");
        expected.push_back(seq);
        EXPECT_EQ(got->bytes, expected);
        EXPECT_EQ(got->fromPort, LUMO_CLEAR_SRC_PORT);
    }
}

TEST(ClearSocket, BusySourcePortFailsWithoutLeak)
{
    UdpPeer blocker("127.0.1.20", LUMO_CLEAR_SRC_PORT);
    ASSERT_TRUE(blocker.ok()) << std::strerror(errno);
    UdpPeer listener(kBroadcast, LUMO_CLEAR_DEST_PORT);
    CLumo_Net net;
    const int fds = lumo_test::OpenFdCount();
    EXPECT_FALSE(net.UDP_Clear_Socket(kModule));
    EXPECT_EQ(lumo_test::OpenFdCount(), fds);
}

TEST(UdpWrappers, ExchangeWithEchoPeer)
{
    UdpPeer echo("127.0.1.21", LUMO_UDP_MODULE_PORT);
    ASSERT_TRUE(echo.ok());
    const int sock = UdpOpen();
    ASSERT_GE(sock, 0);
    EXPECT_EQ(UdpSetRecvTimeout(sock, 2000), 1);
    ASSERT_EQ(UdpConnect(sock, "127.0.1.21", LUMO_UDP_MODULE_PORT), 1);
    const std::string line = "zh 0000\r";
    EXPECT_EQ(UdpSend(sock, line.data(), static_cast<int>(line.size())), static_cast<int>(line.size()));
    const auto request = echo.Recv();
    ASSERT_TRUE(request);
    ASSERT_TRUE(echo.SendTo(request->from, request->fromPort, request->bytes));
    char buf[64] = {};
    ASSERT_EQ(UdpRecv(sock, buf, sizeof buf), static_cast<int>(line.size()));
    EXPECT_EQ(std::string(buf, line.size()), line);
    EXPECT_EQ(UdpClose(sock), 1);
    EXPECT_EQ(UdpClose(sock), 0); // already closed
}

TEST(UdpWrappers, LongDatagramCutAtBufferSize)
{
    UdpPeer peer("127.0.1.22", 0);
    ASSERT_TRUE(peer.ok());
    const int sock = UdpOpen();
    ASSERT_GE(sock, 0);
    ASSERT_EQ(UdpSetRecvTimeout(sock, 2000), 1);
    ASSERT_EQ(UdpConnect(sock, "127.0.1.22", peer.Port()), 1);
    sockaddr_in own{};
    socklen_t len = sizeof own;
    ASSERT_EQ(::getsockname(sock, reinterpret_cast<sockaddr*>(&own), &len), 0);

    Bytes big(100);
    for (size_t i = 0; i < big.size(); ++i)
        big[i] = static_cast<unsigned char>(i);
    char ownText[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &own.sin_addr, ownText, sizeof ownText);
    ASSERT_TRUE(peer.SendTo(ownText, ntohs(own.sin_port), big));
    char buf[20];
    std::memset(buf, 0x55, sizeof buf);
    EXPECT_EQ(UdpRecv(sock, buf, 16), 16);
    EXPECT_EQ(Bytes(buf, buf + 16), Bytes(big.begin(), big.begin() + 16));
    EXPECT_EQ(Bytes(buf + 16, buf + 20), Bytes(4, 0x55)); // nothing beyond the size
    EXPECT_EQ(UdpClose(sock), 1);
}

TEST(UdpWrappers, TimeOutAndBadArguments)
{
    const int sock = UdpOpen();
    ASSERT_GE(sock, 0);
    ASSERT_EQ(UdpSetRecvTimeout(sock, 50), 1);
    EXPECT_EQ(UdpConnect(sock, "localhost", LUMO_UDP_MODULE_PORT), 0); // no name lookup
    EXPECT_EQ(UdpConnect(sock, "127.0.1.23", 70000), 0);
    ASSERT_EQ(UdpConnect(sock, "127.0.1.23", LUMO_UDP_MODULE_PORT), 1);
    char buf[8];
    EXPECT_EQ(UdpRecv(sock, buf, sizeof buf), -1); // time-out
    EXPECT_EQ(UdpRecv(sock, buf, -1), -1);
    EXPECT_EQ(UdpSend(sock, buf, -1), -1);
    EXPECT_EQ(UdpClose(sock), 1);

    for (int bad : {-1, 1 << 20}) {
        SCOPED_TRACE(bad);
        EXPECT_EQ(UdpConnect(bad, "127.0.1.23", LUMO_UDP_MODULE_PORT), 0);
        EXPECT_EQ(UdpSend(bad, "x", 1), -1);
        EXPECT_EQ(UdpRecv(bad, buf, sizeof buf), -1);
        EXPECT_EQ(UdpSetRecvTimeout(bad, 100), 0);
        EXPECT_EQ(UdpClose(bad), 0);
    }
}

} // namespace
