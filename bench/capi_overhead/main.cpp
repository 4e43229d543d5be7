// bench_capi_overhead: what an acknowledged command ("za 1" answered with an
// "OK: command ..." line) costs through the Python package ctrl_lumo over the
// same through the C interface and through lumo (when the tree has it), over
// UDP to lumo-module-sim on 127.0.48.1, with a plain datagram socket
// exchanging the same bytes as the floor. The goal: Python adds less than
// 50 us per command. The bench, the simulator
// and the Python child share one CPU, so that every round trip costs the
// same two context switches: wake-ups across cores make the figures bimodal.
//
// usage: bench_capi_overhead [runs]   (default 3000 per way)
#include "ctrl_lumo_c.h"
#include "sim_process.h"

#include <fcntl.h>
#include <sched.h>
#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <numeric>
#include <string>
#include <vector>

namespace {

constexpr const char* kAddress = "127.0.48.1";
using Clock = std::chrono::steady_clock;

struct Figures {
    double median = 0, mean = 0; // microseconds per command
};

template <typename Once> Figures Time(int runs, Once once) {
    for (int i = 0; i < std::min(runs, 200); ++i) // warm-up
        once();
    std::vector<double> us;
    for (int i = 0; i < runs; ++i) {
        const auto start = Clock::now();
        if (!once())
            return {};
        us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    }
    std::sort(us.begin(), us.end());
    return {us[us.size() / 2], std::accumulate(us.begin(), us.end(), 0.0) / double(us.size())};
}

void Print(const char* way, Figures f) {
    std::printf("%-34s median %7.1f us  mean %7.1f us\n", way, f.median, f.mean);
}

#ifdef LUMO_CLI
// Microseconds that `lumo send --udp A` takes for `commands` commands, its
// printing (to /dev/null) included; -1 when it failed.
double LumoRun(int commands) {
    std::vector<std::string> args{LUMO_CLI, "send", "--udp", kAddress};
    args.insert(args.end(), size_t(commands), "za 1");
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
    const auto start = Clock::now();
    pid_t pid = -1;
    int status = -1;
    const bool ran = posix_spawn(&pid, LUMO_CLI, &fa, nullptr, argv.data(), environ) == 0 &&
                     waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    posix_spawn_file_actions_destroy(&fa);
    return ran ? std::chrono::duration<double, std::micro>(Clock::now() - start).count() : -1;
}
#endif

} // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3000;
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(std::max(0, sched_getcpu()), &one);
    const bool pinned = sched_setaffinity(0, sizeof one, &one) == 0; // children inherit it
    simtest::ChildProcess sim;
    if (!sim.Start(LUMO_MODULE_SIM, {"--address", kAddress, "--udp"})) {
        std::fprintf(stderr, "bench_capi_overhead: the simulator did not start on %s\n", kAddress);
        return 1;
    }
    std::printf("acknowledged command \"za 1\" over UDP to lumo-module-sim on %s, %d runs each, %s\n",
                kAddress, runs, pinned ? "all on one CPU" : "not pinned to one CPU");

    // the floor: the same datagram and answer on a plain socket
    simtest::Fd plain = simtest::UdpSocketTo(kAddress, 20037);
    const simtest::Bytes datagram = simtest::B(std::string("za 1\0", 5));
    const Figures socketFigures = Time(runs, [&] {
        return simtest::SendAll(plain.Get(), datagram) && !simtest::ReadSome(plain.Get(), 2000).empty();
    });
    Print("plain datagram socket", socketFigures);

    ctrl_lumo_link* link = ctrl_lumo_create();
    if (ctrl_lumo_open_udp(link, kAddress) != CTRL_LUMO_OK) {
        std::fprintf(stderr, "bench_capi_overhead: %s\n", ctrl_lumo_last_error(link));
        return 1;
    }
    ctrl_lumo_result r;
    const Figures c = Time(runs, [&] {
        return ctrl_lumo_send_command(link, "za 1", &r) == CTRL_LUMO_OK &&
               r.outcome == CTRL_LUMO_OUTCOME_ANSWERED;
    });
    ctrl_lumo_destroy(link);
    Print("C: ctrl_lumo_send_command", c);

    const std::string command =
        std::string("LD_LIBRARY_PATH=" LUMO_CAPI_DIR " PYTHONPATH=" LUMO_PYTHON_PATH
                    " PYTHONDONTWRITEBYTECODE=1 " LUMO_PYTHON3 " " LUMO_BENCH_SCRIPT " ") +
        kAddress + " " + std::to_string(runs);
    Figures py;
    FILE* out = popen(command.c_str(), "r");
    if (!out || std::fscanf(out, "%lf %lf", &py.median, &py.mean) != 2) {
        std::fprintf(stderr, "bench_capi_overhead: no figures from %s\n", command.c_str());
        return 1;
    }
    pclose(out);
    Print("Python: ctrl_lumo.Link.send", py);

#ifdef LUMO_CLI
    // lumo sends every command it is given on one link: one more command
    // costs the difference between runs + 1 commands and one, over runs
    const double single = LumoRun(1), many = LumoRun(runs + 1);
    if (single < 0 || many < 0) {
        std::fprintf(stderr, "bench_capi_overhead: %s send failed\n", LUMO_CLI);
        return 1;
    }
    const double lumo = (many - single) / runs;
    std::printf("%-34s per command %7.1f us (one process for all)\n", "lumo send", lumo);
#endif
    std::printf("C over the plain socket:      %+7.1f us per command (median)\n",
                c.median - socketFigures.median);
    std::printf("Python over C:                %+7.1f us per command (median; goal under 50), x%.2f\n",
                py.median - c.median, py.median / c.median);
#ifdef LUMO_CLI
    std::printf("Python over lumo:             %+7.1f us per command (goal under 50)\n", py.median - lumo);
#endif
    return 0;
}
