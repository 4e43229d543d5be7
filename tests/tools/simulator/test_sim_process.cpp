// The simulator and trace viewer as programs, checked over raw loopback
// sockets and the pty. Each test has its own address in 127.0.3.0/24.
#include "frames.h"
#include "sim_process.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <termios.h>

#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>

using namespace simtest;

namespace {

const Bytes ACK = {0x00, 0xFF, 0x5A, 0xA5, 0x01};

Bytes Z(int id, std::u16string_view text) {
    Bytes b(512);
    b.resize(lumo::ZCommandFrame(b.data(), b.size(), id, text));
    return b;
}
Bytes X(std::u16string_view text) {
    Bytes b(2048);
    b.resize(lumo::XCommandFrame(b.data(), b.size(), text));
    return b;
}
Bytes Dev(int id, uint8_t code) {
    Bytes b(8);
    b.resize(lumo::DeviceCommandFrame(b.data(), b.size(), id, code));
    return b;
}

// Starts the simulator on `ip` with the given options; fails the test when it does not come up.
void StartSim(ChildProcess &sim, const std::string &ip, std::vector<std::string> args) {
    args.insert(args.begin(), {"--address", ip});
    ASSERT_TRUE(sim.Start(LUMO_MODULE_SIM, args));
}

// Connects to the module port and reads a greeting of `len` bytes.
Fd Greeted(const std::string &ip, size_t len, Bytes *greeting) {
    Fd fd = TcpConnect(ip, 20036);
    if (fd.Ok())
        *greeting = ReadCount(fd.Get(), len);
    return fd;
}

// "HH:MM:SS.mmm " at the start of a viewer line.
bool HasStamp(const std::string &line) {
    const char *shape = "dd:dd:dd.ddd ";
    if (line.size() < 13)
        return false;
    for (size_t i = 0; i < 13; ++i)
        if (shape[i] == 'd' ? !std::isdigit(static_cast<unsigned char>(line[i])) : line[i] != shape[i])
            return false;
    return true;
}

Bytes UdpAsk(int fd, const Bytes &datagram, int timeoutMs = 5000) {
    if (send(fd, datagram.data(), datagram.size(), 0) < 0)
        return {};
    return ReadSome(fd, timeoutMs);
}

} // namespace

TEST(SimProcess, NormalGreetingModeQueryAndDeviceFrames) {
    const std::string ip = "127.0.3.1";
    ChildProcess sim;
    StartSim(sim, ip, {"--tcp", "--id", "5", "--style", "17", "--mode-char", "y", "--device-info", "ABCD"});
    Bytes g;
    Fd fd = Greeted(ip, 7, &g);
    ASSERT_TRUE(fd.Ok());
    EXPECT_EQ(g, (Bytes{0x05, 0x11, 0, 0, 0, 0, 0}));

    // The mode query as the connect sequence sends it for identifier 5.
    Bytes q = Dev(5, lumo::CMD_MODE_QUERY);
    ASSERT_EQ(q, (Bytes{0x55, 0xAA, 0x5F, 0xA0, 0x01, 0xFE, 0x6D, 0x00}));
    ASSERT_TRUE(SendAll(fd.Get(), q));
    Bytes reply = ReadCount(fd.Get(), 13);
    unsigned char mode = 0;
    ASSERT_TRUE(lumo::ModeQueryReply(reply.data(), reply.size(), &mode));
    EXPECT_EQ(mode, 'y');

    ASSERT_TRUE(SendAll(fd.Get(), Dev(5, lumo::CMD_DISCONNECT)));
    EXPECT_EQ(ReadCount(fd.Get(), 5), ACK);
    // The connection stays usable after the disconnect handshake.
    Bytes devq(8);
    devq.resize(lumo::DeviceCommandFrameAt(devq.data(), devq.size(), 0xFF, lumo::CMD_DEVICE_QUERY));
    ASSERT_TRUE(SendAll(fd.Get(), devq));
    EXPECT_EQ(ReadCount(fd.Get(), 7), (Bytes{0xAB, 0xCD, 0x00, 0xFF, 0x5A, 0xA5, 0x01}));
    EXPECT_EQ(sim.Stop(), 0);
}

TEST(SimProcess, XGreeting) {
    const std::string ip = "127.0.3.2";
    ChildProcess sim;
    StartSim(sim, ip, {"--tcp", "--xmode", "--id", "3", "--style", "26", "--socket-id", "9"});
    Bytes g;
    Fd fd = Greeted(ip, 17, &g);
    ASSERT_EQ(g.size(), 17u);
    lumo::Greeting gr;
    ASSERT_TRUE(lumo::ConnectGreeting(g.data(), g.size(), true, &gr));
    EXPECT_EQ(gr.id, 3);
    EXPECT_EQ(gr.style, 26);
    EXPECT_EQ(gr.socketId, 9);
    EXPECT_EQ(g[0], 3);
}

