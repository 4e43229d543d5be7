// Many short commands back to back from several lumo processes at once
// against one simulator: every answer the simulator sends at once must be
// taken, none may end "timed out". Built with the sanitizers the programs
// run slowly enough to open the narrow windows between the receive side
// publishing an answer and the sending side looking at the mailbox.
#include "sim_process.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

using namespace simtest;

namespace {

constexpr const char* kAddress = "127.0.8.71";
constexpr int kProcesses = 2;
constexpr int kCommands = 10000; // per process

struct LumoRun {
    pid_t pid = -1;
    std::string out; // the file its standard output goes to
};

LumoRun StartLumo(const std::string& commands, int index) {
    LumoRun run;
    run.out = testing::TempDir() + "lumo_stress_" + std::to_string(getpid()) + "_" + std::to_string(index);
    std::vector<std::string> args{LUMO_PROGRAM,   "run",      "--tcp",
                                  kAddress,       "--repeat", std::to_string(kCommands),
                                  "--keep-going", commands};
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&fa, 1, run.out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (posix_spawn(&run.pid, LUMO_PROGRAM, &fa, nullptr, argv.data(), environ) != 0)
        run.pid = -1;
    posix_spawn_file_actions_destroy(&fa);
    return run;
}

// The failed commands' lines and the summary of one finished run.
std::string Failures(const std::string& path) {
    std::ifstream f(path);
    std::string line, failed;
    while (std::getline(f, line))
        if (line.rfind("FAIL", 0) == 0 || line.find("passed,") != std::string::npos)
            failed += line + "\n";
    return failed;
}

} // namespace

TEST(LumoStress, NoAnswerLostFromSeveralProcesses) {
    ChildProcess sim;
    ASSERT_TRUE(sim.Start(LUMO_MODULE_SIM, {"--address", kAddress, "--tcp"}));
    const std::string commands = testing::TempDir() + "lumo_stress_" + std::to_string(getpid()) + ".txt";
    std::ofstream(commands) << "za 1\n";

    std::vector<LumoRun> runs;
    for (int i = 0; i < kProcesses; ++i)
        runs.push_back(StartLumo(commands, i));
    for (LumoRun& run : runs) {
        ASSERT_GT(run.pid, 0);
        int status = -1;
        ASSERT_EQ(waitpid(run.pid, &status, 0), run.pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << Failures(run.out);
        EXPECT_EQ(Failures(run.out), std::to_string(kCommands) + " passed, 0 failed\n");
        unlink(run.out.c_str());
    }
    unlink(commands.c_str());
}
