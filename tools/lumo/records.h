// One record per command that lumo sent, the verdict on its expectation,
// and the forms it is written in: a line for a person, a JSON object, a
// JUnit test case, a CSV row. Plain C++ (streams are passed in); one thread.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

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
// expect, passed, message.
std::string JsonRecord(const CommandRecord& record, const std::string& link, bool verdict);

// A JUnit XML report of one run of `suite` (a file name) on `link`.
// seconds: the run's whole time. False when the stream failed.
bool WriteJUnit(std::FILE* out, const std::string& suite, const std::string& link,
                const std::vector<CommandRecord>& records, double seconds);

// CSV with a header row and one row per record. False when the stream failed.
bool WriteCsv(std::FILE* out, const std::string& link, const std::vector<CommandRecord>& records);

} // namespace lumo_cli
