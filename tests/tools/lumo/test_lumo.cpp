// lumo as a script runs it: the program against the module simulator over
// TCP, UDP and a serial pty, its exit statuses, its reports (a JUnit file
// that xmllint accepts against a JUnit schema), and bad input that sends
// nothing.
#include "loopback.h"
#include "lumo_program.h"
#include "sim_process.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

using namespace simtest;
using namespace lumotest;

namespace {

// A module answers the goodbye of a serial session ("*0", "exit") even when
// the session has already closed the port; the next session's send clears
// only what has arrived by then. Lets those answers come and drops them, so
// the next session starts on a quiet line: 300 ms without a byte, at most 10 s.
void LetTheLineGoQuiet(const std::string& device) {
    const int fd = open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(fd, 0) << device;
    char buf[256];
    for (int quiet = 0, rounds = 0; quiet < 3 && rounds < 100; ++rounds) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 100) > 0 && read(fd, buf, sizeof buf) > 0)
            quiet = 0;
        else
            ++quiet;
    }
    close(fd);
}


} // namespace

// TCP: a run with a passing and a failing expectation and its reports, send
// in JSON, connect's report of the module.
TEST(Lumo, TcpRunReportsAndJson) {
    ChildProcess sim;
    ASSERT_TRUE(sim.Start(LUMO_MODULE_SIM, {"--address", "127.0.8.1", "--tcp", "--id", "3"}));
    const std::string list = TempFile("tcp.txt", "# checks\r\n"
                                                 "za 1 => ^OK: command za 1 done\r\n"
                                                 "\n"
                                                 "zh => Device ID 3 Style 17\n"
                                                 "wait 10\n"
                                                 "zq => no such text\n"
                                                 "zb 2\n");
    const std::string junit = TempFile("tcp.xml"), csv = TempFile("tcp.csv");
    const Outcome run =
        Lumo({"run", "--tcp", "127.0.8.1", "--keep-going", "--junit", junit, "--csv", csv, list});
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_NE(run.out.find("PASS za 1 ("), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("PASS zh ("), std::string::npos);
    EXPECT_NE(run.out.find("[Device Information] Device ID 3 Style 17 Ver 1.00"), std::string::npos);
    EXPECT_NE(run.out.find("FAIL zq ("), std::string::npos);
    EXPECT_NE(run.out.find("expected /no such text/, got: OK: command zq done\\r"), std::string::npos);
    EXPECT_NE(run.out.find("\n3 passed, 1 failed\n"), std::string::npos);

    const std::string xml = ReadFile(junit);
    EXPECT_EQ(Count(xml, "<testcase "), 4u);
    EXPECT_EQ(Count(xml, "<failure "), 1u);
    EXPECT_NE(xml.find("name=\"line 6: zq\""), std::string::npos);
    if (std::string(LUMO_XMLLINT).empty())
        ADD_FAILURE() << "xmllint not found: install libxml2-utils";
    else
        EXPECT_EQ(RunProgram(LUMO_XMLLINT, {"--noout", "--schema", LUMO_JUNIT_XSD, junit}).status, 0);
    const std::string table = ReadFile(csv);
    EXPECT_EQ(Count(table, "\r\n"), 5u); // header and four rows
    EXPECT_NE(table.find("1,2,za 1,TCP 127.0.8.1:20036,answered,true,"), std::string::npos) << table;

    // one object per command; a second run of the list stops at its failure
    const Outcome json = Lumo({"send", "--json", "za 1", "--tcp", "127.0.8.1", "zh"});
    EXPECT_EQ(json.status, 0) << json.err;
    EXPECT_EQ(Count(json.out, "\n"), 2u);
    EXPECT_NE(json.out.find(
                  "{\"command\":\"za 1\",\"link\":\"TCP 127.0.8.1:20036\",\"frame\":\"55 AA 38 C7 06 F9 07 "
                  "7A 61 20 31 00 00\",\"answer\":\"4F 4B"),
              std::string::npos)
        << json.out;
    EXPECT_NE(json.out.find("\"status\":\"Ack : OK: command za 1 done\\r\",\"caption\":null,\"data\":null,"),
              std::string::npos);
    EXPECT_NE(json.out.find("\"caption\":\"Device Information\",\"data\":\"Device ID 3 Style 17 Ver 1.00\","),
              std::string::npos);

    const Outcome stop = Lumo({"run", "--tcp", "127.0.8.1", "--repeat", "3", list});
    EXPECT_EQ(stop.status, 1);
    EXPECT_EQ(Count(stop.out, "PASS"), 2u); // round 1 only, up to the failure
    EXPECT_NE(stop.out.find("FAIL [round 1] zq"), std::string::npos) << stop.out;
}

