#include "cli.h"

#include <getopt.h>

#include <string_view>
#include <vector>

#include "runner.h"
#include "targets.h"

namespace lumo_cli {

namespace {

constexpr int kMaxBaud = 4000000;
constexpr int kMaxRepeat = 1000000;
constexpr int kMaxTimeoutMs = 600000;
constexpr long kMinIntervalMs = 100;
constexpr long kMaxIntervalMs = 86400000;

const char kProgramUsage[] = R"(usage: lumo COMMAND [OPTIONS] [ARGUMENTS]
       lumo --help | --version

Speaks to controller modules as the Cmdora console does, from scripts.

Commands:
  connect        open the link, print what the module reported, close it
  send CMD...    send each command and print what the console would show
  run FILE       run a command list with expectations, like a test runner
  scan TARGETS   find the modules among TARGETS
  ports          list the serial ports; --probe says which have a module
  watch TARGETS  poll the modules every few seconds: a table, or JSON lines
  exporter TARGETS   serve the same polls over HTTP for Prometheus
  clear-socket ADDR   send the clear-socket broadcast for ADDR's network
  device-query   ask a module on a serial port for its device bytes

Link (connect, send, run, device-query; one kind):
  --tcp TARGETS  module link over TCP to port 20036 of each target
    --x          with --tcp: X frames, and the 17-byte greeting
  --udp TARGETS  text link over UDP to port 20037 (after a TCP probe); as in
                 the console, a query (zh, zs, zw000000) waits about 3 s
                 there for a second datagram even when answered at once
  --serial N|DEVICE   serial port N (LUMO_COM<N>, else /dev/ttyS<N-1>), or a device
    --baud RATE  with --serial: bits per second (default 9600)
TARGETS: an address, a range A-B, a block A/N, a host name or @FILE (one
target a line); --tcp and --udp may repeat. send and run work on every
target, each its own link, --jobs N at once.

Options and arguments come in any order; '--' ends the options. -h is --help
everywhere; 'lumo COMMAND --help' tells more.
Exit status: 0 all answered as expected, 1 an expectation failed or an answer
timed out, 2 a link could not be opened, 64 usage error, 66 a file cannot be
read. See lumo(1).
)";

const char kLinkLines[] = R"(
Link (one kind):
  --tcp TARGETS       module link over TCP to port 20036 of each target
  --x                 with --tcp: X frames and the 17-byte greeting
  --udp TARGETS       text link over UDP to port 20037 (a query waits about 3 s)
  --serial N|DEVICE   serial port N (1-255) or a device path
  --baud RATE         with --serial: bits per second (default 9600)
  --connect-timeout MS   bound each TCP connect (default: 20000)
TARGETS: an address, a range A-B (B an address or a last part), a block A/N,
a host name, or @FILE with one target a line ('#' comments; @- standard
input); --tcp and --udp may repeat.
)";

const char kManyLines[] = R"(
Over more than one target, each target gets a link of its own, at most
--jobs N (default 64) at once; each target's output comes whole, in target
order, and a closing line on standard error counts the targets passed,
failed and unreachable. Exit status 2 when a link did not open, else 1 when
an answer timed out or an expectation failed, else 0.
  --jobs N            links in flight at once (1-4096)
)";

const char kConnectUsage[] = R"(usage: lumo connect LINK [--json]

Opens the link as the console's Connect does, prints what the module
reported (identifier, style, mode character; on a serial port whether its
prompt came) and closes it as the console's Disconnect does. One target.

  --json              one JSON object instead of the text lines
)";

const char kSendUsage[] = R"(usage: lumo send LINK [--json] [--jobs N] CMD...

Opens the link, sends each command in turn as the console's Send does and
prints, per command, the status line and any answer box as the console would
show them (control characters as \r, \xNN) and the round-trip time; then
closes the link as Disconnect does. Exit status 1 when an answer timed out.
A command that starts with '-' follows '--'.

  --json              one JSON object per command instead of the text lines
                      (with many targets each carries "target")
)";

const char kRunUsage[] = R"(usage: lumo run LINK [--repeat N] [--keep-going] [--json]
                [--junit FILE] [--csv FILE] [--jobs N] FILE

