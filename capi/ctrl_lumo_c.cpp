// The C interface: argument checks, then the link session (the console's
// connect, Send and close sequences) or the device link's raw operations.
#include "ctrl_lumo_c.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <exception>
#include <mutex>

#include "calls.h"
#include "frames.h"
#include "link_handle.h"
#include "link_tap.h"
#include "lumo_version.h"
#include "serial_ports.h"
#include "log/session_record.h"
#include "utf8.h"

using capi::Call;
using session::LinkKind;

ctrl_lumo_link::ctrl_lumo_link() {
    // The receive thread reports a lost link to the owner instead of showing
    // a box that nobody would see; the next call finds m_bConnected at 0.
    net.m_hOwnerWnd = [](unsigned, uintptr_t, intptr_t) {};
    // Serial reads reach the tap on the caller's thread, where the call that
    // switched the capture on runs.
    session.Tap().SetListener([capture = &capture](const LumoTapRecord& r) {
        if (r.kind == LumoTapKind::Received && r.link == LumoTapLink::Serial &&
            capture->on.load(std::memory_order_relaxed))
            capture->bytes.insert(capture->bytes.end(), r.bytes, r.bytes + r.size);
    });
}

namespace {

constexpr int kAckLength = 5;          // 00 FF 5A A5 S
constexpr int kDeviceAnswerMs = 10000; // the device link's acknowledgement limit
constexpr int kMaxBaud = 4000000;
const unsigned char kNoBytes[1] = {0};

// Enters a call on the link and runs its body. A link that cannot be entered
// (NULL, unknown, busy) gives its code; what the body throws (memory ran out)
// becomes an error instead of crossing into C.
template <class Body> int Run(ctrl_lumo_link* link, Body body) noexcept {
    const Call call(link);
    if (call.code())
        return call.code();
    try {
        return body();
    } catch (const std::exception& e) {
        try {
            link->lastError = std::string("the call failed: ") + e.what();
        } catch (...) {
            link->lastError.clear();
        }
        return CTRL_LUMO_ERR_SYSTEM;
    }
}

int Fail(ctrl_lumo_link* link, int code, std::string text) {
    link->lastError = std::move(text);
    return code;
}

// Ends a call: the device link's messages become (or join) the last error.
int Finish(ctrl_lumo_link* link, int code) {
    std::string joined;
    for (const std::string& m : link->messages)
        joined += (joined.empty() ? "" : "; ") + m;
    if (code == CTRL_LUMO_OK)
        link->lastError = joined;
    else if (!joined.empty() && link->lastError.find(joined) == std::string::npos)
        link->lastError += " [" + joined + "]";
    return code;
}

const char* KindName(LinkKind kind) {
    switch (kind) {
    case LinkKind::Serial:
        return "a serial link";
    case LinkKind::Tcp:
        return "a TCP link";
    case LinkKind::Udp:
        return "a UDP link";
    default:
        return "no link";
    }
}

// NOT_OPEN without a link, LINK_LOST when the module dropped the TCP link,
// else OK.
int CheckOpen(ctrl_lumo_link* link) {
    const session::LinkRef& open = link->session.Link();
    if (open.kind == LinkKind::None)
        return Fail(link, CTRL_LUMO_ERR_NOT_OPEN, "no link is open");
    if (open.kind == LinkKind::Tcp && link->net.m_bConnected.load(std::memory_order_acquire) == 0)
        return Fail(link, CTRL_LUMO_ERR_LINK_LOST, link->name + ": the module closed the link");
    return CTRL_LUMO_OK;
}

// Raw frames go through the device link: TCP or the serial port.
int CheckRawLink(ctrl_lumo_link* link, const char* what) {
    if (const int code = CheckOpen(link))
        return code;
    const LinkKind kind = link->session.Link().kind;
    if (kind == LinkKind::Udp)
        return Fail(link, CTRL_LUMO_ERR_WRONG_LINK,
                    std::string(what) + " needs a TCP or serial link; the open link is " + KindName(kind));
    return CTRL_LUMO_OK;
}

std::u16string Ascii16(const char* text) {
    return std::u16string(text, text + std::strlen(text));
}

// "TCP 10.0.0.5:20036: refused (Connect failure!!)" and the like.
std::string DescribeFailure(const std::string& name, const session::ConnectOutcome& o) {
    std::string what = lumo::ToUtf8(o.boxText);
    if (o.status == session::ConnectStatus::ToldByDeviceLink)
        what = "the module's X greeting was refused";
    else if (o.status == session::ConnectStatus::UdpTimeoutNotSet)
        what = "the receive time-out of the datagram socket could not be set";
    const std::string reason = lumo::ToUtf8(session::ReasonWords(o.osError));
    std::string text = name + ": " + (reason.empty() ? what : reason + " (" + what + ")");
    const std::string hint = lumo::ToUtf8(session::ReasonHint(o.osError, o.kind));
    if (!hint.empty())
        text += ". " + hint;
    return text;
}

// Runs one connect sequence; on success the link is what it opened.
template <class Open> int OpenLink(ctrl_lumo_link* link, const std::string& device, Open open) {
    link->opened = {};
    link->name.clear();
    const session::ConnectOutcome o = open();
    const std::string name = device.empty() ? lumo::ToUtf8(o.name) : device;
    if (!o.ok())
        return Finish(link, Fail(link, CTRL_LUMO_ERR_CONNECT, DescribeFailure(name, o)));
    link->opened = o;
    link->name = name;
    return Finish(link, CTRL_LUMO_OK);
}

int CheckAddress(ctrl_lumo_link* link, const char* address) {
    if (!address)
        return Fail(link, CTRL_LUMO_ERR_ARGUMENT, "address is NULL");
    if (!session::ParseDottedAddress({address, strnlen(address, 16)}))
        return Fail(link, CTRL_LUMO_ERR_ARGUMENT, "address is not a dotted IPv4 address such as 10.0.0.5");
    return CTRL_LUMO_OK;
}

void ClearResult(ctrl_lumo_result* r) {
    *r = ctrl_lumo_result{};
    r->status = r->data = r->caption = "";
    r->answer = r->sent = kNoBytes;
    r->round_trip_ms = -1;
}

int OutcomeCode(session::SendOutcome o) {
    switch (o) {
    case session::SendOutcome::Answered:
        return CTRL_LUMO_OUTCOME_ANSWERED;
    case session::SendOutcome::AckedSilently:
        return CTRL_LUMO_OUTCOME_ACKED_SILENTLY;
    case session::SendOutcome::TimedOut:
        return CTRL_LUMO_OUTCOME_TIMED_OUT;
    case session::SendOutcome::NotRead:
        return CTRL_LUMO_OUTCOME_NOT_READ;
    case session::SendOutcome::RefusedTooLong:
        return CTRL_LUMO_OUTCOME_REFUSED_TOO_LONG;
    default:
        return CTRL_LUMO_OUTCOME_NONE;
    }
}

// Keeps the record in the link and points the caller's result at it.
void FillResult(ctrl_lumo_link* link, const session::SendResult& r, ctrl_lumo_result* out) {
    link->status = r.status ? lumo::ToUtf8(*r.status) : std::string();
    link->data = r.boxText ? lumo::ToUtf8(*r.boxText) : std::string();
    link->caption = r.boxText ? lumo::ToUtf8(r.boxCaption) : std::string();
    link->answer = r.answer;
    link->sent = r.sent;
    out->outcome = OutcomeCode(r.outcome);
    out->is_query = r.query ? 1 : 0;
    out->has_status = r.status ? 1 : 0;
    out->status = link->status.c_str();
    out->has_data = r.boxText ? 1 : 0;
    out->data = link->data.c_str();
    out->caption = link->caption.c_str();
    out->answer = link->answer.empty() ? kNoBytes : link->answer.data();
    out->answer_len = link->answer.size();
    out->sent = link->sent.empty() ? kNoBytes : link->sent.data();
    out->sent_len = link->sent.size();
    out->round_trip_ms = r.roundTripUs < 0 ? -1 : static_cast<int>(r.roundTripUs / 1000);
    out->warned_long = r.warnedLong ? 1 : 0;
}

// The first 32 bytes in hex, for an error text.
std::string Hex(const std::vector<unsigned char>& bytes) {
    constexpr size_t kShown = 32;
    const std::string hex = session::HexBytes(bytes.data(), std::min(bytes.size(), kShown));
    return bytes.size() > kShown ? hex + " ..." : hex;
}

// The device query's answer D0 D1 00 FF 5A A5 S, from the serial reads the
// device link made (its own result cannot tell a silent module from one
// that answered FF FF).
int DeviceQuerySerial(ctrl_lumo_link* link, unsigned char kind, unsigned char out[2]) {
    link->capture.bytes.clear();
    link->capture.on.store(true, std::memory_order_relaxed);
    unsigned char got[2] = {0xFF, 0xFF};
    link->net.Skarn_Device(got, kind);
    link->capture.on.store(false, std::memory_order_relaxed);
    const std::vector<unsigned char>& read = link->capture.bytes;
    const size_t n = read.size();
    if (n == 0)
        return Fail(link, CTRL_LUMO_ERR_TIMEOUT, link->name + ": no answer to the device query");
    if (n < lumo::DEVICE_INFO_LEN || !lumo::AckHeader(read.data() + n - kAckLength))
        return Fail(link, CTRL_LUMO_ERR_NOT_ACKED,
                    link->name + ": the answer to the device query is not D0 D1 00 FF 5A A5 S: " + Hex(read));
    out[0] = got[0];
    out[1] = got[1];
    return CTRL_LUMO_OK;
}

// Over TCP the device link leaves the answer in the mailbox: take it.
int DeviceQueryTcp(ctrl_lumo_link* link, unsigned char kind, unsigned char out[2]) {
    CLumo_Net& net = link->net;
    net.Skarn_Device(nullptr, kind); // sets the receive side for 7 bytes and sends the query
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kDeviceAnswerMs);
    std::vector<unsigned char> got;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || !net.WaitMailbox(static_cast<int>(left.count())))
            break;
        const int len = std::clamp(net.m_RecvLen.load(std::memory_order_acquire), 0, LUMO_MAILBOX_SIZE);
        // each publication of an unfinished message holds all of it so far
        got.assign(net.m_RecvBuf, net.m_RecvBuf + len);
        net.ClearMailbox();
        if (got.size() >= static_cast<size_t>(lumo::DEVICE_INFO_LEN))
            break;
    }
    if (got.size() >= static_cast<size_t>(lumo::DEVICE_INFO_LEN) && lumo::AckHeader(got.data() + 2)) {
        out[0] = got[0];
        out[1] = got[1];
        return CTRL_LUMO_OK;
    }
    if (net.m_bConnected.load(std::memory_order_acquire) == 0)
        return Fail(link, CTRL_LUMO_ERR_LINK_LOST, link->name + ": the module closed the link");
    if (got.empty())
        return Fail(link, CTRL_LUMO_ERR_TIMEOUT, link->name + ": no answer to the device query within 10 s");
    return Fail(link, CTRL_LUMO_ERR_NOT_ACKED,
                link->name + ": the answer to the device query is not D0 D1 00 FF 5A A5 S: " + Hex(got));
}

