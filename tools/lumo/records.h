// One record per command that lumo sent, the verdict on its expectation,
// and the forms it is written in: a line for a person, a JSON object, a
// JUnit test case, a CSV row. Plain C++ (streams are passed in); one thread.
#pragma once

#include <string>

#include "command_file.h"
#include "send.h"

namespace lumo_cli {

struct CommandRecord {
    int round = 1;    // run: the pass of --repeat, from 1
    int line = 0;     // run: the line in the command file; 0 for send
    std::string text; // the command as written (UTF-8)
    session::SendResult result;
    Expect expect = Expect::Answer;
    std::string pattern; // the expectation as written
    bool passed = true;
    std::string message; // why it failed; empty when it passed
};

// Name of an outcome in reports: "answered", "acked_silently", "timed_out",
// "refused_too_long", "not_read", "no_link".
const char* OutcomeName(session::SendOutcome outcome);

// What the expectation is matched against: for a query that showed its data
// the data, else the status line without "Ack : " (empty when none).
std::u16string MatchSubject(const session::SendResult& result);

// Decides passed and message from the result and the expectation.
void Judge(CommandRecord& record, const Pattern* re);

// What the console showed, on one line: "[caption] data" for a box, the
// status line, or a note for an answer that shows nothing.
std::string ShownText(const session::SendResult& result);

// One JSON object (one line, no newline): command, link, frame, answer,
// status, caption, data, round_trip_ms, outcome; for run also line, round,
// expect, passed, message. A run over many targets puts the target first.
std::string JsonRecord(const CommandRecord& record, const std::string& link, bool verdict,
                       const std::string& target = {});

// A JUnit XML report, written as the run goes: the cases of a suite are
// kept (a spool) until the suite's counts are known.
struct JUnitCounts {
    size_t tests = 0, failures = 0, errors = 0;
    double seconds = 0; // the suite's whole time
    void Add(const JUnitCounts& other);
};
// The document's first lines, for `counts` over every suite, and its end.
std::string JUnitStart(const JUnitCounts& counts);
std::string JUnitEnd();
// A suite's opening (its name, counts, time stamp, host and the link as a
// property) and its end.
std::string JUnitSuiteStart(const std::string& name, const std::string& link, const JUnitCounts& counts);
std::string JUnitSuiteEnd();
// The classname of a command file's cases: its base name without the extension.
std::string JUnitClassName(const std::string& file);
// One case: "line N: COMMAND", with its failure.
std::string JUnitCase(const CommandRecord& record, const std::string& className);
// A case that could not run at all (a link that did not open): an error.
std::string JUnitErrorCase(const std::string& name, const std::string& className, const std::string& message,
                           const std::string& type);

// CSV: the header row, and one row per record; a run over many targets
// puts a target column first (target non-null).
std::string CsvHeader(bool withTarget);
std::string CsvRow(const CommandRecord& record, const std::string& link, const std::string* target);

} // namespace lumo_cli
