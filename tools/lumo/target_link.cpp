#include "target_link.h"

#include <cerrno>
#include <cstdio>

#include "posix_serial.h"
#include "text.h"

namespace lumo_cli {

TargetLink::TargetLink(Out* out, Out* errors, const std::atomic<bool>* stop, bool many, int connectTimeoutMs)
    : front(out, errors, stop), session(net, front) {
    session.Tap().SetListener([seen = m_Seen](const LumoTapRecord& r) {
        if (r.kind == LumoTapKind::Event && r.event == LumoTapEvent::Connected)
            seen->connected = true;
        else if (r.kind == LumoTapKind::Received)
            seen->received += r.size;
    });
    if (many)
        net.m_hOwnerWnd = [](unsigned, uintptr_t, intptr_t) {}; // a reset shows no box; the answer says it
    lumo::LinkPace pace;
    if (connectTimeoutMs > 0)
        pace.connectLimitMs = connectTimeoutMs;
    pace.cancel = stop;
    session.SetPace(pace);
}

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

std::string SerialLabel(int port) {
    return ToUtf8(session::SerialLinkName(port)) + " " + lumo_serial::PortDevice(port);
}

TargetLink::Why TargetLink::Reason(const session::ConnectOutcome& o) const {
    switch (o.osError) {
    case 0:
        break;
    case ECANCELED:
        return {"stopped", "stopped"};
    case ECONNREFUSED:
        return {"refused", ToUtf8(session::ReasonWords(o.osError))};
    case ETIMEDOUT:
        return {"timeout", ToUtf8(session::ReasonWords(o.osError))};
    case EHOSTUNREACH:
    case ENETUNREACH:
        return {"unreachable", ToUtf8(session::ReasonWords(o.osError))};
    default:
        return {"connect_error", ToUtf8(session::ReasonWords(o.osError))};
    }
    switch (o.status) {
    case session::ConnectStatus::Style17Refused:
        return {"style17_refused",
                "refused by the module (style 17); press Ctrl+Esc on its keyboard and try again"};
    case session::ConnectStatus::ToldByDeviceLink:
        return {"no_x_frames", "refused by the module: it does not take X frames (14-byte greeting)"};
    case session::ConnectStatus::TcpFailed:
        if (m_Seen->connected && m_Seen->received == 0)
            return {"no_greeting", "timed out: no greeting from the module"};
        if (m_Seen->connected)
            return {"bad_greeting", "the module's greeting was not accepted"};
        break;
    case session::ConnectStatus::PortNotOpened:
        return {"port_error", "the port did not open"};
    case session::ConnectStatus::UdpNotConnected:
        return {"udp_error", "the datagram socket could not be aimed at the module"};
    case session::ConnectStatus::UdpTimeoutNotSet:
        return {"udp_error", "the datagram socket's receive time-out could not be set"};
    case session::ConnectStatus::Open:
        break;
    }
    return {"failed", "failed"};
}

bool TargetLink::Open(const LinkChoice& choice, const std::string& address,
                      session::ConnectOutcome* outcome) {
    const std::u16string wide = FromUtf8OrLatin1(address);
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
        label = ToUtf8(session::TcpLinkName(wide));
        *outcome = session.OpenTcp(wide, choice.xFrames);
        break;
    case session::LinkKind::Udp:
        label = ToUtf8(session::UdpLinkName(wide));
        *outcome = session.OpenUdp(wide);
        break;
    case session::LinkKind::None:
        return false;
    }
    if (outcome->ok())
        return true;
    const Why why = Reason(*outcome);
    m_Failure = "cannot open " + label + ": " + why.words;
    m_FailureCode = why.code;
    m_FailureWords = why.words;
    m_Hint = ToUtf8(session::ReasonHint(outcome->osError, choice.kind));
    return false;
}

bool TargetLink::Lost(const LinkChoice& choice) const {
    return choice.kind == session::LinkKind::Tcp && net.m_bConnected.load(std::memory_order_acquire) == 0;
}

} // namespace lumo_cli
