#include "scan_ports.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "link_pace.h"
#include "link_tap.h"
#include "log/session_record.h"
#include "lumo_net.h"
#include "out.h"
#include "posix_file.h"
#include "posix_serial.h"
#include "runner.h"
#include "scan.h"
#include "send.h"
#include "serial_devices.h"
#include "targets.h"
#include "text.h"

namespace lumo_cli {

namespace {

std::string JsonText(const std::string& utf8) {
    return JsonString(FromUtf8OrLatin1(utf8));
}

std::string Mode(const session::ScanResult& r) {
    return r.modeChar ? std::string(1, static_cast<char>(r.modeChar)) : std::string();
}

// One module found, as the options ask.
std::string ScanLine(const session::ScanResult& r, const Invocation& inv) {
    const std::string address = session::DottedAddress(r.address);
    const std::string connect = r.connectUs >= 0 ? session::RoundTripMs(r.connectUs) : std::string();
    const std::string mode = Mode(r);
    const std::string info = ToUtf8(r.info);
    if (inv.json)
        return "{\"address\":\"" + address + "\",\"id\":" + std::to_string(r.id) +
               ",\"style\":" + std::to_string(r.style) +
               ",\"mode\":" + (mode.empty() ? "null" : JsonText(mode)) +
               ",\"info\":" + (inv.info && !r.info.empty() ? JsonString(r.info) : "null") +
               ",\"connect_ms\":" + (connect.empty() ? "null" : connect) + "}\n";
    if (inv.csv) {
        std::string row;
        for (const std::string& f :
             {address, std::to_string(r.id), std::to_string(r.style), mode, OneLine(r.info), connect})
            row += (row.empty() ? "" : ",") + session::CsvField(f);
        return row + "\r\n";
    }
    char line[160];
    std::snprintf(line, sizeof line, "%-15s  id %-3d  style %-3d  mode %s  %s ms", address.c_str(), r.id,
                  r.style, mode.empty() ? "-" : OneLine(FromUtf8OrLatin1(mode)).c_str(), connect.c_str());
    std::string text = line;
    if (r.refused)
        text += "  (refused the link)";
    if (inv.info)
        text += "  " + (r.info.empty() ? std::string("-") : ReadableLine(r.info));
    return text + "\n";
}

// One serial port: its device, its stable names, its driver.
struct Port {
    std::string device;            // /dev/ttyUSB0, or a path given
    std::vector<std::string> byId; // /dev/serial/by-id/... names of it
    std::string driver, description;
    session::SerialProbe probe;
};

std::vector<Port> ListPorts(const Invocation& inv) {
    std::vector<Port> ports;
    if (!inv.arguments.empty()) {
        for (const std::string& device : inv.arguments)
            ports.push_back({device, {}, {}, {}, {}});
        return ports;
    }
    for (const session::SerialDevice& d : session::ListSerialDevices()) {
        const std::string node = session::DeviceNode(d);
        auto it = std::find_if(ports.begin(), ports.end(), [&](const Port& p) { return p.device == node; });
        if (it == ports.end())
            it = ports.insert(ports.end(), Port{node, {}, d.driver, d.description, {}});
        if (d.path.find("/serial/by-id/") != std::string::npos)
            it->byId.push_back(d.path);
    }
    return ports;
}

std::string ProbeText(const Port& p) {
    if (!p.probe.opened)
        return "cannot open: " + (p.probe.osError ? ToUtf8(session::ReasonWords(p.probe.osError))
                                                  : std::string("the port did not open"));
    return p.probe.promptSeen ? "module (prompt seen)" : "no module (no prompt)";
}

std::string PortLine(const Port& p, const Invocation& inv) {
    std::string byId;
    for (const std::string& name : p.byId)
        byId += (byId.empty() ? "" : " ") + name;
    if (inv.json) {
        std::string names;
        for (const std::string& name : p.byId)
            names += (names.empty() ? "" : ",") + JsonText(name);
        std::string line = "{\"device\":" + JsonText(p.device) + ",\"by_id\":[" + names +
                           "],\"driver\":" + (p.driver.empty() ? "null" : JsonText(p.driver)) +
                           ",\"description\":" + (p.description.empty() ? "null" : JsonText(p.description));
        if (inv.probe)
            line += std::string(",\"opened\":") + (p.probe.opened ? "true" : "false") +
                    ",\"module\":" + (p.probe.promptSeen ? "true" : "false");
        return line + "}\n";
    }
    std::string line =
        p.device + "  " + (byId.empty() ? "-" : byId) + "  " + (p.driver.empty() ? "-" : p.driver);
    if (inv.probe)
        line += "  " + ProbeText(p);
    return line + "\n";
}

} // namespace

int DoScan(const Invocation& inv) {
    session::TargetList list = session::ReadTargets(inv.arguments);
    if (!list.ok()) {
        std::fprintf(stderr, "lumo: %s\n", list.error.c_str());
        return list.problem == session::TargetProblem::NoInput ? kExitNoInput : kExitUsage;
    }
    std::vector<uint32_t>& addresses = list.addresses;
    std::sort(addresses.begin(), addresses.end()); // each is there once already
    session::ScanOptions options;
    options.connectTimeoutMs = inv.scanTimeoutMs;
    options.xFrames = inv.link.xFrames;
    options.info = inv.info;
    options.pauses = inv.pauses;

    session::Runner runner(inv.jobs > 0 ? inv.jobs : kScanJobs);
    const posix::SignalWatch watch([&runner] { runner.Stop(); });
    FileOut out(stdout);
    if (inv.csv)
        out.Write("address,id,style,mode,info,connect_ms\r\n");
    size_t found = 0;
    const auto start = std::chrono::steady_clock::now();
    const size_t handed = session::Scan(
        runner, addresses, options,
        [&](const session::ScanResult& r) {
            if (!r.found)
                return;
            ++found;
            out.Write(ScanLine(r, inv));
            if (out.Failed())
                runner.Stop(); // nobody reads on (| head)
        },
        session::Delivery::InOrder);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const std::string stopped =
        handed < addresses.size() ? " (stopped after " + std::to_string(handed) + ")" : std::string();
    std::fprintf(stderr, "found %zu modules among %zu addresses in %.2f s%s\n", found, addresses.size(),
                 seconds, stopped.c_str());
    if (watch.Signal() != 0)
        return 128 + watch.Signal();
    return found > 0 ? kExitOk : kExitFailed;
}

int DoPorts(const Invocation& inv) {
    std::vector<Port> ports = ListPorts(inv);
    FileOut out(stdout);
    if (!inv.probe) {
        for (const Port& p : ports)
            out.Write(PortLine(p, inv));
        if (ports.empty())
            std::fprintf(stderr, "lumo: no serial ports found\n");
        return kExitOk;
    }
    // each port behind a number of its own, those LUMO_COM<N> does not name
    std::vector<int> numbers;
    for (int n = 1; n <= kMaxSerialPort && numbers.size() < ports.size(); ++n)
        if (lumo_serial::PortEnvironmentDevice(n).empty())
            numbers.push_back(n);
    if (numbers.size() < ports.size()) {
        std::fprintf(stderr, "lumo: too many ports to probe at once: at most %zu\n", numbers.size());
        return kExitUsage;
    }
    for (size_t i = 0; i < ports.size(); ++i)
        lumo_serial::SetPortDevice(numbers[i], ports[i].device);
    session::Runner runner(inv.jobs > 0 ? inv.jobs : kScanJobs);
    const posix::SignalWatch watch([&runner] { runner.Stop(); });
    bool any = false;
    runner.Run(
        ports.size(),
        [&](size_t i) {
            CLumo_Net net;
            session::LinkTap tap(net);
            session::RunnerFrontEnd front(&runner.StopFlag());
            lumo::LinkPace pace;
            pace.quick = !inv.pauses;
            const lumo::ScopedPace paced(pace);
            ports[i].probe = session::ProbeSerial(net, front, numbers[i], inv.link.baud, &tap);
        },
        [&](size_t i) {
            any = any || ports[i].probe.promptSeen;
            out.Write(PortLine(ports[i], inv));
        },
        session::Delivery::InOrder);
    if (ports.empty())
        std::fprintf(stderr, "lumo: no serial ports found\n");
    if (watch.Signal() != 0)
        return 128 + watch.Signal();
    return any ? kExitOk : kExitFailed;
}

} // namespace lumo_cli
