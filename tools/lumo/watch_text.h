// How lumo watch shows its rows: one JSON object per poll, the table as
// plain lines, and the table as a terminal frame that redraws in place.
// Plain functions, no I/O; any thread.
#pragma once

#include <string>
#include <vector>

#include "watcher.h"

namespace lumo_cli {

// "2026-05-01T12:00:00.123Z"
std::string UtcTime(WallClock::time_point t);
// How long ago, short: "12s", "3m04s", "2h05m", "3d04h".
std::string Age(WallClock::duration d);

// One poll of one target (the row just after it) as one JSON line: "time",
// "poll" (from 1), "target", "up", "reason", "message", "id", "style",
// "signal", "info" (when asked at this poll), "round_trip_ms", "changed",
// "last_change".
std::string PollJson(const ModuleRow& row, WallClock::time_point now);

// The table's columns: a mark for a row that changed, then what the header says.
enum TableColumn { kMark, kAddress, kState, kId, kStyle, kRoundTrip, kChanged, kSignal };
extern const std::vector<std::string> kTableHeader;
bool NumberColumn(size_t column); // aligned to the right
// The table's cells of a row, in column order (a row not yet polled has
// "..." for its state; a row that is down, its reason in words for its signal).
std::vector<std::string> RowCells(const ModuleRow& row, WallClock::time_point now);

// The table as plain lines, header first, columns padded to their widest cell.
std::vector<std::string> TableLines(const WatchView& view, WallClock::time_point now);

// "3 targets: 2 up, 1 down · poll 4 took 0.52 s · every 5 s"
std::string Summary(const WatchView& view);

// One terminal frame of width x height cells: the summary, the table from
// row *scroll on (kept within the rows) and a footer; each line cut to the
// width and cleared to its end, rows that changed at their last poll marked
// with '*' and bold, the state coloured when color. Draws over the last
// frame in place.
std::string TerminalFrame(const WatchView& view, WallClock::time_point now, int width, int height,
                          size_t* scroll, bool color);
// Rows of the table a frame of that height shows (for paging).
size_t FrameRows(int height);

} // namespace lumo_cli
