// One poll of one module for lumo watch and the exporter: the TCP module link
// opens, the signal query "zs" goes out and, when asked, the
// device-information query "zh", and the link closes as the console's
// Disconnect does. Blocks for the link's waits; the calling thread only.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>

namespace lumo_cli {

inline constexpr char16_t kSignalQuery[] = u"zs";
inline constexpr int kWatchConnectMs = 2000; // a poll's TCP connect bound unless --connect-timeout

// What one poll found.
struct ModulePoll {
    bool up = false;         // the link opened and "zs" was answered
    std::string reason;      // when down: a short word ("refused", "no_greeting", "no_answer"...)
    std::string message;     // when down: what went wrong, in words ("timed out: no greeting from the module")
    int id = -1, style = -1; // from the greeting; -1 when none came
    std::string signal;      // the data line of "zs" (one line, UTF-8)
    bool infoAsked = false;
    std::string info;           // the data line of "zh" when asked and answered
    long long roundTripUs = -1; // of "zs": send to answer, in microseconds
};

// Polls the module at the dotted address. stop (may be null) cuts the waits
// short; connectTimeoutMs bounds the TCP connect.
ModulePoll PollModule(const std::string& address, bool askInfo, const std::atomic<bool>* stop,
                      int connectTimeoutMs);

// The version in a device-information line ("Device ID 1 Style 17 Ver 1.00"
// gives "1.00"); empty when it names none.
std::string InfoVersion(const std::string& info);

} // namespace lumo_cli
