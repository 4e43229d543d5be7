#include "watch.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "out.h"
#include "posix_file.h"
#include "posix_terminal.h"
#include "targets.h"
#include "watch_text.h"

namespace lumo_cli {

namespace {

constexpr int kRedrawMs = 100;    // at most this often as results come in
constexpr int kClockRedrawMs = 1000; // at least this often: the ages tick

constexpr int kCtrlC = 0x03;

bool AllUp(const WatchView& view) {
    return std::all_of(view.rows.begin(), view.rows.end(), [](const ModuleRow& r) { return r.last.up; });
}

// The table on the terminal, redrawn in place by a thread of its own until
// the watcher stops or a key ends it; the main thread polls meanwhile.
// Returns the exit status of a key that ended it (0 for q, 130 for Ctrl+C).
int RunTable(Watcher& watcher) {
    posix::FullScreen screen;
    const bool color = std::getenv("NO_COLOR") == nullptr;
    int status = kExitOk;
    std::thread ui([&] {
        using Clock = std::chrono::steady_clock;
        size_t scroll = 0;
        uint64_t drawnVersion = ~uint64_t{0};
        Clock::time_point drawnAt;
        int drawnWidth = 0, drawnHeight = 0;
        while (!watcher.Stopped()) {
            bool ended = false;
            const std::string input = screen.Read(kRedrawMs, &ended);
            int width = 0, height = 0;
            screen.Size(&width, &height);
            bool moved = false;
            const size_t page = FrameRows(height);
            for (const int key : ParseKeys(input)) {
                moved = true;
                if (key == 'q' || key == 'Q' || key == kCtrlC) {
                    status = key == kCtrlC ? 128 + 2 : kExitOk;
                    ended = true;
                } else if (key == kKeyUp || key == 'k') {
                    scroll -= std::min<size_t>(scroll, 1);
                } else if (key == kKeyDown || key == 'j') {
                    ++scroll;
                } else if (key == kKeyPageUp) {
                    scroll -= std::min(scroll, page);
                } else if (key == kKeyPageDown || key == ' ') {
                    scroll += page;
                } else if (key == kKeyHome) {
                    scroll = 0;
                } else if (key == kKeyEnd) {
                    scroll = SIZE_MAX;
                }
            }
            if (ended) {
                watcher.Stop();
                break;
            }
            const Clock::time_point now = Clock::now();
            const uint64_t version = watcher.Read([](const WatchView& v) { return v.version; });
            const bool fresh = version != drawnVersion && now - drawnAt >= std::chrono::milliseconds(kRedrawMs);
            if (!moved && !fresh && width == drawnWidth && height == drawnHeight &&
                now - drawnAt < std::chrono::milliseconds(kClockRedrawMs))
                continue;
            const std::string frame = watcher.Read([&](const WatchView& v) {
                return TerminalFrame(v, WallClock::now(), width, height, &scroll, color);
            });
            if (!screen.Write(frame)) {
                watcher.Stop(); // the terminal has gone
                break;
            }
            drawnVersion = version;
            drawnAt = now;
            drawnWidth = width;
            drawnHeight = height;
        }
        screen.Restore(); // at once: the links may take a moment to close
    });
    watcher.Run([](size_t, const ModuleRow&) {}, [](uint64_t) {});
    ui.join();
    return status;
}

} // namespace

std::vector<int> ParseKeys(std::string_view input) {
    static const std::pair<std::string_view, int> kSequences[] = {
        {"\x1b[A", kKeyUp},      {"\x1bOA", kKeyUp},       {"\x1b[B", kKeyDown},   {"\x1bOB", kKeyDown},
        {"\x1b[5~", kKeyPageUp}, {"\x1b[6~", kKeyPageDown}, {"\x1b[H", kKeyHome},   {"\x1bOH", kKeyHome},
        {"\x1b[1~", kKeyHome},   {"\x1b[7~", kKeyHome},     {"\x1b[F", kKeyEnd},    {"\x1bOF", kKeyEnd},
        {"\x1b[4~", kKeyEnd},    {"\x1b[8~", kKeyEnd},
    };
    std::vector<int> keys;
    while (!input.empty()) {
        bool matched = false;
        for (const auto& [sequence, key] : kSequences) {
            if (input.starts_with(sequence)) {
                keys.push_back(key);
                input.remove_prefix(sequence.size());
                matched = true;
                break;
            }
        }
        if (!matched) {
            keys.push_back(static_cast<unsigned char>(input.front()));
            input.remove_prefix(1);
        }
    }
    return keys;
}

std::optional<WatchOptions> ReadWatchOptions(const Invocation& inv, int* status) {
    session::TargetList list = session::ReadTargets(inv.arguments);
    if (!list.ok()) {
        std::fprintf(stderr, "lumo: %s\n", list.error.c_str());
        *status = list.problem == session::TargetProblem::NoInput ? kExitNoInput : kExitUsage;
        return std::nullopt;
    }
    if (list.addresses.empty()) {
        std::fprintf(stderr, "lumo: %s: no targets given (the files hold none)\n", CommandName(inv.command));
        *status = kExitUsage;
        return std::nullopt;
    }
    WatchOptions o;
    o.addresses = std::move(list.addresses);
    o.interval = std::chrono::milliseconds(inv.intervalMs);
    o.jobs = inv.jobs > 0 ? inv.jobs : kSendJobs;
    o.connectTimeoutMs = inv.connectTimeoutMs;
    o.rounds = inv.once ? 1 : 0;
    return o;
}

int DoWatch(const Invocation& inv) {
    int status = kExitUsage;
    const std::optional<WatchOptions> options = ReadWatchOptions(inv, &status);
    if (!options)
        return status;
    Watcher watcher(*options);
    const posix::SignalWatch signals([&watcher] { watcher.Stop(); });
    if (inv.json || !posix::StdoutIsTerminal()) {
        FileOut out(stdout);
        watcher.Run(
            [&](size_t, const ModuleRow& row) {
                out.Write(PollJson(row, WallClock::now()));
                if (out.Failed())
                    watcher.Stop(); // nobody reads on (| head)
            },
            [](uint64_t) {});
        status = kExitOk;
    } else if (inv.once) {
        watcher.Run([](size_t, const ModuleRow&) {}, [](uint64_t) {});
        std::string text = Summary(watcher.View()) + "\n";
        for (const std::string& line : TableLines(watcher.View(), WallClock::now()))
            text += line + "\n";
        std::fputs(text.c_str(), stdout);
        status = kExitOk;
    } else {
        status = RunTable(watcher);
    }
    if (signals.Signal() != 0)
        return 128 + signals.Signal();
    if (inv.once)
        return AllUp(watcher.View()) ? kExitOk : kExitFailed;
    return status;
}

} // namespace lumo_cli
