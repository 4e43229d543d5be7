#include "watch_text.h"

#include <algorithm>
#include <cstdio>

#include "send.h"
#include "text.h"

namespace lumo_cli {

namespace {

std::string Json(const std::string& utf8) {
    return JsonString(FromUtf8OrLatin1(utf8));
}

std::string NumberOrDash(int v) {
    return v < 0 ? "-" : std::to_string(v);
}

// Code points, which is what a terminal shows of the texts here.
size_t Columns(const std::string& s) {
    return static_cast<size_t>(std::count_if(s.begin(), s.end(), [](char c) { return (c & 0xC0) != 0x80; }));
}

// s cut to at most n code points.
std::string Cut(const std::string& s, size_t n) {
    size_t seen = 0;
    for (size_t i = 0; i < s.size(); ++i) {
        if ((s[i] & 0xC0) != 0x80 && seen++ == n)
            return s.substr(0, i);
    }
    return s;
}

} // namespace

bool NumberColumn(size_t column) {
    return column == kId || column == kStyle || column == kRoundTrip;
}

const std::vector<std::string> kTableHeader = {"", "ADDRESS", "STATE", "ID", "STYLE", "RTT MS", "CHANGED",
                                               "SIGNAL"};

std::string UtcTime(WallClock::time_point t) {
    using namespace std::chrono;
    const auto ms = floor<milliseconds>(t);
    const auto day = floor<days>(ms);
    const year_month_day date{day};
    const hh_mm_ss time{ms - day};
    char buf[40];
    std::snprintf(buf, sizeof buf, "%04d-%02u-%02uT%02d:%02d:%02d.%03dZ", static_cast<int>(date.year()),
                  static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                  static_cast<int>(time.hours().count()), static_cast<int>(time.minutes().count()),
                  static_cast<int>(time.seconds().count()), static_cast<int>(time.subseconds().count()));
    return buf;
}

std::string Age(WallClock::duration d) {
    const long long s = std::max<long long>(0, std::chrono::duration_cast<std::chrono::seconds>(d).count());
    char buf[32];
    if (s < 60)
        std::snprintf(buf, sizeof buf, "%llds", s);
    else if (s < 3600)
        std::snprintf(buf, sizeof buf, "%lldm%02llds", s / 60, s % 60);
    else if (s < 86400)
        std::snprintf(buf, sizeof buf, "%lldh%02lldm", s / 3600, s % 3600 / 60);
    else
        std::snprintf(buf, sizeof buf, "%lldd%02lldh", s / 86400, s % 86400 / 3600);
    return buf;
}

std::string PollJson(const ModuleRow& row, WallClock::time_point now) {
    const ModulePoll& p = row.last;
    const auto orNull = [](bool has, const std::string& text) { return has ? text : std::string("null"); };
    return "{\"time\":\"" + UtcTime(now) + "\",\"poll\":" + std::to_string(row.round + 1) +
           ",\"target\":\"" + row.target + "\",\"up\":" + (p.up ? "true" : "false") +
           ",\"reason\":" + orNull(!p.up, Json(p.reason)) + ",\"message\":" + orNull(!p.up, Json(p.message)) +
           ",\"id\":" + orNull(p.id >= 0, std::to_string(p.id)) +
           ",\"style\":" + orNull(p.style >= 0, std::to_string(p.style)) +
           ",\"signal\":" + orNull(p.up, Json(p.signal)) +
           ",\"info\":" + orNull(p.infoAsked && !p.info.empty(), Json(p.info)) +
           ",\"round_trip_ms\":" + orNull(p.roundTripUs >= 0, session::RoundTripMs(p.roundTripUs)) +
           ",\"changed\":" + (row.changed ? "true" : "false") + ",\"last_change\":\"" +
           UtcTime(row.lastChange) + "\"}\n";
}

std::vector<std::string> RowCells(const ModuleRow& row, WallClock::time_point now) {
    std::vector<std::string> cells(kTableHeader.size());
    cells[kAddress] = row.target;
    if (row.polls == 0) {
        cells[kMark] = " ";
        cells[kState] = "...";
        cells[kId] = cells[kStyle] = cells[kRoundTrip] = cells[kChanged] = "-";
        return cells;
    }
    const ModulePoll& p = row.last;
    cells[kMark] = row.changed ? "*" : " ";
    cells[kState] = p.up ? "up" : "down";
    cells[kId] = NumberOrDash(row.id);
    cells[kStyle] = NumberOrDash(row.style);
    cells[kRoundTrip] = p.roundTripUs >= 0 ? session::RoundTripMs(p.roundTripUs) : "-";
    cells[kChanged] = Age(now - row.lastChange);
    cells[kSignal] = p.up ? p.signal : p.message;
    return cells;
}

std::vector<std::string> TableLines(const WatchView& view, WallClock::time_point now) {
    std::vector<std::vector<std::string>> cells{kTableHeader};
    for (const ModuleRow& row : view.rows)
        cells.push_back(RowCells(row, now));
    std::vector<size_t> widths(kTableHeader.size(), 0);
    for (const auto& line : cells)
        for (size_t c = 0; c < line.size(); ++c)
            widths[c] = std::max(widths[c], Columns(line[c]));
    std::vector<std::string> lines;
    for (const auto& line : cells) {
        std::string text;
        for (size_t c = 0; c < line.size(); ++c) {
            const bool right = NumberColumn(c);
            const std::string& cell = line[c];
            const size_t pad = widths[c] - Columns(cell);
            if (c + 1 == line.size())
                text += cell;
            else
                text += (right ? std::string(pad, ' ') + cell : cell + std::string(pad, ' ')) + "  ";
        }
        lines.push_back(text.substr(0, text.find_last_not_of(' ') + 1));
    }
    return lines;
}

std::string Summary(const WatchView& view) {
    size_t up = 0, down = 0, waiting = 0;
    for (const ModuleRow& row : view.rows)
        ++(row.polls == 0 ? waiting : row.last.up ? up : down);
    char every[32];
    std::snprintf(every, sizeof every, "every %g s", static_cast<double>(view.interval.count()) / 1000);
    std::string s = std::to_string(view.rows.size()) + " targets: " + std::to_string(up) + " up, " +
                    std::to_string(down) + " down";
    if (waiting > 0)
        s += ", " + std::to_string(waiting) + " not polled yet";
    if (view.rounds > 0) {
        s += " \u00b7 poll " + std::to_string(view.rounds);
        if (view.lastRoundSeconds >= 0) {
            char took[32];
            std::snprintf(took, sizeof took, " took %.2f s", view.lastRoundSeconds);
            s += took;
        }
    }
    return s + " \u00b7 " + every;
}

size_t FrameRows(int height) {
    return static_cast<size_t>(std::max(height - 3, 1)); // summary, header, footer
}

std::string TerminalFrame(const WatchView& view, WallClock::time_point now, int width, int height,
                          size_t* scroll, bool color) {
    const std::vector<std::string> lines = TableLines(view, now);
    const size_t rows = view.rows.size();
    const size_t shown = FrameRows(height);
    *scroll = rows > shown ? std::min(*scroll, rows - shown) : 0;
    const size_t end = std::min(rows, *scroll + shown);
    const size_t w = static_cast<size_t>(std::max(width, 1));

    std::string frame = "\x1b[H";
    const auto line = [&](const std::string& text, const char* style) {
        const std::string cut = Cut(text, w);
        if (color && style && *style)
            frame += std::string("\x1b[") + style + "m" + cut + "\x1b[0m";
        else
            frame += cut;
        frame += "\x1b[K\r\n";
    };
    line("lumo watch \u00b7 " + Summary(view), "1");
    line(lines[0], "7");
    for (size_t i = *scroll; i < end; ++i) {
        const ModuleRow& row = view.rows[i];
        const char* style = row.polls == 0 ? "2" : !row.last.up ? (row.changed ? "1;31" : "31")
                                               : row.changed   ? "1"
                                                               : "";
        line(lines[i + 1], style);
    }
    std::string footer = "q quits";
    if (rows > shown)
        footer += " \u00b7 \u2191 \u2193 PgUp PgDn Home End scroll \u00b7 rows " + std::to_string(*scroll + 1) +
                  "-" + std::to_string(end) + " of " + std::to_string(rows);
    frame += Cut(footer, w) + "\x1b[K\x1b[J"; // the last line ends without a line feed: nothing scrolls
    return frame;
}

} // namespace lumo_cli
