// The session log's record: one byte string sent or received, one link
// event, one progress text, one message box, one Send transaction or one
// start or stop of a test. Plain data and the text forms of a record; no I/O.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace session {

enum class RecordKind : uint8_t {
    Tx,       // bytes sent: bytes (note: why the send failed, if it did)
    Rx,       // bytes received: bytes
    Link,     // a link event: text
    Progress, // a progress text of the device link: text
    Box,      // a message box shown: text, note = its caption
    Send,     // one Send: text = the command, bytes = sent, answer, note = outcome and what was shown
    Test,     // the test timer or the automatic test started or stopped: text
};

// Marks that front ends may show in a colour of their own.
enum RecordFlag : uint8_t {
    kRecordFailure = 1, // a connect or send that failed, an answer that timed out
    kRecordLost = 2,    // the module dropped the link
};

struct Record {
    uint64_t seq = 0;         // 1, 2, ... in the order the recorder took them
    int64_t wallMs = 0;       // wall-clock time, milliseconds since 1970-01-01 UTC
    int64_t sinceOpenMs = -1; // milliseconds since the link opened; -1 while none is open
    RecordKind kind = RecordKind::Link;
    uint8_t flags = 0;           // RecordFlag bits
    std::string link;            // UTF-8: "COM1 /dev/ttyUSB0", "TCP 10.0.0.5:20036"; empty when none
    std::vector<uint8_t> bytes;  // Tx, Rx; Send: the bytes that went out
    std::vector<uint8_t> answer; // Send: the answer bytes taken
    std::string text;            // UTF-8, see RecordKind
    std::string note;            // UTF-8, see RecordKind
};

// "tx", "rx", "link", "progress", "box", "send", "test".
const char* KindWord(RecordKind kind);

// "55 AA 38 C7": two upper-case hex digits per byte, one space between.
std::string HexBytes(const uint8_t* p, size_t n);
inline std::string HexBytes(const std::vector<uint8_t>& b) {
    return HexBytes(b.data(), b.size());
}
// One character per byte: printable ASCII as it is, every other byte '.'.
std::string PrintableText(const uint8_t* p, size_t n);
inline std::string PrintableText(const std::vector<uint8_t>& b) {
    return PrintableText(b.data(), b.size());
}

// The text between double quotes with backslash escapes for '\\', '"', CR,
// LF, TAB and other control bytes (\xHH), so that it stays on one line.
std::string Quoted(std::string_view text);

// One CSV field (RFC 4180): quoted when it holds a comma, quote or line break.
std::string CsvField(std::string_view s);

// "2026-12-07T14:31:22.123" from the local calendar time's parts.
struct LocalStamp {
    int year = 1970, month = 1, day = 1, hour = 0, minute = 0, second = 0, ms = 0;
};
std::string StampText(const LocalStamp& t);

// The record's line in the log file, without the line feed:
// stamp, kind word, link ("-" when none), then what the kind carries.
//   tx/rx     <hex> |<printable>| [<note>]
//   link      <words>          test  <words>          progress <text>
//   box       "<caption>" "<text>"
//   send      "<command>" <outcome>; sent <hex> |<printable>|; answer ...; <what was shown>
std::string FormatLine(const Record& r, std::string_view stamp);

// What a window's text column shows: printable text of bytes (with the note),
// the words of an event, "caption: text" of a box, the command and its
// outcome for a Send. At most maxBytes bytes are turned into text.
std::string DisplayText(const Record& r, size_t maxBytes);

} // namespace session
