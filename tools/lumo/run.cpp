#include "run.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "command_file.h"
#include "lumo_net.h"
#include "many.h"
#include "out.h"
#include "print_front_end.h"
#include "records.h"
#include "scan_ports.h"
#include "target_link.h"
#include "targets.h"
#include "text.h"
#include "watch.h"
#include "work.h"

namespace lumo_cli {

namespace {

std::string JsonNumberOrNull(int v) {
    return v < 0 ? "null" : std::to_string(v);
}

// Says on standard error why a link did not open.
int CannotOpen(const TargetLink& link) {
    if (!link.Failure().empty())
        std::fprintf(stderr, "lumo: %s\n", link.Failure().c_str());
    if (!link.Hint().empty())
        std::fprintf(stderr, "lumo: %s\n", link.Hint().c_str());
    return kExitNoLink;
}

// ---- connect ----

int DoConnect(const Invocation& inv, const std::string& address) {
    FileOut out(stdout), err(stderr);
    TargetLink link(inv.json ? nullptr : &out, &err, nullptr, false, inv.connectTimeoutMs);
    session::ConnectOutcome o;
    if (!link.Open(inv.link, address, &o))
        return CannotOpen(link);
    const bool serial = o.kind == session::LinkKind::Serial;
    const bool known = o.moduleId >= 0; // a greeting came (TCP, or UDP's probe)
    const std::string mode = o.modeChar ? std::string(1, static_cast<char>(o.modeChar)) : std::string();
    if (inv.json) {
        out.Printf("{\"link\":%s,\"id\":%s,\"style\":%s,\"mode\":%s,\"prompt_seen\":%s}\n",
                   JsonString(FromUtf8OrLatin1(link.label)).c_str(), JsonNumberOrNull(o.moduleId).c_str(),
                   JsonNumberOrNull(o.style).c_str(),
                   mode.empty() ? "null" : JsonString(FromUtf8OrLatin1(mode)).c_str(),
                   serial ? (o.promptSeen ? "true" : "false") : "null");
    } else {
        out.Printf("link: %s\n", link.label.c_str());
        if (serial)
            out.Printf("prompt seen: %s\n", o.promptSeen ? "yes" : "no");
        else if (known)
            out.Printf("module id: %d\nstyle: %d\nmode: %s\n", o.moduleId, o.style,
                       mode.empty() ? "-" : OneLine(FromUtf8OrLatin1(mode)).c_str());
        else
            out.Printf("module id: - (no answer to the TCP probe)\n");
    }
    link.session.Disconnect();
    return kExitOk;
}

// ---- send and run on one target ----

int DoSend(const Invocation& inv, const std::string& address, const std::vector<std::u16string>& commands) {
    FileOut out(stdout), err(stderr);
    TargetLink link(inv.json ? nullptr : &out, &err, nullptr, false, inv.connectTimeoutMs);
    session::ConnectOutcome o;
    if (!link.Open(inv.link, address, &o))
        return CannotOpen(link);
    Reports reports;
    reports.out = &out;
    reports.notes = &err;
    reports.notePrefix = "lumo: ";
    return SendCommands(link, inv, commands, reports).Passed() ? kExitOk : kExitFailed;
}

int DoRun(const Invocation& inv, const std::string& address, const CommandSource& source,
          ReportFiles& files) {
    FileOut out(stdout), err(stderr);
    TargetLink link(nullptr, &err, nullptr, false,
                    inv.connectTimeoutMs); // the run's own lines say what was shown
    session::ConnectOutcome o;
    if (!link.Open(inv.link, address, &o))
        return CannotOpen(link);
    FileOut csv(files.csv, false);
    if (files.csv)
        csv.Write(CsvHeader(false));
    Spool cases;
    Reports reports;
    reports.out = &out;
    reports.notes = &err;
    reports.notePrefix = "lumo: ";
    reports.csv = files.csv ? &csv : nullptr;
    reports.junit = files.junit ? &cases : nullptr;
    reports.className = JUnitClassName(source.Name());
    const Tally tally = RunCommandFile(link, inv, source, reports);

    std::fprintf(inv.json ? stderr : stdout, "%d passed, %d failed\n", tally.passed, tally.failed);
    std::fflush(stdout);
    int status = tally.Passed() ? kExitOk : kExitFailed;
    if (files.junit) {
        JUnitCounts counts;
        counts.tests = static_cast<size_t>(tally.passed + tally.failed);
        counts.failures = static_cast<size_t>(tally.failed);
        counts.seconds = tally.seconds;
        FileOut junit(files.junit, false);
        junit.Write(JUnitStart(counts) + JUnitSuiteStart(source.Name(), link.label, counts));
        const bool moved = cases.MoveTo(junit);
        junit.Write(JUnitSuiteEnd() + JUnitEnd());
        if (!moved || !junit.Finish()) {
            std::fprintf(stderr, "lumo: cannot write %s\n", inv.junitPath.c_str());
            status = kExitFailed;
        }
    }
    if (files.csv && !csv.Finish()) {
        std::fprintf(stderr, "lumo: cannot write %s\n", inv.csvPath.c_str());
        status = kExitFailed;
    }
    return status;
}

// connect, send and run: everything is checked (commands, the command
// file, the report files, the targets) before the first link opens.
int DoLinkCommand(const Invocation& inv) {
    std::vector<std::u16string> commands;
    if (inv.command == Command::Send && !CheckCommands(inv, &commands))
        return kExitUsage;
    CommandSource source;
    ReportFiles files;
    if (inv.command == Command::Run) {
        const std::string& path = inv.arguments[0];
        if (!source.Open(path)) {
            std::fprintf(stderr, "lumo: cannot read %s: %s\n", path.c_str(), std::strerror(errno));
            return kExitNoInput;
        }
        std::string error;
        bool readFailed = false;
        if (!CheckCommandFile(source, answer::MaxCommandChars(PathOf(inv.link)), &error, &readFailed)) {
            std::fprintf(stderr, "lumo: %s\n", error.c_str());
            return readFailed ? kExitNoInput : kExitUsage;
        }
        if (!files.Open(inv))
            return kExitUsage;
    }
    std::vector<uint32_t> addresses{0}; // a serial link has no address
    if (inv.link.kind != session::LinkKind::Serial) {
        int status = kExitUsage;
        addresses = LinkTargets(inv, &status);
        if (addresses.empty())
            return status;
    }
    if (addresses.size() > 1) {
        if (inv.command == Command::Connect) {
            std::fprintf(stderr, "lumo: connect takes one target; these name %zu addresses\n",
                         addresses.size());
            return kExitUsage;
        }
        return RunMany(inv, addresses, commands, source, files);
    }
    const std::string address =
        inv.link.kind == session::LinkKind::Serial ? std::string() : session::DottedAddress(addresses[0]);
    switch (inv.command) {
    case Command::Connect:
        return DoConnect(inv, address);
    case Command::Send:
        return DoSend(inv, address, commands);
    default:
        return DoRun(inv, address, source, files);
    }
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

bool ReportFiles::Open(const Invocation& inv) {
    for (auto [path, file] : {std::pair{&inv.junitPath, &junit}, std::pair{&inv.csvPath, &csv}}) {
        if (path->empty())
            continue;
        *file = std::fopen(path->c_str(), "w");
        if (!*file) {
            std::fprintf(stderr, "lumo: cannot write %s: %s\n", path->c_str(), std::strerror(errno));
            return false;
        }
    }
    return true;
}

ReportFiles::~ReportFiles() {
    for (std::FILE* f : {junit, csv})
        if (f)
            std::fclose(f);
}

int Execute(const Invocation& inv) {
    InstallMessageSink();
    switch (inv.command) {
    case Command::Connect:
    case Command::Send:
    case Command::Run:
        return DoLinkCommand(inv);
    case Command::Scan:
        return DoScan(inv);
    case Command::Ports:
        return DoPorts(inv);
    case Command::ClearSocket:
        return DoClearSocket(inv);
    case Command::DeviceQuery:
        return DoDeviceQuery(inv);
    case Command::Watch:
        return DoWatch(inv);
    case Command::Exporter:
        return DoExporter(inv);
    case Command::None:
        break;
    }
    return kExitUsage;
}

} // namespace lumo_cli
