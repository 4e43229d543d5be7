// The command line of lumo-module-sim: which sides to serve on which
// loopback address, and how the module behaves (sim_protocol's SimConfig).
#pragma once

#include <string>

#include "sim_protocol.h"

namespace modsim {

struct Options {
    std::string address = "127.0.0.1";
    bool tcp = false, converter = false, udp = false, serial = false, verbose = false;
    std::string serialLink; // also a symlink to the pty slave (implies serial)
    int chunkPauseMs = 20;  // between the pieces of a reply (MIS_CHUNKS)
    SimConfig cfg;
};

// Parses argv with getopt_long. --help and --version print to standard
// output; a usage error is told on standard error. Returns -1 to go on, else
// the exit status (0 after --help or --version, 2 for a usage error).
int ParseArgs(int argc, char** argv, Options* o);

} // namespace modsim
