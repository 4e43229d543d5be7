#include "command_file.h"

#include "pattern.h"
#include "text.h"

namespace lumo_cli {

namespace {

constexpr std::string_view kArrow = " => ";
constexpr std::string_view kWait = "wait";

bool IsBlank(std::string_view s) {
    return s.find_first_not_of(" \t") == std::string_view::npos;
}

std::string_view TrimSpaces(std::string_view s) {
    const size_t a = s.find_first_not_of(" \t");
    if (a == std::string_view::npos)
        return {};
    const size_t b = s.find_last_not_of(" \t");
    return s.substr(a, b - a + 1);
}

// "wait MS": true with *ms set; *bad when it starts with "wait " but MS is no count.
bool WaitLine(std::string_view line, int* ms, bool* bad) {
    const std::string_view t = TrimSpaces(line);
    if (!t.starts_with(kWait) || t.size() == kWait.size() ||
        (t[kWait.size()] != ' ' && t[kWait.size()] != '\t'))
        return false;
    const std::string_view digits = TrimSpaces(t.substr(kWait.size()));
    long v = 0;
    for (char c : digits) {
        if (c < '0' || c > '9' || v > kMaxWaitMs) {
            *bad = true;
            return true;
        }
        v = v * 10 + (c - '0');
    }
    *bad = digits.empty() || v > kMaxWaitMs;
    *ms = static_cast<int>(v);
    return true;
}

// The expectation compiled, or null with the reason in *error. The pattern
// is read as the commands are (UTF-8, else Latin-1) and matched against the
// answer's text in UTF-8.
std::shared_ptr<const Pattern> Compile(const std::string& pattern, std::string* error) {
    std::string why;
    auto re = CompilePattern(ToUtf8(FromUtf8OrLatin1(pattern)), &why);
    if (re)
        return re;
    *error = "bad regular expression '" + Excerpt(pattern) + "': " + Excerpt(why);
    return nullptr;
}

} // namespace

bool CheckCommand(const std::string& text, int maxCommandChars, std::u16string* command, std::string* error) {
    if (text.find('\0') != std::string::npos) {
        *error = "the command holds a NUL byte";
        return false;
    }
    *command = FromUtf8OrLatin1(text);
    if (command->size() > static_cast<size_t>(maxCommandChars)) {
        *error = "command of " + std::to_string(command->size()) + " characters; this link carries at most " +
                 std::to_string(maxCommandChars);
        return false;
    }
    return true;
}

bool ParseCommandFile(std::string_view text, const std::string& name, int maxCommandChars,
                      std::vector<Step>* steps, std::string* error) {
    steps->clear();
    int lineNo = 0;
    auto fail = [&](const std::string& what) {
        *error = name + ":" + std::to_string(lineNo) + ": " + what;
        return false;
    };
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string_view::npos)
            end = text.size();
        std::string_view line = text.substr(pos, end - pos);
        pos = end + 1;
        ++lineNo;
        if (line.ends_with('\r'))
            line.remove_suffix(1); // a file written with CR LF
        if (IsBlank(line) || TrimSpaces(line).starts_with('#'))
            continue;

        Step step;
        step.line = lineNo;
        bool badWait = false;
        if (WaitLine(line, &step.waitMs, &badWait)) {
            if (badWait)
                return fail("'wait' takes a number of milliseconds up to " + std::to_string(kMaxWaitMs));
            step.isWait = true;
            steps->push_back(std::move(step));
            continue;
        }
        const size_t arrow = line.find(kArrow);
        step.text = std::string(line.substr(0, arrow));
        if (arrow != std::string_view::npos) {
            step.pattern = std::string(TrimSpaces(line.substr(arrow + kArrow.size())));
            if (step.pattern.empty())
                return fail("nothing after ' => ': give a regular expression or 'timeout'");
            if (step.pattern == kTimeoutWord) {
                step.expect = Expect::Timeout;
            } else {
                step.expect = Expect::Pattern;
                std::string why;
                if (!(step.re = Compile(step.pattern, &why)))
                    return fail(why);
            }
        }
        std::string why;
        if (!CheckCommand(step.text, maxCommandChars, &step.command, &why))
            return fail(why);
        steps->push_back(std::move(step));
    }
    bool anyCommand = false;
    for (const Step& s : *steps)
        anyCommand = anyCommand || !s.isWait;
    if (!anyCommand) {
        *error = name + ": no commands in the file";
        return false;
    }
    return true;
}

} // namespace lumo_cli