std::mutex g_ClearSocketMutex; // the clear-socket datagrams leave from one fixed local port

} // namespace

extern "C" {

ctrl_lumo_link* ctrl_lumo_create(void) {
    ctrl_lumo_link* link = nullptr;
    try {
        link = new ctrl_lumo_link;
        capi::AddLink(link);
        return link;
    } catch (const std::exception&) {
        delete link;
        capi::SetThreadError("out of memory");
        return nullptr;
    }
}

void ctrl_lumo_destroy(ctrl_lumo_link* link) {
    if (!link)
        return;
    if (!capi::RemoveLink(link)) {
        capi::SetThreadError("not a link: the handle was not made by ctrl_lumo_create or was destroyed");
        return;
    }
    delete link; // closes an open link as the console does when it closes
}

int ctrl_lumo_open_tcp(ctrl_lumo_link* link, const char* address, int x_mode) {
    return Run(link, [&]() -> int {
        if (const int code = CheckAddress(link, address))
            return code;
        if (x_mode != 0 && x_mode != 1)
            return Fail(link, CTRL_LUMO_ERR_ARGUMENT, "x_mode is " + std::to_string(x_mode) + ", not 0 or 1");
        return OpenLink(link, {}, [&] { return link->session.OpenTcp(Ascii16(address), x_mode == 1); });
    });
}

int ctrl_lumo_open_udp(ctrl_lumo_link* link, const char* address) {
    return Run(link, [&]() -> int {
        if (const int code = CheckAddress(link, address))
            return code;
        return OpenLink(link, {}, [&] { return link->session.OpenUdp(Ascii16(address)); });
    });
}

int ctrl_lumo_open_serial(ctrl_lumo_link* link, const char* port, int baud) {
    return Run(link, [&]() -> int {
        if (!port)
            return Fail(link, CTRL_LUMO_ERR_ARGUMENT, "port is NULL");
        const size_t length = strnlen(port, 4097);
        const capi::SerialPort named =
            length > 4096 ? capi::SerialPort{} : capi::NameSerialPort({port, length});
        if (named.number == 0)
            return Fail(link, CTRL_LUMO_ERR_ARGUMENT,
                        "port names no serial port: give 1 to 999, COM1 to COM999 or a device path");
        if (baud <= 0 || baud > kMaxBaud)
            return Fail(link, CTRL_LUMO_ERR_ARGUMENT, "baud " + std::to_string(baud) + " is out of range");
        return OpenLink(link, named.device, [&] { return link->session.OpenSerial(named.number, baud); });
    });
}

int ctrl_lumo_send_command(ctrl_lumo_link* link, const char* command, ctrl_lumo_result* result) {
    if (result)
        ClearResult(result);
    return Run(link, [&]() -> int {
        if (!result)
            return Fail(link, CTRL_LUMO_ERR_ARGUMENT, "result is NULL");
        if (!command)
            return Fail(link, CTRL_LUMO_ERR_ARGUMENT, "command is NULL");
        const size_t length = strnlen(command, CTRL_LUMO_MAX_COMMAND_BYTES + 1);
        if (length > CTRL_LUMO_MAX_COMMAND_BYTES)
            return Fail(link, CTRL_LUMO_ERR_ARGUMENT, "command is longer than 8192 bytes");
        const std::optional<std::u16string> text = lumo::FromUtf8({command, length});
        if (!text)
            return Fail(link, CTRL_LUMO_ERR_ARGUMENT, "command is not UTF-8 text");
        if (const int code = CheckOpen(link))
            return code;
        const session::SendResult sent = link->session.Send(*text);
        FillResult(link, sent, result);
        if (sent.outcome == session::SendOutcome::RefusedTooLong)
            return Fail(link, CTRL_LUMO_ERR_ARGUMENT, link->status);
        return Finish(link, CTRL_LUMO_OK);
    });
}

int ctrl_lumo_send_frame(ctrl_lumo_link* link, const unsigned char* bytes, size_t count) {
    return Run(link, [&]() -> int {
        if (!bytes)
            return Fail(link, CTRL_LUMO_ERR_ARGUMENT, "bytes is NULL");
        if (count == 0 || count > CTRL_LUMO_MAX_FRAME_BYTES)
            return Fail(link, CTRL_LUMO_ERR_ARGUMENT,
                        "count " + std::to_string(count) + " is not 1 to 30725");
        if (const int code = CheckRawLink(link, "a raw frame"))
            return code;
        CLumo_Net& net = link->net;
        if (link->session.Link().kind == LinkKind::Tcp) {
            net.m_Client.SetRecvMode(RECV_COUNT, kAckLength);
            net.Peltra_Senddata(0, const_cast<unsigned char*>(bytes), static_cast<unsigned int>(count));
            if (!link->messages.empty()) // the device link could not send it
                return Finish(link,
                              Fail(link, CTRL_LUMO_ERR_SYSTEM, link->name + ": the frame did not go out"));
        } else if (net.Senddata(bytes, static_cast<int>(count)) != static_cast<int>(count)) {
            return Finish(link, Fail(link, CTRL_LUMO_ERR_SYSTEM,
                                     link->name + ": the serial port did not take the frame"));
        }
        return Finish(link, CTRL_LUMO_OK);
    });
}

int ctrl_lumo_check_ack(ctrl_lumo_link* link, int limit_ms, int* status) {
    if (status)
        *status = 0;
    return Run(link, [&]() -> int {
        if (limit_ms < 1 || limit_ms > CTRL_LUMO_MAX_WAIT_MS)
            return Fail(link, CTRL_LUMO_ERR_ARGUMENT,
                        "limit_ms " + std::to_string(limit_ms) + " is not 1 to 60000");
        if (const int code = CheckRawLink(link, "the acknowledgement check"))
            return code;
        CLumo_Net& net = link->net;
        const bool tcp = link->session.Link().kind == LinkKind::Tcp;
        const int timeouts = net.m_TimeoutCounter;
        const int got = net.Check_Return(CHECK_ACK, tcp ? net.m_ConnectToPcID : 255, limit_ms);
        if (status)
            *status = got;
        if (got != 0)
            return Finish(link, CTRL_LUMO_OK);
        if (net.m_TimeoutCounter != timeouts)
            return Finish(
                link, Fail(link, CTRL_LUMO_ERR_TIMEOUT,
                           link->name + ": no acknowledgement within " + std::to_string(limit_ms) + " ms"));
        if (tcp && net.m_bConnected.load(std::memory_order_acquire) == 0)
            return Finish(link,
                          Fail(link, CTRL_LUMO_ERR_LINK_LOST, link->name + ": the module closed the link"));
        char text[96];
        std::snprintf(text, sizeof text,
                      ": not acknowledged (status byte 0x%02X, or no 00 FF 5A A5 before it)",
                      net.m_LastStatus);
        return Finish(link, Fail(link, CTRL_LUMO_ERR_NOT_ACKED, link->name + text));
    });
}

int ctrl_lumo_device_query(ctrl_lumo_link* link, int kind, unsigned char out[2]) {
    return Run(link, [&]() -> int {
        if (!out)
            return Fail(link, CTRL_LUMO_ERR_ARGUMENT, "out is NULL");
        if (kind < 0 || kind > 255)
            return Fail(link, CTRL_LUMO_ERR_ARGUMENT, "kind " + std::to_string(kind) + " is not 0 to 255");
        if (const int code = CheckRawLink(link, "the device query"))
            return code;
        const auto k = static_cast<unsigned char>(kind);
        const int code = link->session.Link().kind == LinkKind::Tcp ? DeviceQueryTcp(link, k, out)
                                                                    : DeviceQuerySerial(link, k, out);
        return Finish(link, code);
    });
}

int ctrl_lumo_clear_socket(ctrl_lumo_link* link, const char* address) {
    return Run(link, [&]() -> int {
        if (const int code = CheckAddress(link, address))
            return code;
        const uint32_t parts = *session::ParseDottedAddress(address);
        bool sent;
        {
            const std::lock_guard lock(g_ClearSocketMutex);
            sent = link->net.UDP_Clear_Socket(parts);
        }
        if (!sent)
            return Finish(link, Fail(link, CTRL_LUMO_ERR_SYSTEM,
                                     "the clear-socket datagrams did not go out (local port 60102 taken by "
                                     "another program, or no route to the broadcast address)"));
        return Finish(link, CTRL_LUMO_OK);
    });
}

int ctrl_lumo_get_info(ctrl_lumo_link* link, ctrl_lumo_info* info) {
    if (info)
        *info = ctrl_lumo_info{CTRL_LUMO_LINK_NONE, 0, -1, -1, 0, 0, ""};
    return Run(link, [&]() -> int {
        if (!info)
            return Fail(link, CTRL_LUMO_ERR_ARGUMENT, "info is NULL");
        const session::LinkRef& open = link->session.Link();
        if (open.kind == LinkKind::None)
            return Fail(link, CTRL_LUMO_ERR_NOT_OPEN, "no link is open");
        const session::ConnectOutcome& o = link->opened;
        info->kind = open.kind == LinkKind::Serial ? CTRL_LUMO_LINK_SERIAL
                     : open.kind == LinkKind::Tcp  ? CTRL_LUMO_LINK_TCP
                                                   : CTRL_LUMO_LINK_UDP;
        info->x_mode = open.xFrames ? 1 : 0;
        info->module_id = o.moduleId;
        info->style = o.style;
        info->mode_char = o.modeChar;
        info->prompt_seen = o.promptSeen ? 1 : 0;
        info->name = link->name.c_str();
        return CTRL_LUMO_OK;
    });
}

int ctrl_lumo_close(ctrl_lumo_link* link) {
    return Run(link, [&]() -> int {
        link->session.Disconnect();
        link->opened = {};
        link->name.clear();
        return Finish(link, CTRL_LUMO_OK);
    });
}

const char* ctrl_lumo_last_error(const ctrl_lumo_link* link) {
    switch (capi::StateOf(link)) {
    case capi::LinkState::Idle:
        return link->lastError.c_str();
    case capi::LinkState::InCall: // another thread's call: this thread's own refusal
        return capi::ThreadError();
    default:
        return *capi::ThreadError() ? capi::ThreadError() : "not a link";
    }
}

const char* ctrl_lumo_version(void) {
    return LUMO_VERSION;
}

} // extern "C"
