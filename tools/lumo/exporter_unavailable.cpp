// lumo exporter where no HTTP server library is at hand (the Windows build:
// Debian's cpp-httplib is a Linux library): the command says so.
#include <cstdio>

#include "watch.h"

namespace lumo_cli {

int DoExporter(const Invocation&) {
    std::fprintf(stderr, "lumo: exporter: this build has no HTTP server; run lumo exporter on Linux\n");
    return kExitNoLink; // as when it cannot listen
}

} // namespace lumo_cli
