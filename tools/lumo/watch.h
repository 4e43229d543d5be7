// lumo watch and lumo exporter: the targets polled every --interval seconds
// until a person or a signal ends it, shown as a table on a terminal, as
// JSON lines, or served over HTTP. SIGINT and SIGTERM end them cleanly. The
// main thread only.
#pragma once

#include <optional>

#include "cli.h"
#include "watcher.h"

namespace lumo_cli {

// The options of watch or exporter with their targets read; nullopt with
// the error said and the exit status in *status.
std::optional<WatchOptions> ReadWatchOptions(const Invocation& inv, int* status);

// Exit status: --once 0 when every module is up, 1 when one is down; else 0
// after q, 130 after Ctrl+C on the table, 128 + the signal after one.
int DoWatch(const Invocation& inv);

// Exit status: 0 once stopped by SIGINT or SIGTERM; 2 when it cannot listen.
int DoExporter(const Invocation& inv);

// What a terminal sent, as keys: the bytes themselves, and these for the
// escape sequences of the keys that scroll.
enum Key : int { kKeyUp = 0x100, kKeyDown, kKeyPageUp, kKeyPageDown, kKeyHome, kKeyEnd };
std::vector<int> ParseKeys(std::string_view input);

} // namespace lumo_cli
