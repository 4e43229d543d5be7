// bench_lumo_run: how fast `lumo run` gets through a command list over TCP
// against lumo-module-sim on 127.0.5.220 (style 17, answering at once), not
// counting the connect and the close: a run of N text commands, each with an
// expectation, against a run of one, both timed whole; the difference is the
// time of N - 1 commands. Also lumo's start-up time (`lumo --version`).
//
// usage: bench_lumo_run [commands]   (default 1000)
#include "sim_process.h"

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
constexpr const char* kAddress = "127.0.5.220";

// Runs lumo with args, its output thrown away; seconds taken, or -1 when it failed.
double TimeLumo(const std::vector<std::string>& args) {
    std::vector<std::string> all{LUMO_PROGRAM};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : all)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
    const auto t0 = Clock::now();
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, LUMO_PROGRAM, &fa, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&fa);
    int st = 0;
    if (rc != 0 || waitpid(pid, &st, 0) != pid || !WIFEXITED(st) || WEXITSTATUS(st) != 0)
        return -1;
    return std::chrono::duration<double>(Clock::now() - t0).count();
}

std::string CommandList(int n) {
    const std::string path =
        "/tmp/bench_lumo_run_" + std::to_string(getpid()) + "_" + std::to_string(n) + ".txt";
    std::ofstream f(path);
    for (int i = 0; i < n; ++i)
        f << "za " << i << " => ^OK: command za " << i << " done\n";
    return path;
}

} // namespace

int main(int argc, char** argv) {
    const int n = argc > 1 ? std::max(2, std::atoi(argv[1])) : 1000;
    simtest::ChildProcess sim;
    if (!sim.Start(LUMO_MODULE_SIM, {"--address", kAddress, "--tcp"})) {
        std::fprintf(stderr, "bench_lumo_run: the simulator did not get ready\n");
        return 1;
    }
    const std::string many = CommandList(n), one = CommandList(1);
    const std::vector<std::string> link = {"run", "--tcp", kAddress};
    auto run = [&](const std::string& file) {
        std::vector<std::string> args = link;
        args.push_back(file);
        return TimeLumo(args);
    };
    // the better of two runs each: the machine is shared
    const double tOne = std::min(run(one), run(one));
    const double tMany = std::max(run(many), 0.0);
    const double tMany2 = run(many);
    const double best = tMany2 > 0 ? std::min(tMany, tMany2) : tMany;
    std::remove(many.c_str());
    std::remove(one.c_str());
    if (tOne <= 0 || best <= 0) {
        std::fprintf(stderr, "bench_lumo_run: a run failed\n");
        return 1;
    }
    const double perCommand = (best - tOne) / (n - 1);
    std::printf("lumo run over TCP (simulator on %s, style 17, answering at once)\n", kAddress);
    std::printf("  run of 1 command (connect, command, close)   %8.3f s\n", tOne);
    std::printf("  run of %d commands                          %8.3f s\n", n, best);
    std::printf("  per command, without connect and close         %8.3f ms\n", perCommand * 1000);
    std::printf("  commands per second                            %8.0f   (goal at least 200)\n",
                1.0 / perCommand);

    std::vector<double> starts;
    for (int i = 0; i < 50; ++i)
        starts.push_back(TimeLumo({"--version"}));
    std::sort(starts.begin(), starts.end());
    std::printf("  start-up, lumo --version, median of 50         %8.2f ms  (goal under 20 ms)\n",
                starts[25] * 1000);
    return 0;
}
