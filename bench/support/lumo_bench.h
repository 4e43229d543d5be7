// What the benches of lumo share: one whole program run as a bench measures
// it (its exit status, its wall time, its peak resident size and, when
// asked, the most threads it had at once, sampled from /proc every 2 ms),
// and command lists to run. Header only; bench programs include it.
#pragma once

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace bench {

struct Measured {
    int status = -1; // exit status; -1 when it did not start or was killed
    double seconds = 0;
    long peakKb = 0;
    int mostThreads = 0; // 0 unless sampled
};

inline int ThreadsOf(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("Threads:", 0) == 0)
            return std::atoi(line.c_str() + 8);
    return 0;
}

// Runs program with args, its standard output and error into the files
// named (created or emptied).
inline Measured RunMeasured(const std::string& program, const std::vector<std::string>& args,
                            bool sampleThreads = false, const std::string& outPath = "/dev/null",
                            const std::string& errPath = "/dev/null") {
    Measured m;
    std::vector<std::string> all{program};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : all)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&fa, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const auto t0 = std::chrono::steady_clock::now();
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, program.c_str(), &fa, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&fa);
    if (rc != 0)
        return m;
    int st = 0;
    rusage usage{};
    while (wait4(pid, &st, sampleThreads ? WNOHANG : 0, &usage) != pid) {
        m.mostThreads = std::max(m.mostThreads, ThreadsOf(pid));
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    m.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    m.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    m.peakKb = usage.ru_maxrss;
    return m;
}

// A command list of n lines "za I => ^OK: command za I done" in /tmp, named
// by the bench and n; the caller removes it.
inline std::string CommandList(const std::string& bench, int n) {
    const std::string path =
        "/tmp/" + bench + "_" + std::to_string(getpid()) + "_" + std::to_string(n) + ".txt";
    std::ofstream f(path);
    for (int i = 0; i < n; ++i)
        f << "za " << i << " => ^OK: command za " << i << " done\n";
    return path;
}

} // namespace bench
