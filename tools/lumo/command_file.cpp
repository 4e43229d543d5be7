#include "command_file.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "pattern.h"
#include "posix_file.h"
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

namespace {

enum class LineKind { Skip, Step, Bad };

// One line of the file (without its line feed) as a step; Bad with *why.
LineKind ParseLine(std::string_view line, int maxCommandChars, Step* step, std::string* why) {
    if (line.ends_with('\r'))
        line.remove_suffix(1); // a file written with CR LF
    if (IsBlank(line) || TrimSpaces(line).starts_with('#'))
        return LineKind::Skip;
    bool badWait = false;
    if (WaitLine(line, &step->waitMs, &badWait)) {
        if (badWait) {
            *why = "'wait' takes a number of milliseconds up to " + std::to_string(kMaxWaitMs);
            return LineKind::Bad;
        }
        step->isWait = true;
        return LineKind::Step;
    }
    const size_t arrow = line.find(kArrow);
    step->text = std::string(line.substr(0, arrow));
    if (arrow != std::string_view::npos) {
        step->pattern = std::string(TrimSpaces(line.substr(arrow + kArrow.size())));
        if (step->pattern.empty()) {
            *why = "nothing after ' => ': give a regular expression or 'timeout'";
            return LineKind::Bad;
        }
        if (step->pattern == kTimeoutWord) {
            step->expect = Expect::Timeout;
        } else {
            step->expect = Expect::Pattern;
            if (!(step->re = Compile(step->pattern, why)))
                return LineKind::Bad;
        }
    }
    if (!CheckCommand(step->text, maxCommandChars, &step->command, why))
        return LineKind::Bad;
    return LineKind::Step;
}

constexpr size_t kReadChunk = 65536;

} // namespace

CommandSource::~CommandSource() {
    posix::Close(m_Fd);
}

bool CommandSource::Open(const std::string& path) {
    m_Name = path == "-" ? "(standard input)" : path;
    const int fd = posix::OpenRereadable(path);
    if (fd < 0) {
        errno = -fd;
        return false;
    }
    m_Fd = fd;
    return true;
}

StepReader::StepReader(const CommandSource& source, int maxCommandChars)
    : m_Source(source), m_MaxChars(maxCommandChars) {}

bool StepReader::NextLine(std::string* line) {
    for (;;) {
        const size_t feed = m_Buffer.find('\n', m_Taken);
        if (feed != std::string::npos || (m_AtEnd && m_Taken < m_Buffer.size())) {
            const size_t end = feed == std::string::npos ? m_Buffer.size() : feed;
            line->assign(m_Buffer, m_Taken, end - m_Taken);
            m_Taken = end + 1;
            return true;
        }
        if (m_AtEnd)
            return false;
        // keep the part of a line read so far, then read on
        m_Offset += m_Taken;
        m_Buffer.erase(0, m_Taken);
        m_Taken = 0;
        const size_t had = m_Buffer.size();
        m_Buffer.resize(had + kReadChunk);
        const long n =
            posix::ReadAt(m_Source.Descriptor(), m_Buffer.data() + had, kReadChunk, m_Offset + had);
        m_Buffer.resize(had + static_cast<size_t>(std::max(0L, n)));
        if (n < 0) {
            m_ReadFailed = true;
            m_Error = "cannot read " + m_Source.Name() + ": " + std::strerror(static_cast<int>(-n));
            return false;
        }
        m_AtEnd = n == 0;
    }
}

StepReader::Got StepReader::Next(Step* step) {
    std::string line;
    while (NextLine(&line)) {
        ++m_LineNo;
        *step = Step{};
        step->line = m_LineNo;
        std::string why;
        switch (ParseLine(line, m_MaxChars, step, &why)) {
        case LineKind::Skip:
            continue;
        case LineKind::Step:
            return Got::Step;
        case LineKind::Bad:
            m_Error = m_Source.Name() + ":" + std::to_string(m_LineNo) + ": " + why;
            return Got::Error;
        }
    }
    return m_ReadFailed ? Got::Error : Got::End;
}

bool CheckCommandFile(const CommandSource& source, int maxCommandChars, std::string* error,
                      bool* readFailed) {
    StepReader reader(source, maxCommandChars);
    Step step;
    bool anyCommand = false;
    StepReader::Got got;
    while ((got = reader.Next(&step)) == StepReader::Got::Step)
        anyCommand = anyCommand || !step.isWait;
    *readFailed = reader.ReadFailed();
    if (got == StepReader::Got::Error) {
        *error = reader.Error();
        return false;
    }
    if (!anyCommand) {
        *error = source.Name() + ": no commands in the file";
        return false;
    }
    return true;
}

} // namespace lumo_cli
