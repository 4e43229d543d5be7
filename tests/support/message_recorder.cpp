#include "message_recorder.h"

#include <condition_variable>
#include <mutex>

namespace lumo_test {

struct MessageRecorder::State {
    mutable std::mutex mutex;
    mutable std::condition_variable changed;
    std::vector<RecordedMessage> messages;
};

MessageRecorder::MessageRecorder() : m_State(std::make_shared<State>()) {
    std::shared_ptr<State> state = m_State;
    m_Previous = ExchangeLumoMessageSink([state](const std::wstring& text, const std::wstring& caption) {
        {
            std::lock_guard lock(state->mutex);
            state->messages.push_back({text, caption});
        }
        state->changed.notify_all();
    });
}

MessageRecorder::~MessageRecorder() {
    ExchangeLumoMessageSink(std::move(m_Previous));
}

size_t MessageRecorder::Count() const {
    std::lock_guard lock(m_State->mutex);
    return m_State->messages.size();
}

std::vector<RecordedMessage> MessageRecorder::Messages() const {
    std::lock_guard lock(m_State->mutex);
    return m_State->messages;
}

bool MessageRecorder::WaitForCount(size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(m_State->mutex);
    return m_State->changed.wait_for(lock, timeout, [&] { return m_State->messages.size() >= count; });
}

void MessageRecorder::Clear() {
    std::lock_guard lock(m_State->mutex);
    m_State->messages.clear();
}

} // namespace lumo_test
