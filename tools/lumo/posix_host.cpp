#include "posix_host.h"

#include <unistd.h>

namespace lumo_cli {

std::string HostName() {
    char host[256] = "";
    if (gethostname(host, sizeof host - 1) != 0)
        return {};
    host[sizeof host - 1] = '\0';
    return host;
}

} // namespace lumo_cli
