// Connect, disconnect and close sequences of a link to one module, as the
// console runs them: the serial port with its prompt wait and console
// strings, TCP with the module's greeting, UDP with its TCP probe and its own
// datagram socket. Each blocks the calling thread for its waits (pauses go
// through the front end) and shows its failures through the front end.
#pragma once

#include <cstdint>
#include <string>

#include "front_end.h"
#include "link.h"

class CLumo_Net;

namespace session {

class LinkTap;

// The module's serial console strings.
inline constexpr char kEchoOff[] = "ze 0000 0\r";
inline constexpr char kEchoOn[] = "ze 0000 1\r";
inline constexpr char kLeaveMenu[] = "*0\r";
inline constexpr char kExit[] = "exit\r";

inline constexpr char16_t kConnectErrorText[] = u"Connect Error!!";
inline constexpr char16_t kConnectFailureText[] = u"Connect failure!!";
inline constexpr char16_t kErrorCaption[] = u"Error";
inline constexpr char16_t kWarningCaption[] = u"WARNING";
// Shown when a module of style 17 refuses the link.
inline constexpr char16_t kStyle17WarningText[] =
    u"Currently unable to connect. Press \"Ctrl\" + \"Esc\" keys on the USB keyboard connected to your "
    u"Fenwyr and then try to reconnect. \r\nThis message is only applicable when using the Fenwyr series.";

inline constexpr int kUdpRecvTimeoutMs = 2000;

enum class ConnectStatus {
    Open,             // the link is open
    PortNotOpened,    // serial: the port did not open ("Connect Error!!")
    TcpFailed,        // TCP: no link ("Connect failure!!")
    ToldByDeviceLink, // TCP: a 14-byte X greeting; the device link showed its own box
    Style17Refused,   // TCP or UDP probe: a style-17 module refused (the WARNING box)
    UdpNotConnected,  // UDP: the datagram socket could not be aimed ("Connect Error!!")
    UdpTimeoutNotSet, // UDP: the receive time-out could not be set (no box)
};

// What one connect did and what the module reported.
struct ConnectOutcome {
    LinkKind kind = LinkKind::None;
    std::u16string name; // link name (see link.h)
    ConnectStatus status = ConnectStatus::TcpFailed;
    int netResult = 0;       // TCP and UDP probe: NetConnect_IPEPC's result (1, 0 or 2)
    int moduleId = -1;       // TCP, UDP probe that connected: from the greeting
    int style = -1;          //   the module's style
    uint8_t modeChar = 0;    //   style 17: the mode character ('z', ...), else 0
    bool promptSeen = false; // serial: the module's prompt came within 15 attempts
    int osError = 0;         // errno of a failed open or connect (see link_tap.h), 0 for none
    std::u16string boxText;  // the failure box shown, empty when none
    std::u16string boxCaption;
    std::u16string boxDetails; // behind its details button: where to, and why not (FailureDetails)

    bool ok() const { return status == ConnectStatus::Open; }
};

// Each connect below takes the tap installed on net, when there is one, for
// the system's reason of a failure (osError and the box's details).

// Serial port `port` (1-based) at `baud` bits/s: open, a carriage return, the
// prompt wait (up to 15 attempts, 500 ms apart, 1000 ms more when bytes came),
// "ze 0000 0\r" and a 500-ms pause. On success link becomes the serial link.
ConnectOutcome ConnectSerial(CLumo_Net& net, FrontEnd& front, LinkRef& link, int port, int baud,
                             LinkTap* tap = nullptr);

// What a look for a module on a serial port found.
struct SerialProbe {
    bool opened = false;     // the port opened
    bool promptSeen = false; // the module's prompt came
    int osError = 0;         // errno of a failed open (see link_tap.h), 0 for none
};

// Looks for a module on serial port `port` at `baud` without changing its
// state: open, a carriage return, the prompt wait as ConnectSerial has it,
// and the port closed again without any other string. Shows nothing.
SerialProbe ProbeSerial(CLumo_Net& net, FrontEnd& front, int port, int baud, LinkTap* tap = nullptr);

// Module link over TCP to the dotted address, with the 17-byte X greeting
// when xMode. A style-17 refusal closes the half-open link again.
ConnectOutcome ConnectTcp(CLumo_Net& net, FrontEnd& front, LinkRef& link, const std::u16string& address,
                          bool xMode, LinkTap* tap = nullptr);

// UDP text link to address:20037: first a TCP connect that makes the module
// report itself (closed again at once), then a datagram socket aimed at the
// module with a 2000-ms receive time-out, stored in link.udpSocket.
ConnectOutcome ConnectUdp(CLumo_Net& net, FrontEnd& front, LinkRef& link, const std::u16string& address,
                          LinkTap* tap = nullptr);

// The text behind a failure box's details button: `where` (lines naming the
// device, or the address and port), then "Reason: " with the system's reason
// in words (ReasonWords), or `noReason` when osError is 0, then the hint for
// that reason on that kind of link (ReasonHint), if any.
std::u16string FailureDetails(const std::u16string& where, LinkKind kind, int osError,
                              const std::u16string& noReason);
// "Serial port: COM<port>" and "Device: <path>", with where the path comes
// from when it is not the default (LUMO_COM<port>, or chosen for the port).
std::u16string SerialWhere(int port);
// "Address: <address>, TCP port 20036" (UDP: 20037).
std::u16string IpWhere(const std::u16string& address, LinkKind kind);

// Disconnect: serial sends "ze 0000 1\r", "*0\r", "exit\r" and closes the
// port; UDP closes its socket; TCP closes the module link. link becomes None.
void Disconnect(CLumo_Net& net, LinkRef& link);

// Closing the program: as Disconnect, except that the serial port gets only
// "*0\r" and "exit\r".
void Close(CLumo_Net& net, LinkRef& link);

} // namespace session
