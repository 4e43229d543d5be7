#include "scan.h"

#include <chrono>
#include <memory>

#include "lumo_net.h"
#include "session.h"
#include "targets.h"

namespace session {

namespace {

using Clock = std::chrono::steady_clock;

// When the device link started the connect and saw it taken (caller's thread).
struct ConnectTimes {
    Clock::time_point started, connected;
    bool done = false;
};

} // namespace

ScanResult ScanAddress(uint32_t address, const ScanOptions& options, const std::atomic<bool>* stop) {
    ScanResult r;
    r.address = address;
    CLumo_Net net;
    // a module that resets the link is no message box: the notice goes nowhere
    net.m_hOwnerWnd = [](unsigned, uintptr_t, intptr_t) {};
    RunnerFrontEnd front(stop);
    Session session(net, front);
    lumo::LinkPace pace;
    pace.connectLimitMs = options.connectTimeoutMs;
    pace.cancel = stop;
    session.SetPace(pace);
    auto times = std::make_shared<ConnectTimes>();
    session.Tap().SetListener([times](const LumoTapRecord& rec) {
        if (rec.kind != LumoTapKind::Event)
            return;
        if (rec.event == LumoTapEvent::ConnectStarted) {
            times->started = Clock::now();
        } else if (rec.event == LumoTapEvent::Connected) {
            times->connected = Clock::now();
            times->done = true;
        }
    });

    const std::string dotted = DottedAddress(address);
    const ConnectOutcome o = session.OpenTcp(std::u16string(dotted.begin(), dotted.end()), options.xFrames);
    if (times->done)
        r.connectUs =
            std::chrono::duration_cast<std::chrono::microseconds>(times->connected - times->started).count();
    r.osError = o.osError;
    r.found = o.moduleId >= 0;
    r.id = o.moduleId;
    r.style = o.style;
    r.modeChar = o.modeChar;
    r.refused = o.status == ConnectStatus::Style17Refused;
    if (o.ok() && options.info && !front.Stopping()) {
        const SendResult answer = session.Send(kInfoQuery);
        if (answer.boxText)
            r.info = *answer.boxText;
    }
    session.Disconnect();
    return r;
}

size_t Scan(Runner& runner, const std::vector<uint32_t>& addresses, const ScanOptions& options,
            const std::function<void(const ScanResult&)>& each, Delivery delivery) {
    return RunEach<ScanResult>(
        runner, addresses.size(),
        [&](size_t i) { return ScanAddress(addresses[i], options, &runner.StopFlag()); },
        [&](size_t, ScanResult&& r) { each(r); }, delivery);
}

} // namespace session
