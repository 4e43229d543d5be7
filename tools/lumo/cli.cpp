#include "cli.h"

#include <cerrno>
#include <cstdlib>
#include <string_view>

namespace lumo_cli {

namespace {

constexpr int kMaxBaud = 4000000;
constexpr int kMaxRepeat = 1000000;

const char kProgramUsage[] = R"(usage: lumo COMMAND [OPTIONS] [ARGUMENTS]
       lumo --help | --version

Speaks to a controller module as the Cmdora console does, from scripts.

Commands:
  connect        open the link, print what the module reported, close it
  send CMD...    send each command and print what the console would show
  run FILE       run a command list with expectations, like a test runner
  clear-socket ADDR   send the clear-socket broadcast for ADDR's network
  device-query   ask a module on a serial port for its device bytes

Link (connect, send, run, device-query; exactly one):
  --tcp ADDR     module link over TCP to ADDR:20036
    --x          with --tcp: X frames, and the 17-byte greeting
  --udp ADDR     text link over UDP to ADDR:20037 (after a TCP probe)
  --serial N|DEVICE   serial port N (LUMO_COM<N>, else /dev/ttyS<N-1>), or a device
    --baud RATE  with --serial: bits per second (default 9600)

Options come before the arguments. 'lumo COMMAND --help' tells more.
Exit status: 0 all answered as expected, 1 an expectation failed or an answer
timed out, 2 the link could not be opened, 64 usage error, 66 the command
file cannot be read. See lumo(1).
)";

const char kLinkLines[] = R"(
Link (exactly one):
  --tcp ADDR          module link over TCP to ADDR:20036 (dotted IPv4)
  --x                 with --tcp: X frames and the 17-byte greeting
  --udp ADDR          text link over UDP to ADDR:20037
  --serial N|DEVICE   serial port N (1-255) or a device path
  --baud RATE         with --serial: bits per second (default 9600)
)";

const char kConnectUsage[] = R"(usage: lumo connect LINK [--json]

Opens the link as the console's Connect does, prints what the module
reported (identifier, style, mode character; on a serial port whether its
prompt came) and closes it as the console's Disconnect does.

  --json              one JSON object instead of the text lines
)";

const char kSendUsage[] = R"(usage: lumo send LINK [--json] CMD...

Opens the link, sends each command in turn as the console's Send does and
prints, per command, the status line and any answer box as the console would
show them (control characters as \r, \xNN) and the round-trip time; then
closes the link as Disconnect does. Exit status 1 when an answer timed out.
A command that starts with '-' follows '--'.

  --json              one JSON object per command instead of the text lines
)";

const char kRunUsage[] = R"(usage: lumo run LINK [--repeat N] [--keep-going] [--json]
                [--junit FILE] [--csv FILE] FILE

Runs the command list FILE ('-': standard input), read whole before the link
opens. One command per line, sent as the console's Send does; blank lines
and lines starting with '#' are skipped; 'wait MS' pauses MS milliseconds.
'COMMAND => REGEX' expects the acknowledgement line (without "Ack : ") or,
for a query, the data to match REGEX (ECMAScript, anywhere in the text);
'COMMAND => timeout' expects no answer. A command without an expectation
passes when it is answered. Prints one line per command and a summary
"N passed, N failed"; stops at the first failure unless --keep-going.

  --repeat N          run the list N times (default 1)
  --keep-going        go on after a failed command
  --json              one JSON object per command instead of the lines
  --junit FILE        write a JUnit XML report, one test case per command
  --csv FILE          write one CSV row per command
)";

const char kClearUsage[] = R"(usage: lumo clear-socket ADDR

Sends the clear-socket broadcast (three datagrams from local port 60102 to
port 60528 of ADDR's /16 network, A.B.255.255) for the module at the dotted
address ADDR. Opens no module link.
)";

const char kDeviceUsage[] = R"(usage: lumo device-query --serial N|DEVICE [--baud RATE]

Opens the serial port, sends the device query (55 AA FF 00 01 FE 19 00) and
prints the first two bytes of the module's answer; closes the port again.
Exit status 1 when no answer came (FF FF).
)";

struct CommandInfo {
    std::string_view name;
    Command command;
};
constexpr CommandInfo kCommands[] = {{"connect", Command::Connect},
                                     {"send", Command::Send},
                                     {"run", Command::Run},
                                     {"clear-socket", Command::ClearSocket},
                                     {"device-query", Command::DeviceQuery}};

bool TakesLink(Command c) {
    return c == Command::Connect || c == Command::Send || c == Command::Run || c == Command::DeviceQuery;
}

