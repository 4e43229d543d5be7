#include "work.h"

#include <chrono>
#include <cstdio>

#include "targets.h"
#include "text.h"

namespace lumo_cli {

namespace {

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

void Note(const Reports& reports, const std::string& text) {
    if (reports.notes)
        reports.notes->Write(reports.notePrefix + text + "\n");
}

void RunLine(Out& out, const CommandRecord& r, bool rounds) {
    const std::string round = rounds ? "[round " + std::to_string(r.round) + "] " : "";
    const std::string time =
        r.result.roundTripUs >= 0 ? session::RoundTripMs(r.result.roundTripUs) + " ms" : "sent";
    out.Printf("%s %s%s (%s): %s\n", r.passed ? "PASS" : "FAIL", round.c_str(),
               OneLine(FromUtf8OrLatin1(r.text)).c_str(), time.c_str(),
               r.passed ? ShownText(r.result).c_str() : r.message.c_str());
}

// After a command of send: its JSON object, or its round trip.
void SendLine(Out& out, const CommandRecord& r, bool json, const std::string& link,
              const std::string& target) {
    if (json)
        out.Write(JsonRecord(r, link, false, target) + "\n");
    else if (r.result.roundTripUs >= 0)
        out.Printf("round trip: %s ms (%s)\n", session::RoundTripMs(r.result.roundTripUs).c_str(),
                   OutcomeName(r.result.outcome));
    else
        out.Printf("round trip: - (%s)\n", OutcomeName(r.result.outcome));
}

} // namespace

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

bool CheckCommands(const Invocation& inv, std::vector<std::u16string>* commands) {
    const int maxChars = answer::MaxCommandChars(PathOf(inv.link));
    for (const std::string& text : inv.arguments) {
        std::u16string command;
        std::string why;
        if (!CheckCommand(text, maxChars, &command, &why)) {
            std::fprintf(stderr, "lumo: send: '%s': %s\n", OneLine(FromUtf8OrLatin1(text)).c_str(),
                         why.c_str());
            return false;
        }
        commands->push_back(std::move(command));
    }
    return true;
}

std::vector<uint32_t> LinkTargets(const Invocation& inv, int* status) {
    session::TargetList list = session::ReadTargets(inv.link.targets);
    if (!list.ok()) {
        std::fprintf(stderr, "lumo: %s\n", list.error.c_str());
        *status = list.problem == session::TargetProblem::NoInput ? kExitNoInput : kExitUsage;
        return {};
    }
    if (list.addresses.empty()) {
        std::fprintf(stderr, "lumo: no targets: the target files hold no address\n");
        *status = kExitUsage;
    }
    return std::move(list.addresses);
}

Tally SendCommands(TargetLink& link, const Invocation& inv, const std::vector<std::u16string>& commands,
                   const Reports& reports) {
    Tally tally;
    tally.opened = true;
    const auto start = Clock::now();
    for (size_t i = 0; i < commands.size(); ++i) {
        if (!inv.json && reports.out)
            reports.out->Printf("command: %s\n", OneLine(commands[i]).c_str());
        CommandRecord r;
        r.text = inv.arguments[i];
        r.result = link.session.Send(commands[i]);
        ++(r.result.outcome == session::SendOutcome::TimedOut ? tally.failed : tally.passed);
        if (reports.out)
            SendLine(*reports.out, r, inv.json, link.label, reports.target);
        if (link.Lost(inv.link)) {
            Note(reports, link.label + ": the module closed the link; stopping");
            tally.cut = true;
            break;
        }
        if (link.front.Stopping()) {
            tally.cut = true;
            break;
        }
    }
    tally.seconds = SecondsSince(start);
    link.session.Disconnect();
    return tally;
}

Tally RunCommandFile(TargetLink& link, const Invocation& inv, const CommandSource& source,
                     const Reports& reports) {
    Tally tally;
    tally.opened = true;
    const int maxChars = answer::MaxCommandChars(PathOf(inv.link));
    const std::string* target = reports.target.empty() ? nullptr : &reports.target;
    const auto start = Clock::now();
    bool stop = false;
    for (int round = 1; round <= inv.repeat && !stop; ++round) {
        StepReader reader(source, maxChars);
        Step step;
        StepReader::Got got = StepReader::Got::End;
        while (!stop && (got = reader.Next(&step)) == StepReader::Got::Step) {
            stop = link.front.Stopping();
            if (stop)
                break;
            if (step.isWait) {
                link.front.Sleep(step.waitMs);
                continue;
            }
            CommandRecord r;
            r.round = round;
            r.line = step.line;
            r.text = std::move(step.text);
            r.expect = step.expect;
            r.pattern = std::move(step.pattern);
            r.result = link.session.Send(step.command);
            Judge(r, step.re.get());
            ++(r.passed ? tally.passed : tally.failed);
            if (reports.out && inv.json)
                reports.out->Write(JsonRecord(r, link.label, true, reports.target) + "\n");
            else if (reports.out)
                RunLine(*reports.out, r, inv.repeat > 1);
            if (reports.csv)
                reports.csv->Write(CsvRow(r, link.label, target));
            if (reports.junit)
                reports.junit->Write(JUnitCase(r, reports.className));
            if (!r.passed && !inv.keepGoing) {
                stop = true;
            } else if (link.Lost(inv.link)) {
                Note(reports, link.label + ": the module closed the link; stopping");
                stop = true;
            }
        }
        if (got == StepReader::Got::Error) {
            // it was whole and readable when checked: it changed meanwhile
            Note(reports, reader.Error() + "; stopping");
            stop = true;
        }
    }
    tally.cut = stop;
    tally.seconds = SecondsSince(start);
    link.session.Disconnect();
    return tally;
}

} // namespace lumo_cli
