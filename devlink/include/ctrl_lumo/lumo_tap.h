// The device link's tap: one record per byte string sent or received and per
// link event, handed to an optional callback (CLumo_Net::m_hTap) beside the
// progress texts (m_hLogWnd) and the link-lost notice (m_hOwnerWnd). It adds
// nothing on the wire and changes no result; with no callback set it costs
// one test of an empty function.
//
// Who calls it: the thread that did the I/O. That is the caller's thread for
// everything but the receive thread's chunks (Received) and its LinkLost
// event. A callback must therefore be thread-safe, return quickly (closing the
// link waits for a receive-thread call in progress), and not call back into
// the CLumo_Net that reports to it. Set it while no link is open; it is read,
// never written, by the device link.
//
// A record lives only for the call: `bytes`, `where`, `text` and `caption`
// point into the reporter's buffers. Copy what you keep.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string_view>

enum class LumoTapKind : uint8_t {
    Sent,     // bytes sent on the link, recorded before any answer to them: bytes/size;
              // a TCP send that fails is told with its error (on a second record,
              // without bytes, when the bytes were recorded before they left)
    Received, // bytes came in: one receive-thread chunk, one serial read, one datagram
    Event,    // a link event: event, error, id/style/modeChar
    Progress, // a progress text, exactly as m_hLogWnd receives it: text
    Box,      // a message box the device link shows: text, caption
};

enum class LumoTapLink : uint8_t { None, Serial, Tcp, Udp };

enum class LumoTapEvent : uint8_t {
    None,
    ConnectStarted, // a serial open or TCP connect begins
    Connected,      // the port is open / the socket is connected
    ConnectFailed,  // the port did not open / the socket did not connect: error
    Greeting,       // a greeting was taken: id, style (socketId in X mode)
    ModeChar,       // the mode query was answered: modeChar
    LinkLost,       // the module closed the link (error 0) or reset it (error)
    Closed,         // this side closed the link (a close operation, a refused greeting)
};

struct LumoTapRecord {
    LumoTapKind kind = LumoTapKind::Event;
    LumoTapEvent event = LumoTapEvent::None;
    LumoTapLink link = LumoTapLink::None;
    // The link as a person names it: "COM1 /dev/ttyUSB0", "TCP 10.0.0.5:20036",
    // "UDP 10.0.0.5:20037".
    std::wstring_view where;
    const unsigned char* bytes = nullptr; // Sent, Received
    size_t size = 0;
    int error = 0;             // errno of a failure (ConnectFailed, LinkLost, Sent); 0 for none
    int id = -1;               // Greeting: module identifier
    int style = -1;            // Greeting: module style
    int socketId = -1;         // Greeting in X mode: socket number
    int modeChar = -1;         // ModeChar: the mode character
    std::wstring_view text;    // Progress, Box
    std::wstring_view caption; // Box
};

using LumoTap = std::function<void(const LumoTapRecord& record)>;
