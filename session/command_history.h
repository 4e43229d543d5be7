// The commands an operator sent, newest last, as a shell keeps them: walked
// back and forward from the command box, searched by a part, and kept in a
// plain file (one command a line, the newest kNewestKept) under the user's
// state folder. Plain C++; one thread at a time.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace session {

inline constexpr size_t kHistoryKept = 1000;

// $XDG_STATE_HOME/Norvane_Lumo, or ~/.local/state/Norvane_Lumo when
// XDG_STATE_HOME is unset or not absolute. Reads the environment.
std::string StateDirectory();
// $XDG_CONFIG_HOME/Norvane_Lumo, or ~/.config/Norvane_Lumo likewise.
std::string ConfigDirectory();
// StateDirectory() + "/command_history".
std::string HistoryPath();

class CommandHistory {
public:
    // Takes a sent command: nothing for an empty one or the newest again;
    // the oldest goes beyond kHistoryKept. Ends any walk. Whether it was added.
    bool Add(std::string_view command);
    const std::vector<std::string>& Entries() const { return m_Entries; }

    // The walk (Up, Down). Back: the next older command, the text being typed
    // kept as the draft on the first step; false at the oldest. Forward: the
    // next newer one, or the draft below the newest; false when not walking.
    bool Back(std::string_view typed, std::string& out);
    bool Forward(std::string& out);
    bool Walking() const { return m_Pos < m_Entries.size(); }
    void EndWalk() { m_Pos = m_Entries.size(); }

    // Entries that hold part (case-insensitive), newest first, each once.
    std::vector<std::string> Find(std::string_view part) const;

    // The file's lines (CR LF or LF, empty lines skipped), the newest kHistoryKept.
    void Load(const std::string& path);
    // Adds command to the file as Add() does to the list (re-reading it first,
    // so two consoles keep each other's commands) and replaces it whole.
    // False with *why set when the folder or the file cannot be written.
    static bool Append(const std::string& path, std::string_view command, std::string* why = nullptr);

private:
    std::vector<std::string> m_Entries;
    size_t m_Pos = 0; // the entry shown while walking; m_Entries.size() when not
    std::string m_Draft;
};

} // namespace session
