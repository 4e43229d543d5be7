// Serial link: opening and closing the port and the byte-level reads and
// writes the send path, the acknowledgement check and the console use. The
// port calls themselves live in posix_serial.cpp.
#include "lumo_net.h"
#include "posix_serial.h"
#include "waits.h"

#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr int kNoModuleId = 9999;                // m_ConnectToPcID after a serial open
constexpr int kWriteWaitMs = 1000;               // a byte not taken by then is dropped
constexpr int kExactPassMs = 80;                 // one pass of ReadComExact
constexpr int kExactStaging = LUMO_MAILBOX_SIZE; // most ReadComExact collects
constexpr int kIdlePassesSlow = 15;              // kind 2: slow modules
constexpr int kIdlePassesFast = 1;

} // namespace

int CLumo_Net::OpenCOM_IPConverter(int port, int baud) {
    m_ConnectToPcID = kNoModuleId;
    if (m_SendState == 1) { // offline: pretend, open nothing
        m_ComOpen = 1;
        return 1;
    }
    if (m_ComOpen)
        CloseCOM();

    TapEvent(LumoTapEvent::ConnectStarted, SerialSite(port));
    const int fd = lumo_serial::PortOpen(port, baud);
    if (fd < 0) {
        m_hCom = 0;
        TapEvent(LumoTapEvent::ConnectFailed, SerialSite(port), -fd);
        return 0;
    }
    m_hCom = fd;
    m_ReadOverlapped = ComIoRecord{};
    m_WriteOverlapped = ComIoRecord{};
    m_LinkKind = LINK_SERIAL;
    m_ComOpen = 1;
    m_ComPort = port;
    TapEvent(LumoTapEvent::Connected, SerialSite(port));
    return 1;
}

int CLumo_Net::CloseCOM() {
    if (m_ComOpen && m_hCom) {
        SendProgress(L"COM" + std::to_wstring(m_ComPort) + L" ", L"------------CloseCOM");
        lumo_serial::PortClose(m_hCom);
        m_ComOpen = 0;
        m_hCom = 0;
        m_LinkKind = LINK_NONE;
        TapEvent(LumoTapEvent::Closed, SerialSite(m_ComPort));
    }
    return 1;
}

int CLumo_Net::WriteComByte(unsigned char byte) {
    if (m_hCom && lumo_serial::PortWriteByte(m_hCom, byte, kWriteWaitMs) == 1)
        m_WriteOverlapped.Offset += 1;
    return 1; // a byte the port did not take in time is lost without notice
}

int CLumo_Net::ReadComData(void* buffer, int limit) {
    if (m_SendState)
        return 1; // offline: the buffer is left as it is
    if (!m_ComOpen || !m_hCom)
        return 0;
    int n = lumo_serial::PortBytesWaiting(m_hCom);
    if (n <= 0 || limit <= 0)
        return 0;
    if (limit < n)
        n = limit;
    const int got = lumo_serial::PortReadNow(m_hCom, buffer, n);
    if (got <= 0)
        return 0;
    TapBytes(LumoTapKind::Received, SerialSite(m_ComPort), static_cast<const unsigned char*>(buffer),
             static_cast<size_t>(got));
    return got;
}

int CLumo_Net::ComBytesWaiting() {
    if (!m_ComOpen || !m_hCom)
        return 0;
    const int n = lumo_serial::PortBytesWaiting(m_hCom);
    return n > 0 ? n : 0;
}

int CLumo_Net::ReadComExact(void* out, int count, unsigned char kind, int partial) {
    if (m_SendState)
        return 0;
    if (count < 0 || count > kExactStaging)
        return 0; // more than the staging area holds: nothing is read
    const int idleLimit = kind == 2 ? kIdlePassesSlow : kIdlePassesFast;
    std::vector<unsigned char> staging(kExactStaging, 0);
    auto* dest = static_cast<unsigned char*>(out);
    int gathered = 0;
    int idle = 0;
    int wanted = count;
    for (;;) {
        lumo::PauseMs(kExactPassMs);
        const int n = ReadComData(staging.data(), wanted);
        if (gathered < count) {
            std::memcpy(dest + gathered, staging.data(), static_cast<size_t>(n));
            if (n > 0)
                idle = 0;
            gathered += n;
            wanted = count - gathered;
            if (gathered == count)
                return count;
        } else {
            return gathered; // count 0: the read above asked for nothing
        }
        ++idle;
        if (idle > idleLimit)
            return (partial == 1 && gathered > 0 && gathered < count) ? -1 : 0;
    }
}
