#include "answer_reading.h"

#include "frames.h"

#include <cstring>

namespace answer {

namespace {

char16_t lower(char16_t c) {
    return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 32) : c;
}

// Text of a line cut at a line feed: from `from` up to the line feed at
// `lf` (exclusive), stopping earlier at a zero byte as a C string would.
std::u16string lineText(const unsigned char* p, size_t from, size_t lf) {
    return ReplyText(p + from, lf - from);
}

std::u16string ackText(const std::u16string& line, AckWord word) {
    std::u16string out(kAckPrefix);
    if (word == AckWord::FromCommandWord) {
        const size_t at = FindCommandWord(line);
        out.append(at == std::u16string::npos ? line : line.substr(at));
    } else {
        out.append(line);
    }
    return out;
}

} // namespace

char16_t QueryLetter(std::u16string_view command) {
    if (command.size() < 2 || lower(command[0]) != u'z')
        return 0;
    const char16_t letter = command[1];
    switch (lower(letter)) {
    case u'h':
    case u's':
        return letter;
    case u'w':
        // the third character is not examined; the fourth to ninth are "000000"
        if (command.size() < 9)
            return 0;
        for (size_t i = 3; i < 9; ++i)
            if (command[i] != u'0')
                return 0;
        return letter;
    default:
        return 0;
    }
}

std::u16string QueryCaption(char16_t letter) {
    switch (lower(letter)) {
    case u'w':
        return u"Source position";
    case u'h':
        return u"Device Information";
    case u's':
        return u"Signal Type";
    default:
        return {};
    }
}

bool IsDeviceInfoQuery(std::u16string_view command) {
    return command.size() >= 2 && lower(command[0]) == u'z' && lower(command[1]) == u'h';
}

std::u16string ReplyText(const unsigned char* p, size_t n) {
    std::u16string out;
    for (size_t i = 0; i < n && p[i] != 0; ++i)
        out.push_back(static_cast<char16_t>(p[i]));
    return out;
}

long FindLineFeed(const unsigned char* p, size_t from, size_t n) {
    for (size_t i = from; i < n; ++i)
        if (p[i] == 0x0A)
            return static_cast<long>(i);
    return -1;
}

size_t FindCommandWord(std::u16string_view line) {
    const size_t lowerAt = line.find(u"command");
    return lowerAt != std::u16string_view::npos ? lowerAt : line.find(u"Command");
}

long FindEndMark(const unsigned char* p, size_t n) {
    if (n < sizeof lumo::ACK_OK)
        return -1;
    for (size_t i = 0; i + sizeof lumo::ACK_OK <= n; ++i)
        if (std::memcmp(p + i, lumo::ACK_OK, sizeof lumo::ACK_OK) == 0)
            return static_cast<long>(i);
    return -1;
}

bool IsSilentAck(const unsigned char* p, size_t n) {
    return n == sizeof lumo::ACK_OK && std::memcmp(p, lumo::ACK_OK, n) == 0;
}

Outcome TimedOut() {
    Outcome o;
    o.status = kTimedOutText;
    o.timedOut = true;
    return o;
}

Outcome ReadNormalAnswer(const unsigned char* p, long k, AckWord word) {
    const size_t n = k > 0 ? static_cast<size_t>(k) : 0;
    const long lf = FindLineFeed(p, 0, n);
    if (lf >= 0) {
        Outcome o;
        o.status = ackText(lineText(p, 0, static_cast<size_t>(lf)), word);
        return o;
    }
    if (IsSilentAck(p, n))
        return {};
    return TimedOut();
}

Outcome ReadQueryLines(const unsigned char* p, long k, AckWord word, char16_t letter) {
    const size_t n = k > 0 ? static_cast<size_t>(k) : 0;
    const long first = FindLineFeed(p, 0, n);
    if (first < 0)
        return TimedOut();
    const std::u16string line1 = lineText(p, 0, static_cast<size_t>(first));
    if (FindCommandWord(line1) != std::u16string::npos) {
        Outcome o;
        o.status = ackText(line1, word);
        return o;
    }
    const size_t line2At = static_cast<size_t>(first) + 1;
    const long second = FindLineFeed(p, line2At, n);
    if (second < 0)
        return TimedOut();
    Outcome o;
    o.status = std::u16string(kAckPrefix) + lineText(p, line2At, static_cast<size_t>(second));
    o.boxText = line1;
    o.boxCaption = QueryCaption(letter);
    return o;
}

Outcome ReadUntilEndMark(const unsigned char* p, long k, char16_t letter) {
    const size_t n = k > 0 ? static_cast<size_t>(k) : 0;
    const long mark = FindEndMark(p, n);
    if (mark < 0)
        return TimedOut();
    Outcome o;
    o.boxText = ReplyText(p, static_cast<size_t>(mark));
    o.boxCaption = QueryCaption(letter);
    return o;
}

int MaxCommandChars(SendPath path) {
    switch (path) {
    case SendPath::Serial:
    case SendPath::Udp:
        return 1023; // the text line or datagram and its end byte fill 1024 bytes
    case SendPath::XFrame:
        return 2033; // n + 15 bytes in the 2048-byte frame area
    case SendPath::ZFrame:
        return lumo::Z_FRAME_MAX_TEXT; // the one-byte length counts n + 2
    }
    return 0;
}

std::u16string CommandTooLongText(SendPath path) {
    const std::u16string limit = [&] {
        std::u16string s;
        for (char c : std::to_string(MaxCommandChars(path)))
            s.push_back(static_cast<char16_t>(c));
        return s;
    }();
    switch (path) {
    case SendPath::Serial:
        return u"Command too long: at most " + limit + u" characters on the serial port";
    case SendPath::Udp:
        return u"Command too long: at most " + limit + u" characters over UDP";
    case SendPath::XFrame:
        return u"Command too long: at most " + limit + u" characters in an X frame";
    case SendPath::ZFrame:
        return u"Command too long: at most " + limit + u" characters over TCP";
    }
    return {};
}

} // namespace answer
