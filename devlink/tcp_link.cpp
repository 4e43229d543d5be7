// TCP link to a module (port 20036, greets) or an IP converter (port 1024):
// connect sequence, close sequences and the socket object's own steps.
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#include "frames.h"
#include "link_pace.h"
#include "lumo_net.h"
#include "posix_futex.h"
#include "posix_socket.h"
#include "waits.h"

namespace {

// Clears the hand-over fields before the receive thread may publish.
void ResetHandOver(CLumo_Net& net) {
    net.m_RecvHold.store(0, std::memory_order_relaxed);
    net.m_RecvLen.store(0, std::memory_order_relaxed);
    net.m_RecvBuf[0] = 0;
    net.m_RecvSource.store(nullptr, std::memory_order_relaxed);
    net.m_RecvReady.store(0, std::memory_order_release);
}

// Records a style under a greeting's identifier. Identifiers beyond the
// table (a greeting may report any byte) are not recorded.
void RecordStyle(CLumo_Net& net, unsigned index, unsigned char style) {
    if (index < sizeof net.m_DevStyle)
        net.m_DevStyle[index] = style;
}

// Decimal value of the leading digits after the third dot; 0 when none.
int HostNumber(const std::wstring& address) {
    size_t pos = 0;
    for (int dots = 0; dots < 3; ++dots) {
        pos = address.find(L'.', pos);
        if (pos == std::wstring::npos)
            return 0;
        ++pos;
    }
    int value = 0;
    for (; pos < address.size() && address[pos] >= L'0' && address[pos] <= L'9'; ++pos)
        value = value * 10 + (address[pos] - L'0');
    return value;
}

} // namespace

// ---------------------------------------------------------------- Lumo_Client

Lumo_Client::Lumo_Client() = default;

Lumo_Client::~Lumo_Client() {
    ShutDown();
}

int Lumo_Client::ConnectTo(const wchar_t* address, int port) {
    // One socket and one receive thread per object: an earlier link of this
    // object is closed first instead of being leaked.
    ShutDown();
    m_Port = 0;
    std::wstring text = address ? address : L"";
    std::string narrow;
    for (wchar_t c : text)
        narrow.push_back(static_cast<char>(c & 0xFF)); // one byte per character
    int error = 0;
    const int fd = lumo::TcpConnectStart(narrow.c_str(), port, &error);
    // An address that answers nothing fails after the pace's limit
    // (LUMO_CONNECT_LIMIT_MS unless a program set a shorter one) instead of
    // the system's two minutes and more.
    const lumo::LinkPace& pace = lumo::CurrentPace();
    lumo::WaitTicker ticker;
    const auto deadline = lumo::WaitClock::now() + std::chrono::milliseconds(pace.connectLimitMs);
    while (fd >= 0 && error == EINPROGRESS) {
        if (pace.Cancelled()) {
            error = ECANCELED;
            break;
        }
        const int left = lumo::MsUntil(deadline);
        int slice = ticker.SliceMs(left);
        if (pace.cancel)
            slice = std::min(slice, lumo::MISSED_WAKE_RECHECK_MS); // looks at the flag this often
        error = left > 0 ? lumo::TcpConnectWait(fd, slice) : ETIMEDOUT;
        ticker.Tick();
    }
    m_ConnectErrno = error;
    if (error != 0) {
        if (fd >= 0)
            lumo::TcpClose(fd);
        return 0;
    }
    m_Socket = fd;
    m_strAddr = text;
    m_HostNo = HostNumber(text);
    m_Port = port;
    return 1;
}

void Lumo_Client::StartReceive(CLumo_Net* owner) {
    pRecv.client = this;
    pRecv.type.store(RECV_COUNT, std::memory_order_relaxed);
    pRecv.owner = owner;
    if (m_Port != LUMO_MODULE_PORT && m_Port != LUMO_CONVERTER_PORT)
        return;
    if (m_Socket < 0)
        return;
    if (m_Thread.joinable() && m_RecvEnd.load(std::memory_order_acquire) == RECV_RUNNING)
        return;      // one receive thread per connection
    ReleaseThread(); // a thread that ended on a lost link
    m_StopRecv.store(false, std::memory_order_release);
    m_RecvEnd.store(RECV_RUNNING, std::memory_order_relaxed); // ordered by the thread start
    m_Thread = std::thread(&Lumo_Client::RecvThreadMain, this);
}

