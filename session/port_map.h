// Which serial device each of the console's port numbers 1 to 8 opens, as the
// operator chose it, and the small file that keeps the choice across runs.
// Plain C++; the functions that touch the file block for its I/O. Any thread.
#pragma once

#include <map>
#include <string>
#include <string_view>

#include "posix_serial.h"

namespace session {

inline constexpr int kPortNumbers = 8; // the port list's entries "1" to "8"
// The file's name, in the folder of the console's settings file.
inline constexpr char kPortMapFileName[] = "serial_ports.conf";

// Port number (1 to 8) -> device path. A number without an entry opens its
// default device, /dev/ttyS<N-1>.
using PortMap = std::map<int, std::string>;

// The file's text: one "<port>=<device>" line per mapped number. Blank lines,
// lines starting with '#' or ';', numbers outside 1 to 8 and empty devices
// are ignored; of two lines for one number the last counts.
PortMap ParsePortMap(std::string_view text);
// The text ParsePortMap reads back, with a comment saying what it is.
std::string FormatPortMap(const PortMap& map);

// The map kept in the file at path; empty when there is none or it cannot be read.
PortMap ReadPortMap(const std::string& path);
// Replaces the file at path as a whole (a new file beside it, then a
// rename), so a reader sees the old map or the new one. 0 or an errno.
int WritePortMap(const std::string& path, const PortMap& map);

// Puts each of map's devices behind its number for this process and takes
// the mapping of every other number 1 to 8 away. LUMO_COM<N> still wins.
void ApplyPortMap(const PortMap& map);

enum class PortOrigin {
    Default,     // /dev/ttyS<N-1>
    Chosen,      // a device put behind the number (ApplyPortMap, SetPortDevice)
    Environment, // LUMO_COM<N>, which wins over a chosen device
};
// Where the device that port `port` opens now comes from.
PortOrigin PortDeviceOrigin(int port);
// The environment variable that overrides port `port`: "LUMO_COM<port>".
using lumo_serial::PortEnvironmentName;

} // namespace session
