// bench_fleet: lumo over a whole controller against the simulator, each
// figure of one whole lumo process: its time, its peak resident size and
// the most threads it had at once (read from /proc every few ms).
//   1. scan of 1,024 addresses, modules on the first N (default 1,000),
//      nothing on the rest;
//   2. send zh to the N modules, --json, default jobs;
//   3. the same with a tenth of them in trouble (half silent, half resetting
//      the link), played by second and third simulators on sub-ranges:
//      every healthy module must answer, every other be named.
// The simulator plays a range of addresses in one process when it can
// (lumo-module-sim --address A-B); otherwise one process per module is
// started, at most P (default 100), and N is cut to what they cover (the
// figures then stand for that many modules only).
//
// usage: bench_fleet [modules [processes]]   (default 1000 and 100; at most 1024)
#include "lumo_bench.h"
#include "sim_process.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr uint32_t kBase = 0x7F030000; // 127.3.0.0/22
constexpr int kAddresses = 1024;
int g_SingleProcessesAtMost = 100;
constexpr int kSendJobs = 64;

std::string Dotted(uint32_t a) {
    return std::to_string(a >> 24) + "." + std::to_string((a >> 16) & 0xFF) + "." +
           std::to_string((a >> 8) & 0xFF) + "." + std::to_string(a & 0xFF);
}

std::string ReadAll(const std::string& path) {
    std::ifstream f(path);
    return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

struct Figures : bench::Measured {
    std::string out, err;
};

// Runs lumo with args, its threads sampled while it runs, its output read afterwards.
Figures RunLumo(const std::vector<std::string>& args) {
    const std::string base = "/tmp/bench_fleet_" + std::to_string(getpid());
    Figures f;
    static_cast<bench::Measured&>(f) =
        bench::RunMeasured(LUMO_PROGRAM, args, true, base + ".out", base + ".err");
    f.out = ReadAll(base + ".out");
    f.err = ReadAll(base + ".err");
    std::remove((base + ".out").c_str());
    std::remove((base + ".err").c_str());
    return f;
}

size_t Count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

// The simulators of one bench: one process for a range where the simulator
// plays ranges, else one per address.
class Modules {
public:
    // Plays [first, first + count) with extra options; false when not one started.
    bool Play(uint32_t first, int count, const std::vector<std::string>& extra) {
        if (count <= 0)
            return true;
        std::vector<std::string> args{"--address", Dotted(first) + "-" + Dotted(first + count - 1), "--tcp"};
        args.insert(args.end(), extra.begin(), extra.end());
        if (s_Ranges) {
            auto range = std::make_unique<simtest::ChildProcess>();
            if (range->Start(LUMO_MODULE_SIM, args, 5000)) {
                m_Sims.push_back(std::move(range));
                m_Played += count;
                return true;
            }
            s_Ranges = false; // it said why on standard error, once
        }
        m_Singles = true;
        for (int i = 0; i < count && m_Started < g_SingleProcessesAtMost; ++i, ++m_Started) {
            auto one = std::make_unique<simtest::ChildProcess>();
            args[1] = Dotted(first + i);
            if (!one->Start(LUMO_MODULE_SIM, args))
                return false;
            m_Sims.push_back(std::move(one));
            ++m_Played;
        }
        return m_Played > 0;
    }
    int Played() const { return m_Played; }
    bool Singles() const { return m_Singles; }

private:
    std::vector<std::unique_ptr<simtest::ChildProcess>> m_Sims;
    int m_Played = 0, m_Started = 0;
    bool m_Singles = false;
    static inline bool s_Ranges = true; // whether the simulator plays ranges
};

void PrintFigures(const char* what, const Figures& f) {
    std::printf("  %-44s %7.2f s  %7.1f MB peak  %4d threads at most  (status %d)\n", what, f.seconds,
                f.peakKb / 1024.0, f.mostThreads, f.status);
}

std::string Range(int count) {
    return Dotted(kBase) + "-" + Dotted(kBase + count - 1);
}

} // namespace

int main(int argc, char** argv) {
    const int wanted = argc > 1 ? std::clamp(std::atoi(argv[1]), 10, kAddresses) : 1000;
    if (argc > 2)
        g_SingleProcessesAtMost = std::clamp(std::atoi(argv[2]), 1, kAddresses);
    std::printf("lumo over a controller: simulator on %s/22\n", Dotted(kBase).c_str());

    int modules = 0;
    {
        Modules all;
        if (!all.Play(kBase, wanted, {})) {
            std::fprintf(stderr, "bench_fleet: the simulator did not get ready\n");
            return 1;
        }
        modules = all.Played();
        if (all.Singles())
            std::printf("  (the simulator plays one address a process here: %d modules in %d processes)\n",
                        modules, modules);
        const Figures scan = RunLumo({"scan", Range(kAddresses)});
        PrintFigures(("scan of " + std::to_string(kAddresses) + " addresses").c_str(), scan);
        std::printf("    found %zu of %d modules; goal: all of them in at most 2 s\n", Count(scan.out, "\n"),
                    modules);
        const Figures send = RunLumo({"send", "--json", "--tcp", Range(modules), "zh"});
        PrintFigures(("send zh to " + std::to_string(modules) + " modules").c_str(), send);
        std::printf(
            "    %zu device-information answers; goal: all in at most 2 s, at most 200 MB, at most %d "
            "threads\n",
            Count(send.out, "\"caption\":\"Device Information\""), 2 * kSendJobs + 8);
    }

    // a tenth in trouble: the last twentieth silent, the one before resetting
    const int trouble = std::max(2, modules / 10);
    const int healthy = modules - trouble;
    Modules mixed;
    if (!mixed.Play(kBase, healthy, {}) ||
        !mixed.Play(kBase + healthy, trouble / 2, {"--style", "5", "--misbehave", "reset"}) ||
        !mixed.Play(kBase + healthy + trouble / 2, trouble - trouble / 2, {"--misbehave", "silent"})) {
        std::fprintf(stderr, "bench_fleet: the simulators in trouble did not get ready\n");
        return 1;
    }
    const Figures bad = RunLumo({"send", "--json", "--tcp", Range(modules), "zh"});
    PrintFigures(
        ("send zh, " + std::to_string(trouble) + " of " + std::to_string(modules) + " in trouble").c_str(),
        bad);
    const size_t answers = Count(bad.out, "\"caption\":\"Device Information\"");
    const size_t named =
        Count(bad.out, "\"outcome\":\"no_link\"") + Count(bad.out, "\"outcome\":\"timed_out\"");
    std::printf("    %zu answers from %d healthy modules; %zu failed targets named with their reason of %d\n",
                answers, healthy, named, trouble);
    const size_t closing = bad.err.find(" targets: ");
    if (closing != std::string::npos)
        std::printf("    %s", bad.err.substr(bad.err.rfind('\n', closing) + 1).c_str());
    return 0;
}
