// Send over the three links: the serial line and the datagram are read in
// polled reads (S1, S2, U1, U2), TCP frames from the receive thread's
// mailbox (T1, T2). Every pause and everything shown goes through the front end.
#include "send.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "answer_reading.h"
#include "frames.h"
#include "link_tap.h"
#include "lumo_net.h"
#include "tcp_answer.h"

namespace session {

namespace {

constexpr size_t kLineArea = 1024; // serial line and datagram: n + 1 bytes
constexpr size_t kZArea = lumo::Z_FRAME_OVERHEAD + lumo::Z_FRAME_MAX_TEXT;
constexpr size_t kXArea = 2048;
constexpr int kReplyArea = 4096;
constexpr int kSerialNormalReply = 1024; // a normal command's serial answer area
constexpr int kFirstReadLimit = 1024;
constexpr int kReadAttempts = 15; // serial and UDP polls
constexpr int kPollMs = 500;
constexpr int kSecondReadMs = 1000; // lets the second line of a query answer arrive
constexpr int kDeviceQueryCount = 300;

using Clock = std::chrono::steady_clock;

// One Send in progress: what went out, when, and what was shown.
class Exchange {
public:
    Exchange(CLumo_Net& net, FrontEnd& front, SendResult& result) : net(net), front(front), r(result) {}

    CLumo_Net& net;
    FrontEnd& front;

    void sent(const unsigned char* p, size_t n) {
        r.sent.assign(p, p + n);
        m_SentAt = Clock::now();
    }
    void status(const std::u16string& text) { front.ShowStatus(text); }
    void notRead() { r.outcome = SendOutcome::NotRead; }
    void refused(answer::SendPath path) {
        r.status = answer::CommandTooLongText(path);
        front.ShowStatus(*r.status);
        r.outcome = SendOutcome::RefusedTooLong;
    }
    void warnLong() {
        r.warnedLong = true;
        front.ShowBox(u"Error", kAppTitle, BoxIcon::None);
    }
    // The answer bytes the reading took; the round trip ends here.
    void took(const unsigned char* p, long n) {
        r.answer.assign(p, p + std::max(0L, n));
        r.roundTripUs = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - m_SentAt).count();
    }
    void show(const answer::Outcome& o) {
        r.status = o.status;
        r.boxText = o.boxText;
        r.boxCaption = o.boxCaption;
        r.outcome = o.timedOut                ? SendOutcome::TimedOut
                    : (o.status || o.boxText) ? SendOutcome::Answered
                                              : SendOutcome::AckedSilently;
        if (o.status)
            front.ShowStatus(*o.status);
        if (o.boxText)
            front.ShowBox(*o.boxText, o.boxCaption, BoxIcon::None);
    }

private:
    SendResult& r;
    Clock::time_point m_SentAt = Clock::now();
};

// Refuses (status-line text, nothing sent) a command longer than its path carries.
bool refuseTooLong(Exchange& ex, std::u16string_view text, answer::SendPath path) {
    if (text.size() <= static_cast<size_t>(answer::MaxCommandChars(path)))
        return false;
    ex.refused(path);
    return true;
}

// Reads a serial or UDP answer with read(area, limit) and shows it: the
// first read that returns anything (15 attempts 500 ms apart) and, for a
// query, one more read 1000 ms later that may fill the reply area but never
// run past it. normalLimit and secondMax are the path's read limits.
template <typename Read>
void readAndShow(Exchange& ex, Read read, int normalLimit, int secondMax, answer::AckWord word,
                 char16_t letter) {
    unsigned char area[kReplyArea + 2] = {};
    auto firstRead = [&](int limit) {
        int k = 0;
        for (int attempt = 0; attempt < kReadAttempts; ++attempt) {
            k = read(area, limit);
            if (k > 0)
                return k;
            ex.front.Sleep(kPollMs);
        }
        return k;
    };
    if (letter == 0) {
        const int k = firstRead(normalLimit);
        ex.took(area, k);
        ex.show(answer::ReadNormalAnswer(area, k, word));
        return;
    }
    int k = firstRead(kFirstReadLimit);
    if (k <= 0) {
        ex.took(area, 0);
        ex.show(answer::TimedOut());
        return;
    }
    ex.front.Sleep(kSecondReadMs);
    const int more = read(area + k, std::min(secondMax, kReplyArea - k));
    if (more > 0)
        k += more;
    ex.took(area, k);
    ex.show(answer::ReadQueryLines(area, k, word, letter));
}

void sendSerial(Exchange& ex, std::u16string_view text, char16_t letter) {
    if (refuseTooLong(ex, text, answer::SendPath::Serial))
        return;
    unsigned char line[kLineArea] = {};
    const size_t n = lumo::CrTextLine(line, sizeof line, text);
    ex.sent(line, n);
    ex.net.Senddata(line, static_cast<int>(n));
    readAndShow(
        ex, [&ex](unsigned char* area, int limit) { return ex.net.ReadComData(area, limit); },
        kSerialNormalReply, kFirstReadLimit, answer::AckWord::FromCommandWord, letter);
}

void sendUdp(Exchange& ex, const LinkRef& link, std::u16string_view text, char16_t letter) {
    const int sock = link.udpSocket;
    ex.status(u"");
    unsigned char datagram[kLineArea] = {};
    const size_t n = lumo::UdpTextDatagram(datagram, sizeof datagram, text);
    ex.sent(datagram, n);
    errno = 0;
    const int sent = UdpSend(sock, reinterpret_cast<const char*>(datagram), static_cast<int>(n));
    TapUdpBytes(ex.net, LumoTapKind::Sent, link.name, datagram, n, sent < 0 ? errno : 0);
    readAndShow(
        ex,
        [&ex, &link, sock](unsigned char* area, int limit) {
            const int got = UdpRecv(sock, reinterpret_cast<char*>(area), limit);
            if (got > 0)
                TapUdpBytes(ex.net, LumoTapKind::Received, link.name, area, static_cast<size_t>(got));
            return got;
        },
        kReplyArea, kReplyArea, answer::AckWord::WholeLine, letter);
}

void sendXFrame(Exchange& ex, std::u16string_view text) {
    unsigned char frame[kXArea] = {};
    const size_t total = lumo::XCommandFrame(frame, sizeof frame, text);
    ex.sent(frame, total);
    ex.net.Peltra_Senddata(0, frame, static_cast<unsigned int>(total));
    ex.notRead();
}

void sendZFrame(Exchange& ex, std::u16string_view text, char16_t letter) {
    CLumo_Net& net = ex.net;
    if (answer::IsDeviceInfoQuery(text))
        net.m_Client.SetRecvMode(net.m_ModeChar == 'z' ? RECV_UNTIL_ACK : RECV_COUNT, kDeviceQueryCount);
    ex.status(u"");
    unsigned char frame[kZArea] = {};
    const size_t total = lumo::ZCommandFrame(frame, sizeof frame, net.m_ConnectToPcID, text);
    ex.sent(frame, total);
    net.Peltra_Senddata(0, frame, static_cast<unsigned int>(total));

    if (letter == 0) {
        // only a style-17 module answers a normal command with a line
        if (net.m_ToPCStyle != kStyle17) {
            ex.notRead();
            return;
        }
        const std::vector<uint8_t> got = TakeTcpAnswer(net, ex.front, TcpReading::NormalLine);
        const long k = static_cast<long>(got.size());
        ex.took(got.data(), k);
        ex.show(answer::ReadNormalAnswer(got.data(), k, answer::AckWord::WholeLine));
        return;
    }
    const bool endMark = net.m_ToPCStyle == kStyle17 && net.m_ModeChar == 'z';
    const std::vector<uint8_t> got =
        TakeTcpAnswer(net, ex.front, endMark ? TcpReading::EndMark : TcpReading::QueryLines);
    const long k = static_cast<long>(got.size());
    ex.took(got.data(), k);
    ex.show(endMark ? answer::ReadUntilEndMark(got.data(), k, letter)
                    : answer::ReadQueryLines(got.data(), k, answer::AckWord::WholeLine, letter));
}

} // namespace

