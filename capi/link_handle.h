// What a ctrl_lumo_link holds: one device link, the session that runs the
// console's sequences on it, and the storage behind the pointers a call
// hands out (valid until the next call on the same link).
#pragma once

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "ctrl_lumo_c.h"
#include "front_end.h"
#include "lumo_net.h"
#include "send.h"
#include "session.h"

namespace capi {

// Nobody watches: status line and boxes are in the result, pauses are real.
class QuietFront final : public session::FrontEnd {
public:
    void ShowStatus(const std::u16string&) override {}
    void ShowBox(const std::u16string&, const std::u16string&, session::BoxIcon) override {}
    void Sleep(int ms) override { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }
    void BeginBusy() override {}
    void EndBusy() override {}
    void TraceCommand(const std::string&) override {}
};

// Behind the pointers of the ctrl_lumo_results handed out for one link or
// one fleet target (valid until the next call).
struct ResultStore {
    std::string status, data, caption;
    std::vector<unsigned char> answer, sent;
};

// Empties *r: no outcome, "" and no bytes.
void ClearResult(ctrl_lumo_result* r);
// Keeps r in store and points out at it.
void FillResult(ResultStore& store, const session::SendResult& r, ctrl_lumo_result* out);

// Serial bytes the device link read while a call watches (the device query).
struct SerialCapture {
    std::atomic<bool> on{false};
    std::vector<unsigned char> bytes; // written on the caller's thread only
};

} // namespace capi

struct ctrl_lumo_link {
    ctrl_lumo_link();

    // Declared before the link so that they outlive it: closing the link
    // may still report a message or a serial read.
    std::string lastError;
    std::vector<std::string> messages; // the device link's boxes during the current call
    capi::SerialCapture capture;

    CLumo_Net net;
    capi::QuietFront front;
    session::Session session{net, front};
    // A quick link unless ctrl_lumo_set_pauses asked for the console's pauses.
    lumo::LinkPace pace;

    // what the open link is
    session::ConnectOutcome opened;
    std::string name; // UTF-8 link name (the device path for a serial path)

    // behind the pointers of the last ctrl_lumo_result
    capi::ResultStore kept;
};

namespace capi {

// Opens a TCP (x_mode) or UDP link to the dotted address on link's session;
// CTRL_LUMO_OK, or a code with the reason in link->lastError.
int OpenIpLink(ctrl_lumo_link* link, const char* address, bool udp, bool xMode);

} // namespace capi
