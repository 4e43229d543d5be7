#include "known_commands.h"

#include <algorithm>
#include <fstream>
#include <sstream>

#include "command_history.h"

namespace session {

namespace {

std::string_view Stripped(std::string_view s) {
    const auto first = s.find_first_not_of(" \t\r");
    if (first == std::string_view::npos)
        return {};
    return s.substr(first, s.find_last_not_of(" \t\r") - first + 1);
}

// The next '|'-separated field of rest, taken off it.
std::string Field(std::string_view& rest) {
    const size_t bar = rest.find('|');
    const std::string_view field = rest.substr(0, bar);
    rest = bar == std::string_view::npos ? std::string_view{} : rest.substr(bar + 1);
    return std::string(Stripped(field));
}

} // namespace

std::vector<KnownCommand> ParseKnownCommands(std::string_view text) {
    std::vector<KnownCommand> out;
    while (!text.empty()) {
        const size_t end = text.find('\n');
        std::string_view line = Stripped(text.substr(0, end));
        text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
        if (line.empty() || line.front() == '#')
            continue;
        KnownCommand c;
        c.command = Field(line);
        c.hint = Field(line);
        c.description = Field(line);
        if (!c.command.empty())
            out.push_back(std::move(c));
    }
    return out;
}

std::vector<KnownCommand> ReadKnownCommands(const std::vector<std::string>& paths) {
    std::vector<KnownCommand> all;
    for (const std::string& path : paths) {
        std::ifstream in(path, std::ios::binary);
        if (!in)
            continue;
        std::ostringstream text;
        text << in.rdbuf();
        for (KnownCommand& c : ParseKnownCommands(text.str())) {
            auto same = std::find_if(all.begin(), all.end(),
                                     [&c](const KnownCommand& k) { return k.command == c.command; });
            if (same != all.end())
                *same = std::move(c);
            else
                all.push_back(std::move(c));
        }
    }
    return all;
}

std::string UserKnownCommandsPath() {
    return ConfigDirectory() + "/known-commands";
}

} // namespace session