Runs the command list FILE ('-': standard input), checked whole before a
link opens and then read as the run goes, so it may be of any length. One
command per line, sent as the console's Send does; blank lines and lines
starting with '#' are skipped; 'wait MS' pauses MS milliseconds.
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
                      (one test suite per target)
  --csv FILE          write one CSV row per command (with many targets a
                      first column "target")
)";

const char kScanUsage[] = R"(usage: lumo scan [--timeout MS] [--x] [--info] [--json | --csv] [--jobs N]
                 TARGETS...

Finds the modules among TARGETS (addresses, ranges A-B, blocks A/N, host
names, @FILE). Each address gets the console's TCP connect to port 20036,
bounded by --timeout, with the module's greeting and, for style 17, its mode
query; then the console's disconnect. Prints one line per module found, in
address order: address, identifier, style, mode character, connect time in
ms; a closing line on standard error says how many were found among how
many addresses. Exit status 0 when a module answered, 1 when none did.

  --timeout MS        give up a connect after MS ms (default 500)
  --x                 expect the 17-byte X greeting
  --info              also ask each module "zh" and print its data line
  --json              one JSON object per module: address, id, style, mode,
                      info, connect_ms
  --csv               CSV with a header row, the same columns
  --jobs N            addresses in flight at once (default 256, 1-4096)
)";

const char kPortsUsage[] = R"(usage: lumo ports [--json] [--probe [--baud RATE] [--jobs N] [DEVICE...]]

Lists the serial ports as Linux names them: the device, its names under
/dev/serial/by-id and its driver. With --probe, opens each port (or each
DEVICE given), sends a carriage return and waits for a module's prompt as
the console's connect does (up to about 8 s a port, all ports at once), and
says for each whether a module answered. Exit status with --probe: 0 when a
module answered on some port, 1 when none did.

  --json              one JSON object per port
  --probe             look for a module behind each port
  --baud RATE         with --probe: bits per second (default 9600)
)";

const char kWatchUsage[] = R"(usage: lumo watch [--interval S] [--once] [--json] [--jobs N]
                  [--connect-timeout MS] TARGETS...

Polls every module among TARGETS (addresses, ranges A-B, blocks A/N, host
names, @FILE) every --interval seconds: the TCP module link opens, the
signal query "zs" goes out (and "zh", the device information, at the first
poll and every tenth), the link closes. A module that hangs holds up only
its own row. On a terminal, a table redrawn in place, one row per target in
target order: address, up or down, id, style, round trip of "zs", how long
since the row last changed, and the signal line (the reason when down);
rows that changed at their last poll are marked '*'. Arrows, PgUp, PgDn,
Home and End scroll; q or Ctrl+C ends. Otherwise, or with --json, one JSON
object per poll and target, as each poll ends.

  --interval S        seconds from one poll of every target to the next
                      (default 5; 0.1 to 86400, fractions allowed)
  --once              poll once and end: status 0 when every module is up,
                      1 when one is down
  --json              JSON lines even on a terminal: time, poll, target, up,
                      reason, message, id, style, signal, info,
                      round_trip_ms, changed, last_change
  --jobs N            links in flight at once (default 64, 1-4096)
  --connect-timeout MS   bound each TCP connect (default 2000)
)";

const char kExporterUsage[] = R"(usage: lumo exporter [--listen [ADDR:]PORT] [--interval S] [--jobs N]
                     [--connect-timeout MS] TARGETS...

