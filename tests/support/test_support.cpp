// The shared test helpers themselves: other areas' tests rely on them.
#include "loopback.h"
#include "pty_pair.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

using namespace lumo_test;

TEST(Support, PtyPairCarriesBytesBothWaysAndOwnsTheEnvironmentName) {
    {
        PtyPair pty(42);
        ASSERT_TRUE(pty.ok());
        ASSERT_NE(std::getenv("LUMO_COM42"), nullptr);
        EXPECT_EQ(pty.SlavePath(), std::getenv("LUMO_COM42"));

        int link = ::open(pty.SlavePath().c_str(), O_RDWR | O_NOCTTY);
        ASSERT_GE(link, 0);
        // Raw mode: CR and 0xFF pass unchanged, nothing is echoed.
        const Bytes frame = Hex("7A 65 0D FF 00 0A");
        ASSERT_EQ(::write(link, frame.data(), frame.size()), ssize_t(frame.size()));
        EXPECT_EQ(pty.ReadUntil(0x0A), frame);
        ASSERT_TRUE(pty.Write(Hex("00 FF 5A A5 01")));
        unsigned char got[5] = {};
        size_t have = 0;
        for (int i = 0; i < 50 && have < 5; ++i) {
            pollfd p{link, POLLIN, 0};
            if (::poll(&p, 1, 100) <= 0)
                continue;
            ssize_t n = ::read(link, got + have, 5 - have);
            if (n > 0)
                have += size_t(n);
        }
        EXPECT_EQ(Bytes(got, got + have), Hex("00 FF 5A A5 01"));
        EXPECT_TRUE(pty.ReadUntilIdle(std::chrono::milliseconds(50)).empty()); // no echo
        ::close(link);
    }
    EXPECT_EQ(std::getenv("LUMO_COM42"), nullptr);
}

TEST(Support, TcpListenerAcceptsAndSeesTheClose) {
    TcpListener listener("127.0.0.2", 0);
    ASSERT_TRUE(listener.ok());
    EXPECT_FALSE(listener.Accept(std::chrono::milliseconds(20)).ok());

    TcpConnection client = TcpConnect("127.0.0.2", listener.Port());
    ASSERT_TRUE(client.ok());
    TcpConnection server = listener.Accept();
    ASSERT_TRUE(server.ok());
    ASSERT_TRUE(server.Send(Hex("05 11 00 00 00 00 00")));
    EXPECT_EQ(client.RecvExact(7), Hex("05 11 00 00 00 00 00"));
    ASSERT_TRUE(client.Send("abc"));
    EXPECT_EQ(server.RecvExact(3), TextBytes("abc"));
    EXPECT_TRUE(server.Recv(16, std::chrono::milliseconds(20)).empty());
    client.Close();
    EXPECT_TRUE(server.WaitClosed());
}

TEST(Support, UdpPeersExchangeDatagrams) {
    UdpPeer module("127.0.0.2", 0);
    UdpPeer console("127.0.0.3", 0);
    ASSERT_TRUE(module.ok());
    ASSERT_TRUE(console.ok());
    ASSERT_TRUE(console.SendTo("127.0.0.2", module.Port(), Hex("7A 68 00")));
    auto d = module.Recv();
    ASSERT_TRUE(d.has_value());
    EXPECT_EQ(d->bytes, Hex("7A 68 00"));
    EXPECT_EQ(d->from, "127.0.0.3");
    EXPECT_EQ(d->fromPort, console.Port());
    EXPECT_FALSE(module.Recv(std::chrono::milliseconds(20)).has_value());
}
