// The device link against the simulator program: TCP module link, serial
// port (the simulator's pty via LUMO_COM<N>) and the UDP text link, all open
// at once to one simulated module.
#include "frames.h"
#include "lumo_net.h"
#include "message_recorder.h"
#include "sim_process.h"

#include <gtest/gtest.h>

#include <memory>

using namespace simtest;

namespace {

const Bytes ACK = {0x00, 0xFF, 0x5A, 0xA5, 0x01};

// Polls the mailbox until it holds at least `want` bytes or ends with `tail`; takes it.
Bytes TakeAnswer(CLumo_Net& net, const Bytes& tail, int timeoutMs = 5000) {
    Bytes got;
    for (int waited = 0; waited < timeoutMs; waited += 5) {
        int n = net.m_RecvLen.load(std::memory_order_acquire);
        if (n > 0) {
            got.assign(net.m_RecvBuf, net.m_RecvBuf + n);
            if (got.size() >= tail.size() &&
                std::equal(tail.begin(), tail.end(), got.end() - std::ptrdiff_t(tail.size())))
                break;
            net.ClearMailbox(); // a partial publication: let the thread go on
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    net.ClearMailbox();
    return got;
}

// Reads the serial port until the bytes end with `tail`.
Bytes ReadSerial(CLumo_Net& net, const Bytes& tail, int timeoutMs = 5000) {
    Bytes got;
    unsigned char buf[1024];
    for (int waited = 0; waited < timeoutMs; waited += 10) {
        int n = net.ReadComData(buf, sizeof buf);
        if (n > 0)
            got.insert(got.end(), buf, buf + n);
        if (got.size() >= tail.size() &&
            std::equal(tail.begin(), tail.end(), got.end() - std::ptrdiff_t(tail.size())))
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return got;
}

Bytes Z(int id, std::u16string_view text) {
    Bytes b(512);
    b.resize(lumo::ZCommandFrame(b.data(), b.size(), id, text));
    return b;
}

} // namespace

TEST(SimDevlink, AllThreeLinksAtOnce) {
    const std::string ip = "127.0.3.20";
    ChildProcess sim;
    ASSERT_TRUE(sim.Start(LUMO_MODULE_SIM, {"--address", ip, "--tcp", "--udp", "--serial", "--id", "3"}));
    lumo_test::MessageRecorder boxes;

    // TCP: greeting, mode query (style 17), then a query read to the end mark.
    auto tcp = std::make_unique<CLumo_Net>();
    std::wstring waddr(ip.begin(), ip.end());
    unsigned char reply[3] = {0xEE, 0xEE, 0xEE};
    ASSERT_EQ(tcp->NetConnect_IPEPC(waddr.data(), reply, 1), 1);
    EXPECT_EQ(reply[0], 3);
    EXPECT_EQ(reply[1], 17);
    EXPECT_EQ(reply[2], 0);
    EXPECT_EQ(tcp->m_ConnectToPcID, 3);
    EXPECT_EQ(tcp->m_ToPCStyle, 17);
    EXPECT_EQ(tcp->m_ModeChar, 'z');

    // Serial: the simulator's pty as COM7.
    ASSERT_EQ(setenv("LUMO_COM7", sim.SerialPath().c_str(), 1), 0);
    auto com = std::make_unique<CLumo_Net>();
    ASSERT_NE(com->OpenCOM_IPConverter(7, 115200), 0);

    // UDP: the console's own datagram socket.
    int udp = UdpOpen();
    ASSERT_GE(udp, 0);
    ASSERT_EQ(UdpConnect(udp, ip.c_str(), LUMO_UDP_MODULE_PORT), 1);
    ASSERT_EQ(UdpSetRecvTimeout(udp, 2000), 1);

    // TCP exchanges.
    tcp->m_Client.SetRecvMode(RECV_UNTIL_ACK, 300);
    Bytes zh = Z(tcp->m_ConnectToPcID, u"zh");
    tcp->Peltra_Senddata(0, zh.data(), unsigned(zh.size()));
    EXPECT_EQ(TakeAnswer(*tcp, ACK), Cat(B("Device ID 3 Style 17 Ver 1.00"), ACK));

    Bytes other(8);
    other.resize(lumo::DeviceCommandFrame(other.data(), other.size(), 3, 0x42));
    tcp->m_Client.SetRecvMode(RECV_COUNT, 5);
    tcp->Peltra_Senddata(0, other.data(), unsigned(other.size()));
    EXPECT_EQ(tcp->Check_Return(CHECK_ACK, 3, 10000), 1);

    Bytes abc = Z(tcp->m_ConnectToPcID, u"abc");
    tcp->m_Client.SetRecvMode(RECV_COUNT, 300);
    tcp->Peltra_Senddata(0, abc.data(), unsigned(abc.size()));
    EXPECT_EQ(TakeAnswer(*tcp, B("\r\n")), B("OK: command abc done\r\n"));

    // Serial exchanges: the prompt, a console string, a query line, a device query.
    const unsigned char cr = 0x0D;
    com->Senddata(&cr, 1);
    EXPECT_EQ(ReadSerial(*com, B("\r\n>")), B("\r\n>"));
    com->Senddata(reinterpret_cast<const unsigned char*>("ze 0000 0\r"), 10);
    EXPECT_EQ(ReadSerial(*com, B("O.K\r\n>")), B("O.K\r\n>"));
    com->Senddata(reinterpret_cast<const unsigned char*>("zs\r"), 3);
    EXPECT_EQ(ReadSerial(*com, B("done\r\n")), B("Signal 1920x1080 60Hz\r\nOK: command zs done\r\n"));
    unsigned char info[2] = {};
    EXPECT_EQ(com->Skarn_Device(info, 2), 1);
    EXPECT_EQ(info[0], 0x12);
    EXPECT_EQ(info[1], 0x34);

    // UDP exchanges.
    const char normal[] = "abc";
    ASSERT_EQ(UdpSend(udp, normal, 4), 4);
    char buf[4096] = {};
    int n = UdpRecv(udp, buf, sizeof buf);
    EXPECT_EQ(std::string(buf, n > 0 ? size_t(n) : 0), "OK: command abc done\r\n");
    const char query[] = "zw 000000";
    ASSERT_EQ(UdpSend(udp, query, sizeof query), int(sizeof query));
    n = UdpRecv(udp, buf, sizeof buf);
    EXPECT_EQ(std::string(buf, n > 0 ? size_t(n) : 0),
              "Position 0 0 1920 1080\r\nOK: command zw 000000 done\r\n");

    // Close everything; the style-17 close runs the disconnect handshake.
    EXPECT_EQ(UdpClose(udp), 1);
    com->Senddata(reinterpret_cast<const unsigned char*>("exit\r"), 5);
    EXPECT_EQ(com->CloseCOM(), 1);
    EXPECT_EQ(tcp->CloseNet(), 1);
    EXPECT_EQ(tcp->m_bConnected.load(), 0);
    EXPECT_EQ(boxes.Count(), 0u);
    EXPECT_EQ(sim.Stop(), 0);
}

// How the connect sequence takes the simulator's greetings, good and bad.
TEST(SimDevlink, ConnectOutcomes) {
    struct {
        const char* ip;
        std::vector<std::string> args;
        int xMode;
        unsigned char mode;
        int result;
        const wchar_t* box; // start of the one message box expected, or null for none
    } rows[] = {
        {"127.0.3.24", {"--xmode", "--id", "3", "--style", "26", "--socket-id", "9"}, 1, 1, 1, nullptr},
        {"127.0.3.25", {"--style", "5"}, 0, 1, 1, nullptr},
        {"127.0.3.26", {"--xmode", "--misbehave", "x14"}, 1, 1, 2, L"Rev len = 14, connect failure"},
        {"127.0.3.27", {"--misbehave", "ffff"}, 0, 0, 0, L"3 Didn't Connect to 127.0.3.27"},
        {"127.0.3.28", {"--converter", "--misbehave", "silent"}, 0, 3, 1, nullptr},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.ip);
        ChildProcess sim;
        std::vector<std::string> args{"--address", r.ip, "--tcp"};
        args.insert(args.end(), r.args.begin(), r.args.end());
        ASSERT_TRUE(sim.Start(LUMO_MODULE_SIM, args));
        lumo_test::MessageRecorder boxes;
        auto net = std::make_unique<CLumo_Net>();
        net->m_bXMode = r.xMode;
        std::string ip = r.ip;
        std::wstring waddr(ip.begin(), ip.end());
        unsigned char reply[3] = {0xEE, 0xEE, 0xEE};
        EXPECT_EQ(net->NetConnect_IPEPC(waddr.data(), reply, r.mode), r.result);
        if (r.xMode && r.result == 1) {
            EXPECT_EQ(net->m_ConnectToPcID, 3);
            EXPECT_EQ(net->m_ToPCStyle, 26);
            EXPECT_EQ(net->m_SocketID, 9);
            EXPECT_EQ(Bytes(reply, reply + 3), (Bytes{0x03, 0x1A, 0x00}));
        }
        if (r.mode == 3) {
            EXPECT_EQ(reply[0], 0xFF);
            EXPECT_EQ(reply[1], 0xFF);
        }
        if (r.result == 1 && r.mode != 3 && !r.xMode) {
            EXPECT_EQ(net->m_ToPCStyle, 5);
            EXPECT_EQ(net->m_ModeChar, 0) << "no mode query below style 17";
        }
        const auto shown = boxes.Messages();
        if (r.box) {
            ASSERT_EQ(shown.size(), 1u);
            EXPECT_EQ(shown[0].text, r.box);
        } else {
            EXPECT_TRUE(shown.empty());
        }
        // The socket object shuts the link down when the object goes (CloseNet would add 1.2 s a row).
    }
}

// A simulator that sends every reply in 1-byte pieces: greetings of both
// variants, the mode query and acknowledged frames all give the right answer.
TEST(SimDevlink, RepliesInPieces) {
    for (int x : {0, 1}) {
        const std::string ip = x ? "127.0.3.30" : "127.0.3.29";
        ChildProcess sim;
        std::vector<std::string> args{"--address",   ip,       "--tcp",         "--id", "4", "--chunk", "1",
                                      "--misbehave", "chunks", "--chunk-pause", "2"};
        if (x)
            args.insert(args.end(), {"--xmode", "--style", "30", "--socket-id", "6"});
        ASSERT_TRUE(sim.Start(LUMO_MODULE_SIM, args));
        lumo_test::MessageRecorder boxes;
        auto net = std::make_unique<CLumo_Net>();
        net->m_bXMode = x;
        std::wstring waddr(ip.begin(), ip.end());
        unsigned char reply[3] = {};
        ASSERT_EQ(net->NetConnect_IPEPC(waddr.data(), reply, 0), 1);
        EXPECT_EQ(Bytes(reply, reply + 3), (Bytes{4, uint8_t(x ? 30 : 17), 0}));
        EXPECT_EQ(net->m_ModeChar, x ? 0 : 'z');
        EXPECT_EQ(net->m_SocketID, x ? 6 : 0);
        Bytes frame(8);
        frame.resize(lumo::DeviceCommandFrame(frame.data(), frame.size(), 4, 0x42));
        for (int i = 0; i < 20; ++i) {
            net->m_Client.SetRecvMode(RECV_COUNT, 5);
            net->Peltra_Senddata(0, frame.data(), unsigned(frame.size()));
            EXPECT_EQ(net->Check_Return(CHECK_ACK, 4, 10000), 1) << i;
        }
        EXPECT_EQ(boxes.Count(), 0u);
    }
}