TEST(SimProcess, TextFramesAnsweredByLines) {
    const std::string ip = "127.0.3.3";
    ChildProcess sim;
    StartSim(sim, ip, {"--tcp", "--mode-char", "y"});
    Bytes g;
    Fd fd = Greeted(ip, 7, &g);
    ASSERT_EQ(g.size(), 7u);
    struct {
        Bytes frame;
        std::string answer;
    } rows[] = {
        {Z(1, u"abc"), "OK: command abc done\r\n"},
        {Z(1, u""), "OK: command  done\r\n"},
        {Z(1, u"zh"), "Device ID 1 Style 17 Ver 1.00\r\nOK: command zh done\r\n"},
        {Z(1, u"zw 000000"), "Position 0 0 1920 1080\r\nOK: command zw 000000 done\r\n"},
        {X(u"ZS"), "Signal 1920x1080 60Hz\r\nOK: command ZS done\r\n"},
        {X(u"XL 001002001 Test 0"), "OK: command XL 001002001 Test 0 done\r\n"},
    };
    for (const auto &r : rows) {
        ASSERT_TRUE(SendAll(fd.Get(), r.frame));
        EXPECT_EQ(ReadUntil(fd.Get(), B("done\r\n")), B(r.answer));
    }
}

TEST(SimProcess, ModeZQueryEndsWithAckFrame) {
    const std::string ip = "127.0.3.4";
    ChildProcess sim;
    StartSim(sim, ip, {"--tcp"}); // style 17, mode char z
    Bytes g;
    Fd fd = Greeted(ip, 7, &g);
    ASSERT_TRUE(SendAll(fd.Get(), Z(1, u"zh")));
    EXPECT_EQ(ReadUntil(fd.Get(), ACK), Cat(B("Device ID 1 Style 17 Ver 1.00"), ACK));
    ASSERT_TRUE(SendAll(fd.Get(), Z(1, u"abc")));
    EXPECT_EQ(ReadUntil(fd.Get(), B("\r\n")), B("OK: command abc done\r\n"));
}

TEST(SimProcess, UdpDatagrams) {
    const std::string ip = "127.0.3.5";
    ChildProcess sim;
    StartSim(sim, ip, {"--udp", "--id", "2"});
    Fd u = UdpSocketTo(ip, 20037);
    ASSERT_TRUE(u.Ok());
    EXPECT_EQ(UdpAsk(u.Get(), {'a', 'b', 'c', 0}), B("OK: command abc done\r\n"));
    EXPECT_EQ(UdpAsk(u.Get(), {'z', 'h', 0}), B("Device ID 2 Style 17 Ver 1.00\r\nOK: command zh done\r\n"));
    EXPECT_EQ(UdpAsk(u.Get(), {0}), B("OK: command  done\r\n"));
}

TEST(SimProcess, SerialConsoleStringsAndLines) {
    const std::string ip = "127.0.3.6";
    const std::string link = "/tmp/modulesim-test-" + std::to_string(getpid());
    ChildProcess sim;
    StartSim(sim, ip, {"--serial", "--serial-link", link});
    ASSERT_FALSE(sim.SerialPath().empty());
    char target[256] = {};
    ASSERT_GT(readlink(link.c_str(), target, sizeof target - 1), 0);
    EXPECT_EQ(sim.SerialPath(), target);

    struct {
        Bytes send;
        Bytes answer;
    } rows[] = {
        {B("\r"), B("\r\n>")},
        {B("ze 0000 0\r"), B("O.K\r\n>")},
        {B("abc\r"), B("OK: command abc done\r\n")},
        {B("zs 1\r"), B("Signal 1920x1080 60Hz\r\nOK: command zs 1 done\r\n")},
        {Dev(1, lumo::CMD_DISCONNECT), ACK},
        {{0x55, 0xAA, 0xFF, 0x00, 0x01, 0xFE, 0x19, 0x00}, {0x12, 0x34, 0x00, 0xFF, 0x5A, 0xA5, 0x01}},
        {B("ze 0000 1\r"), B("O.K\r\n>")},
        {B("*0\r"), B("O.K\r\n>")},
        {B("exit\r"), B("O.K\r\n")},
    };
    // Twice, closing the port in between: the simulator keeps serving without a client.
    for (int round = 0; round < 2; ++round) {
        Fd port(open(link.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC));
        ASSERT_TRUE(port.Ok());
        termios t{};
        ASSERT_EQ(tcgetattr(port.Get(), &t), 0);
        cfmakeraw(&t);
        ASSERT_EQ(tcsetattr(port.Get(), TCSANOW, &t), 0);
        for (const auto &r : rows) {
            ASSERT_TRUE(SendAll(port.Get(), r.send));
            EXPECT_EQ(ReadCount(port.Get(), r.answer.size()), r.answer) << "round " << round;
        }
    }
    EXPECT_EQ(sim.Stop(), 0);
    struct stat st {};
    EXPECT_NE(lstat(link.c_str(), &st), 0) << "the link is removed on exit";
}

