// The subcommands of lumo: each checks its input first (the command file,
// every command, the report files, the targets), then opens its links,
// works, closes them as the console's Disconnect does and returns the exit
// status. Blocks for the sessions' waits; the main thread only.
#pragma once

#include <cstdio>

#include "cli.h"

namespace lumo_cli {

// The report files of a run, opened (and emptied) before any link opens.
struct ReportFiles {
    std::FILE* junit = nullptr;
    std::FILE* csv = nullptr;

    ReportFiles() = default;
    ~ReportFiles();
    ReportFiles(const ReportFiles&) = delete;
    ReportFiles& operator=(const ReportFiles&) = delete;
    // Opens those inv names; false (said on standard error) when one cannot be written.
    bool Open(const Invocation& inv);
};

// Runs inv (a parsed invocation without error, help or version).
int Execute(const Invocation& inv);

} // namespace lumo_cli
