// lumo scan (the modules among many addresses) and lumo ports (the serial
// ports, and with --probe the modules behind them), each on a runner's
// workers; SIGINT or SIGTERM stops them as it does a run over many targets.
// The main thread only.
#pragma once

#include "cli.h"

namespace lumo_cli {

// 0 when a module answered, 1 when none did, 64 and 66 for bad targets,
// 128 + the signal after a stop.
int DoScan(const Invocation& inv);

// 0, or with --probe 0 when a module answered on some port and 1 when none did.
int DoPorts(const Invocation& inv);

} // namespace lumo_cli
