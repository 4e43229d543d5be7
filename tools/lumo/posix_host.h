// What lumo's JUnit report says of the machine it ran on. One declaration
// for both systems: posix_host.cpp (Linux), win32_host.cpp (Windows).
#pragma once

#include <string>

namespace lumo_cli {

// This computer's host name; empty when the system does not say.
std::string HostName();

} // namespace lumo_cli
