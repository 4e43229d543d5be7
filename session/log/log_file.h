// The session log on disk: one plain-text file per console session under the
// user's state folder, one line per record, each line written through to the
// kernel as it is recorded; the newest 50 files are kept.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "session_record.h"

namespace session {

inline constexpr size_t kLogFilesKept = 50;

// $XDG_STATE_HOME/Norvane_Lumo/logs, or ~/.local/state/Norvane_Lumo/logs
// when XDG_STATE_HOME is unset or not absolute. Reads the environment.
std::string LogDirectory();

// The file of a session that started at wallMs (local time):
// "2026-12-07_14-31-22.log".
std::string LogFileName(int64_t wallMs);

// Deletes the oldest session logs in dir (names as LogFileName makes them,
// "-N" clash suffixes included, ordered by name, which is by start time)
// until at most keep remain. Other files are left alone. Errors are ignored.
void PruneLogFiles(const std::string& dir, size_t keep);

// One session's file. Nothing touches the disk until the first line: then the
// folder is made, the file created (a name taken by another console gets a
// "-2", "-3", ... suffix) and older files pruned. A file that cannot be
// opened or written stops taking lines until Close(). One thread at a time
// (the recorder calls it under its lock).
class LogFile {
public:
    LogFile(std::string dir, std::string name);
    ~LogFile();
    LogFile(const LogFile&) = delete;
    LogFile& operator=(const LogFile&) = delete;

    // Writes the record's line with its local-time stamp; false when it was not written.
    bool WriteRecord(const Record& r);
    // Writes line and a line feed in one call.
    bool WriteLine(std::string_view line);
    // Closes the file; the next line opens the same file again for appending.
    void Close();

    // The file's path (the one in use after a clash).
    std::string Path() const { return m_Dir + "/" + m_Name; }
    // errno of the failure that stopped the writing, 0 while it works.
    int Error() const { return m_Error; }

    // The stamp of wallMs in local time, "2026-12-07T14:31:22.123" (the
    // calendar part is worked out once per second).
    std::string Stamp(int64_t wallMs);

private:
    bool open();

    std::string m_Dir;
    std::string m_Name;
    int m_Fd = -1;
    bool m_Created = false; // the file is ours: reopen it without the clash check
    int m_Error = 0;
    int64_t m_StampSecond = INT64_MIN;
    std::string m_StampPrefix; // "2026-12-07T14:31:22" of m_StampSecond
    std::string m_Line;        // reused line buffer
};

} // namespace session