Polls every module among TARGETS as 'lumo watch' does and serves the latest
results over HTTP: GET /metrics in Prometheus's text format, GET / a page
with the table that reloads itself. A request never waits for a module.
Runs until SIGINT or SIGTERM (status 0). See lumo(1) for the metrics and a
Prometheus scrape configuration.

  --listen [ADDR:]PORT   where to listen (default 127.0.0.1:9725; another
                      address, such as 0.0.0.0, opens it to the network)
  --interval S        seconds from one poll of every target to the next
                      (default 5; 0.1 to 86400, fractions allowed)
  --jobs N            links in flight at once (default 64, 1-4096)
  --connect-timeout MS   bound each TCP connect (default 2000)
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
                                     {"scan", Command::Scan},
                                     {"ports", Command::Ports},
                                     {"watch", Command::Watch},
                                     {"exporter", Command::Exporter},
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
constexpr unsigned kManyCommands = Bit(Command::Send) | Bit(Command::Run);
constexpr unsigned kPollCommands = Bit(Command::Watch) | Bit(Command::Exporter);

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
    kOptCsvOut,
    kOptJobs,
    kOptConnectTimeout,
    kOptTimeout,
    kOptInfo,
    kOptProbe,
    kOptInterval,
    kOptOnce,
    kOptListen,
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
    {"x", no_argument, kOptX, kLinkCommands | Bit(Command::Scan)},
    {"udp", required_argument, kOptUdp, kLinkCommands},
    {"serial", required_argument, kOptSerial, kLinkCommands},
    {"baud", required_argument, kOptBaud, kLinkCommands | Bit(Command::Ports)},
    {"connect-timeout", required_argument, kOptConnectTimeout,
     Bit(Command::Connect) | kManyCommands | kPollCommands},
    {"json", no_argument, kOptJson,
     Bit(Command::Connect) | kManyCommands | Bit(Command::Scan) | Bit(Command::Ports) | Bit(Command::Watch)},
    {"repeat", required_argument, kOptRepeat, Bit(Command::Run)},
    {"keep-going", no_argument, kOptKeepGoing, Bit(Command::Run)},
    {"junit", required_argument, kOptJunit, Bit(Command::Run)},
    {"csv", required_argument, kOptCsv, Bit(Command::Run)},
    {"csv", no_argument, kOptCsvOut, Bit(Command::Scan)},
    {"jobs", required_argument, kOptJobs,
     kManyCommands | Bit(Command::Scan) | Bit(Command::Ports) | kPollCommands},
    {"timeout", required_argument, kOptTimeout, Bit(Command::Scan)},
    {"info", no_argument, kOptInfo, Bit(Command::Scan)},
    {"probe", no_argument, kOptProbe, Bit(Command::Ports)},
    {"interval", required_argument, kOptInterval, kPollCommands},
    {"once", no_argument, kOptOnce, Bit(Command::Watch)},
    {"listen", required_argument, kOptListen, Bit(Command::Exporter)},
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

