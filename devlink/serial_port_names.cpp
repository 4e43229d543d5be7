// Which device a serial port number opens (posix_serial.h): the environment,
// then the program's own mapping, then the platform's default name
// (DefaultPortDevice, in posix_serial.cpp or win32_serial.cpp).
#include "posix_serial.h"

#include <cstdlib>
#include <map>
#include <mutex>
#include <string>

namespace lumo_serial {
namespace {

std::mutex g_DeviceMutex;
std::map<int, std::string> g_Devices; // SetPortDevice's mappings

} // namespace

std::string PortDevice(int port) {
    if (std::string set = PortEnvironmentDevice(port); !set.empty())
        return set;
    {
        std::lock_guard lock(g_DeviceMutex);
        if (auto it = g_Devices.find(port); it != g_Devices.end())
            return it->second;
    }
    return DefaultPortDevice(port);
}

std::string PortEnvironmentName(int port) {
    return "LUMO_COM" + std::to_string(port);
}

std::string PortEnvironmentDevice(int port) {
    const char* set = std::getenv(PortEnvironmentName(port).c_str());
    return set ? set : "";
}

void SetPortDevice(int port, const std::string& device) {
    std::lock_guard lock(g_DeviceMutex);
    if (device.empty())
        g_Devices.erase(port);
    else
        g_Devices[port] = device;
}

} // namespace lumo_serial