void Lumo_Client::ReleaseThread() {
    if (!m_Thread.joinable())
        return;
    if (m_Thread.get_id() == std::this_thread::get_id()) {
        // Called from the thread's own last call (owner notice or box): it
        // has let go already and only returns once that call is done.
        m_Thread.detach();
        return;
    }
    // The thread leaves within microseconds of the shut-down; the bounded
    // slices only guard against a lost wake.
    uint32_t end;
    while ((end = m_RecvEnd.load(std::memory_order_acquire)) == RECV_RUNNING)
        lumo::FutexWait(m_RecvEnd, RECV_RUNNING, std::chrono::milliseconds(10));
    // A thread in its last call may be held there for good (a modal box, or
    // a sink waiting on this very thread): it touches nothing of ours.
    if (end == RECV_LAST_CALL)
        m_Thread.detach();
    else
        m_Thread.join();
}

int Lumo_Client::ShutDown() {
    // The flag tells the thread that the receive it is about to see end is
    // ours, and ends its wait for an untaken message.
    m_StopRecv.store(true, std::memory_order_release);
    m_HandBacks.Bump();
    if (m_Socket >= 0)
        lumo::TcpShutdownBoth(m_Socket);
    // The thread reads from m_Socket until it lets go: only then close it.
    ReleaseThread();
    if (m_Socket >= 0) {
        lumo::TcpClose(m_Socket);
        m_Socket = -1;
    }
    return 1;
}

void Lumo_Client::SetRecvMode(int type, int len) {
    pRecv.type.store(type, std::memory_order_relaxed);
    pRecv.len.store(len, std::memory_order_relaxed);
    m_RecvGot.store(0, std::memory_order_relaxed);
}

// ------------------------------------------------------------------ CLumo_Net

int CLumo_Net::NetConnect_IPEPC(wchar_t* address, unsigned char* reply, unsigned char mode) {
    // One link per object: a link the caller left open is closed (and its
    // receive thread joined) before the hand-over fields are touched.
    m_Client.ShutDown();
    m_LinkKind = LINK_TCP;
    m_strIP = address ? address : L"";
    const std::wstring prefix = L"IP" + m_strIP + L" ";

    ResetHandOver(*this);
    reply[0] = reply[1] = 0xFF;
    m_ReturnBuf[0] = m_ReturnBuf[1] = 0xFF;
    m_ConverterLink = mode == 3 ? 1 : 0;
    SendProgress(prefix, L"--------------NetConnect");

    const int port = mode == 3 ? LUMO_CONVERTER_PORT : LUMO_MODULE_PORT;
    const TapSite site = TcpSite(m_strIP, port);
    TapEvent(LumoTapEvent::ConnectStarted, site);
    if (!m_Client.ConnectTo(m_strIP.c_str(), port)) {
        m_LinkKind = LINK_NONE;
        TapEvent(LumoTapEvent::ConnectFailed, site, m_Client.ConnectError());
        return 0;
    }
    TapEvent(LumoTapEvent::Connected, site);
    m_Client.SetRecvMode(RECV_COUNT, m_bXMode ? lumo::X_GREETING_LEN : lumo::GREETING_LEN);
    m_bConnected.store(1, std::memory_order_release);
    ResetHandOver(*this);
    SendProgress(prefix, L"--------------Open ok");
    m_Client.StartReceive(this);
    if (mode == 3)
        return 1;

    const wchar_t* failure = nullptr;
    if (!Check_Return(CHECK_GREETING, 255, 10000))
        failure = L"Didn't Connect to ";
    else if (m_ReadFileReturnlen == 0)
        failure = L"2 Didn't Connect to ";
    else if (m_ReturnBuf[0] == 0xFF && m_ReturnBuf[1] == 0xFF)
        failure = L"3 Didn't Connect to ";
    if (failure) {
        m_Client.ShutDown();
        TapEvent(LumoTapEvent::Closed, site);
        lumo::PauseMs(100);
        if (mode == 0)
            ShowBox(failure + m_strIP, L"Error");
        m_bConnected.store(0, std::memory_order_release);
        m_LinkKind = LINK_NONE;
        return 0;
    }

    if (m_bXMode) {
        if (m_ReadFileReturnlen == 14) {
            m_Client.ShutDown();
            TapEvent(LumoTapEvent::Closed, site);
            ShowBox(L"Rev len = " + std::to_wstring(m_ReadFileReturnlen) + L", connect failure", L"Message");
            return 2;
        }
        // 17-byte greeting: byte 0 table entry, 12 identifier, 14 style - 26, 16 socket.
        m_ConnectToPcID = m_ReturnBuf[12];
        m_ToPCStyle = m_ReturnBuf[14] + 26;
        RecordStyle(*this, m_ReturnBuf[0], static_cast<unsigned char>(m_ToPCStyle));
        m_SocketID = m_ReturnBuf[16];
        reply[0] = static_cast<unsigned char>(m_ConnectToPcID);
        reply[1] = static_cast<unsigned char>(m_ToPCStyle);
        TapGreeting(site, m_SocketID);
    } else {
        m_ConnectToPcID = m_ReturnBuf[0];
        m_ToPCStyle = m_ReturnBuf[1];
        RecordStyle(*this, m_ReturnBuf[0], m_ReturnBuf[1]);
        reply[0] = m_ReturnBuf[0];
        reply[1] = m_ReturnBuf[1];
        m_ModeChar = 0;
        TapGreeting(site, -1);
        if (m_ToPCStyle == 17) {
            m_Client.SetRecvMode(RECV_FIXED13, lumo::MODE_QUERY_REPLY_LEN);
            unsigned char query[lumo::DEVICE_FRAME_LEN];
            lumo::DeviceCommandFrame(query, sizeof query, m_ConnectToPcID, lumo::CMD_MODE_QUERY);
            Peltra_Senddata(m_ConnectToPcID, query, sizeof query); // drops the result

            // Collect the 13-byte reply: 500-ms passes, at most 20, ended by
            // 10 passes without data or by a lost link.
            unsigned char area[4096] = {};
            int gathered = 0, idle = 0;
            for (int pass = 0; pass < 20 && m_bConnected.load(std::memory_order_acquire) == 1; ++pass) {
                const int n = m_RecvLen.load(std::memory_order_acquire);
                if (n > 0) {
                    const int take = std::min(n, static_cast<int>(sizeof area) - gathered);
                    std::memcpy(area + gathered, m_RecvBuf, static_cast<size_t>(take));
                    gathered += take;
                    if (gathered == lumo::MODE_QUERY_REPLY_LEN)
                        break;
                    m_RecvLen.store(0, std::memory_order_release);
                    idle = 0;
                } else if (++idle >= 10) {
                    break;
                }
                lumo::PauseMs(500);
            }
            unsigned char modeChar = 0;
            if (!lumo::ModeQueryReply(area, sizeof area, &modeChar))
                return 0; // the link stays open; the caller closes it (style 17)
            m_ModeChar = modeChar;
            TapModeChar(site, modeChar);
        }
    }
    reply[2] = 0;
    return 1;
}