// Seconds with at most three decimals ("5", "0.5") within [loMs, hiMs], in ms.
bool ParseSeconds(std::string_view text, long loMs, long hiMs, int* ms) {
    const size_t dot = text.find('.');
    const std::string_view whole = text.substr(0, dot);
    std::string_view fraction = dot == std::string_view::npos ? std::string_view() : text.substr(dot + 1);
    if (fraction.size() > 3 || (whole.empty() && fraction.empty()) ||
        (dot != std::string_view::npos && fraction.empty()))
        return false;
    long w = 0, f = 0;
    if ((!whole.empty() && !ParseNumber(whole, 0, hiMs / 1000, &w)) ||
        (!fraction.empty() && !ParseNumber(fraction, 0, 999, &f)))
        return false;
    for (size_t i = fraction.size(); i < 3; ++i)
        f *= 10;
    const long total = w * 1000 + f;
    if (total < loMs || total > hiMs)
        return false;
    *ms = static_cast<int>(total);
    return true;
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
    bool m_JobsGiven = false;
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
    const session::LinkKind before = m_Out.inv.link.kind;
    // --tcp and --udp may repeat, each adding targets
    if (before != session::LinkKind::None && (before != kind || kind == session::LinkKind::Serial))
        return Fail(LongName(id) + ": choose one kind of link (--tcp, --udp or --serial)");
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
    case kOptUdp: {
        if (!SetLink(id == kOptTcp ? session::LinkKind::Tcp : session::LinkKind::Udp, id))
            return false;
        std::string why;
        if (!session::TargetFormOk(v, &why))
            return Fail(LongName(id) + ": " + why);
        inv.link.targets.push_back(v);
        return true;
    }
    case kOptCsvOut:
        inv.csv = true;
        return true;
    case kOptInfo:
        inv.info = true;
        return true;
    case kOptProbe:
        inv.probe = true;
        return true;
    case kOptOnce:
        inv.once = true;
        return true;
    case kOptInterval:
        if (!ParseSeconds(v, kMinIntervalMs, kMaxIntervalMs, &inv.intervalMs))
            return Fail("--interval: not a number of seconds from 0.1 to 86400: " + Quoted(v));
        return true;
    case kOptListen: {
        // [ADDR:]PORT; an IPv6 address in brackets
        const size_t colon = v.rfind(':');
        std::string host = colon == std::string::npos ? kListenHost : v.substr(0, colon);
        if (host.size() >= 2 && host.front() == '[' && host.back() == ']')
            host = host.substr(1, host.size() - 2);
        if (!ParseNumber(colon == std::string::npos ? v : v.substr(colon + 1), 1, 65535, &n) || host.empty())
            return Fail("--listen: not [ADDR:]PORT (such as 127.0.0.1:9725): " + Quoted(v));
        inv.listenHost = host;
        inv.listenPort = static_cast<int>(n);
        return true;
    }
    case kOptJobs:
        if (!ParseNumber(v, 1, session::kMaxJobs, &n))
            return Fail("--jobs: not a count from 1 to " + std::to_string(session::kMaxJobs) + ": " +
                        Quoted(v));
        inv.jobs = static_cast<int>(n);
        m_JobsGiven = true;
        return true;
    case kOptConnectTimeout:
    case kOptTimeout:
        if (!ParseNumber(v, 1, kMaxTimeoutMs, &n))
            return Fail(LongName(id) + ": not a time in milliseconds from 1 to " +
                        std::to_string(kMaxTimeoutMs) + ": " + Quoted(v));
        (id == kOptTimeout ? inv.scanTimeoutMs : inv.connectTimeoutMs) = static_cast<int>(n);
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
    if (link.xFrames && link.kind != session::LinkKind::Tcp && inv.command != Command::Scan)
        return Fail("--x goes with --tcp only");
    if (m_BaudGiven && link.kind != session::LinkKind::Serial && !inv.probe)
        return Fail(inv.command == Command::Ports ? "--baud goes with --probe only"
                                                  : "--baud goes with --serial only");
    if (inv.connectTimeoutMs > 0 && link.kind == session::LinkKind::Serial)
        return Fail("--connect-timeout goes with --tcp or --udp only");
    if ((kLinkCommands & Bit(inv.command)) && link.kind == session::LinkKind::None)
        return Fail(cmd + " needs a link: --tcp TARGETS, --udp TARGETS or --serial N|DEVICE");
    if (inv.command == Command::DeviceQuery && link.kind != session::LinkKind::Serial)
        return Fail("device-query asks over a serial port: give --serial N|DEVICE");
    if (inv.command == Command::Connect && link.targets.size() > 1)
        return Fail("connect takes one target");
    if (m_JobsGiven && inv.command == Command::Ports && !inv.probe)
        return Fail("--jobs goes with --probe only");
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
        for (const std::string& t : link.targets)
            if (t == "@-" && inv.arguments[0] == "-")
                return Fail("run: standard input cannot give both the targets and the command file");
        break;
    case Command::Scan:
    case Command::Watch:
    case Command::Exporter: {
        if (n == 0)
            return Fail(cmd + " needs targets: addresses, ranges A-B, blocks A/N, host names or @FILE");
        if (inv.json && inv.csv)
            return Fail("choose --json or --csv");
        if (inv.info && inv.link.xFrames)
            return Fail("--info: X frames carry no answer that could be read; leave out --x");
        std::string why;
        for (const std::string& t : inv.arguments)
            if (!session::TargetFormOk(t, &why))
                return Fail(cmd + ": " + why);
        break;
    }
    case Command::Ports:
        if (n > 0 && !inv.probe)
            return Fail("ports takes devices with --probe only: " + Quoted(inv.arguments[0]));
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
        return std::string(kSendUsage) + kLinkLines + kManyLines;
    case Command::Run:
        return std::string(kRunUsage) + kLinkLines + kManyLines;
    case Command::Scan:
        return kScanUsage;
    case Command::Ports:
        return kPortsUsage;
    case Command::ClearSocket:
        return kClearUsage;
    case Command::DeviceQuery:
        return kDeviceUsage;
    case Command::Watch:
        return kWatchUsage;
    case Command::Exporter:
        return kExporterUsage;
    case Command::None:
        break;
    }
    return kProgramUsage;
}

} // namespace lumo_cli
