// How the console reads a module's answer to a typed command: which commands
// are queries, how reply bytes are cut into lines, and what each reading shows.
// Plain functions on byte buffers, no I/O; the Send handler does the waiting.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace answer {

inline constexpr char16_t kTimedOutText[] =
    u"Ack : There was no response (command has timed-out), please resend the command!";
inline constexpr char16_t kAckPrefix[] = u"Ack : ";

// The query letter (the command's second character, as typed) of a query
// command, or 0 for a normal command. A query starts with z/Z and has h/H,
// s/S, or w/W followed (from the fourth character) by six '0's.
char16_t QueryLetter(std::u16string_view command);
inline bool IsQueryCommand(std::u16string_view command) {
    return QueryLetter(command) != 0;
}

// Caption of the answer box for a query letter: "Source position" (w),
// "Device Information" (h), "Signal Type" (s); empty for anything else.
std::u16string QueryCaption(char16_t letter);

// Whether the command starts with z/Z and h/H: before sending it over TCP
// the receive thread is switched to the mode that fits a device query.
bool IsDeviceInfoQuery(std::u16string_view command);

// Reply bytes as text: one 8-bit (Latin-1) character per byte, up to the
// first zero byte or n bytes, whichever comes first.
std::u16string ReplyText(const unsigned char* p, size_t n);

// Position of the first 0x0A in p[from..n), or -1.
long FindLineFeed(const unsigned char* p, size_t from, size_t n);

// Position of the first "command" in line, else of the first "Command"
// (both case-sensitive), or npos when neither stands in it.
size_t FindCommandWord(std::u16string_view line);

// Position of the first complete end mark 00 FF 5A A5 01 in p[0..n), or -1.
long FindEndMark(const unsigned char* p, size_t n);

// Whether the whole answer is the five bytes 00 FF 5A A5 01, which a normal
// command takes as success without showing anything.
bool IsSilentAck(const unsigned char* p, size_t n);

// What one reading shows. status: text for the status line (none: the line
// is not written); box: message box text and caption (no icon, OK only).
struct Outcome {
    std::optional<std::u16string> status;
    std::optional<std::u16string> boxText;
    std::u16string boxCaption;
    bool timedOut = false;

    bool operator==(const Outcome&) const = default;
};

// The time-out message on the status line and nothing else.
Outcome TimedOut();

// How an acknowledgement line is shown: the serial port shows it from the
// word "command"/"Command" on, UDP and TCP show the whole line.
enum class AckWord { FromCommandWord, WholeLine };

// Normal command (serial S1, UDP U1, TCP T1 of a style-17 module), given the
// k bytes of the first read that returned any (k <= 0: nothing arrived): the
// first line as acknowledgement; else nothing for the silent acknowledgement;
// else the time-out message.
Outcome ReadNormalAnswer(const unsigned char* p, long k, AckWord word);

// Query command read by lines (serial S2, UDP U2, TCP T2 line reading),
// given all k bytes received: a first line holding the command word is the
// acknowledgement (an error answer, no box); otherwise the second line is the
// acknowledgement and the first line goes into the box captioned by letter.
// Fewer lines: the time-out message.
Outcome ReadQueryLines(const unsigned char* p, long k, AckWord word, char16_t letter);

// Query command of a style-17 module in mode 'z' (TCP T2 end-mark reading):
// the bytes before the end mark 00 FF 5A A5 01 go into the box; no end mark:
// the time-out message. The status line is not written otherwise.
Outcome ReadUntilEndMark(const unsigned char* p, long k, char16_t letter);

// Longest command each send path carries, in characters, and the status-line
// text shown instead of sending a longer one.
enum class SendPath { Serial, Udp, XFrame, ZFrame };
int MaxCommandChars(SendPath path);
std::u16string CommandTooLongText(SendPath path);

} // namespace answer
