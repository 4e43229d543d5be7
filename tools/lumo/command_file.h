// The command list that `lumo run` reads: one command per line, '#'
// comments, blank lines, "wait MS" pauses, and an optional expectation after
// " => " (a regular expression in RE2's syntax, matched in time linear in
// the answer, or "timeout" for no answer). Parsed whole, and every line
// checked, before any link is opened. Plain C++; any thread.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace lumo_cli {

class Pattern;

inline constexpr int kMaxWaitMs = 3600000; // an hour
inline constexpr char kTimeoutWord[] = "timeout";

// What a command expects of its answer.
enum class Expect {
    Answer,  // none written: any answer (not a time-out)
    Pattern, // the acknowledgement line or the query data matches `pattern`
    Timeout, // no answer
};

struct Step {
    int line = 0;        // 1-based line in the file
    bool isWait = false; // a "wait MS" line
    int waitMs = 0;
    std::string text;       // the command as written (UTF-8)
    std::u16string command; // the command as the session sends it
    Expect expect = Expect::Answer;
    std::string pattern;                // as written, for reports
    std::shared_ptr<const Pattern> re;  // compiled pattern
};

// Parses the file's text. maxCommandChars is the longest command the chosen
// link carries. On failure returns false with "NAME:LINE: what" in *error.
bool ParseCommandFile(std::string_view text, const std::string& name, int maxCommandChars,
                      std::vector<Step>* steps, std::string* error);

// Checks one command (from the file or the command line): it must hold no
// NUL byte and fit the link. False with the reason in *error.
bool CheckCommand(const std::string& text, int maxCommandChars, std::u16string* command, std::string* error);

} // namespace lumo_cli
