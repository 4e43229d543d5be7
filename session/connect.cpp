#include "connect.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>

#include "connect_prompt.h"
#include "link_tap.h"
#include "lumo_net.h"
#include "port_map.h"
#include "posix_serial.h"
#include "utf8.h"

namespace session {

namespace {

constexpr int kPromptAttempts = 15;
constexpr int kPromptArea = 4096;
constexpr int kPromptReadLimit = 1024;
constexpr int kPromptPauseMs = 500;
constexpr int kPromptMoreMs = 1000; // lets the rest of the prompt arrive
constexpr int kAfterEchoOffMs = 500;
constexpr size_t kAddressArea = 20; // the address as 8-bit text, with its zero

// Sends a literal without its terminating zero.
template <size_t N> void sendLiteral(CLumo_Net& net, const char (&text)[N]) {
    net.Senddata(reinterpret_cast<const unsigned char*>(text), static_cast<int>(N - 1));
}

std::wstring Wide(const std::u16string& s) {
    return std::wstring(s.begin(), s.end());
}

// Records what the greeting told of the module.
void noteModule(const CLumo_Net& net, ConnectOutcome& o) {
    o.moduleId = net.m_ConnectToPcID;
    o.style = net.m_ToPCStyle;
    o.modeChar = net.m_ModeChar;
}

// The system's reason for the connect now running, from the caller's tap.
class Reason {
public:
    explicit Reason(LinkTap* tap) : m_Tap(tap) {
        if (m_Tap)
            m_Tap->ClearConnectError();
    }
    int Error() const { return m_Tap ? m_Tap->ConnectError() : 0; }
    // Said when Error() is 0: what that means with a tap, or that nobody knows.
    std::u16string None(const char16_t* withTap) const { return m_Tap ? withTap : u"not known"; }

private:
    LinkTap* m_Tap;
};

// Ends a connect that failed: the front end learns that no link is open,
// then the box (if any) is shown, with details when there are any.
void fail(FrontEnd& front, ConnectOutcome& o, ConnectStatus status, const char16_t* text,
          const char16_t* caption, std::u16string details = {}) {
    o.status = status;
    if (text) {
        o.boxText = text;
        o.boxCaption = caption;
        o.boxDetails = std::move(details);
    }
    front.OnConnectStep(ConnectStep::Failed, o);
    if (text && o.boxDetails.empty())
        front.ShowBox(o.boxText, o.boxCaption, BoxIcon::Error);
    else if (text)
        front.ShowDetailedBox(o.boxText, o.boxCaption, BoxIcon::Error, o.boxDetails);
}

// After a carriage return: up to 15 attempts, 500 ms apart, to see the
// module's prompt; an attempt that reads bytes reads once more 1000 ms later.
bool promptWait(CLumo_Net& net, FrontEnd& front) {
    // Room for two reads of 1024 plus a zero that always ends the text.
    unsigned char area[kPromptArea] = {};
    for (int attempt = 0; attempt < kPromptAttempts; ++attempt) {
        int n = net.ReadComData(area, kPromptReadLimit);
        if (n > 0) {
            front.Sleep(kPromptMoreMs);
            const int more = net.ReadComData(area + n, kPromptReadLimit);
            if (more > 0)
                n += more;
            if (ScanForPrompt(area, n, kPromptArea))
                return true;
        }
        front.Sleep(kPromptPauseMs);
    }
    return false;
}

} // namespace

ConnectOutcome ConnectSerial(CLumo_Net& net, FrontEnd& front, LinkRef& link, int port, int baud,
                             LinkTap* tap) {
    ConnectOutcome o;
    o.kind = LinkKind::Serial;
    o.name = SerialLinkName(port);
    const BusyScope busy(front);
    const Reason reason(tap);
    if (net.OpenCOM_IPConverter(port, baud) == 0) {
        o.osError = reason.Error();
        fail(front, o, ConnectStatus::PortNotOpened, kConnectErrorText, kErrorCaption,
             FailureDetails(SerialWhere(port), LinkKind::Serial, o.osError, reason.None(u"none given")));
        return o;
    }
    front.OnConnectStep(ConnectStep::PortOpened, o);
    const unsigned char cr = 0x0D;
    net.Senddata(&cr, 1);
    o.promptSeen = promptWait(net, front);
    // prompt or not, the module's echo goes off and the link counts as open
    sendLiteral(net, kEchoOff);
    front.Sleep(kAfterEchoOffMs);
    o.status = ConnectStatus::Open;
    link.kind = LinkKind::Serial;
    link.xFrames = false;
    link.name = o.name;
    return o;
}

SerialProbe ProbeSerial(CLumo_Net& net, FrontEnd& front, int port, int baud, LinkTap* tap) {
    SerialProbe probe;
    const Reason reason(tap);
    if (net.OpenCOM_IPConverter(port, baud) == 0) {
        probe.osError = reason.Error();
        return probe;
    }
    probe.opened = true;
    const unsigned char cr = 0x0D;
    net.Senddata(&cr, 1);
    probe.promptSeen = promptWait(net, front);
    net.CloseCOM();
    return probe;
}

ConnectOutcome ConnectTcp(CLumo_Net& net, FrontEnd& front, LinkRef& link, const std::u16string& address,
                          bool xMode, LinkTap* tap) {
    ConnectOutcome o;
    o.kind = LinkKind::Tcp;
    o.name = TcpLinkName(address);
    const BusyScope busy(front);
    const Reason reason(tap);
    net.m_bXMode = xMode ? 1 : 0;
    std::wstring wide = Wide(address);
    unsigned char reply[16] = {};
    o.netResult = net.NetConnect_IPEPC(wide.data(), reply, 0);
    if (o.netResult != 1)
        o.osError = reason.Error();
    if (o.netResult == 1) {
        noteModule(net, o);
        o.status = ConnectStatus::Open;
        link.kind = LinkKind::Tcp;
        link.xFrames = xMode;
        link.name = o.name;
        return o;
    }
    if (net.m_ToPCStyle == kStyle17) {
        // the greeting came but the mode query failed: the link is half open
        noteModule(net, o);
        net.CloseNet();
        fail(front, o, ConnectStatus::Style17Refused, kStyle17WarningText, kWarningCaption);
        return o;
    }
    if (o.netResult == 2) // the device link has told the operator already
        fail(front, o, ConnectStatus::ToldByDeviceLink, nullptr, nullptr);
    else
        fail(front, o, ConnectStatus::TcpFailed, kConnectFailureText, kErrorCaption,
             FailureDetails(IpWhere(address, LinkKind::Tcp), LinkKind::Tcp, o.osError,
                            reason.None(u"no system error; the module took the connection, but its greeting "
                                        u"did not come or was not one the console accepts")));
    return o;
}

ConnectOutcome ConnectUdp(CLumo_Net& net, FrontEnd& front, LinkRef& link, const std::u16string& address,
                          LinkTap* tap) {
    ConnectOutcome o;
    o.kind = LinkKind::Udp;
    o.name = UdpLinkName(address);
    const BusyScope busy(front);
    const Reason reason(tap);
    TapUdpEvent(net, LumoTapEvent::ConnectStarted, o.name);
    char address8[kAddressArea] = {};
    for (size_t i = 0; i < address.size() && i + 1 < sizeof address8; ++i)
        address8[i] = address[i] > 0xFF ? '?' : static_cast<char>(address[i]);

    // A TCP connect first makes the module report its identifier and style.
    std::wstring wide = Wide(address);
    unsigned char reply[16] = {};
    o.netResult = net.NetConnect_IPEPC(wide.data(), reply, 0);
    if (o.netResult == 1) {
        noteModule(net, o);
        net.CloseNet();
    } else if (net.m_ToPCStyle == kStyle17) {
        o.osError = reason.Error();
        noteModule(net, o);
        net.CloseNet();
        TapUdpEvent(net, LumoTapEvent::ConnectFailed, o.name);
        fail(front, o, ConnectStatus::Style17Refused, kStyle17WarningText, kWarningCaption);
        return o;
    }

    errno = 0; // the datagram calls report through errno; an address not understood sets none
    link.udpSocket = UdpOpen();
    int udpError = link.udpSocket < 0 ? errno : 0;
    if (!UdpConnect(link.udpSocket, address8, LUMO_UDP_MODULE_PORT)) {
        if (udpError == 0)
            udpError = errno;
        TapUdpEvent(net, LumoTapEvent::ConnectFailed, o.name, udpError);
        if (link.udpSocket >= 0)
            UdpClose(link.udpSocket); // not kept: nothing else would close it
        link.udpSocket = kUdpNoSocket;
        o.osError = udpError;
        fail(front, o, ConnectStatus::UdpNotConnected, kConnectErrorText, kErrorCaption,
             FailureDetails(IpWhere(address, LinkKind::Udp), LinkKind::Udp, udpError,
                            u"the address is not one the system accepts"));
        return o;
    }
    if (!UdpSetRecvTimeout(link.udpSocket, kUdpRecvTimeoutMs)) {
        TapUdpEvent(net, LumoTapEvent::ConnectFailed, o.name, errno);
        // closed once here; nothing may close it again
        UdpClose(link.udpSocket);
        link.udpSocket = kUdpNoSocket;
        fail(front, o, ConnectStatus::UdpTimeoutNotSet, nullptr, nullptr);
        return o;
    }
    TapUdpEvent(net, LumoTapEvent::Connected, o.name);
    o.status = ConnectStatus::Open;
    link.kind = LinkKind::Udp;
    link.xFrames = false;
    link.name = o.name;
    return o;
}

namespace {

void closeIp(CLumo_Net& net, LinkRef& link) {
    if (link.kind == LinkKind::Udp) {
        if (link.udpSocket >= 0) {
            UdpClose(link.udpSocket);
            TapUdpEvent(net, LumoTapEvent::Closed, link.name);
        }
        link.udpSocket = kUdpNoSocket;
    } else if (link.kind == LinkKind::Tcp) {
        net.CloseNet();
    }
}

} // namespace

namespace {

// Disconnect and Close differ only in the "ze 0000 1\r" that a disconnect
// sends the serial console before it leaves.
void endLink(CLumo_Net& net, LinkRef& link, bool echoOn) {
    if (link.kind == LinkKind::Serial) {
        if (echoOn)
            sendLiteral(net, kEchoOn);
        sendLiteral(net, kLeaveMenu);
        sendLiteral(net, kExit);
        net.CloseCOM();
    } else {
        closeIp(net, link);
    }
    link.kind = LinkKind::None;
}

} // namespace

void Disconnect(CLumo_Net& net, LinkRef& link) {
    endLink(net, link, true);
}

void Close(CLumo_Net& net, LinkRef& link) {
    endLink(net, link, false);
}

namespace {

std::u16string Decimal(int value) {
    std::u16string out;
    for (char c : std::to_string(value))
        out.push_back(static_cast<char16_t>(c));
    return out;
}

} // namespace

std::u16string FailureDetails(const std::u16string& where, LinkKind kind, int osError,
                              const std::u16string& noReason) {
    std::u16string text = where + u"\nReason: " + (osError != 0 ? ReasonWords(osError) : noReason);
    const std::u16string hint = ReasonHint(osError, kind);
    if (!hint.empty())
        text += u"\n" + hint;
    return text;
}

std::u16string SerialWhere(int port) {
    std::u16string text = u"Serial port: " + SerialLinkName(port) + u"\nDevice: " +
                          lumo::FromUtf8OrLatin1(lumo_serial::PortDevice(port));
    switch (PortDeviceOrigin(port)) {
    case PortOrigin::Environment:
        text += u" (set by " + lumo::FromUtf8OrLatin1(PortEnvironmentName(port)) + u")";
        break;
    case PortOrigin::Chosen:
        text += u" (chosen for this port)";
        break;
    case PortOrigin::Default:
        break;
    }
    return text;
}

std::u16string IpWhere(const std::u16string& address, LinkKind kind) {
    return u"Address: " + address +
           (kind == LinkKind::Udp ? u", UDP port " + Decimal(LUMO_UDP_MODULE_PORT)
                                  : u", TCP port " + Decimal(LUMO_MODULE_PORT));
}

std::u16string SerialLinkName(int port) {
    return u"COM" + Decimal(port);
}

std::u16string TcpLinkName(const std::u16string& address) {
    return u"TCP " + address + u":" + Decimal(LUMO_MODULE_PORT);
}

std::u16string UdpLinkName(const std::u16string& address) {
    return u"UDP " + address + u":" + Decimal(LUMO_UDP_MODULE_PORT);
}

std::optional<uint32_t> ParseDottedAddress(std::string_view text) {
    uint32_t address = 0;
    size_t i = 0;
    for (int part = 0; part < 4; ++part) {
        if (part > 0) {
            if (i >= text.size() || text[i] != '.')
                return std::nullopt;
            ++i;
        }
        const size_t first = i;
        uint32_t value = 0;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9' && i - first < 4)
            value = value * 10 + static_cast<uint32_t>(text[i++] - '0');
        const size_t digits = i - first;
        if (digits == 0 || digits > 3 || value > 255 || (digits > 1 && text[first] == '0'))
            return std::nullopt;
        address = (address << 8) | value;
    }
    if (i != text.size())
        return std::nullopt;
    return address;
}

} // namespace session
