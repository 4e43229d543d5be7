// The one send path of the device link (serial byte by byte, TCP in one
// piece) and the acknowledgement check that follows a send.
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "frames.h"
#include "lumo_net.h"
#include "posix_serial.h"
#include "posix_socket.h"
#include "waits.h"

namespace {

void SleepMs(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

long long TickMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

// A greeting shorter than its full length (the 14-byte X-mode refusal, an
// empty one) is taken once this long has passed without another piece.
constexpr auto GREETING_QUIET = std::chrono::milliseconds(LUMO_QUIET_MS);

// "IP:%s ---------" without an identifier (255), else "IP:%s ID%2d ---".
std::wstring CheckLabel(const std::wstring& ip, int id) {
    if (id == 255)
        return L"IP:" + ip + L" ---------";
    wchar_t tail[32];
    std::swprintf(tail, sizeof tail / sizeof tail[0], L" ID%2d ---", id);
    return L"IP:" + ip + tail;
}

// Sleeps at most ms: until a byte waits on the serial port when `readable`,
// the whole time otherwise (and when the port wakes us without a byte: a
// hang-up is no reason to spin).
void WaitForByte(CLumo_Net& net, bool readable, int ms) {
    const auto until = lumo::WaitClock::now() + std::chrono::milliseconds(ms);
    if (readable && net.m_ComOpen && net.m_hCom && lumo_serial::PortWaitReadable(net.m_hCom, ms) == 1 &&
        net.ComBytesWaiting() > 0)
        return;
    std::this_thread::sleep_for(until - lumo::WaitClock::now());
}

// Styles whose acknowledgement status is checked (and six bytes are read).
bool CheckedStyle(signed char s) {
    return s < 0 || s == 0x11 || s == 0x12 || s == 0x13;
}

// Takes the n greeting bytes already copied into m_ReturnBuf.
int TakeGreeting(CLumo_Net& net, int n, const std::wstring& label) {
    net.m_ReadFileReturnlen = n;
    net.m_Client.SetRecvMode(RECV_COUNT, lumo::ACK_FRAME_LEN); // next: an ack
    net.ClearMailbox();                                        // with any late tail of the greeting
    net.SendProgress(label, L"--Check_Return OK");
    return 1;
}

// Decodes the published acknowledgement: its status, or 0.
int TakeAck(CLumo_Net& net) {
    const unsigned char status = net.m_RecvBuf[4];
    const bool header = lumo::AckHeader(net.m_RecvBuf);
    net.m_LastStatus = status;
    net.ClearMailbox();
    net.m_ReadFileReturnlen = 0;
    if (!header) {
        ++net.m_AckErrorCounter;
        return 0;
    }
    if (status == 0x00 || status == 0xFF)
        ++net.m_AckErrorCounter;
    return status;
}

// The TCP side of Check_Return, until the deadline of (limit / 5) + 1 passes
// of 5 ms, woken by each publication and by the link dropping. An answer may
// come in pieces: a partial publication that can still grow into the answer
// is handed back, and the next, longer one taken (each holds everything
// received so far).
int CheckTcp(CLumo_Net& net, int mode, const std::wstring& label, int limitMs) {
    lumo::WaitTicker ticker;
    const auto deadline = lumo::WaitClock::now() + std::chrono::milliseconds((limitMs / 5 + 1) * 5);
    const int greetingLen = net.m_bXMode ? lumo::X_GREETING_LEN : lumo::GREETING_LEN;
    int held = -1; // greeting bytes copied so far, while it may grow; -1 none
    auto heldUntil = deadline;
    for (;;) {
        const uint32_t seen = net.m_Client.Publications();
        if (net.m_RecvReady.load(std::memory_order_acquire) == 1) {
            const int n = net.m_RecvLen.load(std::memory_order_acquire);
            if (n >= 0 && n < LUMO_MAILBOX_SIZE) {
                if (mode == CHECK_GREETING) {
                    const int take = n > 512 ? 511 : n; // 512 itself stays 512
                    std::memcpy(net.m_ReturnBuf, net.m_RecvBuf, static_cast<size_t>(take));
                    if (n >= greetingLen)
                        return TakeGreeting(net, take, label);
                    held = take;
                    heldUntil = std::min(deadline, lumo::WaitClock::now() + GREETING_QUIET);
                    net.ClearMailbox();
                    continue;
                }
                if (!lumo::AckFramePrefix(net.m_RecvBuf, n))
                    return TakeAck(net); // any mode but the greeting expects an acknowledgement
                net.ClearMailbox();      // the rest of the acknowledgement is on its way
                continue;
            }
        }
        const bool connected = net.m_bConnected.load(std::memory_order_acquire) != 0;
        const int left = lumo::MsUntil(held >= 0 ? heldUntil : deadline);
        if (held >= 0 && (!connected || left == 0))
            return TakeGreeting(net, held, label);
        if (!connected) {
            net.ClearMailbox();
            net.m_ReadFileReturnlen = 0;
            return 0;
        }
        if (left == 0)
            break;
        net.m_Client.WaitPublication(seen, ticker.SliceMs(std::min(left, lumo::MISSED_WAKE_RECHECK_MS)));
        ticker.Tick();
    }
    net.m_RecvSource.store(nullptr, std::memory_order_relaxed);
    net.m_CommError = 1;
    ++net.m_TimeoutCounter;
    return 0;
}

} // namespace

int CLumo_Net::Senddata(const unsigned char* data, int count) {
    if (m_SendState != 0)
        return 1;
    if (m_LinkKind == LINK_SERIAL) {
        unsigned char drain[512]; // what waits is stale: drop it before sending
        ReadComData(drain, sizeof drain);
        if (m_ComOpen == 0 || m_hCom == 0 || count <= 0)
            return 0;
        TapBytes(LumoTapKind::Sent, SerialSite(m_ComPort), data, static_cast<size_t>(count));
        for (int i = 0; i < count; ++i)
            WriteComByte(data[i]);
        return count;
    }
    // Every TCP send starts with an empty mailbox; that also releases a
    // receive thread waiting on a message nobody took.
    ClearMailbox();
    m_RecvHold.store(0, std::memory_order_relaxed);
    if (m_bConnected.load(std::memory_order_acquire) == 1)
        m_Client.SendData(this, data, count);
    return 1;
}

int Lumo_Client::SendData(CLumo_Net* owner, const unsigned char* data, int count) {
    m_RecvGot.store(0, std::memory_order_relaxed); // drop a half-built message
    if (count <= 0)
        return 1;
    // The bytes are recorded before they leave, so that no record of their
    // answer (the receive thread's) can come first; a send that fails then
    // adds a record of the failure. With no receive thread nothing can come
    // between, and one record after the send also tells how it ended.
    const CLumo_Net::TapSite site = CLumo_Net::TcpSite(m_strAddr, m_Port);
    const bool answerable = owner && m_RecvEnd.load(std::memory_order_acquire) == RECV_RUNNING;
    if (answerable)
        owner->TapBytes(LumoTapKind::Sent, site, data, static_cast<size_t>(count));
    int err = EBADF;
    if (m_Socket >= 0) {
        size_t sent = 0;
        err = lumo::TcpSendNow(m_Socket, data, static_cast<size_t>(count), &sent);
        // A module that stops reading: give up after a while with nothing taken.
        lumo::WaitTicker ticker;
        auto deadline = lumo::WaitClock::now() + std::chrono::milliseconds(LUMO_SEND_LIMIT_MS);
        while (err == EAGAIN) {
            const int left = lumo::MsUntil(deadline);
            if (left == 0) {
                err = ETIMEDOUT;
                break;
            }
            lumo::TcpWaitWritable(m_Socket, ticker.SliceMs(left));
            ticker.Tick();
            const size_t before = sent;
            err = lumo::TcpSendNow(m_Socket, data, static_cast<size_t>(count), &sent);
            if (sent > before)
                deadline = lumo::WaitClock::now() + std::chrono::milliseconds(LUMO_SEND_LIMIT_MS);
        }
    }
    if (owner && !answerable)
        owner->TapBytes(LumoTapKind::Sent, site, data, static_cast<size_t>(count), err);
    else if (answerable && err != 0)
        owner->TapBytes(LumoTapKind::Sent, site, nullptr, 0, err);
    if (err == 0)
        return 1;
    const std::wstring text =
        L"Send Data Error!! Didn't Connect to " + m_strAddr + std::to_wstring(lumo::SocketErrorCode(err));
    if (owner)
        owner->ShowBox(text, L"Error");
    else
        LumoShowMessage(text, L"Error");
    return 0;
}

int CLumo_Net::Check_Return(int mode, int id, int limitMs) {
    const std::wstring label = CheckLabel(m_strIP, id);
    if (m_SendState != 0)
        return 1;
    std::memset(m_ReturnBuf, 0, sizeof m_ReturnBuf);
    SendProgress(label, L"Check_Return");

    if (m_LinkKind != LINK_SERIAL)
        return CheckTcp(*this, mode, label, limitMs);

    // Serial: read an acknowledgement byte by byte, whatever the mode.
    std::memset(m_AckBuf, 0x77, 5);
    const long long start = TickMs();
    // Identifiers outside the table read as the plain five-byte variant.
    const signed char style =
        (id >= 0 && id < static_cast<int>(sizeof m_DevStyle)) ? static_cast<signed char>(m_DevStyle[id]) : 0;
    int p = 0; // bytes assembled, kept from one pass to the next
    lumo::WaitTicker ticker;
    for (;;) {
        // A pass reads only while a byte waits and the variant still takes
        // one: sleep until a byte comes or the time is up, never spin.
        const bool takesMore = p <= 5 && (style == 0x12 || p <= (CheckedStyle(style) ? 5 : 4));
        if (!takesMore || ComBytesWaiting() <= 0) {
            const long long left = limitMs - std::llabs(TickMs() - start) + 1;
            if (left > 0)
                WaitForByte(*this, takesMore,
                            ticker.SliceMs(static_cast<int>(std::min<long long>(left, INT_MAX))));
        }
        ticker.Tick();
        if (style == 0x12) {
            // Header search: bytes must follow 00 FF 5A A5 in order.
            if (ComBytesWaiting() > 0 && p <= 5) {
                for (int empty = 0; empty < 200;) {
                    if (ComBytesWaiting() <= 0) {
                        ++empty;
                        continue;
                    }
                    unsigned char b = 0;
                    ReadComData(&b, 1);
                    if (p == 4) {
                        m_AckBuf[4] = b; // the status
                        break;
                    }
                    if (b == lumo::ACK_HEADER[p]) {
                        m_AckBuf[p++] = b;
                    } else {
                        SendProgress(label, L"***************Get_CekReturn Error**************");
                        p = 0;
                    }
                    SleepMs(1);
                    empty = 0;
                }
            }
        } else {
            // Six bytes for the checked styles, five for any other.
            const int lastIndex = CheckedStyle(style) ? 5 : 4;
            if (ComBytesWaiting() > 0 && p <= 5) {
                for (int empty = 0; p <= lastIndex && empty < 100;) {
                    if (ComBytesWaiting() <= 0) {
                        ++empty;
                        continue;
                    }
                    ReadComData(&m_AckBuf[p], 1);
                    ++p;
                    SleepMs(1);
                    empty = 0;
                }
            }
        }
        if (lumo::AckHeader(m_AckBuf)) {
            const unsigned char status = m_AckBuf[4];
            m_LastStatus = status;
            if (!CheckedStyle(style))
                return 1; // plain modules: the status is not looked at
            if (status == 0)
                ++m_AckErrorCounter;
            return status;
        }
        const long long now = TickMs();
        if ((now > start ? now - start : start - now) > limitMs)
            break;
    }
    ++m_TimeoutCounter;
    return 0;
}
