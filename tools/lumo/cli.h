// The command line of lumo: subcommands, the link options they share, and
// their own options, read and checked without touching any link or file.
// Plain C++; any thread.
#pragma once

#include <string>
#include <vector>

#include "link.h"

namespace lumo_cli {

// Exit statuses (the usage and input ones as in sysexits.h).
inline constexpr int kExitOk = 0;       // every command answered as expected
inline constexpr int kExitFailed = 1;   // an expectation failed or an answer timed out
inline constexpr int kExitNoLink = 2;   // the link could not be opened
inline constexpr int kExitUsage = 64;   // unknown option, bad value, missing argument
inline constexpr int kExitNoInput = 66; // the command file cannot be read

enum class Command { None, Connect, Send, Run, ClearSocket, DeviceQuery, Scan, Ports, Watch, Exporter };

inline constexpr int kDefaultBaud = 9600; // the console's first rate
inline constexpr int kMaxSerialPort = 255;
inline constexpr int kSendJobs = 64;  // links in flight for send and run over many targets
inline constexpr int kScanJobs = 256; // ... for scan (and ports --probe)
inline constexpr int kWatchIntervalMs = 5000;             // watch and exporter: every 5 s
inline constexpr char kListenHost[] = "127.0.0.1";         // exporter: loopback unless told
inline constexpr int kListenPort = 9725;

// The link the options chose.
struct LinkChoice {
    session::LinkKind kind = session::LinkKind::None;
    std::vector<std::string> targets; // --tcp, --udp (each may repeat): as written, checked for form
    bool xFrames = false;             // --x
    int port = 0;                     // --serial N; 0 when a device path was given
    std::string device;               // --serial DEVICE
    int baud = kDefaultBaud;
};

struct Invocation {
    Command command = Command::None;
    bool help = false;    // print the usage of `command` (or the program) and stop
    bool version = false; // print the version and stop
    LinkChoice link;
    bool json = false;
    int repeat = 1;
    bool keepGoing = false;
    std::string junitPath, csvPath;
    int jobs = 0;             // --jobs; 0: the command's default
    int connectTimeoutMs = 0; // --connect-timeout; 0: the device link's own bound
    int scanTimeoutMs = 500;  // scan --timeout
    bool info = false;        // scan --info
    bool csv = false;         // scan --csv (to standard output)
    bool probe = false;       // ports --probe
    int intervalMs = kWatchIntervalMs; // watch, exporter --interval
    bool once = false;                 // watch --once
    std::string listenHost = kListenHost; // exporter --listen [ADDR:]PORT
    int listenPort = kListenPort;
    std::vector<std::string>
        arguments; // positional: commands, the file, the address, scan's targets, devices
};

// What ParseArguments made of argv; error is empty when it is usable.
struct Parsed {
    Invocation inv;
    std::string error;
};

// Reads argv (options before positional arguments; "--" ends the options)
// and checks every value: a dotted address, a port or device, a rate, a
// count, the options each subcommand takes, one link where one is needed.
Parsed ParseArguments(int argc, const char* const* argv);

// Usage text of a subcommand, or of the program for Command::None.
std::string UsageText(Command command);

// "send", "run", ...; "lumo" for Command::None.
const char* CommandName(Command command);

} // namespace lumo_cli
