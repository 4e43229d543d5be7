// Send: the typed command goes out in the form the open link calls for, and
// the module's answer is read with bounded polling and shown on the status
// line (and, for query commands, in a message box). Runs on the UI thread and
// blocks it for the whole wait; every sleep and box goes through consoleUi().
#include "d_cmdora.h"

#include "answer_reading.h"
#include "command_text.h"
#include "console_ui.h"
#include "frames.h"
#include "trace.h"

#include <QCheckBox>
#include <QLabel>

#include <algorithm>
#include <array>
#include <cstring>

namespace {

constexpr int kTraceAreaChars = 255; // the trace area holds 256 bytes with its zero
constexpr size_t kLineArea = 1024;   // serial line and datagram: n + 1 bytes
constexpr size_t kZArea = lumo::Z_FRAME_OVERHEAD + lumo::Z_FRAME_MAX_TEXT;
constexpr size_t kXArea = 2048;
constexpr int kReplyArea = 4096;
constexpr int kSerialNormalReply = 1024; // a normal command's serial answer area
constexpr int kFirstReadLimit = 1024;
constexpr int kReadAttempts = 15; // serial and UDP polls
constexpr int kTcpAttempts = 20;
constexpr int kPollMs = 500;
constexpr int kSecondReadMs = 1000;   // lets the second line of a query answer arrive
constexpr int kLongCommandWarn = 100; // IP links warn above this many characters
const QString kAppTitle = QStringLiteral("Morrack");

// Reply area: cleared per run; two spare bytes keep the copied answer
// zero-terminated even when it fills the area.
using ReplyArea = std::array<unsigned char, kReplyArea + 2>;

// Keeps m_bInSend up while one Send runs, down again on every return.
struct SendScope {
    bool& flag;
    explicit SendScope(bool& f) : flag(f) { flag = true; }
    ~SendScope() { flag = false; }
};

// A wait of the handler; test-timer ticks hold off until it is over.
void pause(int ms) {
    const TestTickHold hold;
    consoleUi().sleepMs(ms);
}

void setStatus(D_CMDORA& dlg, const QString& text) {
    if (dlg.m_Status)
        dlg.m_Status->setText(text);
}

void show(D_CMDORA& dlg, const answer::Outcome& outcome) {
    if (outcome.status)
        setStatus(dlg, QString::fromStdU16String(*outcome.status));
    if (outcome.boxText)
        consoleUi().messageBox(&dlg, QString::fromStdU16String(*outcome.boxText),
                               QString::fromStdU16String(outcome.boxCaption), ConsoleUi::Icon::None);
}

// Refuses (status-line text, nothing sent) a command longer than its path carries.
// The areas below are sized for the longest command each path accepts.
bool refuseTooLong(D_CMDORA& dlg, std::u16string_view text, answer::SendPath path) {
    if (text.size() <= static_cast<size_t>(answer::MaxCommandChars(path)))
        return false;
    setStatus(dlg, QString::fromStdU16String(answer::CommandTooLongText(path)));
    return true;
}

// Reads a serial or UDP answer with read(area, limit) and shows it: the
// first read that returns anything (15 attempts 500 ms apart) and, for a
// query, one more read 1000 ms later that may fill the reply area but never
// run past it. normalLimit and secondMax are the path's read limits.
template <typename Read>
void readAndShow(D_CMDORA& dlg, Read read, int normalLimit, int secondMax, answer::AckWord word,
                 char16_t letter) {
    ReplyArea area{};
    auto firstRead = [&](int limit) {
        int k = 0;
        for (int attempt = 0; attempt < kReadAttempts; ++attempt) {
            k = read(area.data(), limit);
            if (k > 0)
                return k;
            pause(kPollMs);
        }
        return k;
    };
    if (letter == 0) {
        show(dlg, answer::ReadNormalAnswer(area.data(), firstRead(normalLimit), word));
        return;
    }
    int k = firstRead(kFirstReadLimit);
    if (k <= 0) {
        show(dlg, answer::TimedOut());
        return;
    }
    pause(kSecondReadMs);
    const int more = read(area.data() + k, std::min(secondMax, kReplyArea - k));
    if (more > 0)
        k += more;
    show(dlg, answer::ReadQueryLines(area.data(), k, word, letter));
}

// ---- serial port ----

void sendSerial(D_CMDORA& dlg, std::u16string_view text, char16_t letter) {
    if (refuseTooLong(dlg, text, answer::SendPath::Serial))
        return;
    unsigned char line[kLineArea] = {};
    const size_t n = lumo::CrTextLine(line, sizeof line, text);
    dlg.m_Net.Senddata(line, static_cast<int>(n));
    readAndShow(
        dlg, [&dlg](unsigned char* area, int limit) { return dlg.m_Net.ReadComData(area, limit); },
        kSerialNormalReply, kFirstReadLimit, answer::AckWord::FromCommandWord, letter);
}

// ---- UDP ----

void sendUdp(D_CMDORA& dlg, std::u16string_view text, char16_t letter) {
    setStatus(dlg, QString());
    unsigned char datagram[kLineArea] = {};
    const size_t n = lumo::UdpTextDatagram(datagram, sizeof datagram, text);
    UdpSend(dlg.m_UdpSocket, reinterpret_cast<const char*>(datagram), static_cast<int>(n));
    readAndShow(
        dlg,
        [&dlg](unsigned char* area, int limit) {
            return UdpRecv(dlg.m_UdpSocket, reinterpret_cast<char*>(area), limit);
        },
        kReplyArea, kReplyArea, answer::AckWord::WholeLine, letter);
}

// ---- TCP ----

void sendXFrame(D_CMDORA& dlg, std::u16string_view text) {
    unsigned char frame[kXArea] = {};
    const size_t total = lumo::XCommandFrame(frame, sizeof frame, text);
    dlg.m_Net.Peltra_Senddata(0, frame, static_cast<unsigned int>(total));
}

// Polls the mailbox every 500 ms, 20 times, and copies the first published
// answer (at most the reply area); then hands the mailbox back to the
// receive thread. Returns the count copied, 0 when nothing came.
int takeTcpAnswer(CLumo_Net& net, ReplyArea& area) {
    int copied = 0;
    for (int attempt = 0; attempt < kTcpAttempts; ++attempt) {
        // read once: the thread may not grow it meanwhile, but a torn or
        // out-of-range value must never size the copy
        const int len = std::clamp(net.m_RecvLen.load(std::memory_order_acquire), 0, LUMO_MAILBOX_SIZE);
        if (len > 0) {
            copied = std::min(len, kReplyArea);
            std::memcpy(area.data(), net.m_RecvBuf, static_cast<size_t>(copied));
            area[copied] = 0;
            area[copied + 1] = 0;
            break;
        }
        pause(kPollMs);
    }
    // the answer is ours now: release the receive thread before any box
    net.m_RecvLen.store(0, std::memory_order_relaxed);
    net.m_RecvSource.store(nullptr, std::memory_order_relaxed);
    net.m_RecvReady.store(0, std::memory_order_release);
    return copied;
}

void sendZFrame(D_CMDORA& dlg, std::u16string_view text, char16_t letter) {
    CLumo_Net& net = dlg.m_Net;
    if (answer::IsDeviceInfoQuery(text))
        net.m_Client.SetRecvMode(net.m_ModeChar == 'z' ? RECV_UNTIL_ACK : RECV_COUNT, 300);
    setStatus(dlg, QString());
    unsigned char frame[kZArea] = {};
    const size_t total = lumo::ZCommandFrame(frame, sizeof frame, net.m_ConnectToPcID, text);
    net.Peltra_Senddata(0, frame, static_cast<unsigned int>(total));

    ReplyArea area{};
    if (letter == 0) {
        // only a style-17 module answers a normal command with a line
        if (net.m_ToPCStyle != 17)
            return;
        const int k = takeTcpAnswer(net, area);
        show(dlg, answer::ReadNormalAnswer(area.data(), k, answer::AckWord::WholeLine));
        return;
    }
    const bool endMark = net.m_ToPCStyle == 17 && net.m_ModeChar == 'z';
    const int k = takeTcpAnswer(net, area);
    show(dlg, endMark ? answer::ReadUntilEndMark(area.data(), k, letter)
                      : answer::ReadQueryLines(area.data(), k, answer::AckWord::WholeLine, letter));
}

} // namespace

