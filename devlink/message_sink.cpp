// The process-wide stand-in for the device link's message boxes; where a box
// goes without one is the platform's (posix_message_box.h).
#include "lumo_net.h"
#include "posix_message_box.h"
#include "utf8.h"

#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <utility>

namespace {

// Guards the sink variable only. A call runs outside the lock on its own
// reference to the sink, so a sink may show a modal box (which runs an event
// loop) while another thread shows a message, and replacing the sink never
// waits for a box to close. A replaced sink may therefore still be finishing
// a call on another thread: sinks keep what they capture alive by value.
std::mutex g_SinkMutex;
std::shared_ptr<const LumoMessageSink> g_Sink;

} // namespace

void lumo::WriteMessageToStderr(const std::wstring& text, const std::wstring& caption) {
    const std::string line = lumo::ToUtf8(caption) + ": " + lumo::ToUtf8(text) + "\n";
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
}

void SetLumoMessageSink(LumoMessageSink sink) {
    ExchangeLumoMessageSink(std::move(sink));
}

LumoMessageSink ExchangeLumoMessageSink(LumoMessageSink sink) {
    auto fresh = sink ? std::make_shared<const LumoMessageSink>(std::move(sink)) : nullptr;
    std::shared_ptr<const LumoMessageSink> old;
    {
        std::lock_guard lock(g_SinkMutex);
        old = std::exchange(g_Sink, std::move(fresh));
    }
    return old ? *old : LumoMessageSink();
}

void LumoShowMessage(const std::wstring& text, const std::wstring& caption) {
    std::shared_ptr<const LumoMessageSink> sink;
    {
        std::lock_guard lock(g_SinkMutex);
        sink = g_Sink;
    }
    if (sink)
        (*sink)(text, caption);
    else
        lumo::ShowDefaultMessage(text, caption);
}