int CLumo_Net::CloseNet() {
    const std::wstring prefix = L"IP" + m_strIP + L" ";
    if (m_ToPCStyle == 17)
        Skarn_Disconnect(m_ConnectToPcID);
    SendProgress(prefix, L"------------CloseNet");
    if (m_ConverterLink == 0)
        lumo::PauseMs(200);
    CloseSocket();
    lumo::PauseMs(1000); // the module's own pace after a close
    m_bConnected.store(0, std::memory_order_release);
    return 1;
}

void CLumo_Net::CloseSocket() {
    const bool open = m_Client.IsOpen();
    m_Client.ShutDown();
    if (open)
        TapEvent(LumoTapEvent::Closed, TcpSite(m_Client.m_strAddr, m_Client.m_Port));
}

int CLumo_Net::CloseNet_IPConverter() {
    const std::wstring prefix = L"IP" + m_strIP + L" ";
    SendProgress(prefix, L"------------CloseNet");
    lumo::PauseMs(200);
    CloseSocket();
    lumo::PauseMs(1000);
    m_bConnected.store(0, std::memory_order_release);
    m_CommError = 0;
    return 1;
}

char CLumo_Net::Skarn_Disconnect(int id) {
    unsigned char frame[lumo::DEVICE_FRAME_LEN];
    lumo::DeviceCommandFrame(frame, sizeof frame, id, lumo::CMD_DISCONNECT);
    m_Client.SetRecvMode(RECV_COUNT, lumo::ACK_FRAME_LEN);
    Senddata(frame, sizeof frame);
    if (Check_Return(CHECK_ACK, id, 10000))
        return 1;
    Senddata(frame, sizeof frame);
    return Check_Return(CHECK_ACK, id, 20000) ? 1 : 0;
}