TEST(SimProcess, ConverterGreetsNothingAndAnswersLines) {
    const std::string ip = "127.0.3.7";
    ChildProcess sim;
    StartSim(sim, ip, {"--converter"});
    Fd fd = TcpConnect(ip, 1024);
    ASSERT_TRUE(fd.Ok());
    ASSERT_TRUE(SendAll(fd.Get(), B("abc\r")));
    // The first bytes are the answer: nothing came before it.
    EXPECT_EQ(ReadUntil(fd.Get(), B("\r\n")), B("OK: command abc done\r\n"));
}

TEST(SimProcess, AllLinksOnOneAddress) {
    const std::string ip = "127.0.3.8";
    ChildProcess sim;
    StartSim(sim, ip, {"--tcp", "--converter", "--udp", "--serial"});
    Bytes g;
    Fd t = Greeted(ip, 7, &g);
    EXPECT_EQ(g.size(), 7u);
    Fd c = TcpConnect(ip, 1024);
    EXPECT_TRUE(c.Ok());
    Fd u = UdpSocketTo(ip, 20037);
    EXPECT_EQ(UdpAsk(u.Get(), {'x', 0}), B("OK: command x done\r\n"));
    Fd port(open(sim.SerialPath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC));
    ASSERT_TRUE(port.Ok());
    ASSERT_TRUE(SendAll(port.Get(), B("\r")));
    EXPECT_EQ(ReadCount(port.Get(), 3), B("\r\n>"));
}

TEST(SimProcess, SilentAnswersNothing) {
    const std::string ip = "127.0.3.9";
    ChildProcess sim;
    StartSim(sim, ip, {"--tcp", "--udp", "--misbehave", "silent"});
    Fd fd = TcpConnect(ip, 20036);
    ASSERT_TRUE(fd.Ok());
    ASSERT_TRUE(SendAll(fd.Get(), Dev(1, lumo::CMD_MODE_QUERY)));
    EXPECT_TRUE(ReadSome(fd.Get(), 300).empty());
    Fd u = UdpSocketTo(ip, 20037);
    EXPECT_TRUE(UdpAsk(u.Get(), {'z', 'h', 0}, 300).empty());
}

TEST(SimProcess, BadGreetings) {
    struct {
        const char *ip;
        const char *what;
        bool xmode;
        Bytes greeting; // empty: the connection closes without one
    } rows[] = {
        {"127.0.3.10", "x14", true, {0x01, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x01, 0}},
        {"127.0.3.11", "ffff", false, {0xFF, 0xFF, 0, 0, 0, 0, 0}},
        {"127.0.3.12", "empty-greeting", false, {}},
    };
    for (const auto &r : rows) {
        ChildProcess sim;
        std::vector<std::string> args{"--tcp", "--misbehave", r.what};
        if (r.xmode)
            args.push_back("--xmode");
        StartSim(sim, r.ip, args);
        Fd fd = TcpConnect(r.ip, 20036);
        ASSERT_TRUE(fd.Ok()) << r.what;
        // Everything up to the simulator's close or 17 bytes.
        EXPECT_EQ(ReadCount(fd.Get(), 17, r.greeting.empty() ? 5000 : 500), r.greeting) << r.what;
    }
}

TEST(SimProcess, ResetOnFirstCommand) {
    const std::string ip = "127.0.3.13";
    ChildProcess sim;
    StartSim(sim, ip, {"--tcp", "--misbehave", "reset"});
    Bytes g;
    Fd fd = Greeted(ip, 7, &g);
    ASSERT_EQ(g.size(), 7u);
    ASSERT_TRUE(SendAll(fd.Get(), Z(1, u"abc")));
    int err = -1;
    pollfd p{fd.Get(), POLLIN, 0};
    ASSERT_EQ(poll(&p, 1, 5000), 1);
    ReadSome(fd.Get(), 100, &err);
    EXPECT_EQ(err, ECONNRESET);
}

