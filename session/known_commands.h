// The commands the modules know, for completing what an operator types: a
// plain file, one command a line, "command | argument hint | description"
// ('#' starts a comment line; the hint and the description may be empty).
// Plain C++.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace session {

struct KnownCommand {
    std::string command; // "zw"
    std::string hint;    // "000000"
    std::string description;
};

// The lines of text in order; a line without a command is skipped.
std::vector<KnownCommand> ParseKnownCommands(std::string_view text);
// Reads each file in turn (a missing one adds nothing); a command named again
// replaces the earlier entry in its place, so an operator's file can amend
// the installed one.
std::vector<KnownCommand> ReadKnownCommands(const std::vector<std::string>& paths);
// The operator's own file: ConfigDirectory() + "/known-commands".
std::string UserKnownCommandsPath();

} // namespace session
