#include "many.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "out.h"
#include "posix_file.h"
#include "records.h"
#include "runner.h"
#include "targets.h"
#include "text.h"
#include "work.h"

namespace lumo_cli {

namespace {

// One target's part of the reports, held until its turn.
struct TargetReport {
    Tally tally;
    std::string label, failure;
    Spool out, csv, junit;
};

// How a link to address is named before it opens.
std::string LinkLabel(const LinkChoice& choice, const std::string& address) {
    const std::u16string wide = FromUtf8OrLatin1(address);
    return ToUtf8(choice.kind == session::LinkKind::Udp ? session::UdpLinkName(wide)
                                                        : session::TcpLinkName(wide));
}

} // namespace

int RunMany(const Invocation& inv, const std::vector<uint32_t>& addresses,
            const std::vector<std::u16string>& commands, const CommandSource& source, ReportFiles& files) {
    const bool run = inv.command == Command::Run;
    session::Runner runner(inv.jobs > 0 ? inv.jobs : kSendJobs);
    const posix::SignalWatch watch([&runner] { runner.Stop(); });
    const std::string className = run ? JUnitClassName(source.Name()) : std::string();

    FileOut out(stdout), csv(files.csv, false);
    if (files.csv)
        csv.Write(CsvHeader(true));
    Spool suites; // the JUnit suites, until the document's counts are known
    JUnitCounts all;
    size_t passed = 0, failed = 0, unreachable = 0;

    const auto work = [&](size_t i) {
        TargetReport r;
        const std::string address = session::DottedAddress(addresses[i]);
        r.label = LinkLabel(inv.link, address);
        if (!inv.json)
            r.out.Printf("== %s\n", r.label.c_str());
        // a run's own lines say what was shown
        TargetLink link(inv.json || run ? nullptr : &r.out, nullptr, &runner.StopFlag(), true,
                        inv.connectTimeoutMs);
        session::ConnectOutcome o;
        if (!link.Open(inv.link, address, &o)) {
            r.failure = link.Failure();
            if (inv.json)
                r.out.Write("{\"target\":" + JsonString(FromUtf8OrLatin1(address)) + ",\"link\":" +
                            JsonString(FromUtf8OrLatin1(r.label)) + ",\"outcome\":\"no_link\",\"message\":" +
                            JsonString(FromUtf8OrLatin1(r.failure)) + "}\n");
            else
                r.out.Write(r.failure + "\n" + (link.Hint().empty() ? "" : link.Hint() + "\n"));
            return r;
        }
        Reports reports;
        reports.out = &r.out;
        reports.notes = inv.json ? nullptr : &r.out;
        reports.csv = files.csv ? &r.csv : nullptr;
        reports.junit = files.junit ? &r.junit : nullptr;
        reports.target = address;
        reports.className = className + "@" + address;
        r.tally =
            run ? RunCommandFile(link, inv, source, reports) : SendCommands(link, inv, commands, reports);
        if (run && !inv.json)
            r.out.Printf("%d passed, %d failed\n", r.tally.passed, r.tally.failed);
        return r;
    };

    const auto done = [&](size_t i, TargetReport&& r) {
        ++(!r.tally.opened ? unreachable : r.tally.Passed() ? passed : failed);
        r.out.MoveTo(out);
        if (out.Failed())
            runner.Stop(); // nobody reads on (| head): no further link is worth opening
        r.csv.MoveTo(csv);
        if (!files.junit)
            return;
        JUnitCounts counts;
        counts.seconds = r.tally.seconds;
        if (r.tally.opened) {
            counts.tests = static_cast<size_t>(r.tally.passed + r.tally.failed);
            counts.failures = static_cast<size_t>(r.tally.failed);
        } else {
            counts.tests = counts.errors = 1;
        }
        all.Add(counts);
        suites.Write(JUnitSuiteStart(r.label, r.label, counts));
        if (r.tally.opened)
            r.junit.MoveTo(suites);
        else
            suites.Write(JUnitErrorCase("connect", className + "@" + session::DottedAddress(addresses[i]),
                                        r.failure, "no_link"));
        suites.Write(JUnitSuiteEnd());
    };

    const auto start = std::chrono::steady_clock::now();
    const size_t handed =
        session::RunEach<TargetReport>(runner, addresses.size(), work, done, session::Delivery::InOrder);
    int status = unreachable > 0 ? kExitNoLink : failed > 0 ? kExitFailed : kExitOk;
    if (files.junit) {
        all.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        FileOut junit(files.junit, false);
        junit.Write(JUnitStart(all));
        const bool moved = suites.MoveTo(junit);
        junit.Write(JUnitEnd());
        if (!moved || !junit.Finish()) {
            std::fprintf(stderr, "lumo: cannot write %s\n", inv.junitPath.c_str());
            status = std::max(status, kExitFailed);
        }
    }
    if (files.csv && !csv.Finish()) {
        std::fprintf(stderr, "lumo: cannot write %s\n", inv.csvPath.c_str());
        status = std::max(status, kExitFailed);
    }
    std::string stopped;
    if (handed < addresses.size())
        stopped = ", " + std::to_string(addresses.size() - handed) + " not run (stopped)";
    std::fprintf(stderr, "%zu targets: %zu passed, %zu failed, %zu unreachable%s\n", addresses.size(), passed,
                 failed, unreachable, stopped.c_str());
    return watch.Signal() != 0 ? 128 + watch.Signal() : status;
}

} // namespace lumo_cli