// UDP and a serial link on the simulator's pty: send, run, connect and the
// device query; the serial acknowledgement is shown from the word on.
TEST(Lumo, UdpAndSerial) {
    const std::string pty = "/tmp/lumo_test_pty_" + std::to_string(getpid());
    ChildProcess sim;
    ASSERT_TRUE(sim.Start(LUMO_MODULE_SIM, {"--address", "127.0.8.2", "--udp", "--serial-link", pty}));
    const Outcome udp = Lumo({"send", "--udp", "127.0.8.2", "zb 7"});
    EXPECT_EQ(udp.status, 0) << udp.err;
    EXPECT_EQ(udp.out.rfind("command: zb 7\nstatus: Ack : OK: command zb 7 done\nround trip: ", 0), 0u)
        << udp.out;
    EXPECT_NE(udp.out.find(" ms (answered)\n"), std::string::npos);

    const std::string list = TempFile("serial.txt", "za 5 => ^command za 5 done\\r$\n");
    const Outcome serial = Lumo({"run", "--serial", pty, "--baud", "115200", "--json", list});
    EXPECT_EQ(serial.status, 0) << serial.err;
    EXPECT_NE(serial.out.find("\"link\":\"COM1 " + pty + "\",\"frame\":\"7A 61 20 35 0D\""),
              std::string::npos)
        << serial.out;
    EXPECT_EQ(serial.err, "1 passed, 0 failed\n");

    const Outcome connect = Lumo({"connect", "--serial", pty});
    EXPECT_EQ(connect.status, 0);
    EXPECT_EQ(connect.out, "link: COM1 " + pty + "\nprompt seen: yes\n");
    LetTheLineGoQuiet(pty);
    const Outcome device = Lumo({"device-query", "--serial", pty, "--baud", "115200"});
    EXPECT_EQ(device.status, 0);
    EXPECT_EQ(device.out, "device: 12 34\n");
}

// Links that do not open: status 2 and the reason in words.
TEST(Lumo, LinksThatDoNotOpen) {
    const Outcome refused = Lumo({"send", "--tcp", "127.0.8.3", "za 1"});
    EXPECT_EQ(refused.status, 2);
    EXPECT_NE(refused.err.find("lumo: cannot open TCP 127.0.8.3:20036: refused"), std::string::npos)
        << refused.err;
    EXPECT_EQ(refused.out, "");
    const Outcome missing = Lumo({"connect", "--serial", "/nonexistent/ttyLUMO"});
    EXPECT_EQ(missing.status, 2);
    EXPECT_NE(missing.err.find("cannot open COM1 /nonexistent/ttyLUMO: no such device"), std::string::npos);
    // a port number names the device it stands for
    const Outcome mapped = Lumo({"connect", "--serial", "7"}, {"LUMO_COM7=/nonexistent/ttyLUMO7"});
    EXPECT_EQ(mapped.status, 2);
    EXPECT_NE(mapped.err.find("lumo: cannot open COM7 /nonexistent/ttyLUMO7: "), std::string::npos)
        << mapped.err;
}

// A module that never greets: the greeting wait runs out (about 10 s).
TEST(Lumo, SilentModuleTimesOut) {
    ChildProcess sim;
    ASSERT_TRUE(sim.Start(LUMO_MODULE_SIM, {"--address", "127.0.8.4", "--tcp", "--misbehave", "silent"}));
    const Outcome silent = Lumo({"connect", "--tcp", "127.0.8.4"});
    EXPECT_EQ(silent.status, 2);
    EXPECT_NE(silent.err.find("cannot open TCP 127.0.8.4:20036: timed out"), std::string::npos) << silent.err;
}