// A decimal number within [lo, hi], nothing else.
bool ParseNumber(std::string_view text, long lo, long hi, long* out) {
    if (text.empty() || text.size() > 10)
        return false;
    long v = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        v = v * 10 + (c - '0');
    }
    if (v < lo || v > hi)
        return false;
    *out = v;
    return true;
}

std::string Quoted(std::string_view s) {
    return "'" + std::string(s) + "'";
}

class Parser {
public:
    Parser(int argc, const char* const* argv) : m_Argc(argc), m_Argv(argv) {}

    Parsed Run();

private:
    bool Fail(std::string message) {
        m_Out.error = std::move(message);
        return false;
    }
    // Handles one option of the subcommand; false on an error.
    bool Option(std::string_view name, const std::string* inlineValue);
    bool Value(std::string_view name, const std::string* inlineValue, std::string* out);
    bool SetLink(session::LinkKind kind, std::string_view name);
    bool Check();

    int m_Argc;
    const char* const* m_Argv;
    int m_Next = 1;
    Parsed m_Out;
    bool m_BaudGiven = false;
};

bool Parser::Value(std::string_view name, const std::string* inlineValue, std::string* out) {
    if (inlineValue) {
        *out = *inlineValue;
        return true;
    }
    if (m_Next >= m_Argc)
        return Fail("option --" + std::string(name) + " needs a value");
    *out = m_Argv[m_Next++];
    return true;
}

bool Parser::SetLink(session::LinkKind kind, std::string_view name) {
    if (m_Out.inv.link.kind != session::LinkKind::None)
        return Fail("--" + std::string(name) + ": choose one link (--tcp, --udp or --serial)");
    m_Out.inv.link.kind = kind;
    return true;
}

bool Parser::Option(std::string_view name, const std::string* inlineValue) {
    Invocation& inv = m_Out.inv;
    const Command c = inv.command;
    const bool flag = name == "help" || name == "x" || name == "json" || name == "keep-going";
    if (flag && inlineValue)
        return Fail("option --" + std::string(name) + " takes no value");
    const bool linkOption =
        name == "tcp" || name == "udp" || name == "serial" || name == "x" || name == "baud";
    const bool known =
        name == "help" || (linkOption && TakesLink(c)) ||
        (name == "json" && (c == Command::Connect || c == Command::Send || c == Command::Run)) ||
        (c == Command::Run && (name == "repeat" || name == "keep-going" || name == "junit" || name == "csv"));
    if (!known)
        return Fail("unknown option for " + std::string(CommandName(c)) + ": --" + std::string(name));

    std::string v;
    if (name == "help") {
        inv.help = true;
    } else if (name == "x") {
        inv.link.xFrames = true;
    } else if (name == "json") {
        inv.json = true;
    } else if (name == "keep-going") {
        inv.keepGoing = true;
    } else if (name == "tcp" || name == "udp") {
        if (!SetLink(name == "tcp" ? session::LinkKind::Tcp : session::LinkKind::Udp, name) ||
            !Value(name, inlineValue, &v))
            return false;
        if (!session::ParseDottedAddress(v))
            return Fail("--" + std::string(name) + ": not a dotted IPv4 address: " + Quoted(v));
        inv.link.address = v;
    } else if (name == "serial") {
        if (!SetLink(session::LinkKind::Serial, name) || !Value(name, inlineValue, &v))
            return false;
        long port = 0;
        if (!v.empty() && v.find_first_not_of("0123456789") == std::string::npos) {
            if (!ParseNumber(v, 1, kMaxSerialPort, &port))
                return Fail("--serial: port numbers run from 1 to 255: " + Quoted(v));
            inv.link.port = static_cast<int>(port);
        } else if (v.empty()) {
            return Fail("--serial: no port or device given");
        } else {
            inv.link.device = v;
        }
    } else if (name == "baud") {
        long baud = 0;
        if (!Value(name, inlineValue, &v))
            return false;
        if (!ParseNumber(v, 1, kMaxBaud, &baud))
            return Fail("--baud: not a rate in bits per second: " + Quoted(v));
        inv.link.baud = static_cast<int>(baud);
        m_BaudGiven = true;
    } else if (name == "repeat") {
        long n = 0;
        if (!Value(name, inlineValue, &v))
            return false;
        if (!ParseNumber(v, 1, kMaxRepeat, &n))
            return Fail("--repeat: not a count from 1 to 1000000: " + Quoted(v));
        inv.repeat = static_cast<int>(n);
    } else if (name == "junit" || name == "csv") {
        if (!Value(name, inlineValue, &v))
            return false;
        if (v.empty())
            return Fail("--" + std::string(name) + ": no file name");
        (name == "junit" ? inv.junitPath : inv.csvPath) = v;
    }
    return true;
}

