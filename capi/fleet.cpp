// The C interface over many targets: a fleet reads its target texts as lumo
// does and runs the session's scan, or a link per target with its commands,
// on the session's runner.
#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "calls.h"
#include "ctrl_lumo_c.h"
#include "link_handle.h"
#include "link_tap.h"
#include "runner.h"
#include "scan.h"
#include "targets.h"
#include "utf8.h"

namespace {

constexpr int kScanJobs = 256;
constexpr int kRunJobs = 64;

// What became of one target; the strings stay put for the pointers handed out.
struct Target {
    std::string address;
    bool reached = false;
    int moduleId = -1, style = -1, modeChar = 0;
    std::string info, error;
    long long connectUs = -1;
    std::vector<session::SendResult> results;
};

} // namespace

struct ctrl_lumo_fleet {
    ctrl_lumo_fleet(std::vector<uint32_t> list, const ctrl_lumo_fleet_options& o)
        : addresses(std::move(list)), options(o), scanRunner(o.jobs ? o.jobs : kScanJobs),
          runRunner(o.jobs ? o.jobs : kRunJobs) {}

    const std::vector<uint32_t> addresses;
    const ctrl_lumo_fleet_options options;
    session::Runner scanRunner, runRunner;
    std::vector<Target> targets;
    std::string lastError;
    capi::ResultStore kept;
};

namespace {

// The live fleets and whether a thread is in a call on each.
struct Use {
    bool inCall = false;
    bool dying = false;
};
std::mutex g_Mutex;
std::condition_variable g_CallEnded;
std::unordered_map<const ctrl_lumo_fleet*, Use> g_Fleets;

// One call on a fleet (one thread at a time), as capi::Call is for a link.
class FleetCall {
public:
    explicit FleetCall(ctrl_lumo_fleet* fleet) : m_Fleet(fleet) {
        const std::lock_guard lock(g_Mutex);
        const auto it = g_Fleets.find(fleet);
        if (!fleet || it == g_Fleets.end() || it->second.dying) {
            capi::SetThreadError("not a fleet: the handle is NULL, was not made by ctrl_lumo_fleet_create or "
                                 "was destroyed");
            return;
        }
        if (it->second.inCall) {
            m_Code = CTRL_LUMO_ERR_BUSY;
            capi::SetThreadError("the fleet is in use by another thread");
            return;
        }
        it->second.inCall = true;
        m_Code = CTRL_LUMO_OK;
        fleet->lastError.clear();
    }
    ~FleetCall() {
        if (m_Code != CTRL_LUMO_OK)
            return;
        {
            const std::lock_guard lock(g_Mutex);
            g_Fleets.find(m_Fleet)->second.inCall = false;
        }
        g_CallEnded.notify_all();
    }
    FleetCall(const FleetCall&) = delete;
    FleetCall& operator=(const FleetCall&) = delete;
    int code() const { return m_Code; }

private:
    ctrl_lumo_fleet* m_Fleet;
    int m_Code = CTRL_LUMO_ERR_ARGUMENT;
};

template <class Body> int Run(ctrl_lumo_fleet* fleet, Body body) noexcept {
    return capi::RunCall<FleetCall>(fleet, body);
}

int Fail(ctrl_lumo_fleet* fleet, int code, std::string text) {
    fleet->lastError = std::move(text);
    return code;
}

const char* CheckOptions(const ctrl_lumo_fleet_options& o) {
    if (o.jobs < 0 || o.jobs > session::kMaxJobs)
        return "jobs is not 0 to 4096";
    if (o.connect_timeout_ms < 0 || o.connect_timeout_ms > CTRL_LUMO_MAX_WAIT_MS)
        return "connect_timeout_ms is not 0 to 60000";
    for (int flag : {o.udp, o.x_mode, o.info, o.pauses})
        if (flag != 0 && flag != 1)
            return "udp, x_mode, info and pauses are 0 or 1";
    if (o.udp && o.x_mode)
        return "x_mode goes with TCP links only";
    return nullptr;
}

// One target's link, its commands and its close, on a worker thread.
Target RunTarget(const ctrl_lumo_fleet& fleet, uint32_t address, const std::vector<std::u16string>& commands,
                 const std::atomic<bool>& stop) {
    Target t;
    t.address = session::DottedAddress(address);
    auto link = std::make_unique<ctrl_lumo_link>(); // not a handle of the program: nobody else sees it
    const capi::RouteScope route(&link->messages);
    link->pace.quick = fleet.options.pauses == 0;
    link->pace.cancel = &stop;
    if (fleet.options.connect_timeout_ms > 0)
        link->pace.connectLimitMs = fleet.options.connect_timeout_ms;
    link->session.SetPace(link->pace);
    if (capi::OpenIpLink(link.get(), t.address.c_str(), fleet.options.udp == 1, fleet.options.x_mode == 1) !=
        CTRL_LUMO_OK) {
        t.error = link->lastError;
        return t;
    }
    t.reached = true;
    t.moduleId = link->opened.moduleId;
    t.style = link->opened.style;
    t.modeChar = link->opened.modeChar;
    const bool tcp = fleet.options.udp == 0;
    for (const std::u16string& command : commands) {
        if (stop.load(std::memory_order_acquire))
            break;
        if (tcp && link->net.m_bConnected.load(std::memory_order_acquire) == 0) {
            t.error = link->name + ": the module closed the link";
            break; // every later command would wait out its bound for nothing
        }
        t.results.push_back(link->session.Send(command));
    }
    link->session.Disconnect();
    return t;
}

} // namespace

