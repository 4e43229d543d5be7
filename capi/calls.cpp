#include "calls.h"

#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <unordered_map>

#include "link_handle.h"
#include "lumo_net.h"
#include "utf8.h"

namespace capi {

namespace {

// The live links and what is happening to each.
struct Use {
    bool inCall = false; // a thread is in a call on it
    bool dying = false;  // being destroyed: no call enters any more
};
std::mutex g_LinksMutex;
std::condition_variable g_CallEnded;
std::unordered_map<const ctrl_lumo_link*, Use> g_Links;

thread_local std::vector<std::string>* t_Route = nullptr; // the messages of the call on this thread
thread_local char t_Error[512] = "";                      // copied in: setting it cannot fail

// The device link's boxes come from the thread that runs a call (the receive
// thread has none to show: every link sets m_hOwnerWnd), so the link whose
// call runs on this thread is the one to tell.
void RouteMessage(const std::wstring& text, const std::wstring& caption) {
    std::string line = lumo::ToUtf8(caption) + ": " + lumo::ToUtf8(text);
    if (t_Route) {
        t_Route->push_back(std::move(line));
        return;
    }
    line += '\n';
    std::fwrite(line.data(), 1, line.size(), stderr);
}

void InstallSink() {
    static std::once_flag sinkInstalled;
    std::call_once(sinkInstalled, [] { SetLumoMessageSink(RouteMessage); });
}

} // namespace

void AddLink(ctrl_lumo_link* link) {
    InstallSink();
    std::lock_guard lock(g_LinksMutex);
    g_Links.emplace(link, Use{});
}

bool RemoveLink(ctrl_lumo_link* link) {
    std::unique_lock lock(g_LinksMutex);
    auto it = g_Links.find(link);
    if (it == g_Links.end() || it->second.dying)
        return false;
    Use& use = it->second; // elements stay put when the map grows; iterators may not
    use.dying = true;
    g_CallEnded.wait(lock, [&] { return !use.inCall; });
    g_Links.erase(link);
    return true;
}

LinkState StateOf(const ctrl_lumo_link* link) {
    std::lock_guard lock(g_LinksMutex);
    const auto it = g_Links.find(link);
    if (it == g_Links.end() || it->second.dying)
        return LinkState::Unknown;
    return it->second.inCall ? LinkState::InCall : LinkState::Idle;
}

Call::Call(ctrl_lumo_link* link) : m_Link(link), m_Code(CTRL_LUMO_ERR_ARGUMENT) {
    if (!link) {
        SetThreadError("no link: the handle is NULL");
        return;
    }
    {
        std::lock_guard lock(g_LinksMutex);
        auto it = g_Links.find(link);
        if (it == g_Links.end() || it->second.dying) {
            SetThreadError("not a link: the handle was not made by ctrl_lumo_create or was destroyed");
            return;
        }
        if (it->second.inCall) {
            m_Code = CTRL_LUMO_ERR_BUSY;
            SetThreadError("the link is in use by another thread");
            return;
        }
        it->second.inCall = true;
    }
    m_Code = CTRL_LUMO_OK;
    t_Route = &link->messages;
    link->lastError.clear();
    link->messages.clear();
}

Call::~Call() {
    if (m_Code != CTRL_LUMO_OK)
        return;
    t_Route = nullptr;
    {
        std::lock_guard lock(g_LinksMutex);
        g_Links.find(m_Link)->second.inCall = false; // a link in a call stays in the map
    }
    g_CallEnded.notify_all();
}

RouteScope::RouteScope(std::vector<std::string>* messages) : m_Outer(t_Route) {
    InstallSink();
    t_Route = messages;
}

RouteScope::~RouteScope() {
    t_Route = m_Outer;
}

void SetThreadError(const char* text) {
    std::snprintf(t_Error, sizeof t_Error, "%s", text);
}

const char* ThreadError() {
    return t_Error;
}

} // namespace capi
