#include "recorder.h"

#include <algorithm>
#include <cerrno>

#include "link_tap.h"
#include "utf8.h"

namespace session {

namespace {

using SteadyClock = std::chrono::steady_clock;

int64_t wallNowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

LinkKind kindOf(LumoTapLink link) {
    switch (link) {
    case LumoTapLink::Serial:
        return LinkKind::Serial;
    case LumoTapLink::Tcp:
        return LinkKind::Tcp;
    case LumoTapLink::Udp:
        return LinkKind::Udp;
    default:
        return LinkKind::None;
    }
}

std::string reason(int osError) {
    return lumo::ToUtf8(ReasonWords(osError));
}

std::string modeCharWords(int modeChar) {
    if (modeChar >= 0x21 && modeChar < 0x7F)
        return std::string(1, static_cast<char>(modeChar));
    return "0x" + HexBytes(std::vector<uint8_t>{static_cast<uint8_t>(modeChar)});
}

// "module ID 5 style 17", with " mode z" when a mode character is known.
std::string moduleWords(int id, int style, int modeChar) {
    std::string w = "module ID " + std::to_string(id) + " style " + std::to_string(style);
    if (modeChar > 0)
        w += " mode " + modeCharWords(modeChar);
    return w;
}

const char* statusWords(ConnectStatus status) {
    switch (status) {
    case ConnectStatus::Open:
        return "open";
    case ConnectStatus::PortNotOpened:
        return "the port did not open";
    case ConnectStatus::TcpFailed:
        return "no link to the module";
    case ConnectStatus::ToldByDeviceLink:
        return "the module's greeting was refused";
    case ConnectStatus::Style17Refused:
        return "the module refused the link (style 17)";
    case ConnectStatus::UdpNotConnected:
        return "the datagram socket could not be aimed at the module";
    case ConnectStatus::UdpTimeoutNotSet:
        return "the receive time-out could not be set";
    }
    return "not open";
}

bool startsWith(const std::string& s, const std::string& prefix) {
    return s.compare(0, prefix.size(), prefix) == 0;
}

// How link names of a kind begin: "COM1 ...", "TCP a:p", "UDP a:p".
std::string kindPrefix(LinkKind kind) {
    switch (kind) {
    case LinkKind::Serial:
        return "COM";
    case LinkKind::Tcp:
        return "TCP ";
    case LinkKind::Udp:
        return "UDP ";
    default:
        return std::string(1, '\0'); // begins no name
    }
}

// The link a progress text names by its prefix ("IP10.0.0.5 ...", "COM1 ..."):
// "TCP 10.0.0.5", "COM1"; empty when it names none.
std::string progressLink(const std::string& text) {
    const size_t space = text.find(' ');
    if (space == std::string::npos)
        return {};
    if (startsWith(text, "IP"))
        return "TCP " + text.substr(2, space - 2);
    if (startsWith(text, "COM"))
        return text.substr(0, space);
    return {};
}

// What a link event says, as a session record without its link; false for none.
bool describeEvent(const LumoTapRecord& t, Record& r) {
    r.kind = RecordKind::Link;
    switch (t.event) {
    case LumoTapEvent::ConnectStarted:
        r.text = "connect started";
        return true;
    case LumoTapEvent::Connected:
        r.text = "connected";
        return true;
    case LumoTapEvent::ConnectFailed:
        r.text = t.error != 0 ? "connect failed: " + reason(t.error) : "connect failed";
        r.flags |= kRecordFailure;
        return true;
    case LumoTapEvent::Greeting:
        r.text = moduleWords(t.id, t.style, -1);
        if (t.socketId >= 0)
            r.text += " socket " + std::to_string(t.socketId);
        return true;
    case LumoTapEvent::ModeChar:
        r.text = "mode character " + modeCharWords(t.modeChar);
        return true;
    case LumoTapEvent::LinkLost:
        r.text = t.error == 0            ? "link lost: closed by the module"
                 : t.error == ECONNRESET ? "link lost: reset by the module"
                                         : "link lost: " + reason(t.error);
        r.flags |= kRecordLost;
        return true;
    case LumoTapEvent::Closed:
        r.text = "closed";
        return true;
    case LumoTapEvent::None:
        break;
    }
    return false;
}

// What a tap record says, as a session record without its link (the link
// state names it); false when it says nothing to record.
bool describeTap(const LumoTapRecord& t, Record& r) {
    switch (t.kind) {
    case LumoTapKind::Sent:
    case LumoTapKind::Received:
        r.kind = t.kind == LumoTapKind::Sent ? RecordKind::Tx : RecordKind::Rx;
        if (t.bytes && t.size > 0)
            r.bytes.assign(t.bytes, t.bytes + t.size);
        if (t.error != 0) {
            r.note = "send failed: " + reason(t.error);
            r.flags |= kRecordFailure;
        }
        return true;
    case LumoTapKind::Progress:
        r.kind = RecordKind::Progress;
        r.text = lumo::ToUtf8(t.text);
        return true;
    case LumoTapKind::Box:
        r.kind = RecordKind::Box;
        r.text = lumo::ToUtf8(t.text);
        r.note = lumo::ToUtf8(t.caption);
        return true;
    case LumoTapKind::Event:
        return describeEvent(t, r);
    }
    return false;
}

} // namespace

const char* OutcomeWords(SendOutcome outcome) {
    switch (outcome) {
    case SendOutcome::Answered:
        return "answered";
    case SendOutcome::AckedSilently:
        return "acknowledged silently";
    case SendOutcome::TimedOut:
        return "timed out";
    case SendOutcome::RefusedTooLong:
        return "refused as too long";
    case SendOutcome::NotRead:
        return "sent, answer not read";
    case SendOutcome::NoLink:
        return "no link open: nothing sent";
    }
    return "?";
}

struct Recorder::Core {
    std::atomic<bool> listening{false};
    mutable std::mutex mutex;
    // ---- guarded by mutex ----
    std::unique_ptr<LogFile> file;
    bool collecting = false;
    size_t cap = kRecordsWaitingCap;
    std::deque<Record> waiting;
    uint64_t dropped = 0;
    std::function<void()> wake;
    uint64_t seq = 0;
    LinkState state;
    bool hasOpened = false;
    bool closeAfter = false; // set by a Closed record's effect
    SteadyClock::time_point openedAt;
    std::string current;                          // the link of the last connect attempt
    bool attempt = false;                         // a connect attempt has started and not ended
    std::string serialWhere;                      // "COM1 /dev/ttyS0" of the last serial attempt
    int moduleId = -1, style = -1, modeChar = -1; // learnt since the last connect started
    // cache of the last wide link name and its UTF-8 form
    std::wstring lastWhere;
    std::string lastWhere8;