TEST(SimProcess, ChunksNolfOversize) {
    const std::string ip = "127.0.3.14";
    {
        ChildProcess sim;
        StartSim(sim, ip, {"--udp", "--tcp", "--misbehave", "chunks", "--chunk", "4", "--chunk-pause", "5"});
        // Over UDP every piece is its own datagram.
        Fd u = UdpSocketTo(ip, 20037);
        ASSERT_TRUE(send(u.Get(), "abc", 4, 0) == 4);
        Bytes all;
        for (Bytes d; !(d = ReadSome(u.Get(), 2000)).empty();) {
            EXPECT_LE(d.size(), 4u);
            all.insert(all.end(), d.begin(), d.end());
            if (all.size() >= 22)
                break;
        }
        EXPECT_EQ(all, B("OK: command abc done\r\n"));
        // Over TCP the pieces reassemble into the same bytes.
        Bytes g;
        Fd t = Greeted(ip, 7, &g);
        EXPECT_EQ(g, (Bytes{0x01, 0x11, 0, 0, 0, 0, 0}));
        ASSERT_TRUE(SendAll(t.Get(), Z(1, u"zh")));
        EXPECT_EQ(ReadUntil(t.Get(), ACK), Cat(B("Device ID 1 Style 17 Ver 1.00"), ACK));
    }
    {
        ChildProcess sim;
        StartSim(sim, ip, {"--udp", "--misbehave", "nolf"});
        Fd u = UdpSocketTo(ip, 20037);
        EXPECT_EQ(UdpAsk(u.Get(), {'z', 's', 0}), B("Signal 1920x1080 60Hz\rOK: command zs done\r"));
    }
    {
        ChildProcess sim;
        StartSim(sim, ip, {"--tcp", "--misbehave", "oversize"});
        Bytes g;
        Fd t = Greeted(ip, 7, &g);
        ASSERT_TRUE(SendAll(t.Get(), Z(1, u"zh")));
        Bytes big = ReadCount(t.Get(), 40000);
        EXPECT_EQ(big.size(), 40000u);
        EXPECT_TRUE(ReadSome(t.Get(), 200).empty()) << "nothing after the 40000 bytes";
    }
}

TEST(SimProcess, RefusesNonLoopbackAndBadOptions) {
    struct {
        std::vector<std::string> args;
        int rc;
    } rows[] = {
        {{"--address", "10.0.0.1", "--tcp"}, 2},
        {{"--address", "not-an-address", "--tcp"}, 2},
        {{"--address", "127.0.3.15"}, 2},
        {{"--address", "127.0.3.15", "--tcp", "--misbehave", "bogus"}, 2},
        {{"--address", "127.0.3.15", "--tcp", "stray"}, 2},
        {{"--address", "127.0.3.15", "--tcp", "--id"}, 2},
        {{"--help"}, 0},
    };
    for (const auto &r : rows) {
        ChildProcess p;
        EXPECT_FALSE(p.Start(LUMO_MODULE_SIM, r.args, 5000));
        EXPECT_EQ(p.Wait(5000), r.rc);
    }
    // The address has a default: the usage line shows it as optional.
    FILE *help = popen(LUMO_MODULE_SIM " --help", "r");
    ASSERT_NE(help, nullptr);
    char line[256] = {};
    ASSERT_NE(fgets(line, sizeof line, help), nullptr);
    pclose(help);
    EXPECT_EQ(std::string(line).rfind("usage: lumo-module-sim [--address A] [--tcp]", 0), 0u) << line;
}

TEST(TraceViewer, PrintsEachRecord) {
    const std::string name = "TRACE  DATA  COMMAND test " + std::to_string(getpid());
    ChildProcess viewer;
    ASSERT_TRUE(viewer.Start(LUMO_TRACE_VIEWER, {"--name", name, "--count", "2"}));

    Fd fd(socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    sockaddr_un sa{};
    sa.sun_family = AF_UNIX;
    std::memcpy(sa.sun_path + 1, name.data(), name.size());
    socklen_t len = socklen_t(offsetof(sockaddr_un, sun_path) + 1 + name.size());
    auto sendRecord = [&](const std::string &text) {
        Bytes rec(5004, 0);
        uint32_t n = uint32_t(text.size());
        for (int i = 0; i < 4; ++i)
            rec[size_t(i)] = uint8_t(n >> (8 * i));
        std::memcpy(rec.data() + 4, text.data(), text.size());
        return sendto(fd.Get(), rec.data(), rec.size(), 0, reinterpret_cast<sockaddr *>(&sa), len) == 5004;
    };
    ASSERT_TRUE(sendRecord("XL 001002001 Test 0"));
    ASSERT_TRUE(sendRecord(std::string(5000, 'a')));
    std::string line;
    ASSERT_TRUE(viewer.ReadLine(&line, 5000));
    EXPECT_TRUE(HasStamp(line)) << line;
    EXPECT_EQ(line.substr(13), "XL 001002001 Test 0");
    ASSERT_TRUE(viewer.ReadLine(&line, 5000));
    EXPECT_TRUE(HasStamp(line));
    EXPECT_EQ(line.substr(13), std::string(5000, 'a'));
    EXPECT_EQ(viewer.Wait(5000), 0) << "--count 2 ends the viewer";
}
