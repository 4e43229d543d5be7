// bench_watch_exporter: lumo exporter watching a whole controller, the
// simulator playing 1,000 modules in one process (127.24.100.0 on). For each
// --jobs given (default 64 and 384), one exporter process with --interval 5:
//  - scrapes of /metrics as Prometheus makes them (gzip accepted), one every
//    100 ms over a fresh connection, from the start until two polls of every
//    target are whole (so while the links are in flight): how many, median,
//    99th percentile and slowest (goal: under 50 ms), and the size of the
//    text;
//  - the time of the last whole poll of the 1,000 (lumo_poll_duration_seconds;
//    the goal is every 5 s) and how many modules were up;
//  - the most threads the process had at once (sampled every 2 ms).
// usage: bench_watch_exporter [JOBS...]
#include "lumo_bench.h"
#include "sim_process.h"

#include <httplib.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

using namespace simtest;

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kModules = 1000;
const std::string kFirst = "127.24.100.0";
const std::string kLast = "127.24.103.231"; // the 1,000th
const std::string kListen = "127.24.104.1";
constexpr int kPort = 9725;

// The value of the first sample line that begins with name, or -1.
double Sample(const std::string& text, const std::string& name) {
    for (size_t at = text.find("\n" + name); at != std::string::npos; at = text.find("\n" + name, at + 1)) {
        const size_t end = text.find('\n', at + 1);
        const std::string line = text.substr(at + 1, end - at - 1);
        if (line.size() > name.size() && (line[name.size()] == ' ' || line[name.size()] == '{'))
            return std::atof(line.c_str() + line.rfind(' ') + 1);
    }
    return -1;
}

int CountUp(const std::string& text) {
    int up = 0;
    for (size_t at = text.find("\nlumo_module_up{"); at != std::string::npos;
         at = text.find("\nlumo_module_up{", at + 1))
        up += text.compare(text.find('\n', at + 1) - 2, 2, " 1") == 0;
    return up;
}

double Percentile(std::vector<double> v, double p) {
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, static_cast<size_t>(p * static_cast<double>(v.size())))];
}

void Measure(int jobs) {
    ChildProcess exporter;
    if (!exporter.Start(LUMO_PROGRAM,
                        {"exporter", "--listen", kListen + ":" + std::to_string(kPort), "--interval", "5", "--jobs",
                         std::to_string(jobs), kFirst + "-" + kLast},
                        0, false)) {
        std::printf("jobs %d: lumo exporter did not start\n", jobs);
        return;
    }
    const pid_t pid = exporter.Pid();
    std::atomic<bool> done{false};
    std::atomic<int> most{0};
    std::thread sampler([&] {
        while (!done) {
            most = std::max(most.load(), bench::ThreadsOf(pid));
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    });
    std::vector<double> ms;
    std::string last;
    const Clock::time_point start = Clock::now();
    while (Clock::now() - start < std::chrono::minutes(5)) {
        httplib::Client client(kListen, kPort);
        client.set_connection_timeout(5);
        client.set_read_timeout(5);
        const Clock::time_point t0 = Clock::now();
        const httplib::Result r = client.Get("/metrics", {{"Accept-Encoding", "gzip"}}); // as Prometheus asks
        const double took = std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
        if (r && r->status == 200) {
            ms.push_back(took);
            last = "\n" + r->body;
            if (Sample(last, "lumo_polls_total") >= 2 && Sample(last, "lumo_poll_duration_seconds") >= 0)
                break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    done = true;
    sampler.join();
    const double wall = std::chrono::duration<double>(Clock::now() - start).count();
    std::printf("jobs %d: %zu scrapes of %zu bytes while polling: median %.2f ms, 99th %.2f ms, slowest %.2f ms\n",
                jobs, ms.size(), last.size(), Percentile(ms, 0.5), Percentile(ms, 0.99), Percentile(ms, 1.0));
    std::printf("jobs %d: a poll of all %d took %.2f s (%d up), two polls whole after %.1f s; threads at most %d "
                "(jobs + 8 = %d, 2 x jobs + 8 = %d)\n",
                jobs, kModules, Sample(last, "lumo_poll_duration_seconds"), CountUp(last), wall, most.load(),
                jobs + 8, 2 * jobs + 8);
    std::fflush(stdout);
    exporter.Stop(30000);
}

} // namespace

int main(int argc, char** argv) {
    std::vector<int> jobs;
    for (int i = 1; i < argc; ++i)
        jobs.push_back(std::atoi(argv[i]));
    if (jobs.empty())
        jobs = {64, 384};
    ChildProcess sim;
    if (!sim.Start(LUMO_MODULE_SIM, {"--address", kFirst + "-" + kLast, "--tcp"}, 30000)) {
        std::printf("the simulator did not start on %s-%s\n", kFirst.c_str(), kLast.c_str());
        return 1;
    }
    std::printf("lumo exporter, %d modules (one simulator process), --interval 5\n", kModules);
    for (const int j : jobs)
        Measure(j);
    return 0;
}