    void updateListening() { listening.store(file != nullptr || collecting, std::memory_order_relaxed); }

    void touch() { ++state.version; }

    // The link of a record that names none: the open link, else the one being connected.
    std::string linkOfNow() const {
        if (state.open)
            return state.name;
        return attempt ? current : std::string();
    }

    // A front end's link name ("COM1", "TCP a:20036") as the tap names it ("COM1 /dev/ttyS0").
    std::string resolve(const std::string& name) const {
        // one link is open at a time: a name of its kind means it
        if (state.open && startsWith(name, kindPrefix(state.kind)))
            return state.name;
        if (!serialWhere.empty() && startsWith(serialWhere, name + " "))
            return serialWhere;
        return name;
    }

    std::string where8(std::wstring_view where) {
        if (where != lastWhere) {
            lastWhere.assign(where);
            lastWhere8 = lumo::ToUtf8(where);
        }
        return lastWhere8;
    }

    // Numbers, times, writes and keeps r; effect(r) runs first, under the lock,
    // to update the link state and fill in what depends on it.
    template <typename Effect> void commit(Record&& r, Effect effect) {
        const std::lock_guard<std::mutex> lock(mutex);
        if (!listening.load(std::memory_order_relaxed))
            return;
        // stamped in the order the records are numbered
        const SteadyClock::time_point now = SteadyClock::now();
        r.wallMs = wallNowMs();
        effect(r);
        r.seq = ++seq;
        if (hasOpened) // a link that opened within effect() counts from 0
            r.sinceOpenMs = std::max<int64_t>(
                0, std::chrono::duration_cast<std::chrono::milliseconds>(now - openedAt).count());
        if (closeAfter) { // the Closed record itself still counts from the opening
            closeAfter = false;
            hasOpened = false;
        }
        if (file)
            file->WriteRecord(r);
        if (!collecting)
            return;
        const bool wasEmpty = waiting.empty();
        while (waiting.size() >= cap && !waiting.empty()) {
            waiting.pop_front();
            ++dropped;
        }
        waiting.push_back(std::move(r));
        if (wasEmpty && wake)
            wake();
    }

