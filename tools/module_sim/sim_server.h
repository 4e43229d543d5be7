// Serving the simulated modules: the loopback listeners, connections and
// datagram sockets of every module, and the pseudo-terminal of a single one,
// in one lumo-module-sim process.
#pragma once

#include "sim_options.h"

namespace modsim {

// Raises the open-files limit, listens on every side o asks for on every
// address of o.addresses, prints "serial: <path>" (with a serial side) and
// "ready" on standard output, then answers until SIGINT or SIGTERM. Returns
// the exit status: 0 after a signal, 1 when the limit is too low for the
// modules; a system call that fails ends the process with status 1.
int Serve(Options o);

} // namespace modsim
