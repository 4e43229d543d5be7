// lumo over many modules as a script runs it: scan, send and run over
// target lists against simulators on loopback addresses of their own
// (127.0.62.x), a module that resets or answers in pieces among healthy
// ones, a stop by SIGINT, the serial ports, and the shell completion.
#include "black_hole.h"
#include "lumo_program.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <csignal>

using namespace simtest;
using namespace lumotest;

namespace {

// Whether every text is in out, each after the one before.
bool InOrder(const std::string& out, const std::vector<std::string>& texts) {
    size_t at = 0;
    for (const std::string& t : texts) {
        at = out.find(t, at);
        if (at == std::string::npos)
            return false;
        at += t.size();
    }
    return true;
}

} // namespace

// Modules among addresses from a range and a target file: one line each in
// address order, as text, JSON and CSV; nothing found is status 1.
TEST(LumoMany, ScanFindsTheModules) {
    ChildProcess one, three;
    ASSERT_TRUE(one.Start(LUMO_MODULE_SIM, {"--address", "127.0.62.1", "--tcp", "--id", "1"}));
    ASSERT_TRUE(
        three.Start(LUMO_MODULE_SIM, {"--address", "127.0.62.3", "--tcp", "--id", "3", "--style", "5"}));
    const std::string list = TempFile("scan.txt", "# the controller\n127.0.62.3\n127.0.62.4 # spare\n");
    const Outcome text = Lumo({"scan", "--info", "@" + list, "127.0.62.1-2"});
    EXPECT_EQ(text.status, 0) << text.err;
    EXPECT_EQ(Count(text.out, "\n"), 2u) << text.out;
    EXPECT_EQ(text.out.rfind("127.0.62.1       id 1    style 17   mode z  ", 0), 0u) << text.out;
    EXPECT_NE(
        text.out.find(" ms  Device ID 1 Style 17 Ver 1.00\n127.0.62.3       id 3    style 5    mode -  "),
        std::string::npos);
    EXPECT_EQ(text.err.rfind("found 2 modules among 4 addresses in ", 0), 0u) << text.err;

    const Outcome json = Lumo({"scan", "--json", "127.0.62.1-4", "--jobs", "2"});
    EXPECT_EQ(json.status, 0);
    EXPECT_EQ(json.out.rfind("{\"address\":\"127.0.62.1\",\"id\":1,\"style\":17,\"mode\":\"z\",\"info\":null,"
                             "\"connect_ms\":",
                             0),
              0u)
        << json.out;
    EXPECT_NE(json.out.find("\n{\"address\":\"127.0.62.3\",\"id\":3,\"style\":5,\"mode\":null,"),
              std::string::npos);
    const Outcome csv = Lumo({"scan", "--csv", "127.0.62.0/30"});
    EXPECT_EQ(csv.out.rfind("address,id,style,mode,info,connect_ms\r\n127.0.62.1,1,17,z,,", 0), 0u)
        << csv.out;
    EXPECT_EQ(Count(csv.out, "\r\n"), 3u);

    const Outcome none = Lumo({"scan", "127.0.62.5"});
    EXPECT_EQ(none.status, 1);
    EXPECT_EQ(none.out, "");
    EXPECT_EQ(none.err.rfind("found 0 modules among 1 addresses in ", 0), 0u) << none.err;
}

// send over three targets, one of them unreachable: each target's lines come
// whole and in the order given, each module's answer in its own group.
TEST(LumoMany, SendGroupsPerTarget) {
    ChildProcess one, three;
    ASSERT_TRUE(one.Start(LUMO_MODULE_SIM, {"--address", "127.0.62.11", "--tcp", "--id", "1"}));
    ASSERT_TRUE(three.Start(LUMO_MODULE_SIM, {"--address", "127.0.62.13", "--tcp", "--id", "3"}));
    const Outcome send = Lumo({"send", "--tcp", "127.0.62.13", "--tcp", "127.0.62.11-12", "za 1", "zh"});
    EXPECT_EQ(send.status, 2) << send.err;
    EXPECT_TRUE(
        InOrder(send.out, {"== TCP 127.0.62.13:20036\ncommand: za 1\nstatus: Ack : OK: command za 1 done\n",
                           "Device ID 3 Style 17", "== TCP 127.0.62.11:20036\n", "Device ID 1 Style 17",
                           "== TCP 127.0.62.12:20036\ncannot open TCP 127.0.62.12:20036: refused\n"}))
        << send.out;
    EXPECT_EQ(Count(send.out, "Device ID"), 2u);
    EXPECT_NE(send.err.find("3 targets: 2 passed, 0 failed, 1 unreachable\n"), std::string::npos) << send.err;

    const Outcome json = Lumo({"send", "--json", "--tcp", "127.0.62.11-13", "zh"});
    EXPECT_EQ(json.status, 2);
    EXPECT_TRUE(InOrder(
        json.out, {"{\"target\":\"127.0.62.11\",\"command\":\"zh\",\"link\":\"TCP 127.0.62.11:20036\"",
                   "\"data\":\"Device ID 1 Style 17 Ver 1.00\"",
                   "{\"target\":\"127.0.62.12\",\"link\":\"TCP 127.0.62.12:20036\",\"outcome\":\"no_link\","
                   "\"message\":\"cannot open TCP 127.0.62.12:20036: refused\"}",
                   "{\"target\":\"127.0.62.13\",\"command\":\"zh\"", "\"data\":\"Device ID 3 Style 17"}))
        << json.out;
    EXPECT_EQ(Count(json.out, "\n"), 3u);

    const Outcome healthy =
        Lumo({"send", "--tcp", "127.0.62.11", "--tcp", "127.0.62.13", "--jobs", "1", "za 2"});
    EXPECT_EQ(healthy.status, 0) << healthy.err;
    EXPECT_NE(healthy.err.find("2 targets: 2 passed, 0 failed, 0 unreachable\n"), std::string::npos);
}