    // A record of the device link's tap: describeTap says what it is,
    // followTap (under the lock) names its link and follows the link state.
    void tap(const LumoTapRecord& t);
    void followTap(const LumoTapRecord& t, Record& rec);
    void followEvent(const LumoTapRecord& t, Record& rec);
};

void Recorder::Core::tap(const LumoTapRecord& t) {
    if (!listening.load(std::memory_order_relaxed))
        return;
    Record r;
    if (describeTap(t, r))
        commit(std::move(r), [this, &t](Record& rec) { followTap(t, rec); });
}

void Recorder::Core::followTap(const LumoTapRecord& t, Record& rec) {
    if (t.kind == LumoTapKind::Sent || t.kind == LumoTapKind::Received) {
        // the datagram socket stays aimed where it was opened, whatever the address field shows now
        const bool udpOpen = t.link == LumoTapLink::Udp && state.open && state.kind == LinkKind::Udp;
        rec.link = udpOpen ? state.name : where8(t.where);
        return;
    }
    rec.link = t.where.empty() ? linkOfNow() : where8(t.where);
    if (t.kind == LumoTapKind::Progress &&
        rec.link.empty()) // a connect's first text comes before its link is named
        rec.link = progressLink(rec.text);
    if (t.kind == LumoTapKind::Event)
        followEvent(t, rec);
}

void Recorder::Core::followEvent(const LumoTapRecord& t, Record& rec) {
    switch (t.event) {
    case LumoTapEvent::ConnectStarted:
        current = rec.link;
        attempt = true;
        if (t.link == LumoTapLink::Serial)
            serialWhere = rec.link;
        moduleId = style = modeChar = -1; // a UDP link learns its module from the probe that follows
        break;
    case LumoTapEvent::Connected:
        state.open = true;
        state.kind = kindOf(t.link);
        state.name = rec.link;
        state.lost = false;
        state.moduleId = t.link == LumoTapLink::Udp ? moduleId : -1;
        state.style = t.link == LumoTapLink::Udp ? style : -1;
        state.modeChar = t.link == LumoTapLink::Udp ? modeChar : -1;
        current = rec.link;
        hasOpened = true;
        openedAt = SteadyClock::now();
        touch();
        break;
    case LumoTapEvent::Greeting:
        moduleId = state.moduleId = t.id;
        style = state.style = t.style;
        touch();
        break;
    case LumoTapEvent::ModeChar:
        modeChar = state.modeChar = t.modeChar;
        touch();
        break;
    case LumoTapEvent::LinkLost:
        if (state.open && state.kind == kindOf(t.link)) {
            state.lost = true;
            touch();
        }
        break;
    case LumoTapEvent::Closed:
        if (state.open && state.kind == kindOf(t.link)) {
            rec.link = state.name;
            const uint64_t version = state.version + 1;
            state = LinkState{};
            state.version = version;
            closeAfter = true;
        }
        break;
    default:
        break;
    }
}

Recorder::Recorder() : m_Core(std::make_shared<Core>()) {}

Recorder::Recorder(LinkTap& tap) : Recorder() {
    tap.SetListener([core = m_Core](const LumoTapRecord& r) { core->tap(r); });
}

Recorder::~Recorder() {
    std::unique_ptr<LogFile> file;
    {
        const std::lock_guard<std::mutex> lock(m_Core->mutex);
        file = std::move(m_Core->file);
        m_Core->collecting = false;
        m_Core->wake = nullptr;
        m_Core->waiting.clear();
        m_Core->updateListening();
    }
}

std::unique_ptr<LogFile> Recorder::SetFile(std::unique_ptr<LogFile> file) {
    const std::lock_guard<std::mutex> lock(m_Core->mutex);
    std::swap(file, m_Core->file);
    m_Core->updateListening();
    return file;
}

std::string Recorder::FilePath() const {
    const std::lock_guard<std::mutex> lock(m_Core->mutex);
    return m_Core->file ? m_Core->file->Path() : std::string();
}

int Recorder::FileError() const {
    const std::lock_guard<std::mutex> lock(m_Core->mutex);
    return m_Core->file ? m_Core->file->Error() : 0;
}

void Recorder::SetCollecting(bool on, size_t cap) {
    const std::lock_guard<std::mutex> lock(m_Core->mutex);
    m_Core->collecting = on;
    m_Core->cap = cap > 0 ? cap : 1;
    if (!on)
        m_Core->waiting.clear();
    m_Core->updateListening();
}

void Recorder::SetWake(std::function<void()> wake) {
    const std::lock_guard<std::mutex> lock(m_Core->mutex);
    m_Core->wake = std::move(wake);
}

uint64_t Recorder::Take(std::vector<Record>& out) {
    const std::lock_guard<std::mutex> lock(m_Core->mutex);
    out.reserve(out.size() + m_Core->waiting.size());
    for (Record& r : m_Core->waiting)
        out.push_back(std::move(r));
    m_Core->waiting.clear();
    const uint64_t dropped = m_Core->dropped;
    m_Core->dropped = 0;
    return dropped;
}

LinkState Recorder::State() const {
    const std::lock_guard<std::mutex> lock(m_Core->mutex);
    return m_Core->state;
}

void Recorder::Tap(const LumoTapRecord& r) {
    m_Core->tap(r);
}

void Recorder::ConnectDone(const ConnectOutcome& outcome) {
    Core& c = *m_Core;
    if (!c.listening.load(std::memory_order_relaxed))
        return;
    const std::string name = lumo::ToUtf8(outcome.name);
    if (outcome.kind == LinkKind::Serial && outcome.ok()) {
        Record prompt;
        prompt.kind = RecordKind::Link;
        if (!outcome.promptSeen)
            prompt.flags |= kRecordFailure;
        c.commit(std::move(prompt), [&c, &name, &outcome](Record& rec) {
            rec.link = c.resolve(name);
            const size_t space = rec.link.find(' ');
            const std::string device = space == std::string::npos ? rec.link : rec.link.substr(space + 1);
            rec.text = outcome.promptSeen
                           ? "prompt seen"
                           : "no prompt after 15 attempts: is anything attached to " + device + "?";
        });
    }
    Record r;
    r.kind = RecordKind::Link;
    if (outcome.ok()) {
        r.text = "open";
        if (outcome.kind != LinkKind::Serial && outcome.moduleId >= 0)
            r.text += ": " + moduleWords(outcome.moduleId, outcome.style, outcome.modeChar);
    } else {
        r.text = std::string("not open: ") + statusWords(outcome.status);
        if (outcome.osError != 0)
            r.text += " (" + reason(outcome.osError) + ")";
        r.flags |= kRecordFailure;
    }
    c.commit(std::move(r), [&c, &name, &outcome](Record& rec) {
        rec.link = c.resolve(name);
        c.attempt = false;
        if (outcome.ok() && c.state.open && c.state.name == rec.link && outcome.moduleId >= 0) {
            c.state.moduleId = outcome.moduleId;
            c.state.style = outcome.style;
            c.state.modeChar = outcome.modeChar != 0 ? outcome.modeChar : -1;
            c.touch();
        }
    });
}

void Recorder::Disconnecting(bool closingProgram) {
    Core& c = *m_Core;
    if (!c.listening.load(std::memory_order_relaxed))
        return;
    Record r;
    r.kind = RecordKind::Link;
    r.text = closingProgram ? "close" : "disconnect";
    c.commit(std::move(r), [&c](Record& rec) { rec.link = c.linkOfNow(); });
}

void Recorder::SendDone(const SendResult& result) {
    Core& c = *m_Core;
    if (!c.listening.load(std::memory_order_relaxed))
        return;
    Record r;
    r.kind = RecordKind::Send;
    r.text = lumo::ToUtf8(result.command);
    r.bytes = result.sent;
    r.answer = result.answer;
    r.note = OutcomeWords(result.outcome);
    if (result.roundTripUs >= 0)
        r.note += " in " + RoundTripMs(result.roundTripUs) + " ms";
    if (result.status)
        r.note += "; status " + Quoted(lumo::ToUtf8(*result.status));
    if (result.boxText)
        r.note +=
            "; box " + Quoted(lumo::ToUtf8(result.boxCaption)) + " " + Quoted(lumo::ToUtf8(*result.boxText));
    if (result.warnedLong)
        r.note += "; warned: longer than 100 characters";
    if (result.outcome == SendOutcome::TimedOut || result.outcome == SendOutcome::RefusedTooLong)
        r.flags |= kRecordFailure;
    const std::string link = lumo::ToUtf8(result.link);
    c.commit(std::move(r), [&c, &link](Record& rec) { rec.link = link.empty() ? link : c.resolve(link); });
}

void Recorder::Box(std::u16string_view text, std::u16string_view caption) {
    Core& c = *m_Core;
    if (!c.listening.load(std::memory_order_relaxed))
        return;
    Record r;
    r.kind = RecordKind::Box;
    r.text = lumo::ToUtf8(text);
    r.note = lumo::ToUtf8(caption);
    c.commit(std::move(r), [&c](Record& rec) { rec.link = c.linkOfNow(); });
}

void Recorder::Test(std::string_view words) {
    Core& c = *m_Core;
    if (!c.listening.load(std::memory_order_relaxed))
        return;
    Record r;
    r.kind = RecordKind::Test;
    r.text.assign(words);
    c.commit(std::move(r), [&c](Record& rec) { rec.link = c.linkOfNow(); });
}

} // namespace session
