#include "metrics.h"

#include <cmath>
#include <cstdio>

#include "text.h"
#include "watch_text.h"

namespace lumo_cli {

namespace {

// A label value: backslash, double quote and line feed escaped.
std::string LabelValue(const std::string& s) {
    std::string out;
    out.reserve(s.size() + 2);
    for (char c : s) {
        if (c == '\\' || c == '"')
            out += '\\';
        if (c == '\n')
            out += "\\n";
        else
            out += c;
    }
    return out;
}

std::string Number(double v, const char* format) {
    char buf[64];
    std::snprintf(buf, sizeof buf, format, v);
    return buf;
}

void Family(std::string& out, const char* name, const char* type, const char* help) {
    out += std::string("# HELP ") + name + " " + help + "\n# TYPE " + name + " " + type + "\n";
}

// One line per row that has a value: f(row) gives the labels after target
// and the value, or an empty value for none.
template <class F>
void PerTarget(std::string& out, const WatchView& view, const char* name, F f) {
    for (const ModuleRow& row : view.rows) {
        if (row.polls == 0)
            continue;
        const auto [labels, value] = f(row);
        if (!value.empty())
            out += std::string(name) + "{target=\"" + row.target + "\"" + labels + "} " + value + "\n";
    }
}

using Sample = std::pair<std::string, std::string>;

} // namespace

std::string MetricsText(const WatchView& view) {
    std::string out;
    out.reserve(256 * view.rows.size() + 1024);
    Family(out, "lumo_module_up", "gauge",
           "Whether the module answered its last poll (link opened, signal query answered).");
    PerTarget(out, view, "lumo_module_up", [](const ModuleRow& r) { return Sample{"", r.last.up ? "1" : "0"}; });

    Family(out, "lumo_module_round_trip_seconds", "gauge", "Round trip of the signal query at the last poll.");
    PerTarget(out, view, "lumo_module_round_trip_seconds", [](const ModuleRow& r) {
        return Sample{"", r.last.up && r.last.roundTripUs >= 0
                              ? Number(static_cast<double>(r.last.roundTripUs) / 1e6, "%.6f")
                              : ""};
    });

    Family(out, "lumo_module_info", "gauge", "The module's identifier, style and version, as last seen.");
    PerTarget(out, view, "lumo_module_info", [](const ModuleRow& r) {
        if (r.id < 0)
            return Sample{};
        return Sample{",id=\"" + std::to_string(r.id) + "\",style=\"" + std::to_string(r.style) +
                          "\",version=\"" + LabelValue(InfoVersion(r.info)) + "\"",
                      "1"};
    });

    Family(out, "lumo_module_signal_info", "gauge", "The module's signal line at the last poll.");
    PerTarget(out, view, "lumo_module_signal_info", [](const ModuleRow& r) {
        if (!r.last.up)
            return Sample{};
        return Sample{",signal=\"" + LabelValue(r.last.signal) + "\"", "1"};
    });

    Family(out, "lumo_module_last_change_timestamp_seconds", "gauge",
           "When what the module's polls found last changed, in seconds since the epoch.");
    PerTarget(out, view, "lumo_module_last_change_timestamp_seconds", [](const ModuleRow& r) {
        const auto ms =
            std::chrono::duration_cast<std::chrono::milliseconds>(r.lastChange.time_since_epoch()).count();
        return Sample{"", Number(static_cast<double>(ms) / 1000, "%.3f")};
    });

    Family(out, "lumo_poll_duration_seconds", "gauge", "How long the last whole poll of every target took.");
    if (view.lastRoundSeconds >= 0)
        out += "lumo_poll_duration_seconds " + Number(view.lastRoundSeconds, "%.6f") + "\n";
    Family(out, "lumo_polls_total", "counter", "Polls of every target completed.");
    out += "lumo_polls_total " + std::to_string(view.rounds) + "\n";

    Family(out, "lumo_poll_errors_total", "counter", "Polls that found the module down, per reason.");
    for (const ModuleRow& row : view.rows)
        for (const auto& [reason, count] : row.errors)
            out += "lumo_poll_errors_total{target=\"" + row.target + "\",reason=\"" + LabelValue(reason) +
                   "\"} " + std::to_string(count) + "\n";
    return out;
}

std::string StatusPage(const WatchView& view, WallClock::time_point now) {
    const long long refresh = std::max<long long>(1, (view.interval.count() + 999) / 1000);
    std::string page = "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
                       "<meta http-equiv=\"refresh\" content=\"" +
                       std::to_string(refresh) +
                       "\">\n<title>lumo exporter</title>\n<style>\n"
                       "body { font-family: sans-serif; margin: 1em; }\n"
                       "table { border-collapse: collapse; }\n"
                       "th, td { padding: 0.2em 0.8em; text-align: left; white-space: nowrap; }\n"
                       "th { background: #ddd; }\n"
                       "td.number { text-align: right; font-variant-numeric: tabular-nums; }\n"
                       "tr.down td { color: #b00; }\n"
                       "tr.changed td { font-weight: bold; }\n"
                       "tr.waiting td { color: #888; }\n"
                       "</style>\n</head>\n<body>\n<h1>lumo exporter</h1>\n<p id=\"summary\">" +
                       XmlEscape(Summary(view)) + "</p>\n<table>\n<thead><tr>";
    for (const std::string& h : kTableHeader)
        page += "<th>" + XmlEscape(h) + "</th>";
    page += "</tr></thead>\n<tbody>\n";
    for (const ModuleRow& row : view.rows) {
        std::string cls = row.polls == 0 ? "waiting" : row.last.up ? "up" : "down";
        if (row.changed)
            cls += " changed";
        page += "<tr class=\"" + cls + "\">";
        const std::vector<std::string> cells = RowCells(row, now);
        for (size_t c = 0; c < cells.size(); ++c) {
            page += std::string(NumberColumn(c) ? "<td class=\"number\">" : "<td>") + XmlEscape(cells[c]) + "</td>";
        }
        page += "</tr>\n";
    }
    page += "</tbody>\n</table>\n<p>As of " + UtcTime(now) +
            "; for Prometheus: <a href=\"/metrics\">/metrics</a>.</p>\n</body>\n</html>\n";
    return page;
}

} // namespace lumo_cli
