// lumo exporter: the watcher's polls on the main thread, and an HTTP server
// (cpp-httplib) on a thread of its own with a small fixed pool for the
// requests, which read the latest rows and never wait for a module.
#include <httplib.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <thread>

#include "metrics.h"
#include "posix_file.h"
#include "watch.h"

namespace lumo_cli {

namespace {

constexpr int kHttpThreads = 4;       // requests at once; with the listener, 5 threads
constexpr int kKeepAliveSeconds = 1;  // an idle connection holds a request thread this long
constexpr int kRequestSeconds = 5;    // to read a request or write an answer
constexpr size_t kMaxRequestBody = 0; // every request here is a GET

void Log(const std::string& line) {
    std::fprintf(stderr, "lumo exporter: %s\n", line.c_str());
}

// What the journal gets per module: a change between up and down, and the
// modules down at the first poll.
void LogRow(const ModuleRow& row, bool wasUp) {
    if (row.polls == 1 ? row.last.up : row.last.up == wasUp)
        return;
    Log(row.target + (row.last.up ? " up: " + row.last.signal : " down: " + row.last.message));
}

std::string ListenName(const Invocation& inv) {
    const bool v6 = inv.listenHost.find(':') != std::string::npos;
    return (v6 ? "[" + inv.listenHost + "]" : inv.listenHost) + ":" + std::to_string(inv.listenPort);
}

} // namespace

int DoExporter(const Invocation& inv) {
    int status = kExitUsage;
    const std::optional<WatchOptions> options = ReadWatchOptions(inv, &status);
    if (!options)
        return status;
    Watcher watcher(*options);

    httplib::Server server;
    server.new_task_queue = [] { return new httplib::ThreadPool(kHttpThreads); };
    server.set_keep_alive_timeout(kKeepAliveSeconds);
    server.set_read_timeout(kRequestSeconds, 0);
    server.set_write_timeout(kRequestSeconds, 0);
    server.set_payload_max_length(kMaxRequestBody);
    server.Get("/metrics", [&watcher](const httplib::Request&, httplib::Response& res) {
        res.set_content(watcher.Read([](const WatchView& v) { return MetricsText(v); }), kMetricsContentType);
    });
    server.Get("/", [&watcher](const httplib::Request&, httplib::Response& res) {
        res.set_content(watcher.Read([](const WatchView& v) { return StatusPage(v, WallClock::now()); }),
                        "text/html; charset=utf-8");
    });
    server.set_error_handler([](const httplib::Request& req, httplib::Response& res) {
        if (res.status == 404)
            res.set_content("not found: " + req.path + " (try /metrics or /)\n", "text/plain; charset=utf-8");
    });
    errno = 0;
    if (!server.bind_to_port(inv.listenHost, inv.listenPort)) {
        const int e = errno;
        std::fprintf(stderr, "lumo: exporter: cannot listen on %s: %s\n", ListenName(inv).c_str(),
                     e == EADDRINUSE || e == EACCES || e == EADDRNOTAVAIL ? std::strerror(e)
                                                                          : "no such address here");
        return kExitNoLink;
    }

    // SIGINT and SIGTERM stop the polls; the HTTP server is stopped below
    const posix::SignalWatch signals([&watcher] { watcher.Stop(); });
    std::atomic<bool> served{false}, failed{false};
    std::thread http([&] {
        if (!server.listen_after_bind() && !watcher.Stopped()) {
            Log("the HTTP server stopped on its own; ending");
            failed = true;
            watcher.Stop();
        }
        served = true;
    });
    char every[32];
    std::snprintf(every, sizeof every, "%g", static_cast<double>(options->interval.count()) / 1000);
    Log("listening on http://" + ListenName(inv) + "/metrics; " + std::to_string(options->addresses.size()) +
        " targets every " + every + " s, " + std::to_string(options->jobs) + " jobs");

    std::vector<char> wasUp(options->addresses.size(), 0);
    watcher.Run(
        [&](size_t target, const ModuleRow& row) {
            LogRow(row, wasUp[target] != 0);
            wasUp[target] = row.last.up;
        },
        [&](uint64_t round) {
            if (round > 0)
                return;
            const WatchView& v = watcher.View();
            const auto up = std::count_if(v.rows.begin(), v.rows.end(), [](const ModuleRow& r) { return r.last.up; });
            char line[128];
            std::snprintf(line, sizeof line, "first poll: %ld of %zu up, in %.2f s", static_cast<long>(up),
                          v.rows.size(), v.lastRoundSeconds);
            Log(line);
        });
    // stop() is lost on a server that has not begun listening yet: until it has ended
    while (!served) {
        server.stop();
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    http.join();
    Log("stopped");
    return failed ? kExitFailed : kExitOk;
}

} // namespace lumo_cli
