// lumo-module-sim: plays one controller module (and its IP converter) on a
// loopback address over TCP, UDP and a pseudo-terminal at once, or one module
// on every address of a range. The options are read in sim_options.cpp (the
// range in sim_range.cpp), what is answered to which bytes lives in
// sim_protocol.cpp, and sim_server.cpp serves the sockets and the terminal.

#include "sim_options.h"
#include "sim_server.h"

#include <utility>

int main(int argc, char** argv) {
    modsim::Options o;
    const int rc = modsim::ParseArgs(argc, argv, &o);
    if (rc >= 0)
        return rc;
    return modsim::Serve(std::move(o));
}
