// CLumo_Net lifetime, progress texts, the mailbox hand-back and the thin
// device operations (raw send, device query, offline switch, version tables).
#include "lumo_net.h"
#include "frames.h"
#include "posix_serial.h"
#include "recv_assembly.h"
#include "waits.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstring>
#include <thread>

namespace {

constexpr int CLEAR_BUFFER_SIZE = 512; // bytes Skarn_ClearBuffer drops at most
constexpr int DEVICE_ANSWER_SIZE = 13; // Skarn_Device's answer area
constexpr int NO_MODULE_ID = 15;       // address nibble used where no module ID applies
constexpr int QUERY_RETRY_PAUSE_MS = 100;
constexpr int BIOS_TABLE_SIZE = 15;

void ReadVersion(const uint32_t (&table)[BIOS_TABLE_SIZE], int index, unsigned long* out) {
    if (out == nullptr || index < 0 || index >= BIOS_TABLE_SIZE)
        return; // out-of-range index: the output word stays as it was
    *out = table[index];
}

} // namespace

CLumo_Net::CLumo_Net() {
    // m_Client is already constructed (socket closed) and m_strIP is empty.
    // The fields with a fixed start value carry it in the class; the rest
    // start from zero so that nothing is ever read uninitialised.
    std::memset(m_AckBuf, 0, sizeof m_AckBuf);
    std::memset(m_DevStyle, 0, sizeof m_DevStyle); // style 0: the plain five-byte acknowledgement
    std::memset(m_RecvBuf, 0, sizeof m_RecvBuf);
    std::memset(m_ReturnBuf, 0, sizeof m_ReturnBuf);
    std::memset(m_BIOSver, 0, sizeof m_BIOSver);
    std::memset(m_MBDBIOSver, 0, sizeof m_MBDBIOSver);
    std::memset(m_MBABIOSver, 0, sizeof m_MBABIOSver);
    m_SendState = 0;
    m_RecvHold = 0;
    m_ReadFileReturnlen = 0;
    m_ComOpen = 0;
    m_bConnected = 0;
    m_CommError = 0;
    m_bXMode = 0;
    m_LastStatus = 1;
    m_ToPCStyle = 255;
    // The command preview reads the ID before any link exists: the "no
    // module" ID gives the file address F8.
    m_ConnectToPcID = NO_MODULE_ID;
    m_LinkKind = LINK_NONE;
}

CLumo_Net::~CLumo_Net() {
    // The receive thread writes the mailbox, which is destroyed before
    // m_Client: make it let go first (a notice or box it is still showing
    // runs on its own copies and is not waited for). Nothing is sent to the
    // module; an open serial port is the embedding program's to close.
    m_Client.ShutDown();
}

void CLumo_Net::SendProgress(const std::wstring& prefix, const wchar_t* literal) {
    if (!m_hLogWnd && !m_hTap)
        return;
    const std::wstring text = prefix + (literal ? literal : L"");
    if (m_hTap) {
        LumoTapRecord r;
        r.kind = LumoTapKind::Progress;
        r.link = m_LinkKind == LINK_SERIAL ? LumoTapLink::Serial
                 : m_LinkKind == LINK_TCP  ? LumoTapLink::Tcp
                                           : LumoTapLink::None;
        r.text = text;
        m_hTap(r);
    }
    if (m_hLogWnd)
        m_hLogWnd(text);
}

void CLumo_Net::ShowBox(const std::wstring& text, const std::wstring& caption) {
    TapBox(text, caption);
    LumoShowMessage(text, caption);
}

void CLumo_Net::TapBox(const std::wstring& text, const std::wstring& caption) const {
    if (!m_hTap)
        return;
    LumoTapRecord r;
    r.kind = LumoTapKind::Box;
    r.text = text;
    r.caption = caption;
    m_hTap(r);
}

namespace {

// r from `site`, with its link named: nothing is put into words without a tap.
void TapAt(const LumoTap& tap, LumoTapRecord& r, const CLumo_Net::TapSite& site) {
    const std::wstring where = site.Where();
    r.link = site.link;
    r.where = where;
    tap(r);
}

} // namespace

std::wstring CLumo_Net::TapSite::Where() const {
    return address ? TcpWhere(*address, port) : SerialWhere(port);
}

void CLumo_Net::TapBytes(LumoTapKind kind, const TapSite& site, const unsigned char* bytes, size_t size,
                         int error) const {
    if (!m_hTap)
        return;
    LumoTapRecord r;
    r.kind = kind;
    r.bytes = bytes;
    r.size = size;
    r.error = error;
    TapAt(m_hTap, r, site);
}

void CLumo_Net::TapEvent(LumoTapEvent event, const TapSite& site, int error) const {
    if (!m_hTap)
        return;
    LumoTapRecord r;
    r.event = event;
    r.error = error;
    TapAt(m_hTap, r, site);
}

