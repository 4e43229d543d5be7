#include "log_file.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <vector>

#include "posix_log_file.h"

namespace session {

namespace {

constexpr int kClashSuffixes = 99;

// "YYYY-MM-DD_hh-mm-ss" followed by "-N" or nothing, then ".log".
bool isSessionLogName(const std::string& name) {
    static constexpr std::string_view pattern = "dddd-dd-dd_dd-dd-dd";
    if (name.size() < pattern.size() + 4 || name.compare(name.size() - 4, 4, ".log") != 0)
        return false;
    for (size_t i = 0; i < pattern.size(); ++i) {
        const bool digit = name[i] >= '0' && name[i] <= '9';
        if (pattern[i] == 'd' ? !digit : name[i] != pattern[i])
            return false;
    }
    const std::string_view rest(name.data() + pattern.size(), name.size() - pattern.size() - 4);
    if (rest.empty())
        return true;
    return rest.size() >= 2 && rest[0] == '-' &&
           std::all_of(rest.begin() + 1, rest.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Name order is start order, except that "x-2.log" must follow "x.log".
std::string sortKey(const std::string& name) {
    std::string key = name.substr(0, name.size() - 4);
    const size_t dash = key.size() > 19 ? 19 : std::string::npos;
    if (dash == std::string::npos)
        return key + "-00";
    const std::string n = key.substr(dash + 1);
    return key.substr(0, dash) + "-" + std::string(n.size() < 2 ? 2 - n.size() : 0, '0') + n;
}

} // namespace

std::string LogDirectory() {
    const char* state = std::getenv("XDG_STATE_HOME");
    if (state && state[0] == '/')
        return std::string(state) + "/Norvane_Lumo/logs";
    const char* home = std::getenv("HOME");
    return std::string(home ? home : "") + "/.local/state/Norvane_Lumo/logs";
}

std::string LogFileName(int64_t wallMs) {
    const LocalStamp t = posix_log::LocalTime(wallMs);
    char buf[40];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d_%02d-%02d-%02d.log", t.year, t.month, t.day, t.hour,
                  t.minute, t.second);
    return buf;
}

void PruneLogFiles(const std::string& dir, size_t keep) {
    namespace fs = std::filesystem;
    std::error_code ec;
    std::vector<std::pair<std::string, std::string>> logs; // sort key, name
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (isSessionLogName(name) && it->is_regular_file(ec))
            logs.emplace_back(sortKey(name), name);
    }
    if (logs.size() <= keep)
        return;
    std::sort(logs.begin(), logs.end());
    for (size_t i = 0; i + keep < logs.size(); ++i)
        fs::remove(fs::path(dir) / logs[i].second, ec);
}

LogFile::LogFile(std::string dir, std::string name) : m_Dir(std::move(dir)), m_Name(std::move(name)) {}

LogFile::~LogFile() {
    Close();
}

bool LogFile::open() {
    if (m_Fd >= 0)
        return true;
    if (m_Error != 0)
        return false;
    if (m_Created) {
        const int fd = posix_log::OpenAppend(Path(), false);
        if (fd < 0)
            m_Error = -fd;
        m_Fd = fd >= 0 ? fd : -1;
        return m_Fd >= 0;
    }
    std::error_code ec;
    std::filesystem::create_directories(m_Dir, ec);
    const std::string base = m_Name.size() > 4 ? m_Name.substr(0, m_Name.size() - 4) : m_Name;
    for (int n = 1; n <= kClashSuffixes; ++n) {
        const std::string name = n == 1 ? m_Name : base + "-" + std::to_string(n) + ".log";
        const int fd = posix_log::OpenAppend(m_Dir + "/" + name, true);
        if (fd == -EEXIST)
            continue;
        if (fd < 0) {
            m_Error = -fd;
            return false;
        }
        m_Name = name;
        m_Fd = fd;
        m_Created = true;
        PruneLogFiles(m_Dir, kLogFilesKept);
        return true;
    }
    m_Error = EEXIST;
    return false;
}

bool LogFile::WriteLine(std::string_view line) {
    if (!open())
        return false;
    m_Line.assign(line);
    m_Line += '\n';
    const int err = posix_log::WriteAll(m_Fd, m_Line);
    if (err != 0) {
        m_Error = err;
        posix_log::Close(m_Fd);
        m_Fd = -1;
        return false;
    }
    return true;
}

bool LogFile::WriteRecord(const Record& r) {
    if (m_Fd < 0 && m_Error != 0)
        return false; // no formatting for a file that cannot be written
    return WriteLine(FormatLine(r, Stamp(r.wallMs)));
}

void LogFile::Close() {
    posix_log::Close(m_Fd);
    m_Fd = -1;
    m_Error = 0;
}

std::string LogFile::Stamp(int64_t wallMs) {
    const int64_t second = wallMs >= 0 ? wallMs / 1000 : (wallMs - 999) / 1000;
    if (second != m_StampSecond) {
        std::string full = StampText(posix_log::LocalTime(wallMs));
        m_StampPrefix = full.substr(0, full.size() - 4);
        m_StampSecond = second;
    }
    char ms[8];
    std::snprintf(ms, sizeof ms, ".%03d", static_cast<int>(wallMs - second * 1000));
    return m_StampPrefix + ms;
}

} // namespace session
