#include "link_tap.h"

#include <cerrno>
#include <cstring>

#include "lumo_net.h"

namespace session {

LinkTap::LinkTap(CLumo_Net& net) {
    net.m_hTap = [state = m_State](const LumoTapRecord& r) {
        if (r.kind == LumoTapKind::Event && r.event == LumoTapEvent::ConnectFailed && r.error != 0)
            state->connectError.store(r.error, std::memory_order_relaxed);
        if (state->listener)
            state->listener(r);
    };
}

namespace {

void tapUdp(const CLumo_Net& net, LumoTapRecord& r, const std::u16string& where) {
    const std::wstring wide(where.begin(), where.end());
    r.link = LumoTapLink::Udp;
    r.where = wide;
    net.m_hTap(r);
}

} // namespace

void TapUdpBytes(const CLumo_Net& net, LumoTapKind kind, const std::u16string& where, const uint8_t* bytes,
                 size_t size, int osError) {
    if (!net.m_hTap)
        return;
    LumoTapRecord r;
    r.kind = kind;
    r.bytes = bytes;
    r.size = size;
    r.error = osError;
    tapUdp(net, r, where);
}

void TapUdpEvent(const CLumo_Net& net, LumoTapEvent event, const std::u16string& where, int osError) {
    if (!net.m_hTap)
        return;
    LumoTapRecord r;
    r.kind = LumoTapKind::Event;
    r.event = event;
    r.error = osError;
    tapUdp(net, r, where);
}

std::u16string ReasonWords(int osError) {
    switch (osError) {
    case 0:
        return {};
    case ECONNREFUSED:
        return u"refused";
    case ETIMEDOUT:
        return u"timed out";
    case ENODEV:
    case ENXIO:
    case ENOTTY: // there, but no terminal: the serial calls find no port behind it
        return u"no such device";
    case EACCES:
    case EPERM:
        return u"permission denied";
    case EBUSY:
    case EWOULDBLOCK:
        return u"busy";
    case ENETUNREACH:
    case EHOSTUNREACH:
        return u"unreachable";
    default: {
        const char* text = std::strerror(osError);
        return std::u16string(text, text + std::strlen(text));
    }
    }
}

std::u16string ReasonHint(int osError, LinkKind kind) {
    if (kind == LinkKind::Serial && (osError == EACCES || osError == EPERM))
        return u"Serial devices belong to the dialout group: add yourself with "
               u"\"sudo usermod -aG dialout $USER\", then log in again.";
    if (kind == LinkKind::Serial && (osError == EBUSY || osError == EWOULDBLOCK))
        return u"Another program has the port open.";
    return {};
}

} // namespace session