void CLumo_Net::TapGreeting(const TapSite& site, int socketId) const {
    if (!m_hTap)
        return;
    LumoTapRecord r;
    r.event = LumoTapEvent::Greeting;
    r.id = m_ConnectToPcID;
    r.style = m_ToPCStyle;
    r.socketId = socketId;
    TapAt(m_hTap, r, site);
}

void CLumo_Net::TapModeChar(const TapSite& site, int modeChar) const {
    if (!m_hTap)
        return;
    LumoTapRecord r;
    r.event = LumoTapEvent::ModeChar;
    r.modeChar = modeChar;
    TapAt(m_hTap, r, site);
}

std::wstring CLumo_Net::SerialWhere(int port) {
    std::wstring where = L"COM" + std::to_wstring(port) + L" ";
    for (char c : lumo_serial::PortDevice(port))
        where += static_cast<wchar_t>(static_cast<unsigned char>(c));
    return where;
}

std::wstring CLumo_Net::TcpWhere(const std::wstring& address, int port) {
    return L"TCP " + address + L":" + std::to_wstring(port);
}

void CLumo_Net::ClearMailbox() {
    // The buffer belongs to the receive thread unless a message is published.
    if (m_RecvReady.load(std::memory_order_acquire) != 0)
        m_RecvBuf[0] = 0;
    m_RecvLen.store(0, std::memory_order_relaxed);
    m_RecvSource.store(nullptr, std::memory_order_relaxed);
    // Lowering the flag hands the buffer back; the stores above go first.
    m_RecvReady.store(0, std::memory_order_release);
    m_Client.HandBack(); // the receive thread reads on at once
}

bool CLumo_Net::WaitMailbox(int timeoutMs) {
    lumo::WaitTicker ticker;
    const auto deadline = lumo::WaitClock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const uint32_t seen = m_Client.Publications();
        if (m_RecvReady.load(std::memory_order_acquire) == 1)
            return true;
        if (m_bConnected.load(std::memory_order_acquire) == 0)
            return false;
        const int left = lumo::MsUntil(deadline);
        if (left == 0)
            return false;
        // The receive thread wakes us; the slice bounds a wake we cannot get
        // (a flag raised by someone else).
        m_Client.WaitPublication(seen, ticker.SliceMs(std::min(left, lumo::MISSED_WAKE_RECHECK_MS)));
        ticker.Tick();
    }
}

bool CLumo_Net::PublishedMessageEnds() const {
    // The thread stored the mode before it published and leaves it alone
    // until the message is handed back.
    return lumo::EndsMessage(m_Client.pRecv.type.load(std::memory_order_relaxed),
                             m_Client.pRecv.len.load(std::memory_order_relaxed));
}

void CLumo_Net::SendState(char value) {
    m_SendState = static_cast<signed char>(value);
}

void CLumo_Net::Peltra_Senddata(int /*id*/, unsigned char* data, unsigned int count) {
    if (count > static_cast<unsigned int>(INT_MAX) || (data == nullptr && count > 0))
        return; // no such frame
    Senddata(data, static_cast<int>(count));
}

int CLumo_Net::Skarn_ClearBuffer() {
    unsigned char dropped[CLEAR_BUFFER_SIZE];
    ReadComData(dropped, CLEAR_BUFFER_SIZE);
    return 1;
}

int CLumo_Net::Skarn_Device(unsigned char* out, unsigned char kind) {
    unsigned char answer[DEVICE_ANSWER_SIZE];
    std::memset(answer, 0xFF, sizeof answer);
    unsigned char query[lumo::DEVICE_FRAME_LEN];
    lumo::DeviceCommandFrameAt(query, sizeof query, 0xFF, lumo::CMD_DEVICE_QUERY);

    m_Client.SetRecvMode(RECV_COUNT, lumo::DEVICE_INFO_LEN);
    Senddata(query, sizeof query);
    if (m_LinkKind != LINK_SERIAL)
        return 0; // over TCP the answer goes to the mailbox

    auto retry = [&] {
        std::memset(answer, 0xFF, sizeof answer);
        lumo::PauseMs(QUERY_RETRY_PAUSE_MS);
        Senddata(query, sizeof query);
        ReadComExact(answer, lumo::DEVICE_INFO_LEN, kind, 0);
    };
    // -1: some bytes came but not all seven.
    if (ReadComExact(answer, lumo::DEVICE_INFO_LEN, kind, 1) == -1) {
        retry();
        if (!lumo::AckHeader(answer + 2))
            retry();
    }
    if (out) {
        out[0] = answer[0];
        out[1] = answer[1];
    }
    return 1;
}

void CLumo_Net::GetBIOSver(int index, unsigned long* out) {
    ReadVersion(m_BIOSver, index, out);
}
void CLumo_Net::GetMBABIOSver(int index, unsigned long* out) {
    ReadVersion(m_MBABIOSver, index, out);
}
void CLumo_Net::GetMBDBIOSver(int index, unsigned long* out) {
    ReadVersion(m_MBDBIOSver, index, out);
}