bool Parser::Check() {
    Invocation& inv = m_Out.inv;
    const LinkChoice& link = inv.link;
    const std::string cmd = CommandName(inv.command);
    if (link.xFrames && link.kind != session::LinkKind::Tcp)
        return Fail("--x goes with --tcp only");
    if (m_BaudGiven && link.kind != session::LinkKind::Serial)
        return Fail("--baud goes with --serial only");
    if (TakesLink(inv.command) && link.kind == session::LinkKind::None)
        return Fail(cmd + " needs a link: --tcp ADDR, --udp ADDR or --serial N|DEVICE");
    if (inv.command == Command::DeviceQuery && link.kind != session::LinkKind::Serial)
        return Fail("device-query asks over a serial port: give --serial N|DEVICE");
    const size_t n = inv.arguments.size();
    switch (inv.command) {
    case Command::Connect:
    case Command::DeviceQuery:
        if (n > 0)
            return Fail(cmd + " takes no arguments: " + Quoted(inv.arguments[0]));
        break;
    case Command::Send:
        if (n == 0)
            return Fail("send needs at least one command");
        break;
    case Command::Run:
        if (n != 1)
            return Fail(n == 0 ? "run needs a command file" : "run takes one command file");
        break;
    case Command::ClearSocket:
        if (n != 1)
            return Fail(n == 0 ? "clear-socket needs an address" : "clear-socket takes one address");
        if (!session::ParseDottedAddress(inv.arguments[0]))
            return Fail("clear-socket: not a dotted IPv4 address: " + Quoted(inv.arguments[0]));
        break;
    case Command::None:
        break;
    }
    return true;
}

Parsed Parser::Run() {
    Invocation& inv = m_Out.inv;
    if (m_Argc < 2) {
        m_Out.error = "no command given";
        return m_Out;
    }
    const std::string_view first = m_Argv[1];
    if (first == "--help" || first == "-h") {
        inv.help = true;
        return m_Out;
    }
    if (first == "--version") {
        inv.version = true;
        return m_Out;
    }
    for (const CommandInfo& info : kCommands)
        if (first == info.name)
            inv.command = info.command;
    if (inv.command == Command::None) {
        m_Out.error = first.starts_with("-") ? "unknown option: " + std::string(first)
                                             : "unknown command: " + Quoted(first);
        return m_Out;
    }
    m_Next = 2;
    while (m_Next < m_Argc) {
        const std::string_view arg = m_Argv[m_Next];
        if (arg == "--") {
            ++m_Next;
            break;
        }
        if (arg == "-h") {
            ++m_Next;
            inv.help = true;
            continue;
        }
        if (!arg.starts_with("--") || arg.size() == 2) {
            if (arg.starts_with("-") && arg.size() > 1) {
                m_Out.error =
                    "unknown option for " + std::string(CommandName(inv.command)) + ": " + std::string(arg);
                return m_Out;
            }
            break; // the first argument: options end here
        }
        ++m_Next;
        std::string_view name = arg.substr(2);
        std::string inlineValue;
        const bool hasValue = name.find('=') != std::string_view::npos;
        if (hasValue) {
            inlineValue = std::string(name.substr(name.find('=') + 1));
            name = name.substr(0, name.find('='));
        }
        if (!Option(name, hasValue ? &inlineValue : nullptr))
            return m_Out;
        if (inv.help)
            return m_Out; // the usage, whatever follows
    }
    for (; m_Next < m_Argc; ++m_Next)
        inv.arguments.emplace_back(m_Argv[m_Next]);
    Check();
    return m_Out;
}

} // namespace

Parsed ParseArguments(int argc, const char* const* argv) {
    return Parser(argc, argv).Run();
}

const char* CommandName(Command command) {
    for (const CommandInfo& info : kCommands)
        if (info.command == command)
            return info.name.data();
    return "lumo";
}

std::string UsageText(Command command) {
    switch (command) {
    case Command::Connect:
        return std::string(kConnectUsage) + kLinkLines;
    case Command::Send:
        return std::string(kSendUsage) + kLinkLines;
    case Command::Run:
        return std::string(kRunUsage) + kLinkLines;
    case Command::ClearSocket:
        return kClearUsage;
    case Command::DeviceQuery:
        return kDeviceUsage;
    case Command::None:
        break;
    }
    return kProgramUsage;
}

} // namespace lumo_cli