// run over modules of which one resets the link and one answers in pieces:
// the others finish, each failure is named, the reports hold every target.
TEST(LumoMany, RunWithTroubleAmongHealthyModules) {
    ChildProcess one, reset, pieces;
    ASSERT_TRUE(one.Start(LUMO_MODULE_SIM, {"--address", "127.0.62.21", "--tcp", "--id", "1"}));
    ASSERT_TRUE(reset.Start(LUMO_MODULE_SIM,
                            {"--address", "127.0.62.22", "--tcp", "--style", "5", "--misbehave", "reset"}));
    ASSERT_TRUE(pieces.Start(LUMO_MODULE_SIM,
                             {"--address", "127.0.62.23", "--tcp", "--id", "1", "--misbehave", "chunks"}));
    const std::string list = TempFile("many.txt", "zh => Device ID 1 \nzs => Signal\n");
    const std::string junit = TempFile("many.xml"), csv = TempFile("many.csv");
    const Outcome run =
        Lumo({"run", "--tcp", "127.0.62.21-23", "--keep-going", "--junit", junit, "--csv", csv, list});
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_TRUE(InOrder(run.out, {"== TCP 127.0.62.21:20036\nPASS zh (", "2 passed, 0 failed\n",
                                  "== TCP 127.0.62.22:20036\nFAIL zh (",
                                  "TCP 127.0.62.22:20036: the module closed the link; stopping\n",
                                  "0 passed, 1 failed\n", "== TCP 127.0.62.23:20036\nPASS zh (", "PASS zs (",
                                  "2 passed, 0 failed\n"}))
        << run.out;
    EXPECT_NE(run.err.find("3 targets: 2 passed, 1 failed, 0 unreachable\n"), std::string::npos) << run.err;

    const std::string xml = ReadFile(junit);
    EXPECT_EQ(Count(xml, "<testsuite "), 3u);
    EXPECT_EQ(Count(xml, "<testcase "), 5u);
    EXPECT_NE(xml.find("<testsuites name=\"lumo run\" tests=\"5\" failures=\"1\" errors=\"0\""),
              std::string::npos)
        << xml;
    EXPECT_NE(xml.find("_many@127.0.62.23\""), std::string::npos);
    if (!std::string(LUMO_XMLLINT).empty()) {
        EXPECT_EQ(RunProgram(LUMO_XMLLINT, {"--noout", "--schema", LUMO_JUNIT_XSD, junit}).status, 0);
    }
    const std::string table = ReadFile(csv);
    EXPECT_EQ(table.rfind("target,round,line,command,link,", 0), 0u) << table;
    EXPECT_NE(table.find("\r\n127.0.62.22,1,1,zh,TCP 127.0.62.22:20036,timed_out,false,"), std::string::npos);
    EXPECT_EQ(Count(table, "\r\n"), 6u);

    // one that cannot be reached is an error case of its own
    const Outcome unreachable =
        Lumo({"run", "--tcp", "127.0.62.21", "--tcp", "127.0.62.24", "--junit", junit, list});
    EXPECT_EQ(unreachable.status, 2);
    EXPECT_NE(ReadFile(junit).find(
                  "<error message=\"cannot open TCP 127.0.62.24:20036: refused\" type=\"no_link\"/>"),
              std::string::npos);
}

