#include "connect.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>

#include "connect_prompt.h"
#include "link_tap.h"
#include "lumo_net.h"

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

// Ends a connect that failed: the front end learns that no link is open,
// then the box (if any) is shown.
void fail(FrontEnd& front, ConnectOutcome& o, ConnectStatus status, const char16_t* text,
          const char16_t* caption) {
    o.status = status;
    if (text) {
        o.boxText = text;
        o.boxCaption = caption;
    }
    front.OnConnectStep(ConnectStep::Failed, o);
    if (text)
        front.ShowBox(o.boxText, o.boxCaption, BoxIcon::Error);
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

ConnectOutcome ConnectSerial(CLumo_Net& net, FrontEnd& front, LinkRef& link, int port, int baud) {
    ConnectOutcome o;
    o.kind = LinkKind::Serial;
    o.name = SerialLinkName(port);
    const BusyScope busy(front);
    if (net.OpenCOM_IPConverter(port, baud) == 0) {
        fail(front, o, ConnectStatus::PortNotOpened, kConnectErrorText, kErrorCaption);
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

ConnectOutcome ConnectTcp(CLumo_Net& net, FrontEnd& front, LinkRef& link, const std::u16string& address,
                          bool xMode) {
    ConnectOutcome o;
    o.kind = LinkKind::Tcp;
    o.name = TcpLinkName(address);
    const BusyScope busy(front);
    net.m_bXMode = xMode ? 1 : 0;
    std::wstring wide = Wide(address);
    unsigned char reply[16] = {};
    o.netResult = net.NetConnect_IPEPC(wide.data(), reply, 0);
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
        fail(front, o, ConnectStatus::TcpFailed, kConnectFailureText, kErrorCaption);
    return o;
}

ConnectOutcome ConnectUdp(CLumo_Net& net, FrontEnd& front, LinkRef& link, const std::u16string& address) {
    ConnectOutcome o;
    o.kind = LinkKind::Udp;
    o.name = UdpLinkName(address);
    const BusyScope busy(front);
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
        noteModule(net, o);
        net.CloseNet();
        TapUdpEvent(net, LumoTapEvent::ConnectFailed, o.name);
        fail(front, o, ConnectStatus::Style17Refused, kStyle17WarningText, kWarningCaption);
        return o;
    }

    link.udpSocket = UdpOpen();
    errno = 0;
    if (!UdpConnect(link.udpSocket, address8, LUMO_UDP_MODULE_PORT)) {
        TapUdpEvent(net, LumoTapEvent::ConnectFailed, o.name, errno);
        if (link.udpSocket >= 0)
            UdpClose(link.udpSocket); // not kept: nothing else would close it
        link.udpSocket = kUdpNoSocket;
        fail(front, o, ConnectStatus::UdpNotConnected, kConnectErrorText, kErrorCaption);
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

void Disconnect(CLumo_Net& net, LinkRef& link) {
    if (link.kind == LinkKind::Serial) {
        sendLiteral(net, kEchoOn);
        sendLiteral(net, kLeaveMenu);
        sendLiteral(net, kExit);
        net.CloseCOM();
    } else {
        closeIp(net, link);
    }
    link.kind = LinkKind::None;
}

void Close(CLumo_Net& net, LinkRef& link) {
    if (link.kind == LinkKind::Serial) {
        sendLiteral(net, kLeaveMenu);
        sendLiteral(net, kExit);
        net.CloseCOM();
    } else {
        closeIp(net, link);
    }
    link.kind = LinkKind::None;
}

namespace {

std::u16string Decimal(int value) {
    std::u16string out;
    for (char c : std::to_string(value))
        out.push_back(static_cast<char16_t>(c));
    return out;
}

} // namespace

std::u16string SerialLinkName(int port) {
    return u"COM" + Decimal(port);
}

std::u16string TcpLinkName(const std::u16string& address) {
    return u"TCP " + address + u":" + Decimal(LUMO_MODULE_PORT);
}

std::u16string UdpLinkName(const std::u16string& address) {
    return u"UDP " + address + u":" + Decimal(LUMO_UDP_MODULE_PORT);
}

} // namespace session
