// send and run over many targets: each target its own link on a runner's
// workers (at most --jobs at once), each target's output held until its
// turn so that it comes whole and in target order, and a closing line on
// standard error. SIGINT or SIGTERM stops the run: no further target
// starts, the links in progress close as usual. The main thread only.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "cli.h"
#include "command_file.h"
#include "run.h"

namespace lumo_cli {

// Exit status: 2 when a link did not open, else 1 when an answer timed out
// or an expectation failed, else 0; 128 + the signal after a stop.
int RunMany(const Invocation& inv, const std::vector<uint32_t>& addresses,
            const std::vector<std::u16string>& commands, const CommandSource& source, ReportFiles& files);

} // namespace lumo_cli
