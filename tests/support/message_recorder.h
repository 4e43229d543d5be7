// Records what the device link shows through its message sink.
#pragma once

#include "lumo_net.h"

#include <chrono>
#include <memory>
#include <string>
#include <vector>

namespace lumo_test {

struct RecordedMessage {
    std::wstring text;
    std::wstring caption;
};

// Installs a recording sink for its lifetime and puts the previous sink back
// on destruction. Safe to use while the receive thread shows messages.
class MessageRecorder {
public:
    MessageRecorder();
    ~MessageRecorder();
    MessageRecorder(const MessageRecorder&) = delete;
    MessageRecorder& operator=(const MessageRecorder&) = delete;

    size_t Count() const;
    std::vector<RecordedMessage> Messages() const;
    // Blocks until at least `count` messages were recorded; false on time-out.
    bool WaitForCount(size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(5)) const;
    void Clear();

private:
    struct State;
    std::shared_ptr<State> m_State; // shared with the sink, so a late call never dangles
    LumoMessageSink m_Previous;
};

} // namespace lumo_test
