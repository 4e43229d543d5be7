#include "watch_poll.h"

#include "scan.h"
#include "target_link.h"
#include "text.h"

namespace lumo_cli {

namespace {

// The data line of a query's answer, else its status line.
std::string AnswerLine(const session::SendResult& r) {
    if (r.boxText)
        return ReadableLine(*r.boxText);
    return r.status ? ReadableLine(*r.status) : std::string();
}

} // namespace

ModulePoll PollModule(const std::string& address, bool askInfo, const std::atomic<bool>* stop,
                      int connectTimeoutMs) {
    ModulePoll p;
    TargetLink link(nullptr, nullptr, stop, true, connectTimeoutMs > 0 ? connectTimeoutMs : kWatchConnectMs);
    LinkChoice choice;
    choice.kind = session::LinkKind::Tcp;
    session::ConnectOutcome o;
    const bool opened = link.Open(choice, address, &o);
    p.id = o.moduleId;
    p.style = o.style;
    if (!opened) {
        p.reason = link.FailureCode();
        p.message = link.FailureWords();
        return p;
    }
    const session::SendResult signal = link.session.Send(kSignalQuery);
    if (signal.outcome == session::SendOutcome::Answered) {
        p.up = true;
        p.signal = AnswerLine(signal);
        p.roundTripUs = signal.roundTripUs;
    } else {
        const bool lost = link.Lost(choice);
        p.reason = lost ? "closed" : "no_answer";
        p.message = lost ? "the module closed the link" : "no answer to zs";
    }
    if (p.up && askInfo) {
        p.infoAsked = true;
        const session::SendResult info = link.session.Send(session::kInfoQuery);
        if (info.outcome == session::SendOutcome::Answered)
            p.info = AnswerLine(info);
    }
    link.session.Disconnect();
    return p;
}

std::string InfoVersion(const std::string& info) {
    const size_t at = info.find("Ver ");
    if (at == std::string::npos)
        return {};
    const size_t from = info.find_first_not_of(' ', at + 4);
    if (from == std::string::npos)
        return {};
    return info.substr(from, info.find(' ', from) - from);
}

} // namespace lumo_cli
