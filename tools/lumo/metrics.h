// What the exporter serves, made from the watcher's rows as they are (a
// scrape never waits for a module): the metrics in Prometheus's text
// format and a small status page that reloads itself. Plain functions, no
// I/O; any thread.
#pragma once

#include <string>

#include "watcher.h"

namespace lumo_cli {

inline constexpr char kMetricsContentType[] = "text/plain; version=0.0.4; charset=utf-8";

// Every target polled at least once: lumo_module_up, _round_trip_seconds
// (when up), _info (once a greeting came), _signal_info (when up),
// _last_change_timestamp_seconds, lumo_poll_errors_total per reason seen;
// and lumo_poll_duration_seconds (after the first whole round) and
// lumo_polls_total.
std::string MetricsText(const WatchView& view);

// The table of lumo watch as an HTML page that reloads itself every interval.
std::string StatusPage(const WatchView& view, WallClock::time_point now);

} // namespace lumo_cli
