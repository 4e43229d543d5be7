#include "serial_ports.h"

#include <map>
#include <mutex>

#include "posix_serial.h"

namespace capi {

namespace {

std::mutex g_PathMutex;
std::map<std::string, int, std::less<>> g_PathNumbers; // device path -> its port number
int g_NextNumber = kMaxTypedPort + 1;

// A number that LUMO_COM<n> does not already name (the variable would win).
int FreeNumber() {
    for (;;) {
        const int n = g_NextNumber++;
        if (lumo_serial::PortEnvironmentDevice(n).empty())
            return n;
    }
}

int Decimal(std::string_view digits) {
    if (digits.empty() || digits.size() > 3)
        return 0;
    int n = 0;
    for (char c : digits) {
        if (c < '0' || c > '9')
            return 0;
        n = n * 10 + (c - '0');
    }
    return n;
}

} // namespace

SerialPort NameSerialPort(std::string_view text) {
    if (!text.empty() && text.front() == '/') {
        std::lock_guard lock(g_PathMutex);
        auto it = g_PathNumbers.find(text);
        if (it == g_PathNumbers.end()) {
            it = g_PathNumbers.emplace(std::string(text), FreeNumber()).first;
            lumo_serial::SetPortDevice(it->second, it->first);
        }
        return {it->second, it->first};
    }
    if (text.size() > 3 && (text[0] == 'C' || text[0] == 'c') && (text[1] == 'O' || text[1] == 'o') &&
        (text[2] == 'M' || text[2] == 'm'))
        text.remove_prefix(3);
    return {Decimal(text), {}};
}

} // namespace capi