std::string RoundTripMs(long long us) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", static_cast<double>(us) / 1000.0);
    return text;
}

std::string TraceText(std::u16string_view command) {
    std::string out;
    const size_t n = std::min(command.size(), static_cast<size_t>(kTraceTextChars));
    for (size_t i = 0; i < n; ++i)
        out.push_back(command[i] > 0xFF ? '?' : static_cast<char>(command[i]));
    return out;
}

SendResult Send(CLumo_Net& net, FrontEnd& front, const LinkRef& link, std::u16string_view command) {
    SendResult result;
    result.command.assign(command);
    if (!command.empty())
        front.TraceCommand(TraceText(command));
    if (link.kind == LinkKind::None)
        return result;
    result.link = link.name;
    const BusyScope busy(front);
    Exchange ex(net, front, result);
    const char16_t letter = answer::QueryLetter(command);
    result.query = letter != 0;

    if (link.kind == LinkKind::Serial) {
        sendSerial(ex, command, letter);
        return result;
    }
    const answer::SendPath path = link.kind == LinkKind::Udp ? answer::SendPath::Udp
                                  : link.xFrames             ? answer::SendPath::XFrame
                                                             : answer::SendPath::ZFrame;
    // a command that cannot go out is refused before the length warning
    if (refuseTooLong(ex, command, path))
        return result;
    if (command.size() > static_cast<size_t>(kLongCommandWarn))
        ex.warnLong();
    switch (path) {
    case answer::SendPath::Udp:
        sendUdp(ex, link, command, letter);
        break;
    case answer::SendPath::XFrame:
        sendXFrame(ex, command);
        break;
    default:
        sendZFrame(ex, command, letter);
        break;
    }
    return result;
}

} // namespace session
