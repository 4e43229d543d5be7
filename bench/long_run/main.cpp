// bench_long_run: the peak resident size of a whole `lumo run` process over
// a command file of N lines (default 1,000,000), each with an expectation,
// with a JUnit and a CSV report, against the same run over 10,000 lines in
// the same bench; the simulator on 127.0.5.221 answers at once.
//
// usage: bench_long_run [lines]
#include "sim_process.h"

#include <sys/resource.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr const char* kAddress = "127.0.5.221";
constexpr int kReferenceLines = 10000;

struct Figures {
    int status = -1;
    double seconds = 0;
    long peakKb = 0;
};

Figures RunLumo(const std::vector<std::string>& args) {
    Figures f;
    std::vector<std::string> all{LUMO_PROGRAM};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : all)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
    const auto t0 = Clock::now();
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, LUMO_PROGRAM, &fa, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&fa);
    int st = 0;
    rusage usage{};
    if (rc != 0 || wait4(pid, &st, 0, &usage) != pid)
        return f;
    f.seconds = std::chrono::duration<double>(Clock::now() - t0).count();
    f.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    f.peakKb = usage.ru_maxrss;
    return f;
}

std::string CommandList(int n) {
    const std::string path = "/tmp/bench_long_run_" + std::to_string(getpid()) + "_" + std::to_string(n) + ".txt";
    std::ofstream f(path);
    for (int i = 0; i < n; ++i)
        f << "za " << i << " => ^OK: command za " << i << " done\n";
    return path;
}

} // namespace

int main(int argc, char** argv) {
    const int n = argc > 1 ? std::max(kReferenceLines, std::atoi(argv[1])) : 1000000;
    simtest::ChildProcess sim;
    if (!sim.Start(LUMO_MODULE_SIM, {"--address", kAddress, "--tcp"})) {
        std::fprintf(stderr, "bench_long_run: the simulator did not get ready\n");
        return 1;
    }
    const std::string reports = "/tmp/bench_long_run_" + std::to_string(getpid());
    std::printf("lumo run with JUnit and CSV reports over TCP (simulator on %s)\n", kAddress);
    for (const int lines : {kReferenceLines, n}) {
        const std::string list = CommandList(lines);
        const Figures f = RunLumo({"run", "--tcp", kAddress, "--keep-going", "--junit", reports + ".xml", "--csv",
                                   reports + ".csv", list});
        std::remove(list.c_str());
        std::printf("  %8d lines  %8.1f s  %6.1f MB peak resident  (status %d)\n", lines, f.seconds,
                    f.peakKb / 1024.0, f.status);
    }
    std::remove((reports + ".xml").c_str());
    std::remove((reports + ".csv").c_str());
    std::printf("  goal: under 32 MB at 1,000,000 lines\n");
    return 0;
}
