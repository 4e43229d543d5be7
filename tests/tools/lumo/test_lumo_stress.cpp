// Many short commands back to back from several lumo processes at once
// against one simulator: every answer the simulator sends at once must be
// taken, none may end "timed out". Built with the sanitizers the programs
// run slowly enough, and four processes switch often enough on a small
// machine, to open the narrow windows between the receive side
// publishing an answer and the sending side looking at the mailbox.
#include "sim_process.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>

using namespace simtest;

TEST(LumoStress, NoAnswerLostFromSeveralProcesses) {
    constexpr int kProcesses = 4, kCommands = 5000;
    ChildProcess sim;
    ASSERT_TRUE(sim.Start(LUMO_MODULE_SIM, {"--address", "127.0.8.71", "--tcp"}));
    const std::string base = testing::TempDir() + "lumo_stress_" + std::to_string(getpid());
    std::ofstream(base + ".txt") << "za 1\n";
    std::string script;
    for (int i = 0; i < kProcesses; ++i)
        script += "'" LUMO_PROGRAM "' run --tcp 127.0.8.71 --repeat " + std::to_string(kCommands) +
                  " --keep-going '" + base + ".txt' > '" + base + "." + std::to_string(i) + "' & ";
    ASSERT_EQ(std::system((script + "wait").c_str()), 0);
    for (int i = 0; i < kProcesses; ++i) {
        const std::string out = base + "." + std::to_string(i);
        std::ifstream f(out);
        std::string line, failed;
        while (std::getline(f, line))
            if (line.rfind("FAIL", 0) == 0 || line.find(" passed, ") != std::string::npos)
                failed += line + "\n"; // the failures and the summary
        EXPECT_EQ(failed, std::to_string(kCommands) + " passed, 0 failed\n");
        unlink(out.c_str());
    }
    unlink((base + ".txt").c_str());
}