// A module that resets the link at the first command: the answer's wait runs
// out its bound (about 10 s), and the run stops there.
TEST(Lumo, ResetModuleStopsTheRun) {
    ChildProcess sim;
    ASSERT_TRUE(sim.Start(LUMO_MODULE_SIM,
                          {"--address", "127.0.8.5", "--tcp", "--style", "5", "--misbehave", "reset"}));
    const std::string list = TempFile("reset.txt", "zs => Signal\nzs\n");
    const Outcome reset = Lumo({"run", "--tcp", "127.0.8.5", "--keep-going", list});
    EXPECT_EQ(reset.status, 1);
    // the whole bound, or more on a loaded machine
    const size_t shown = reset.out.find("FAIL zs (");
    ASSERT_NE(shown, std::string::npos) << reset.out;
    EXPECT_GE(std::atof(reset.out.c_str() + shown + 9), 9500.0) << reset.out;
    EXPECT_NE(reset.out.find("timed out; expected /Signal/"), std::string::npos);
    EXPECT_NE(reset.out.find("\n0 passed, 1 failed\n"), std::string::npos);
    EXPECT_NE(reset.err.find("the module closed the link; stopping"), std::string::npos) << reset.err;
}

// Usage errors (64) and an unreadable file (66) send nothing; every
// subcommand has its usage.
TEST(Lumo, BadInputSendsNothing) {
    lumo_test::TcpListener module("127.0.8.6", 20036); // no program may reach it
    ASSERT_TRUE(module.ok());
    const std::string tooLong = TempFile("long.txt", "za 1\n" + std::string(254, 'q') + "\n");
    const std::string badRegex = TempFile("regex.txt", "za 1\nzb => (\n");
    const std::string badWait = TempFile("wait.txt", "wait soon\n");
    const std::string good = TempFile("good.txt", "za 1\n");
    const std::string nul = TempFile("nul.txt", std::string("za 1\nzb 2\nza") + '\0' + " 3 => OK\n");
    const std::string huge = TempFile("huge.txt", "za 1 => " + std::string(1000000, 'a') + "\n");
    const std::string unclosed = TempFile("unclosed.txt", "za 1\nza 2 => " + std::string(20000, '(') + "\n");
    const std::vector<std::pair<std::vector<std::string>, int>> cases = {
        {{"send", "--tcp", "127.0.8.6", "--bogus", "za"}, 64},
        {{"send", "--tcp", "127.0.8.300", "za"}, 64},
        {{"send", "--tcp", "127.0.8.6"}, 64},
        {{"send", "--udp", "127.0.8.6", "--x", "za"}, 64},
        {{"run", "--tcp", "127.0.8.6", "--repeat", "0", badWait}, 64},
        {{"run", "--tcp", "127.0.8.6", tooLong}, 64},
        {{"run", "--tcp", "127.0.8.6", badRegex}, 64},
        {{"run", "--tcp", "127.0.8.6", badWait}, 64},
        {{"run", "--tcp", "127.0.8.6", nul}, 64},
        {{"run", "--tcp", "127.0.8.6", huge}, 64},
        {{"run", "--tcp", "127.0.8.6", unclosed}, 64},
        {{"run", "--tcp", "127.0.8.6", "--j", "x", good}, 64},
        {{"send", "--tcp", "127.0.8.6", "za", "--bogus"}, 64},
        {{"run", "--tcp", "127.0.8.6", "--junit", "/nonexistent/out.xml", good}, 64},
        {{"run", "--tcp", "127.0.8.6", "/nonexistent/list.txt"}, 66},
        {{"frobnicate"}, 64},
        {{}, 64},
    };
    for (const auto& [args, status] : cases) {
        const Outcome o = Lumo(args);
        EXPECT_EQ(o.status, status) << testing::PrintToString(args) << o.err;
        EXPECT_NE(o.err.find("lumo: "), std::string::npos) << testing::PrintToString(args);
    }
    EXPECT_FALSE(module.Accept(std::chrono::milliseconds(0)).ok()) << "nobody came";
    const Outcome badLine = Lumo({"run", "--tcp", "127.0.8.6", badRegex});
    EXPECT_NE(badLine.err.find("regex.txt:2: bad regular expression '('"), std::string::npos) << badLine.err;
    const Outcome nulLine = Lumo({"run", "--tcp", "127.0.8.6", nul});
    EXPECT_NE(nulLine.err.find("nul.txt:3: the command holds a NUL byte"), std::string::npos) << nulLine.err;
    for (const auto& [file, line] : {std::pair{huge, ":1: bad regular expression 'aaa"},
                                     std::pair{unclosed, ":2: bad regular expression '((("}}) {
        const Outcome refused = Lumo({"run", "--tcp", "127.0.8.6", file});
        EXPECT_NE(refused.err.find(file + line), std::string::npos) << refused.err.substr(0, 300);
        EXPECT_LT(refused.err.size(), 400u); // the pattern is not echoed whole
    }

    for (const char* command : {"connect", "send", "run", "clear-socket", "device-query"})
        for (const char* help : {"--help", "-h"}) {
            const Outcome o = Lumo({command, help});
            EXPECT_EQ(o.status, 0) << command << " " << help << ": " << o.err;
            EXPECT_EQ(o.out.rfind(std::string("usage: lumo ") + command, 0), 0u) << o.out;
        }
    const Outcome usage = Lumo({"-h"});
    EXPECT_EQ(usage.status, 0);
    EXPECT_NE(usage.out.find("a query (zh, zs, zw000000) waits about 3 s"), std::string::npos) << usage.out;
}