// SIGINT while the connects wait: the run ends at once, the links say why,
// and the status says it was interrupted.
TEST(LumoMany, InterruptStopsTheRun) {
    BlackHole a("127.0.62.31"), b("127.0.62.32");
    ASSERT_TRUE(a.Ok() && b.Ok());
    bool waited = false;
    const Outcome o = Lumo({"send", "--tcp", "127.0.62.31-32", "za 1"}, {}, "/dev/null", [&](pid_t pid) {
        for (int i = 0; i < 1000 && !waited; ++i) {
            waited = BlackHole::Waiting("127.0.62.31") + BlackHole::Waiting("127.0.62.32") == 2;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        kill(pid, SIGINT);
    });
    ASSERT_TRUE(waited);
    EXPECT_EQ(o.status, 130) << o.err;
    EXPECT_NE(o.out.find("cannot open TCP 127.0.62.31:20036: stopped\n"), std::string::npos) << o.out;
    EXPECT_NE(o.out.find("cannot open TCP 127.0.62.32:20036: stopped\n"), std::string::npos);
    EXPECT_NE(o.err.find("2 targets: 0 passed, 0 failed, 2 unreachable\n"), std::string::npos) << o.err;
}

// A command file from standard input is read again for each round; usage
// errors of the new options send nothing.
TEST(LumoMany, StandardInputAndUsage) {
    ChildProcess sim;
    ASSERT_TRUE(sim.Start(LUMO_MODULE_SIM, {"--address", "127.0.62.41", "--tcp"}));
    const std::string list = TempFile("stdin.txt", "za 1 => OK\nzb 2\n");
    const Outcome twice = Lumo({"run", "--tcp", "127.0.62.41", "--repeat", "2", "-"}, {}, list);
    EXPECT_EQ(twice.status, 0) << twice.err;
    EXPECT_NE(twice.out.find("PASS [round 2] zb 2 ("), std::string::npos) << twice.out;
    EXPECT_NE(twice.out.find("\n4 passed, 0 failed\n"), std::string::npos);

    const std::vector<std::pair<std::vector<std::string>, int>> cases = {
        {{"send", "--tcp", "127.0.62.41", "--jobs", "0", "za"}, 64},
        {{"send", "--tcp", "127.0.62.41", "--udp", "127.0.62.42", "za"}, 64},
        {{"send", "--tcp", "127.0.62.41-4x", "za"}, 64},
        {{"send", "--tcp", "127.0.62.0/8", "za"}, 64},
        {{"connect", "--tcp", "127.0.62.41-42"}, 64},
        {{"connect", "--serial", "1", "--connect-timeout", "100"}, 64},
        {{"send", "--tcp", "@/nonexistent/targets", "za"}, 66},
        {{"scan"}, 64},
        {{"scan", "--json", "--csv", "127.0.62.41"}, 64},
        {{"scan", "--info", "--x", "127.0.62.41"}, 64},
        {{"ports", "/dev/ttyS0"}, 64},
        {{"run", "--tcp", "@-", "-"}, 64},
    };
    for (const auto& [args, status] : cases) {
        const Outcome o = Lumo(args);
        EXPECT_EQ(o.status, status) << testing::PrintToString(args) << o.err;
        EXPECT_EQ(o.err.rfind("lumo: ", 0), 0u) << testing::PrintToString(args) << o.err;
    }
    for (const char* command : {"scan", "ports"}) {
        const Outcome help = Lumo({command, "--help"});
        EXPECT_EQ(help.out.rfind(std::string("usage: lumo ") + command, 0), 0u);
    }
}

// The serial ports a module answers on, and one that does not open.
TEST(LumoMany, PortsProbe) {
    const std::string pty = "/tmp/lumo_many_pty_" + std::to_string(getpid());
    ChildProcess sim;
    ASSERT_TRUE(sim.Start(LUMO_MODULE_SIM, {"--address", "127.0.62.51", "--serial-link", pty}));
    const Outcome probe = Lumo({"ports", "--probe", "--baud", "115200", pty, "/nonexistent/ttyLUMO"});
    EXPECT_EQ(probe.status, 0) << probe.err;
    EXPECT_EQ(probe.out,
              pty +
                  "  -  -  module (prompt seen)\n/nonexistent/ttyLUMO  -  -  cannot open: no such device\n");
    const Outcome none = Lumo({"ports", "--probe", "--json", "/nonexistent/ttyLUMO"});
    EXPECT_EQ(none.status, 1);
    EXPECT_EQ(none.out,
              "{\"device\":\"/nonexistent/ttyLUMO\",\"by_id\":[],\"driver\":null,\"description\":null,"
              "\"opened\":false,\"module\":false}\n");
    EXPECT_EQ(Lumo({"ports"}).status, 0);
}

// Bash completion offers subcommands, options and files after '@'.
TEST(LumoMany, BashCompletion) {
    if (access("/bin/bash", X_OK) != 0)
        GTEST_SKIP() << "no bash";
    const std::string dir = TempFile("completion.d");
    std::remove(dir.c_str());
    mkdir(dir.c_str(), 0700);
    TempFile("completion.d/hosts.txt", "127.0.0.1\n");
    auto complete = [&](const std::string& words, int cword) {
        const std::string script = "source \"$0\"; cd \"$1\"; COMP_WORDS=(" + words +
                                   "); COMP_CWORD=" + std::to_string(cword) +
                                   "; _lumo; printf '%s\\n' \"${COMPREPLY[@]}\" | sort";
        return RunProgram("/bin/bash", {"-c", script, LUMO_BASH_COMPLETION, dir}).out;
    };
    EXPECT_EQ(complete("lumo sc", 1), "scan\n");
    EXPECT_NE(complete("lumo send --co", 2).find("--connect-timeout\n"), std::string::npos);
    EXPECT_EQ(complete("lumo scan @ho", 2), "@hosts.txt\n");
    EXPECT_EQ(complete("lumo run --tcp 10.0.0.1 ho", 4), "hosts.txt\n");
}
