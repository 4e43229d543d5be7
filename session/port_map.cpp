#include "port_map.h"

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>

#include "posix_serial.h"

namespace session {

namespace {

std::string_view Trim(std::string_view s) {
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
    while (!s.empty() && blank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && blank(s.back()))
        s.remove_suffix(1);
    return s;
}

// 1 to kPortNumbers from a line's key, else 0.
int PortNumber(std::string_view key) {
    if (key.empty() || key.size() > 2)
        return 0;
    int n = 0;
    for (char c : key) {
        if (c < '0' || c > '9')
            return 0;
        n = n * 10 + (c - '0');
    }
    return n >= 1 && n <= kPortNumbers ? n : 0;
}

} // namespace

PortMap ParsePortMap(std::string_view text) {
    PortMap map;
    while (!text.empty()) {
        const size_t end = text.find('\n');
        const std::string_view line = Trim(text.substr(0, end));
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        if (line.empty() || line.front() == '#' || line.front() == ';')
            continue;
        const size_t eq = line.find('=');
        if (eq == std::string_view::npos)
            continue;
        const int port = PortNumber(Trim(line.substr(0, eq)));
        const std::string_view device = Trim(line.substr(eq + 1));
        if (port == 0 || device.empty())
            continue;
        map[port] = std::string(device);
    }
    return map;
}

std::string FormatPortMap(const PortMap& map) {
    std::string text = "# The serial device behind each of Cmdora's port numbers (1 to 8), one\n"
                       "# \"<port>=<device>\" line each. LUMO_COM<port> in the environment wins.\n";
    for (const auto& [port, device] : map)
        if (PortNumber(std::to_string(port)) != 0 && !device.empty())
            text += std::to_string(port) + "=" + device + "\n";
    return text;
}

PortMap ReadPortMap(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return {};
    std::ostringstream text;
    text << in.rdbuf();
    return ParsePortMap(text.str());
}

int WritePortMap(const std::string& path, const PortMap& map) {
    const std::string fresh = path + ".new";
    {
        errno = 0;
        std::ofstream out(fresh, std::ios::binary | std::ios::trunc);
        if (!out)
            return errno != 0 ? errno : EIO;
        out << FormatPortMap(map);
        out.close();
        if (!out) {
            std::error_code ignored;
            std::filesystem::remove(fresh, ignored);
            return EIO;
        }
    }
    std::error_code ec;
    std::filesystem::rename(fresh, path, ec);
    if (ec) {
        std::error_code ignored;
        std::filesystem::remove(fresh, ignored);
        return ec.value();
    }
    return 0;
}

void ApplyPortMap(const PortMap& map) {
    for (int port = 1; port <= kPortNumbers; ++port) {
        const auto it = map.find(port);
        lumo_serial::SetPortDevice(port, it == map.end() ? std::string() : it->second);
    }
}

PortOrigin PortDeviceOrigin(int port) {
    if (!lumo_serial::PortEnvironmentDevice(port).empty())
        return PortOrigin::Environment;
    return lumo_serial::PortDevice(port) == lumo_serial::DefaultPortDevice(port) ? PortOrigin::Default
                                                                                 : PortOrigin::Chosen;
}

} // namespace session
