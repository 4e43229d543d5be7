// lumo-module-sim playing a module on every address of a range, checked
// over raw loopback sockets. Each test has its own addresses in 127.0.86.0/24.
#include "frames.h"
#include "sim_process.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

using namespace simtest;

namespace {

const Bytes ACK = {0x00, 0xFF, 0x5A, 0xA5, 0x01};

std::string Ip(int last) {
    return "127.0.86." + std::to_string(last);
}

Bytes Z(int id, std::u16string_view text) {
    Bytes b(512);
    b.resize(lumo::ZCommandFrame(b.data(), b.size(), id, text));
    return b;
}

// Runs `sh -c script` to its end; its exit status and what it printed on both streams.
int RunShell(const std::string& script, std::string* output) {
    FILE* p = popen(("exec 2>&1; " + script).c_str(), "r");
    if (!p)
        return -1;
    char buf[512];
    for (size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;)
        output->append(buf, n);
    const int st = pclose(p);
    return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
}

} // namespace

TEST(SimController, EveryAddressIsItsOwnModule) {
    ChildProcess sim;
    ASSERT_TRUE(sim.Start(LUMO_MODULE_SIM,
                          {"--address", "127.0.86.0/28", "--tcp", "--udp", "--id", "250", "--id-step", "1"}));
    // Every module greets with its own id (250, 251, ... 255, 0, 1, ...).
    std::vector<Fd> links;
    for (int k = 0; k < 16; ++k) {
        Fd fd = TcpConnect(Ip(k), 20036);
        ASSERT_TRUE(fd.Ok()) << Ip(k);
        EXPECT_EQ(ReadCount(fd.Get(), 7), (Bytes{uint8_t(250 + k), 0x11, 0, 0, 0, 0, 0})) << Ip(k);
        links.push_back(std::move(fd));
    }
    // Questions to several modules at once: each answer comes from the module asked.
    for (int k : {3, 9, 15})
        ASSERT_TRUE(SendAll(links[size_t(k)].Get(), Z((250 + k) % 256, u"zh")));
    for (int k : {15, 3, 9}) {
        const std::string line = "Device ID " + std::to_string((250 + k) % 256) + " Style 17 Ver 1.00";
        EXPECT_EQ(ReadUntil(links[size_t(k)].Get(), ACK), Cat(B(line), ACK)) << Ip(k);
    }
    for (int k : {0, 6, 15}) {
        Fd u = UdpSocketTo(Ip(k), 20037);
        ASSERT_TRUE(send(u.Get(), "zh", 3, 0) == 3);
        const std::string line = "Device ID " + std::to_string((250 + k) % 256) + " Style 17 Ver 1.00\r\n";
        EXPECT_EQ(ReadSome(u.Get(), 5000), B(line + "OK: command zh done\r\n")) << Ip(k);
    }
    // Nothing listens past the end of the range.
    EXPECT_FALSE(TcpConnect(Ip(16), 20036).Ok());
    EXPECT_EQ(sim.Stop(), 0);
}

TEST(SimController, EveryOptionAppliesToEachModule) {
    ChildProcess sim;
    ASSERT_TRUE(
        sim.Start(LUMO_MODULE_SIM, {"--address", "127.0.86.20-127.0.86.23", "--tcp", "--converter", "--xmode",
                                    "--id", "7", "--socket-id", "9", "--misbehave", "nolf"}));
    for (int k = 20; k <= 23; ++k) {
        Fd fd = TcpConnect(Ip(k), 20036);
        ASSERT_TRUE(fd.Ok()) << Ip(k);
        const Bytes g = ReadCount(fd.Get(), 17);
        lumo::Greeting gr;
        ASSERT_TRUE(lumo::ConnectGreeting(g.data(), g.size(), true, &gr)) << Ip(k);
        EXPECT_EQ(gr.id, 7);
        EXPECT_EQ(gr.socketId, 9);
        Fd conv = TcpConnect(Ip(k), 1024);
        ASSERT_TRUE(SendAll(conv.Get(), B("abc\r")));
        EXPECT_EQ(ReadUntil(conv.Get(), B("done\r")), B("OK: command abc done\r")) << Ip(k);
    }
}

TEST(SimController, RefusesWhatARangeCannotDo) {
    struct {
        std::string args;
        int rc;
        const char* says;
    } rows[] = {
        {"--address 127.0.86.30/31 --tcp --serial", 2, "--serial needs a single --address"},
        {"--address 127.0.86.30-127.0.86.31 --serial-link /tmp/never", 2,
         "--serial needs a single --address"},
        {"--address 127.255.255.254-128.0.0.1 --tcp", 2, "reaches beyond loopback"},
        {"--address 127.0.86.31-127.0.86.30 --tcp", 2, "ends before it starts"},
        {"--address 127.0.86.30/40 --tcp", 2, "prefix length"},
        {"--address 127.0.86.30/31 --tcp --id-step 256", 2, "bad value for --id-step"},
        {"--address 127.0.86.0/24 --tcp --udp", 1,
         "256 modules need 784 open files, but the hard limit is 200"},
    };
    for (const auto& r : rows) {
        std::string out;
        EXPECT_EQ(RunShell("ulimit -n 200; exec " LUMO_MODULE_SIM " " + r.args, &out), r.rc) << r.args;
        EXPECT_NE(out.find(r.says), std::string::npos) << r.args << ": " << out;
    }
    // An address of the range already taken: nothing is played, the address is named.
    ChildProcess other;
    ASSERT_TRUE(other.Start(LUMO_MODULE_SIM, {"--address", Ip(34), "--tcp"}));
    std::string out;
    EXPECT_EQ(RunShell(LUMO_MODULE_SIM " --address 127.0.86.32/29 --tcp", &out), 1);
    EXPECT_NE(out.find("127.0.86.34: bind port 20036: Address already in use"), std::string::npos) << out;
}

TEST(SimController, OutOfDescriptorsConnectionsWait) {
    // 20 descriptors leave the module about 14 connections; the others wait
    // in the listen queue until earlier ones close, without a busy loop.
    const std::string log = "/tmp/modulesim-emfile-" + std::to_string(getpid());
    ChildProcess sim;
    ASSERT_TRUE(sim.Start(
        "/bin/sh", {"-c", "ulimit -n 20; exec " LUMO_MODULE_SIM " --address " + Ip(40) + " --tcp 2>" + log}));
    std::vector<Fd> links;
    for (int i = 0; i < 24; ++i) {
        links.push_back(TcpConnect(Ip(40), 20036));
        ASSERT_TRUE(links.back().Ok()) << i;
    }
    for (Fd& fd : links) {
        EXPECT_EQ(ReadCount(fd.Get(), 7), (Bytes{0x01, 0x11, 0, 0, 0, 0, 0}));
        fd.Reset();
    }
    EXPECT_EQ(sim.Stop(), 0);
    std::ifstream in(log);
    int complaints = 0;
    for (std::string line; std::getline(in, line);)
        complaints += line.find("accept: Too many open files") != std::string::npos;
    std::remove(log.c_str());
    EXPECT_GE(complaints, 1);
    EXPECT_LE(complaints, 3);
}
