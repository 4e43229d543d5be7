// bench_quick_links: links opened by programs against lumo-module-sim on
// 127.0.5.230 (style 17, answering at once), each figure from one run:
//   1. `lumo send --tcp A "za 1"` as a whole process: the median of 50,
//      beside that of /bin/true, the cost of starting any process here;
//   2. `lumo run` of N commands (default 1,000) as a whole process, beside a
//      minimal Python client doing the same exchanges on a plain socket
//      (socket_loop.py), also a whole process: commands per second of each,
//      the better of three runs each (the machine is shared);
//   3. closing 100 open C API links, one after the other.
// With --pauses (lumo) and ctrl_lumo_set_pauses (C) the same with the
// console's pauses, for comparison (fewer runs: they take seconds each).
//
// usage: bench_quick_links [commands]   (default 1000)
#include "ctrl_lumo_c.h"
#include "lumo_bench.h"
#include "sim_process.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr const char* kAddress = "127.0.5.230";
constexpr int kSendRuns = 50;
constexpr int kLinks = 100;
using Clock = std::chrono::steady_clock;

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? -1 : v[v.size() / 2];
}

// Seconds of one whole process, or -1 when it failed.
double Timed(const std::string& program, const std::vector<std::string>& args) {
    const bench::Measured m = bench::RunMeasured(program, args);
    return m.status == 0 ? m.seconds : -1;
}

double Best(int runs, const std::string& program, const std::vector<std::string>& args) {
    double best = -1;
    for (int i = 0; i < runs; ++i) {
        const double s = Timed(program, args);
        if (s < 0)
            return -1;
        best = best < 0 ? s : std::min(best, s);
    }
    return best;
}

double SendMedian(int runs, bool pauses) {
    std::vector<std::string> args{"send", "--tcp", kAddress, "za 1"};
    if (pauses)
        args.insert(args.begin() + 1, "--pauses");
    std::vector<double> t;
    for (int i = 0; i < runs; ++i) {
        const double s = Timed(LUMO_PROGRAM, args);
        if (s < 0)
            return -1;
        t.push_back(s);
    }
    return Median(t);
}

// Opens `count` C API links, then closes them one after the other: seconds of the closing.
double CloseLinks(int count, bool pauses) {
    std::vector<ctrl_lumo_link*> links;
    for (int i = 0; i < count; ++i) {
        ctrl_lumo_link* link = ctrl_lumo_create();
        ctrl_lumo_set_pauses(link, pauses ? 1 : 0);
        if (ctrl_lumo_open_tcp(link, kAddress, 0) != CTRL_LUMO_OK) {
            std::fprintf(stderr, "bench_quick_links: %s\n", ctrl_lumo_last_error(link));
            ctrl_lumo_destroy(link);
            break;
        }
        links.push_back(link);
    }
    const auto start = Clock::now();
    for (ctrl_lumo_link* link : links)
        ctrl_lumo_destroy(link);
    const double s = std::chrono::duration<double>(Clock::now() - start).count();
    return links.size() == size_t(count) ? s : -1;
}

void Line(const char* what, double value, const char* unit, const char* goal) {
    if (value < 0)
        std::printf("  %-52s   failed\n", what);
    else
        std::printf("  %-52s %9.3f %s  %s\n", what, value, unit, goal);
}

} // namespace

int main(int argc, char** argv) {
    const int n = argc > 1 ? std::max(1, std::atoi(argv[1])) : 1000;
    simtest::ChildProcess sim;
    if (!sim.Start(LUMO_MODULE_SIM, {"--address", kAddress, "--tcp"})) {
        std::fprintf(stderr, "bench_quick_links: the simulator did not get ready on %s\n", kAddress);
        return 1;
    }
    std::printf("links opened by programs, simulator on %s (style 17, answering at once)\n", kAddress);

    SendMedian(5, false); // warm-up: the programs and libraries in the page cache
    const double send = SendMedian(kSendRuns, false);
    std::vector<double> floor;
    for (int i = 0; i < kSendRuns; ++i)
        floor.push_back(Timed("/bin/true", {}));
    Line("lumo send --tcp A \"za 1\", median of 50", send * 1000, "ms", "(goal at most 10 ms)");
    Line("  the same with --pauses, median of 3", SendMedian(3, true) * 1000, "ms", "");
    Line("  /bin/true, median of 50 (starting any process)", Median(floor) * 1000, "ms", "");

    const std::string list = bench::CommandList("bench_quick_links", n);
    const double run = Best(3, LUMO_PROGRAM, {"run", "--tcp", kAddress, list});
    const double runPauses = Timed(LUMO_PROGRAM, {"run", "--pauses", "--tcp", kAddress, list});
    std::remove(list.c_str());
    const double python = Best(3, LUMO_PYTHON3, {LUMO_SOCKET_LOOP, kAddress, std::to_string(n)});
    std::printf("  %d commands, each a whole process (the better of 3; --pauses one run):\n", n);
    Line("lumo run", run, "s", run > 0 ? ("= " + std::to_string(int(n / run)) + " commands/s").c_str() : "");
    Line("lumo run --pauses", runPauses, "s",
         runPauses > 0 ? ("= " + std::to_string(int(n / runPauses)) + " commands/s").c_str() : "");
    Line("Python socket loop", python, "s",
         python > 0 ? ("= " + std::to_string(int(n / python)) + " commands/s").c_str() : "");
    if (run > 0 && python > 0)
        std::printf("  lumo run against the Python loop: x%.2f the commands per second (goal at least x1)\n",
                    python / run);

    Line("closing 100 open C API links", CloseLinks(kLinks, false), "s", "(goal under 1 s)");
    Line("  closing 3 with the console's pauses", CloseLinks(3, true), "s", "");
    return 0;
}
