// What send and run do on one target's open link, written to the target's
// reports as it goes (straight to standard output and the report files for
// one target, to spools for one of many). Blocks for the session's waits;
// the thread that owns the link.
#pragma once

#include <string>
#include <vector>

#include "answer_reading.h"
#include "cli.h"
#include "command_file.h"
#include "out.h"
#include "records.h"
#include "target_link.h"

namespace lumo_cli {

// Where one target's reports go; any may be null.
struct Reports {
    Out* out = nullptr;     // the lines or JSON objects
    Out* notes = nullptr;   // what went wrong on the way ("the module closed the link; stopping")
    Out* csv = nullptr;     // rows
    Out* junit = nullptr;   // test cases
    std::string notePrefix; // before each note: "lumo: " on standard error
    std::string target;     // over many targets: JSON's "target" and the CSV column
    std::string className;  // the JUnit cases' classname
};

// How one target went.
struct Tally {
    bool opened = false;
    int passed = 0, failed = 0; // run: commands; send: answered, timed out
    bool cut = false;           // stopped before the end (a failure, a lost link)
    double seconds = 0;         // from the link's opening to its closing
    bool Passed() const { return opened && failed == 0 && !cut; }
};

// Each command in turn on the open link, then Disconnect.
Tally SendCommands(TargetLink& link, const Invocation& inv, const std::vector<std::u16string>& commands,
                   const Reports& reports);

// The command file, --repeat times, on the open link, then Disconnect; the
// summary "N passed, N failed" is the caller's.
Tally RunCommandFile(TargetLink& link, const Invocation& inv, const CommandSource& source,
                     const Reports& reports);

// How commands travel on the chosen link (for their length limit).
answer::SendPath PathOf(const LinkChoice& link);

// The commands of send, checked; false (said on standard error) when one is bad.
bool CheckCommands(const Invocation& inv, std::vector<std::u16string>* commands);

// The expansion of --tcp or --udp, or 0 with the error said (exit status in *status).
std::vector<uint32_t> LinkTargets(const Invocation& inv, int* status);

} // namespace lumo_cli
