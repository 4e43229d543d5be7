// The command line of lumo-module-sim: which sides to serve on which
// loopback addresses, and how each module behaves (sim_protocol's SimConfig).
#pragma once

#include <string>

#include "sim_protocol.h"
#include "sim_range.h"

namespace modsim {

struct Options {
    AddressRange addresses; // one module on each (--address A, A-B or A/N)
    int idStep = 0;         // the module on the k-th address has id (id + k * idStep) mod 256
    bool tcp = false, converter = false, udp = false, serial = false, verbose = false;
    std::string serialLink; // also a symlink to the pty slave (implies serial)
    int chunkPauseMs = 20;  // between the pieces of a reply (MIS_CHUNKS)
    SimConfig cfg;
};

// Parses argv with getopt_long. --help and --version print to standard
// output; a usage error is told on standard error. Returns -1 to go on, else
// the exit status (0 after --help or --version, 2 for a usage error).
int ParseArgs(int argc, char** argv, Options* o);

// How the module on the k-th address of o.addresses behaves.
SimConfig ModuleConfig(const Options& o, uint64_t k);

} // namespace modsim