// Expectations that a backtracking matcher cannot take (a huge pattern, deep
// nesting, a pattern whose tries double with every character of the answer)
// compile and match in time; the run goes on to the end.
TEST(Lumo, HostileExpectationsEndInTime) {
    ChildProcess sim;
    ASSERT_TRUE(sim.Start(LUMO_MODULE_SIM, {"--address", "127.0.8.7", "--tcp"}));
    const std::string as(40, 'a');
    const std::string list = TempFile(
        "hostile.txt", "za 1 => " + std::string(100000, 'a') + "\n" + "za 2 => " + std::string(20000, '(') +
                           "2" + std::string(20000, ')') + "\n" + "za " + as + " => (a+)+$\n" + "za " + as +
                           " => (a+)+ done\n" + "zh => ^(.|\\s)*$\n");
    const Outcome run = Lumo({"run", "--tcp", "127.0.8.7", "--keep-going", list});
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_NE(run.out.find("PASS za 2 ("), std::string::npos) << run.out.substr(0, 500);
    EXPECT_NE(run.out.find("FAIL za " + as + " ("), std::string::npos);
    EXPECT_NE(run.out.find("\n3 passed, 2 failed\n"), std::string::npos);
}

// The man page's examples, at 80 columns, paste as whole commands.
TEST(Lumo, ManPageExamplesPasteWhole) {
#ifndef LUMO_MAN_PAGE
    GTEST_SKIP() << "built without man pages";
#else
    const Outcome page =
        RunProgram("/bin/sh", {"-c", "zcat \"$0\" | groff -man -Tutf8 -rLL=80n -P-cbou", LUMO_MAN_PAGE});
    ASSERT_EQ(page.status, 0) << page.err;
    const size_t examples = page.out.find("\nEXAMPLES\n");
    ASSERT_NE(examples, std::string::npos);
    std::istringstream lines(
        page.out.substr(examples + 10, page.out.find("A command list", examples) - examples - 10));
    bool continued = false;
    int commands = 0;
    for (std::string line; std::getline(lines, line);) {
        line.erase(0, line.find_first_not_of(' '));
        if (line.empty())
            continue;
        if (!continued) {
            EXPECT_EQ(line.rfind("lumo ", 0), 0u) << "a line of its own: " << line;
            ++commands;
        }
        continued = line.ends_with('\\');
    }
    EXPECT_EQ(commands, 2);
#endif
}