void D_CMDORA::OnBnClickedSend() {
    // a box of this run spins an event loop; a tick that lands there must not start another
    if (m_bInSend)
        return;
    SendScope scope(m_bInSend);

    UpdateData();
    if (!m_strCommand.isEmpty())
        SendTrace(m_strCommand.left(kTraceAreaChars).toLatin1());
    if (m_bLinkOpen == 0)
        return;
    setBusyCursor();

    // keep a copy: a box's event loop may let the command box change
    const QString command = m_strCommand;
    const std::u16string_view text = commandUnits(command);
    const char16_t letter = answer::QueryLetter(text);

    if (m_nSel == 0) {
        sendSerial(*this, text, letter);
        return;
    }
    const answer::SendPath path = (m_Udp && m_Udp->isChecked())         ? answer::SendPath::Udp
                                  : (m_XAscii && m_XAscii->isChecked()) ? answer::SendPath::XFrame
                                                                        : answer::SendPath::ZFrame;
    // a command that cannot go out is refused before the length warning
    if (refuseTooLong(*this, text, path))
        return;
    if (text.size() > static_cast<size_t>(kLongCommandWarn))
        consoleUi().messageBox(this, QStringLiteral("Error"), kAppTitle, ConsoleUi::Icon::None);
    switch (path) {
    case answer::SendPath::Udp:
        sendUdp(*this, text, letter);
        break;
    case answer::SendPath::XFrame:
        sendXFrame(*this, text);
        break;
    default:
        sendZFrame(*this, text, letter);
        break;
    }
}
