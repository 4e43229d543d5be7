// bench_lumo_run: how fast `lumo run` gets through a command list over TCP
// against lumo-module-sim on 127.0.5.220 (style 17, answering at once), not
// counting the connect and the close: a run of N text commands, each with an
// expectation, against a run of one, both timed whole; the difference is the
// time of N - 1 commands. Also lumo's start-up time (`lumo --version`).
//
// usage: bench_lumo_run [commands]   (default 1000)
#include "lumo_bench.h"
#include "sim_process.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace {

constexpr const char* kAddress = "127.0.5.220";

// Runs lumo with args, its output thrown away; seconds taken, or -1 when it failed.
double TimeLumo(const std::vector<std::string>& args) {
    const bench::Measured m = bench::RunMeasured(LUMO_PROGRAM, args);
    return m.status == 0 ? m.seconds : -1;
}

} // namespace

int main(int argc, char** argv) {
    const int n = argc > 1 ? std::max(2, std::atoi(argv[1])) : 1000;
    simtest::ChildProcess sim;
    if (!sim.Start(LUMO_MODULE_SIM, {"--address", kAddress, "--tcp"})) {
        std::fprintf(stderr, "bench_lumo_run: the simulator did not get ready\n");
        return 1;
    }
    const std::string many = bench::CommandList("bench_lumo_run", n),
                      one = bench::CommandList("bench_lumo_run", 1);
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