extern "C" {

ctrl_lumo_fleet* ctrl_lumo_fleet_create(const char* const* targets, size_t count,
                                        const ctrl_lumo_fleet_options* options) {
    try {
        const ctrl_lumo_fleet_options o = options ? *options : ctrl_lumo_fleet_options{};
        if (const char* bad = CheckOptions(o)) {
            capi::SetThreadError(bad);
            return nullptr;
        }
        if (!targets || count == 0) {
            capi::SetThreadError(!targets ? "targets is NULL" : "no targets given");
            return nullptr;
        }
        std::vector<std::string> texts;
        for (size_t i = 0; i < count; ++i) {
            if (!targets[i]) {
                capi::SetThreadError("a target is NULL");
                return nullptr;
            }
            texts.emplace_back(targets[i]);
        }
        session::TargetList list = session::ReadTargets(texts);
        if (!list.ok()) {
            capi::SetThreadError(list.error.c_str());
            return nullptr;
        }
        auto fleet = std::make_unique<ctrl_lumo_fleet>(std::move(list.addresses), o);
        fleet->targets.resize(fleet->addresses.size());
        for (size_t i = 0; i < fleet->addresses.size(); ++i)
            fleet->targets[i].address = session::DottedAddress(fleet->addresses[i]);
        const std::lock_guard lock(g_Mutex);
        g_Fleets.emplace(fleet.get(), Use{});
        return fleet.release();
    } catch (const std::exception&) {
        capi::SetThreadError("out of memory");
        return nullptr;
    }
}

void ctrl_lumo_fleet_destroy(ctrl_lumo_fleet* fleet) {
    if (!fleet)
        return;
    {
        std::unique_lock lock(g_Mutex);
        const auto it = g_Fleets.find(fleet);
        if (it == g_Fleets.end() || it->second.dying) {
            capi::SetThreadError(
                "not a fleet: the handle was not made by ctrl_lumo_fleet_create or was destroyed");
            return;
        }
        Use& use = it->second;
        use.dying = true;
        fleet->scanRunner.Stop(); // a run in progress ends soon
        fleet->runRunner.Stop();
        g_CallEnded.wait(lock, [&] { return !use.inCall; });
        g_Fleets.erase(fleet);
    }
    delete fleet;
}

size_t ctrl_lumo_fleet_size(const ctrl_lumo_fleet* fleet) {
    const std::lock_guard lock(g_Mutex);
    const auto it = g_Fleets.find(fleet);
    return it == g_Fleets.end() || it->second.dying ? 0 : fleet->addresses.size();
}

void ctrl_lumo_fleet_stop(ctrl_lumo_fleet* fleet) {
    const std::lock_guard lock(g_Mutex); // the fleet cannot go while we hold it
    const auto it = g_Fleets.find(fleet);
    if (it == g_Fleets.end())
        return;
    fleet->scanRunner.Stop();
    fleet->runRunner.Stop();
}

int ctrl_lumo_fleet_scan(ctrl_lumo_fleet* fleet) {
    return Run(fleet, [&]() -> int {
        session::ScanOptions o;
        if (fleet->options.connect_timeout_ms > 0)
            o.connectTimeoutMs = fleet->options.connect_timeout_ms;
        o.xFrames = fleet->options.x_mode == 1;
        o.info = fleet->options.info == 1;
        o.pauses = fleet->options.pauses == 1;
        session::Runner& runner = fleet->scanRunner;
        size_t found = 0;
        const size_t handed = session::RunEach<session::ScanResult>(
            runner, fleet->addresses.size(),
            [&](size_t i) {
                std::vector<std::string> boxes; // the device link's: the result says what failed
                const capi::RouteScope route(&boxes);
                return session::ScanAddress(fleet->addresses[i], o, &runner.StopFlag());
            },
            [&](size_t i, session::ScanResult&& r) {
                Target& t = fleet->targets[i];
                t = Target{};
                t.address = session::DottedAddress(r.address);
                t.reached = r.found;
                t.moduleId = r.id;
                t.style = r.style;
                t.modeChar = r.modeChar;
                t.info = lumo::ToUtf8(r.info);
                t.connectUs = r.connectUs;
                if (r.osError != 0)
                    t.error = t.address + ": " + lumo::ToUtf8(session::ReasonWords(r.osError));
                else if (!r.found)
                    t.error = t.address + ": no module greeted";
                found += r.found ? 1 : 0;
            },
            session::Delivery::AsFound);
        if (handed < fleet->addresses.size())
            return Fail(fleet, CTRL_LUMO_ERR_SYSTEM,
                        "stopped after " + std::to_string(handed) + " addresses");
        return found > 0 ? CTRL_LUMO_OK
                         : Fail(fleet, CTRL_LUMO_ERR_CONNECT,
                                "no module answered among " + std::to_string(handed) + " addresses");
    });
}

int ctrl_lumo_fleet_run(ctrl_lumo_fleet* fleet, const char* const* commands, size_t count) {
    return Run(fleet, [&]() -> int {
        if (!commands && count > 0)
            return Fail(fleet, CTRL_LUMO_ERR_ARGUMENT, "commands is NULL");
        std::vector<std::u16string> texts;
        for (size_t i = 0; i < count; ++i) {
            if (!commands[i])
                return Fail(fleet, CTRL_LUMO_ERR_ARGUMENT, "command " + std::to_string(i) + " is NULL");
            const size_t length = strnlen(commands[i], CTRL_LUMO_MAX_COMMAND_BYTES + 1);
            const std::optional<std::u16string> text =
                length > CTRL_LUMO_MAX_COMMAND_BYTES ? std::nullopt : lumo::FromUtf8({commands[i], length});
            if (!text)
                return Fail(fleet, CTRL_LUMO_ERR_ARGUMENT,
                            "command " + std::to_string(i) + " is not UTF-8 text of at most 8192 bytes");
            texts.push_back(*text);
        }
        session::Runner& runner = fleet->runRunner;
        size_t unreachable = 0;
        const size_t handed = session::RunEach<Target>(
            runner, fleet->addresses.size(),
            [&](size_t i) { return RunTarget(*fleet, fleet->addresses[i], texts, runner.StopFlag()); },
            [&](size_t i, Target&& t) {
                unreachable += t.reached ? 0 : 1;
                fleet->targets[i] = std::move(t);
            },
            session::Delivery::AsFound);
        if (handed < fleet->addresses.size())
            return Fail(fleet, CTRL_LUMO_ERR_SYSTEM, "stopped after " + std::to_string(handed) + " targets");
        if (unreachable > 0)
            return Fail(fleet, CTRL_LUMO_ERR_CONNECT,
                        std::to_string(unreachable) + " of " + std::to_string(handed) +
                            " links did not open (each target's error says why)");
        return CTRL_LUMO_OK;
    });
}

int ctrl_lumo_fleet_target(ctrl_lumo_fleet* fleet, size_t index, ctrl_lumo_target* target) {
    return Run(fleet, [&]() -> int {
        if (!target)
            return Fail(fleet, CTRL_LUMO_ERR_ARGUMENT, "target is NULL");
        if (index >= fleet->targets.size())
            return Fail(fleet, CTRL_LUMO_ERR_ARGUMENT,
                        "index " + std::to_string(index) + " is beyond the " +
                            std::to_string(fleet->targets.size()) + " targets");
        const Target& t = fleet->targets[index];
        target->address = t.address.c_str();
        target->reached = t.reached ? 1 : 0;
        target->module_id = t.moduleId;
        target->style = t.style;
        target->mode_char = t.modeChar;
        target->info = t.info.c_str();
        target->connect_us =
            t.connectUs < 0 ? -1 : static_cast<int>(std::min<long long>(t.connectUs, INT32_MAX));
        target->error = t.error.c_str();
        target->results = t.results.size();
        return CTRL_LUMO_OK;
    });
}

int ctrl_lumo_fleet_result(ctrl_lumo_fleet* fleet, size_t index, size_t command, ctrl_lumo_result* result) {
    if (result)
        capi::ClearResult(result);
    return Run(fleet, [&]() -> int {
        if (!result)
            return Fail(fleet, CTRL_LUMO_ERR_ARGUMENT, "result is NULL");
        if (index >= fleet->targets.size() || command >= fleet->targets[index].results.size())
            return Fail(fleet, CTRL_LUMO_ERR_ARGUMENT,
                        "no result " + std::to_string(command) + " for target " + std::to_string(index));
        capi::FillResult(fleet->kept, fleet->targets[index].results[command], result);
        return CTRL_LUMO_OK;
    });
}

const char* ctrl_lumo_fleet_last_error(const ctrl_lumo_fleet* fleet) {
    const std::lock_guard lock(g_Mutex);
    const auto it = g_Fleets.find(fleet);
    if (it == g_Fleets.end() || it->second.dying)
        return "not a fleet";
    return it->second.inCall ? "the fleet is in use by another thread" : fleet->lastError.c_str();
}

} // extern "C"
