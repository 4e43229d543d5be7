// The command list that `lumo run` reads: one command per line, '#'
// comments, blank lines, "wait MS" pauses, and an optional expectation after
// " => " (a regular expression in RE2's syntax, matched in time linear in
// the answer, or "timeout" for no answer). Every line is checked before any
// link is opened; then each link reads the file again as it goes, so a file
// of any length costs no more memory than one line. Any thread.
#pragma once

#include <cstdint>
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

// A command file opened for reading as a stream, as often as needed: a
// file is read in place, standard input or a pipe is first copied into an
// unnamed temporary file. Any number of StepReaders may read it at once.
class CommandSource {
public:
    CommandSource() = default;
    ~CommandSource();
    CommandSource(const CommandSource&) = delete;
    CommandSource& operator=(const CommandSource&) = delete;

    // Opens path ("-": standard input); false with errno set.
    bool Open(const std::string& path);
    // The path, or "(standard input)": how reports and messages name it.
    const std::string& Name() const { return m_Name; }
    int Descriptor() const { return m_Fd; }

private:
    int m_Fd = -1;
    std::string m_Name;
};

// Reads a source's steps from its start, holding nothing but the current
// line: blank and comment lines are skipped, every other line is parsed
// and checked. One thread per reader.
class StepReader {
public:
    // maxCommandChars: the longest command the chosen link carries.
    StepReader(const CommandSource& source, int maxCommandChars);

    enum class Got { Step, End, Error };
    // The next step. On Error, Error() is "NAME:LINE: what was wrong", or
    // "cannot read NAME: reason" with ReadFailed() true.
    Got Next(Step* step);
    const std::string& Error() const { return m_Error; }
    bool ReadFailed() const { return m_ReadFailed; }

private:
    // The next line without its '\n'; false at the end or on a read error.
    bool NextLine(std::string* line);

    const CommandSource& m_Source;
    int m_MaxChars;
    int m_LineNo = 0;
    uint64_t m_Offset = 0; // of m_Buffer's first byte in the file
    std::string m_Buffer;  // read, not yet taken
    size_t m_Taken = 0;    // of m_Buffer
    bool m_AtEnd = false;
    bool m_ReadFailed = false;
    std::string m_Error;
};

// Reads the whole file once, checking every line, before any link opens.
// True when it holds at least one command; else false with *error as
// StepReader::Error() says, or "NAME: no commands in the file", and
// *readFailed telling an unreadable file from a bad one.
bool CheckCommandFile(const CommandSource& source, int maxCommandChars, std::string* error, bool* readFailed);

// Checks one command (from the file or the command line): it must hold no
// NUL byte and fit the link. False with the reason in *error.
bool CheckCommand(const std::string& text, int maxCommandChars, std::u16string* command, std::string* error);

} // namespace lumo_cli
