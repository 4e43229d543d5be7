#include "cli.h"

#include <getopt.h>

#include <string_view>
#include <vector>

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
  --udp ADDR     text link over UDP to ADDR:20037 (after a TCP probe); as in
                 the console, a query (zh, zs, zw000000) waits about 3 s
                 there for a second datagram even when answered at once
  --serial N|DEVICE   serial port N (LUMO_COM<N>, else /dev/ttyS<N-1>), or a device
    --baud RATE  with --serial: bits per second (default 9600)

Options and arguments come in any order; '--' ends the options. -h is --help
everywhere; 'lumo COMMAND --help' tells more.
Exit status: 0 all answered as expected, 1 an expectation failed or an answer
timed out, 2 the link could not be opened, 64 usage error, 66 the command
file cannot be read. See lumo(1).
)";

const char kLinkLines[] = R"(
Link (exactly one):
  --tcp ADDR          module link over TCP to ADDR:20036 (dotted IPv4)
  --x                 with --tcp: X frames and the 17-byte greeting
  --udp ADDR          text link over UDP to ADDR:20037 (a query waits about 3 s)
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
for a query, the data to match REGEX (RE2 syntax, anywhere in the text);
'COMMAND => timeout' expects no answer. The file is read as UTF-8; a byte
that is not is taken as Latin-1. A command without an expectation
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

// The subcommands that take an option, one bit each; Command::None is the
// program itself, before the subcommand.
constexpr unsigned Bit(Command c) {
    return 1u << static_cast<unsigned>(c);
}
constexpr unsigned kAnyCommand = ~0u;
constexpr unsigned kLinkCommands =
    Bit(Command::Connect) | Bit(Command::Send) | Bit(Command::Run) | Bit(Command::DeviceQuery);

// What getopt_long returns for each option: the letter of those that have
// one, numbers above any letter for the others.
enum OptionId : int {
    kOptHelp = 'h',
    kOptVersion = 256,
    kOptTcp,
    kOptX,
    kOptUdp,
    kOptSerial,
    kOptBaud,
    kOptJson,
    kOptRepeat,
    kOptKeepGoing,
    kOptJunit,
    kOptCsv,
};

// Every option, and who takes it. A new option is a line here and a case in
// Parser::Apply.
struct OptionSpec {
    const char* name;
    int hasArg; // no_argument or required_argument
    OptionId id;
    unsigned commands;
};
constexpr OptionSpec kOptions[] = {
    {"help", no_argument, kOptHelp, kAnyCommand},
    {"version", no_argument, kOptVersion, Bit(Command::None)},
    {"tcp", required_argument, kOptTcp, kLinkCommands},
    {"x", no_argument, kOptX, kLinkCommands},
    {"udp", required_argument, kOptUdp, kLinkCommands},
    {"serial", required_argument, kOptSerial, kLinkCommands},
    {"baud", required_argument, kOptBaud, kLinkCommands},
    {"json", no_argument, kOptJson, Bit(Command::Connect) | Bit(Command::Send) | Bit(Command::Run)},
    {"repeat", required_argument, kOptRepeat, Bit(Command::Run)},
    {"keep-going", no_argument, kOptKeepGoing, Bit(Command::Run)},
    {"junit", required_argument, kOptJunit, Bit(Command::Run)},
    {"csv", required_argument, kOptCsv, Bit(Command::Run)},
};

