// Finding modules: each address gets what the console's TCP connect does
// (the connect to port 20036, here within a short bound, the greeting, the
// mode query of a style-17 module), optionally the device-information query
// "zh", and the console's disconnect. Addresses are probed on a runner's
// workers, each with its own device link. Blocks the calling thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "connect.h"
#include "runner.h"

namespace session {

inline constexpr int kScanConnectMs = 500; // a host that has not taken the connect by then is left
inline constexpr char16_t kInfoQuery[] = u"zh";

struct ScanOptions {
    int connectTimeoutMs = kScanConnectMs;
    bool xFrames = false; // the 17-byte X greeting (X frames carry no readable answer: no info)
    bool info = false;    // ask "zh" and keep its data line
};

// What one address answered.
struct ScanResult {
    uint32_t address = 0;
    bool found = false;       // a module greeted
    int id = -1;              // from the greeting
    int style = -1;           //
    uint8_t modeChar = 0;     // style 17: the mode query's answer ('z', ...); 0 when none came
    bool refused = false;     // a style-17 module that greeted but refused the link
    std::u16string info;      // with info: the device-information line; empty when none came
    long long connectUs = -1; // the TCP connect alone, in microseconds; -1 when it did not connect
    int osError = 0;          // why the connect failed (ECONNREFUSED, ETIMEDOUT, ECANCELED...), else 0
};

// Probes address on the calling thread and closes the link again. stop
// (may be null) cuts the connect and the session's waits short.
ScanResult ScanAddress(uint32_t address, const ScanOptions& options, const std::atomic<bool>* stop);

// Probes every address on runner's workers and hands each result, module or
// not, to each on the calling thread (in the order of addresses, or as
// found). Returns how many were handed over (fewer after runner.Stop()).
size_t Scan(Runner& runner, const std::vector<uint32_t>& addresses, const ScanOptions& options,
            const std::function<void(const ScanResult&)>& each, Delivery delivery);

} // namespace session
