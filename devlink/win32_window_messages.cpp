// Windows: the log window's progress texts (WM_USER+2, sent) and the owner
// window's link-lost notice (WM_USER+1, posted), or the functions that stand
// for those windows.
#include "lumo_net.h"

#include <cstring>
#include <memory>

#include <windows.h>

template <> void LumoLogWnd::operator()(const std::wstring& text) const {
    if (!m_Window) {
        if (m_Function)
            m_Function(text);
        return;
    }
    // A fresh copy for the window procedure to read during the call; freed
    // once SendMessageW returns.
    auto copy = std::make_unique<wchar_t[]>(text.size() + 1);
    std::memcpy(copy.get(), text.c_str(), (text.size() + 1) * sizeof(wchar_t));
    SendMessageW(m_Window, LUMO_WM_PROGRESS, reinterpret_cast<WPARAM>(copy.get()), 0);
}

template <> void LumoOwnerWnd::operator()(unsigned msg, uintptr_t wParam, intptr_t lParam) const {
    if (m_Window)
        PostMessageW(m_Window, msg, static_cast<WPARAM>(wParam), static_cast<LPARAM>(lParam));
    else if (m_Function)
        m_Function(msg, wParam, lParam);
}
