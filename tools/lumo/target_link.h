// One target's link in lumo: a device link, lumo's front end and the link
// session on them, opened as the options chose, with the reason in words
// when it does not open. Blocks for the session's waits; one thread.
#pragma once

#include <atomic>
#include <memory>
#include <string>

#include "cli.h"
#include "lumo_net.h"
#include "out.h"
#include "print_front_end.h"
#include "session.h"

namespace lumo_cli {

class TargetLink {
public:
    // out: status lines and answer boxes (null: nowhere); errors: boxes with
    // the error icon (null: nowhere). stop: cuts the waits short (null for
    // never). A link of many leaves the device link's own boxes to the
    // caller (through its failure reason) and shows none when the module
    // drops it. connectTimeoutMs: 0 for the device link's own bound.
    TargetLink(Out* out, Out* errors, const std::atomic<bool>* stop, bool many, int connectTimeoutMs);

    // Opens the link chosen to address (TCP, UDP; ignored for a serial
    // link). False with Failure() and Hint() set.
    bool Open(const LinkChoice& choice, const std::string& address, session::ConnectOutcome* outcome);
    // "cannot open LABEL: reason"; a hint on what to do about it, or empty.
    const std::string& Failure() const { return m_Failure; }
    const std::string& Hint() const { return m_Hint; }
    // The reason alone, in words and as a short stable word for machines
    // ("refused", "timeout", "unreachable", "no_greeting", "stopped"...).
    const std::string& FailureWords() const { return m_FailureWords; }
    const std::string& FailureCode() const { return m_FailureCode; }
    // Whether a TCP link has been closed by the module (every later command
    // would wait out its bound for nothing).
    bool Lost(const LinkChoice& choice) const;

    CLumo_Net net;
    PrintFrontEnd front;
    session::Session session;
    std::string label; // the link as the reports name it

private:
    struct TapSeen {
        std::atomic<bool> connected{false};
        std::atomic<size_t> received{0};
    };
    struct Why {
        const char* code;
        std::string words;
    };
    Why Reason(const session::ConnectOutcome& o) const;

    std::shared_ptr<TapSeen> m_Seen = std::make_shared<TapSeen>();
    std::string m_Failure, m_Hint, m_FailureWords, m_FailureCode;
};

// The port number of a serial choice: --serial N, or for a device the first
// number whose LUMO_COM<N> is unset, with the device put behind it. 0 (said
// on standard error) when none is free.
int SerialPort(const LinkChoice& choice);
// A serial link as lumo names it: the port and the device it opens.
std::string SerialLabel(int port);

} // namespace lumo_cli
