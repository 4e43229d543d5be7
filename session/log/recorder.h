// The session log's recorder: one per front end. It listens to the device
// link's tap and takes the session's own events (connect outcomes, Sends,
// boxes, tests), turns each into a Record with its times, writes it to the
// log file at once and keeps it for the front end to take.
//
// Threads: every call may come from any thread (the device link reports from
// the receive thread too); records are numbered and written in one order
// under one lock. With no file and no collecting, a report returns at once.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include <ctrl_lumo/lumo_tap.h>

#include "connect.h"
#include "link.h"
#include "log_file.h"
#include "send.h"
#include "session_record.h"

namespace session {

class LinkTap;

inline constexpr size_t kRecordsWaitingCap = 100000;

// What the recorder knows of the link now open, for a window's header.
struct LinkState {
    bool open = false;
    LinkKind kind = LinkKind::None;
    std::string name;  // UTF-8 "TCP 10.0.0.5:20036", "COM1 /dev/ttyS0"
    int moduleId = -1; // from the greeting, -1 when unknown
    int style = -1;
    int modeChar = -1;    // style 17: the mode character, else -1
    bool lost = false;    // the receive thread saw the link drop
    uint64_t version = 0; // changes whenever anything above does
};

class Recorder {
public:
    // Listens to tap's records from now on (tap must have no link open).
    explicit Recorder(LinkTap& tap);
    // A recorder fed only through Tap() (bench programs, tests).
    Recorder();
    // Stops recording; the tap's listener then drops what it still reports.
    ~Recorder();
    Recorder(const Recorder&) = delete;
    Recorder& operator=(const Recorder&) = delete;

    // ---- where records go ----
    // Every record from now on is also written to file (nullptr: to none),
    // on the reporting thread. Returns the file that was in use.
    std::unique_ptr<LogFile> SetFile(std::unique_ptr<LogFile> file);
    // The file's path and the errno that stopped it (0 while it works); empty path when none.
    std::string FilePath() const;
    int FileError() const;
    // Keeps records for Take(), at most `cap` waiting (the oldest drop first).
    void SetCollecting(bool on, size_t cap = kRecordsWaitingCap);
    // Called on the reporting thread, under the recorder's lock, when a record
    // waits and none waited before: it must only schedule a Take() (post an
    // event), never call back into the recorder.
    void SetWake(std::function<void()> wake);
    // Moves the waiting records, oldest first, to the end of out; returns how
    // many waiting records were dropped over the cap since the last Take().
    uint64_t Take(std::vector<Record>& out);
    LinkState State() const;

    // ---- what is recorded ----
    // A record of the device link's tap (the LinkTap listener calls it).
    void Tap(const LumoTapRecord& r);
    // The end of a connect sequence: for the serial port whether the prompt
    // came, then the link open with its module, or why it is not.
    void ConnectDone(const ConnectOutcome& outcome);
    // The front end is about to take the link down: "disconnect" or "close".
    void Disconnecting(bool closingProgram);
    // One Send as a transaction.
    void SendDone(const SendResult& result);
    // A message box the front end shows (the device link's own come through the tap).
    void Box(std::u16string_view text, std::u16string_view caption);
    // The test timer or the automatic test started or stopped: words as they are to be read.
    void Test(std::string_view words);

private:
    struct Core;
    std::shared_ptr<Core> m_Core;
};

// The words for a Send's outcome: "answered", "timed out", ...
const char* OutcomeWords(SendOutcome outcome);

} // namespace session
