// bench_long_run: the peak resident size of a whole `lumo run` process over
// a command file of N lines (default 1,000,000), each with an expectation,
// with a JUnit and a CSV report, against the same run over 10,000 lines in
// the same bench; the simulator on 127.0.5.221 answers at once.
//
// usage: bench_long_run [lines]
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

constexpr const char* kAddress = "127.0.5.221";
constexpr int kReferenceLines = 10000;

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
        const std::string list = bench::CommandList("bench_long_run", lines);
        const bench::Measured f =
            bench::RunMeasured(LUMO_PROGRAM, {"run", "--tcp", kAddress, "--keep-going", "--junit",
                                              reports + ".xml", "--csv", reports + ".csv", list});
        std::remove(list.c_str());
        std::printf("  %8d lines  %8.1f s  %6.1f MB peak resident  (status %d)\n", lines, f.seconds,
                    f.peakKb / 1024.0, f.status);
    }
    std::remove((reports + ".xml").c_str());
    std::remove((reports + ".csv").c_str());
    std::printf("  goal: under 32 MB at 1,000,000 lines\n");
    return 0;
}
