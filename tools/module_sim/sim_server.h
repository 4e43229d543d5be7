// Serving the simulated module: the loopback listeners, connections,
// datagram socket and pseudo-terminal of one lumo-module-sim process.
#pragma once

#include "sim_options.h"

namespace modsim {

// Listens on every side o asks for, prints "serial: <path>" (with a serial
// side) and "ready" on standard output, then answers until SIGINT or SIGTERM.
// Returns the exit status: 0 after a signal, 2 when the address is not a
// loopback one; a system call that fails ends the process with status 1.
int Serve(Options o);

} // namespace modsim
