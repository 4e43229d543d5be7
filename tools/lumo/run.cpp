#include "run.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "answer_reading.h"
#include "command_file.h"
#include "lumo_net.h"
#include "posix_serial.h"
#include "print_front_end.h"
#include "records.h"
#include "session.h"
#include "text.h"

namespace lumo_cli {

namespace {

using Clock = std::chrono::steady_clock;

// What the device link's tap told of the connect in progress (any thread).
struct TapSeen {
    std::atomic<bool> connected{false};
    std::atomic<size_t> received{0};
};

// One device link, lumo's front end and the session on them.
class Link {
public:
    explicit Link(std::FILE* out) : front(out), session(net, front) {
        session.Tap().SetListener([seen = m_Seen](const LumoTapRecord& r) {
            if (r.kind == LumoTapKind::Event && r.event == LumoTapEvent::Connected)
                seen->connected = true;
            else if (r.kind == LumoTapKind::Received)
                seen->received += r.size;
        });
    }

    // Opens the chosen link; on failure says why on standard error.
    bool Open(const LinkChoice& choice, session::ConnectOutcome* outcome);

    CLumo_Net net;
    PrintFrontEnd front;
    session::Session session;
    std::string label; // the link as the reports name it

private:
    std::shared_ptr<TapSeen> m_Seen = std::make_shared<TapSeen>();
};

// The port number of a serial choice: --serial N, or for a device the first
// number whose LUMO_COM<N> is unset, with the device put behind it. 0 (said
// on standard error) when none is free.
int SerialPort(const LinkChoice& choice) {
    if (choice.device.empty())
        return choice.port;
    for (int n = 1; n <= kMaxSerialPort; ++n) {
        if (lumo_serial::PortEnvironmentDevice(n).empty()) {
            lumo_serial::SetPortDevice(n, choice.device);
            return n;
        }
    }
    std::fprintf(stderr, "lumo: no free port number for %s (LUMO_COM1 to LUMO_COM255 are all set)\n",
                 choice.device.c_str());
    return 0;
}

// A serial link as lumo names it: the port and the device it opens.
std::string SerialLabel(int port) {
    return ToUtf8(session::SerialLinkName(port)) + " " + lumo_serial::PortDevice(port);
}

std::string Reason(const session::ConnectOutcome& o, const TapSeen& seen) {
    if (o.osError != 0)
        return ToUtf8(session::ReasonWords(o.osError));
    switch (o.status) {
    case session::ConnectStatus::Style17Refused:
        return "refused by the module (style 17); press Ctrl+Esc on its keyboard and try again";
    case session::ConnectStatus::ToldByDeviceLink:
        return "refused by the module: it does not take X frames (14-byte greeting)";
    case session::ConnectStatus::TcpFailed:
        if (seen.connected && seen.received == 0)
            return "timed out: no greeting from the module";
        return seen.connected ? "the module's greeting was not accepted" : "failed";
    case session::ConnectStatus::PortNotOpened:
        return "the port did not open";
    case session::ConnectStatus::UdpNotConnected:
        return "the datagram socket could not be aimed at the module";
    case session::ConnectStatus::UdpTimeoutNotSet:
        return "the datagram socket's receive time-out could not be set";
    case session::ConnectStatus::Open:
        break;
    }
    return "failed";
}

bool Link::Open(const LinkChoice& choice, session::ConnectOutcome* outcome) {
    const std::u16string address = FromUtf8OrLatin1(choice.address);
    switch (choice.kind) {
    case session::LinkKind::Serial: {
        const int port = SerialPort(choice);
        if (port == 0)
            return false;
        label = SerialLabel(port);
        *outcome = session.OpenSerial(port, choice.baud);
        break;
    }
    case session::LinkKind::Tcp:
        label = ToUtf8(session::TcpLinkName(address));
        *outcome = session.OpenTcp(address, choice.xFrames);
        break;
    case session::LinkKind::Udp:
        label = ToUtf8(session::UdpLinkName(address));
        *outcome = session.OpenUdp(address);
        break;
    case session::LinkKind::None:
        return false;
    }
    if (outcome->ok())
        return true;
    std::fprintf(stderr, "lumo: cannot open %s: %s\n", label.c_str(), Reason(*outcome, *m_Seen).c_str());
    const std::u16string hint = session::ReasonHint(outcome->osError, choice.kind);
    if (!hint.empty())
        std::fprintf(stderr, "lumo: %s\n", ToUtf8(hint).c_str());
    return false;
}

answer::SendPath PathOf(const LinkChoice& link) {
    switch (link.kind) {
    case session::LinkKind::Serial:
        return answer::SendPath::Serial;
    case session::LinkKind::Udp:
        return answer::SendPath::Udp;
    default:
        return link.xFrames ? answer::SendPath::XFrame : answer::SendPath::ZFrame;
    }
}

// A TCP link the module dropped: every later command would wait out its bound for nothing.
bool LinkLost(Link& link, const LinkChoice& choice) {
    if (choice.kind != session::LinkKind::Tcp || link.net.m_bConnected.load(std::memory_order_acquire) != 0)
        return false;
    std::fprintf(stderr, "lumo: %s: the module closed the link; stopping\n", link.label.c_str());
    return true;
}

std::string JsonNumberOrNull(int v) {
    return v < 0 ? "null" : std::to_string(v);
}

// ---- connect ----

int DoConnect(const Invocation& inv) {
    Link link(inv.json ? nullptr : stdout);
    session::ConnectOutcome o;
    if (!link.Open(inv.link, &o))
        return kExitNoLink;
    const bool serial = o.kind == session::LinkKind::Serial;
    const bool known = o.moduleId >= 0; // a greeting came (TCP, or UDP's probe)
    const std::string mode = o.modeChar ? std::string(1, static_cast<char>(o.modeChar)) : std::string();
    if (inv.json) {
        std::printf("{\"link\":%s,\"id\":%s,\"style\":%s,\"mode\":%s,\"prompt_seen\":%s}\n",
                    JsonString(FromUtf8OrLatin1(link.label)).c_str(), JsonNumberOrNull(o.moduleId).c_str(),
                    JsonNumberOrNull(o.style).c_str(),
                    mode.empty() ? "null" : JsonString(FromUtf8OrLatin1(mode)).c_str(),
                    serial ? (o.promptSeen ? "true" : "false") : "null");
    } else {
        std::printf("link: %s\n", link.label.c_str());
        if (serial) {
            std::printf("prompt seen: %s\n", o.promptSeen ? "yes" : "no");
        } else if (known) {
            std::printf("module id: %d\nstyle: %d\nmode: %s\n", o.moduleId, o.style,
                        mode.empty() ? "-" : OneLine(FromUtf8OrLatin1(mode)).c_str());
        } else {
            std::printf("module id: - (no answer to the TCP probe)\n");
        }
    }
    std::fflush(stdout);
    link.session.Disconnect();
    return kExitOk;
}

// ---- send ----

int DoSend(const Invocation& inv) {
    const int maxChars = answer::MaxCommandChars(PathOf(inv.link));
    std::vector<std::u16string> commands;
    for (const std::string& text : inv.arguments) {
        std::u16string command;
        std::string why;
        if (!CheckCommand(text, maxChars, &command, &why)) {
            std::fprintf(stderr, "lumo: send: '%s': %s\n", OneLine(FromUtf8OrLatin1(text)).c_str(), why.c_str());
            return kExitUsage;
        }
        commands.push_back(std::move(command));
    }
    Link link(inv.json ? nullptr : stdout);
    session::ConnectOutcome o;
    if (!link.Open(inv.link, &o))
        return kExitNoLink;
    int status = kExitOk;
    for (size_t i = 0; i < commands.size(); ++i) {
        if (!inv.json)
            std::printf("command: %s\n", OneLine(commands[i]).c_str());
        std::fflush(stdout);
        CommandRecord r;
        r.text = inv.arguments[i];
        r.result = link.session.Send(commands[i]);
        if (r.result.outcome == session::SendOutcome::TimedOut)
            status = kExitFailed;
        if (inv.json)
            std::printf("%s\n", JsonRecord(r, link.label, false).c_str());
        else if (r.result.roundTripUs >= 0)
            std::printf("round trip: %s ms (%s)\n", session::RoundTripMs(r.result.roundTripUs).c_str(),
                        OutcomeName(r.result.outcome));
        else
            std::printf("round trip: - (%s)\n", OutcomeName(r.result.outcome));
        std::fflush(stdout);
        if (LinkLost(link, inv.link)) {
            status = kExitFailed;
            break;
        }
    }
    link.session.Disconnect();
    return status;
}

// ---- run ----

// The whole file, or false with errno set.
bool ReadAll(const std::string& path, std::string* text) {
    std::FILE* f = path == "-" ? stdin : std::fopen(path.c_str(), "rb");
    if (!f)
        return false;
    char buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
        text->append(buf, n);
    const bool ok = !std::ferror(f);
    const int saved = errno;
    if (f != stdin)
        std::fclose(f);
    errno = saved;
    return ok;
}

// An output file opened (and truncated) before the link opens.
struct OutFile {
    std::FILE* f = nullptr;
    ~OutFile() {
        if (f)
            std::fclose(f);
    }
    bool Open(const std::string& path) {
        f = path.empty() ? nullptr : std::fopen(path.c_str(), "w");
        return path.empty() || f;
    }
};

void PrintRunLine(const CommandRecord& r, bool rounds) {
    const std::string round = rounds ? "[round " + std::to_string(r.round) + "] " : "";
    const std::string time =
        r.result.roundTripUs >= 0 ? session::RoundTripMs(r.result.roundTripUs) + " ms" : "sent";
    std::printf("%s %s%s (%s): %s\n", r.passed ? "PASS" : "FAIL", round.c_str(),
                OneLine(FromUtf8OrLatin1(r.text)).c_str(), time.c_str(),
                r.passed ? ShownText(r.result).c_str() : r.message.c_str());
    std::fflush(stdout);
}

int DoRun(const Invocation& inv) {
    const std::string& path = inv.arguments[0];
    std::string text;
    if (!ReadAll(path, &text)) {
        std::fprintf(stderr, "lumo: cannot read %s: %s\n", path.c_str(), std::strerror(errno));
        return kExitNoInput;
    }
    std::vector<Step> steps;
    std::string error;
    const std::string name = path == "-" ? "(standard input)" : path;
    if (!ParseCommandFile(text, name, answer::MaxCommandChars(PathOf(inv.link)), &steps, &error)) {
        std::fprintf(stderr, "lumo: %s\n", error.c_str());
        return kExitUsage;
    }
    OutFile junit, csv;
    for (auto [file, out] : {std::pair{&inv.junitPath, &junit}, std::pair{&inv.csvPath, &csv}})
        if (!out->Open(*file)) {
            std::fprintf(stderr, "lumo: cannot write %s: %s\n", file->c_str(), std::strerror(errno));
            return kExitUsage;
        }

    Link link(nullptr); // the run's own lines say what was shown
    session::ConnectOutcome o;
    if (!link.Open(inv.link, &o))
        return kExitNoLink;
    const auto start = Clock::now();
    std::vector<CommandRecord> records;
    int passed = 0, failed = 0;
    bool stop = false;
    for (int round = 1; round <= inv.repeat && !stop; ++round) {
        for (const Step& step : steps) {
            if (step.isWait) {
                link.front.Sleep(step.waitMs);
                continue;
            }
            CommandRecord& r = records.emplace_back();
            r.round = round;
            r.line = step.line;
            r.text = step.text;
            r.expect = step.expect;
            r.pattern = step.pattern;
            r.result = link.session.Send(step.command);
            Judge(r, step.re.get());
            ++(r.passed ? passed : failed);
            if (inv.json) {
                std::printf("%s\n", JsonRecord(r, link.label, true).c_str());
                std::fflush(stdout);
            } else {
                PrintRunLine(r, inv.repeat > 1);
            }
            if ((!r.passed && !inv.keepGoing) || LinkLost(link, inv.link)) {
                stop = true;
                break;
            }
        }
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    link.session.Disconnect();

    std::fprintf(inv.json ? stderr : stdout, "%d passed, %d failed\n", passed, failed);
    std::fflush(stdout);
    int status = failed > 0 || stop ? kExitFailed : kExitOk;
    if (junit.f && !WriteJUnit(junit.f, name, link.label, records, seconds)) {
        std::fprintf(stderr, "lumo: cannot write %s\n", inv.junitPath.c_str());
        status = kExitFailed;
    }
    if (csv.f && !WriteCsv(csv.f, link.label, records)) {
        std::fprintf(stderr, "lumo: cannot write %s\n", inv.csvPath.c_str());
        status = kExitFailed;
    }
    return status;
}

// ---- clear-socket, device-query ----

int DoClearSocket(const Invocation& inv) {
    const unsigned long address = *session::ParseDottedAddress(inv.arguments[0]); // checked with the options
    CLumo_Net net;
    const std::string dest = std::to_string(address >> 24) + "." + std::to_string((address >> 16) & 0xFF) +
                             ".255.255:" + std::to_string(LUMO_CLEAR_DEST_PORT);
    if (!net.UDP_Clear_Socket(address)) {
        std::fprintf(stderr,
                     "lumo: the clear-socket broadcast to %s was not sent (is local port %d in use?)\n",
                     dest.c_str(), LUMO_CLEAR_SRC_PORT);
        return kExitNoLink;
    }
    std::printf("clear-socket: sent to %s\n", dest.c_str());
    return kExitOk;
}

int DoDeviceQuery(const Invocation& inv) {
    CLumo_Net net;
    session::LinkTap tap(net);
    const LinkChoice& choice = inv.link;
    const int port = SerialPort(choice);
    if (port == 0)
        return kExitNoLink;
    const std::string label = SerialLabel(port);
    if (net.OpenCOM_IPConverter(port, choice.baud) == 0) {
        std::fprintf(stderr, "lumo: cannot open %s: %s\n", label.c_str(),
                     tap.ConnectError() ? ToUtf8(session::ReasonWords(tap.ConnectError())).c_str()
                                        : "the port did not open");
        const std::u16string hint = session::ReasonHint(tap.ConnectError(), session::LinkKind::Serial);
        if (!hint.empty())
            std::fprintf(stderr, "lumo: %s\n", ToUtf8(hint).c_str());
        return kExitNoLink;
    }
    unsigned char out[2] = {0xFF, 0xFF};
    net.Skarn_Device(out, 2); // kind 2: the longer idle limit, 15 passes of 80 ms
    net.CloseCOM();
    std::printf("device: %02X %02X\n", out[0], out[1]);
    if (out[0] == 0xFF && out[1] == 0xFF) {
        std::fprintf(stderr, "lumo: %s: no answer to the device query\n", label.c_str());
        return kExitFailed;
    }
    return kExitOk;
}

} // namespace

int Execute(const Invocation& inv) {
    InstallMessageSink();
    switch (inv.command) {
    case Command::Connect:
        return DoConnect(inv);
    case Command::Send:
        return DoSend(inv);
    case Command::Run:
        return DoRun(inv);
    case Command::ClearSocket:
        return DoClearSocket(inv);
    case Command::DeviceQuery:
        return DoDeviceQuery(inv);
    case Command::None:
        break;
    }
    return kExitUsage;
}

} // namespace lumo_cli
