#include "command_history.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <system_error>
#include <random>

namespace session {

namespace {

std::string XdgDirectory(const char* variable, const char* fallback) {
    const char* value = std::getenv(variable);
    if (value && value[0] == '/')
        return std::string(value) + "/Norvane_Lumo";
    const char* home = std::getenv("HOME");
    return std::string(home ? home : "") + fallback + "/Norvane_Lumo";
}

std::string Lower(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

void Trim(std::vector<std::string>& entries) {
    if (entries.size() > kHistoryKept)
        entries.erase(entries.begin(), entries.end() - kHistoryKept);
}

// A command never spans lines in the file.
bool Storable(std::string_view command) {
    return !command.empty() && command.find_first_of("\r\n") == std::string_view::npos;
}

} // namespace

std::string StateDirectory() {
    return XdgDirectory("XDG_STATE_HOME", "/.local/state");
}

std::string ConfigDirectory() {
    return XdgDirectory("XDG_CONFIG_HOME", "/.config");
}

std::string HistoryPath() {
    return StateDirectory() + "/command_history";
}

bool CommandHistory::Add(std::string_view command) {
    const bool added = Storable(command) && (m_Entries.empty() || m_Entries.back() != command);
    if (added) {
        m_Entries.emplace_back(command);
        Trim(m_Entries);
    }
    EndWalk();
    return added;
}

bool CommandHistory::Back(std::string_view typed, std::string& out) {
    if (!Walking())
        m_Draft.assign(typed);
    if (m_Pos == 0)
        return false;
    out = m_Entries[--m_Pos];
    return true;
}

bool CommandHistory::Forward(std::string& out) {
    if (!Walking())
        return false;
    ++m_Pos;
    out = Walking() ? m_Entries[m_Pos] : m_Draft;
    return true;
}

std::vector<std::string> CommandHistory::Find(std::string_view part) const {
    const std::string needle = Lower(part);
    std::vector<std::string> found;
    for (auto it = m_Entries.rbegin(); it != m_Entries.rend(); ++it)
        if (Lower(*it).find(needle) != std::string::npos &&
            std::find(found.begin(), found.end(), *it) == found.end())
            found.push_back(*it);
    return found;
}

void CommandHistory::Load(const std::string& path) {
    m_Entries.clear();
    std::ifstream in(path, std::ios::binary);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (!line.empty())
            m_Entries.push_back(std::move(line));
    }
    Trim(m_Entries);
    EndWalk();
}

bool CommandHistory::Append(const std::string& path, std::string_view command, std::string* why) {
    namespace fs = std::filesystem;
    CommandHistory file;
    file.Load(path);
    if (!file.Add(command))
        return true; // nothing new to keep
    std::error_code ec;
    fs::create_directories(fs::path(path).parent_path(), ec);
    // A whole new file renamed over the old one: a crash never leaves half a history.
    const std::string temp = path + ".tmp" + std::to_string(std::random_device{}());
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        for (const std::string& e : file.m_Entries)
            out << e << '\n';
        out.flush();
        if (!out) {
            if (why)
                *why = "cannot write " + temp;
            fs::remove(temp, ec);
            return false;
        }
    }
    fs::rename(temp, path, ec);
    if (ec) {
        if (why)
            *why = "cannot replace " + path + ": " + ec.message();
        fs::remove(temp, ec);
        return false;
    }
    return true;
}

} // namespace session
