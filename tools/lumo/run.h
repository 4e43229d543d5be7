// The subcommands of lumo, on one device link and the link session: each
// checks its input first (the command file, every command, the report
// files), then opens the link, works, closes it as the console's Disconnect
// does and returns the exit status. Blocks for the session's waits; the
// main thread only.
#pragma once

#include "cli.h"

namespace lumo_cli {

// Runs inv (a parsed invocation without error, help or version).
int Execute(const Invocation& inv);

} // namespace lumo_cli
