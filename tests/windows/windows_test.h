// A real window for the Windows tests: a message-only window on a thread of
// its own with a message loop, recording the progress texts (WM_USER+2) and
// link-lost notices (WM_USER+1) that the device link sends it.
#pragma once

#include <windows.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace wintest {

class RecordingWindow {
public:
    RecordingWindow() {
        m_Thread = std::thread([this] { Run(); });
        std::unique_lock lock(m_Mutex);
        m_Changed.wait(lock, [this] { return m_Window != nullptr || m_Failed; });
    }
    ~RecordingWindow() {
        PostThreadMessageW(m_ThreadId, WM_QUIT, 0, 0);
        m_Thread.join();
    }
    RecordingWindow(const RecordingWindow&) = delete;
    RecordingWindow& operator=(const RecordingWindow&) = delete;

    HWND Handle() const { return m_Window; }

    std::vector<std::wstring> Texts() {
        std::lock_guard lock(m_Mutex);
        return m_Texts;
    }
    // Waits (bounded) until `n` notices have come; returns their wParams.
    std::vector<WPARAM> WaitNotices(size_t n, std::chrono::milliseconds bound) {
        std::unique_lock lock(m_Mutex);
        m_Changed.wait_for(lock, bound, [&] { return m_Notices.size() >= n; });
        return m_Notices;
    }

private:
    static LRESULT CALLBACK Procedure(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
        auto* self = reinterpret_cast<RecordingWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
        if (self && msg == WM_USER + 2 && lParam == 0) {
            std::lock_guard lock(self->m_Mutex);
            self->m_Texts.emplace_back(reinterpret_cast<const wchar_t*>(wParam));
            return 0;
        }
        if (self && msg == WM_USER + 1 && lParam == 0) {
            std::lock_guard lock(self->m_Mutex);
            self->m_Notices.push_back(wParam);
            self->m_Changed.notify_all();
            return 0;
        }
        return DefWindowProcW(window, msg, wParam, lParam);
    }

    void Run() {
        m_ThreadId = GetCurrentThreadId();
        WNDCLASSW wc{};
        wc.lpfnWndProc = Procedure;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = L"LumoTestLogWindow";
        RegisterClassW(&wc); // a second window finds the class registered
        HWND window = CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                      wc.hInstance, nullptr);
        if (window)
            SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
        {
            std::lock_guard lock(m_Mutex);
            m_Window = window;
            m_Failed = window == nullptr;
        }
        m_Changed.notify_all();
        MSG msg;
        while (GetMessageW(&msg, nullptr, 0, 0) > 0)
            DispatchMessageW(&msg);
        if (window)
            DestroyWindow(window);
    }

    std::mutex m_Mutex;
    std::condition_variable m_Changed;
    HWND m_Window = nullptr;
    bool m_Failed = false;
    DWORD m_ThreadId = 0;
    std::vector<std::wstring> m_Texts;
    std::vector<WPARAM> m_Notices;
    std::thread m_Thread;
};

// Polls `done` every 10 ms for at most `bound`; true once it holds.
inline bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds bound) {
    const auto until = std::chrono::steady_clock::now() + bound;
    while (!done()) {
        if (std::chrono::steady_clock::now() > until)
            return false;
        Sleep(10);
    }
    return true;
}

} // namespace wintest
