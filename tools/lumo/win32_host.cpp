#include "posix_host.h"

#include <windows.h>

namespace lumo_cli {

std::string HostName() {
    char host[256] = "";
    DWORD size = sizeof host;
    if (!GetComputerNameExA(ComputerNameDnsHostname, host, &size))
        return {};
    return std::string(host, size);
}

} // namespace lumo_cli
