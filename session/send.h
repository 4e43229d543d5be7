// Send: one typed command goes out in the form the open link calls for and
// the module's answer is read with bounded waits and shown through the front
// end (status line, and a box for query data), exactly as the console does.
// Blocks the calling thread for the whole wait.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "front_end.h"
#include "link.h"

class CLumo_Net;

namespace session {

inline constexpr int kTraceTextChars = 255;  // the trace area holds 256 bytes with its zero
inline constexpr int kLongCommandWarn = 100; // IP links warn above this many characters
inline constexpr char16_t kAppTitle[] = u"Morrack";

enum class SendOutcome {
    Answered,       // an acknowledgement line or query data was shown
    AckedSilently,  // a normal command answered by 00 FF 5A A5 01 alone: nothing shown
    TimedOut,       // no usable answer within the waits: the time-out message
    RefusedTooLong, // longer than the link carries: nothing sent
    NotRead,        // sent, no answer read (X frame; normal command to a style other than 17)
    NoLink,         // no link open: nothing sent
};

// One Send, as a record.
struct SendResult {
    std::u16string command;
    std::u16string link; // link name, empty without a link
    SendOutcome outcome = SendOutcome::NoLink;
    bool query = false;                    // a query command (answered with data)
    std::vector<uint8_t> sent;             // the bytes that went out (line, datagram or frame)
    std::vector<uint8_t> answer;           // the answer bytes the reading took
    std::optional<std::u16string> status;  // status-line text the reading showed, if any
    std::optional<std::u16string> boxText; // answer box, if one was shown
    std::u16string boxCaption;
    bool warnedLong = false; // the "Error" box for a command above 100 characters
    long long roundTripUs = -1; // send to answer taken (or given up), in microseconds; -1 when not read
};

// A round trip in milliseconds as the tools print it: "0.072", "500.310".
std::string RoundTripMs(long long us);

// The command as the trace report carries it: at most 255 characters, each
// above 0xFF as '?'.
std::string TraceText(std::u16string_view command);

// Sends command on link and shows the answer through front. A non-empty
// command is first reported with TraceCommand; without a link nothing else
// happens. The busy pointer is held for the whole operation.
SendResult Send(CLumo_Net& net, FrontEnd& front, const LinkRef& link, std::u16string_view command);

} // namespace session