std::string LongName(int id) {
    for (const OptionSpec& o : kOptions)
        if (o.id == id)
            return std::string("--") + o.name;
    return "-" + std::string(1, static_cast<char>(id));
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

// Reads argv with getopt_long in two passes: the program's own options up to
// the subcommand, then the subcommand's options and arguments in any order
// ("--" ends the options).
class Parser {
public:
    // getopt_long takes char* const*, but in the '+' and '-' modes used here
    // it reorders nothing and writes nothing.
    Parser(int argc, const char* const* argv) : m_Args(argc + 1) {
        for (int i = 0; i < argc; ++i)
            m_Args[i] = const_cast<char*>(argv[i]);
    }

    Parsed Run();

private:
    bool Fail(std::string message) {
        m_Out.error = std::move(message);
        return false;
    }
    // Scans m_Args[first..] for the options of m_Out.inv.command; positional
    // arguments go to m_Out.inv.arguments when inOrder, else the scan stops at
    // the first. *end: where the scan stopped. False on an error.
    bool Scan(size_t first, bool inOrder, size_t* end);
    // What went wrong when getopt_long returned '?' or ':' for args.
    std::string OptionError(int result, char* const* args, const std::vector<option>& known) const;
    // Takes one option; false on an error.
    bool Apply(int id, const char* value);
    bool SetLink(session::LinkKind kind, int id);
    bool Check();

    std::vector<char*> m_Args; // argv, with its closing null
    Parsed m_Out;
    bool m_BaudGiven = false;
};

bool Parser::Scan(size_t first, bool inOrder, size_t* end) {
    Invocation& inv = m_Out.inv;
    std::vector<option> known;
    for (const OptionSpec& o : kOptions)
        if (o.commands & Bit(inv.command))
            known.push_back({o.name, o.hasArg, nullptr, o.id});
    known.push_back({});
    // '-': arguments come back in order as 1; '+': stop at the first; ':': a
    // missing value is told apart from an unknown option.
    const char* letters = inOrder ? "-:h" : "+:h";
    char* const* args = m_Args.data() + first;
    const int count = static_cast<int>(m_Args.size() - 1 - first);
    optind = 0; // glibc: start afresh
    opterr = 0; // the messages are ours
    for (;;) {
        const int id = getopt_long(count, args, letters, known.data(), nullptr);
        if (id == -1)
            break;
        if (id == 1) {
            inv.arguments.emplace_back(optarg);
            continue;
        }
        if (id == '?' || id == ':')
            return Fail(OptionError(id, args, known));
        if (!Apply(id, optarg))
            return false;
        if (inv.help || inv.version)
            return true; // the usage or the version, whatever follows
    }
    *end = first + static_cast<size_t>(optind);
    return true;
}

std::string Parser::OptionError(int result, char* const* args, const std::vector<option>& known) const {
    const Command c = m_Out.inv.command;
    const std::string unknown =
        c == Command::None ? "unknown option: " : "unknown option for " + std::string(CommandName(c)) + ": ";
    // optopt is the letter of a short option, else the id of the long option
    // that was misused, else 0 for a long option that is not known.
    if (optopt != 0 && optopt != kOptHelp && optopt < kOptVersion)
        return unknown + "-" + std::string(1, static_cast<char>(optopt));
    if (result == ':')
        return "option " + LongName(optopt) + " needs a value";
    if (optopt != 0)
        return "option " + LongName(optopt) + " takes no value";
    // getopt_long has moved past the long option it could not place
    const std::string_view text = args[optind - 1];
    const std::string_view name = text.substr(0, text.find('=')).substr(text.starts_with("--") ? 2 : 1);
    std::string candidates;
    int matches = 0;
    for (const option& o : known)
        if (o.name && std::string_view(o.name).starts_with(name))
            candidates += std::string(matches++ ? ", --" : "--") + o.name;
    if (matches > 1 && !name.empty())
        return "option --" + std::string(name) + " is ambiguous: " + candidates;
    return unknown + std::string(name.empty() ? text : text.substr(0, text.find('=')));
}

bool Parser::SetLink(session::LinkKind kind, int id) {
    if (m_Out.inv.link.kind != session::LinkKind::None)
        return Fail(LongName(id) + ": choose one link (--tcp, --udp or --serial)");
    m_Out.inv.link.kind = kind;
    return true;
}

bool Parser::Apply(int id, const char* value) {
    Invocation& inv = m_Out.inv;
    const std::string v = value ? value : "";
    long n = 0;
    switch (static_cast<OptionId>(id)) {
    case kOptHelp:
        inv.help = true;
        return true;
    case kOptVersion:
        inv.version = true;
        return true;
    case kOptX:
        inv.link.xFrames = true;
        return true;
    case kOptJson:
        inv.json = true;
        return true;
    case kOptKeepGoing:
        inv.keepGoing = true;
        return true;
    case kOptTcp:
    case kOptUdp:
        if (!SetLink(id == kOptTcp ? session::LinkKind::Tcp : session::LinkKind::Udp, id))
            return false;
        if (!session::ParseDottedAddress(v))
            return Fail(LongName(id) + ": not a dotted IPv4 address: " + Quoted(v));
        inv.link.address = v;
        return true;
    case kOptSerial:
        if (!SetLink(session::LinkKind::Serial, id))
            return false;
        if (v.empty())
            return Fail("--serial: no port or device given");
        if (v.find_first_not_of("0123456789") != std::string::npos) {
            inv.link.device = v;
            return true;
        }
        if (!ParseNumber(v, 1, kMaxSerialPort, &n))
            return Fail("--serial: port numbers run from 1 to 255: " + Quoted(v));
        inv.link.port = static_cast<int>(n);
        return true;
    case kOptBaud:
        if (!ParseNumber(v, 1, kMaxBaud, &n))
            return Fail("--baud: not a rate in bits per second: " + Quoted(v));
        inv.link.baud = static_cast<int>(n);
        m_BaudGiven = true;
        return true;
    case kOptRepeat:
        if (!ParseNumber(v, 1, kMaxRepeat, &n))
            return Fail("--repeat: not a count from 1 to 1000000: " + Quoted(v));
        inv.repeat = static_cast<int>(n);
        return true;
    case kOptJunit:
    case kOptCsv:
        if (v.empty())
            return Fail(LongName(id) + ": no file name");
        (id == kOptJunit ? inv.junitPath : inv.csvPath) = v;
        return true;
    }
    return Fail("unhandled option " + LongName(id));
}

bool Parser::Check() {
    Invocation& inv = m_Out.inv;
    const LinkChoice& link = inv.link;
    const std::string cmd = CommandName(inv.command);
    if (link.xFrames && link.kind != session::LinkKind::Tcp)
        return Fail("--x goes with --tcp only");
    if (m_BaudGiven && link.kind != session::LinkKind::Serial)
        return Fail("--baud goes with --serial only");
    if ((kLinkCommands & Bit(inv.command)) && link.kind == session::LinkKind::None)
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
    size_t at = 0;
    if (!Scan(0, false, &at) || inv.help || inv.version)
        return m_Out;
    if (at >= m_Args.size() - 1) {
        m_Out.error = "no command given";
        return m_Out;
    }
    const std::string_view name = m_Args[at];
    for (const CommandInfo& info : kCommands)
        if (name == info.name)
            inv.command = info.command;
    if (inv.command == Command::None) {
        m_Out.error = "unknown command: " + Quoted(name);
        return m_Out;
    }
    size_t end = 0;
    if (!Scan(at, true, &end) || inv.help)
        return m_Out;
    for (; end < m_Args.size() - 1; ++end)
        inv.arguments.emplace_back(m_Args[end]); // after "--"
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
