#include "print_front_end.h"

#include <chrono>
#include <thread>

#include "lumo_net.h"
#include "text.h"

namespace lumo_cli {

void PrintBox(std::FILE* stream, const std::u16string& text, const std::u16string& caption) {
    std::fprintf(stream, "caption: %s\nbox: %s\n", OneLine(caption).c_str(), ReadableLine(text).c_str());
    std::fflush(stream);
}

void PrintFrontEnd::ShowStatus(const std::u16string& text) {
    // the console clears its status line before each send: nothing to print
    if (m_Out && !text.empty()) {
        std::fprintf(m_Out, "status: %s\n", ReadableLine(text).c_str());
        std::fflush(m_Out);
    }
}

void PrintFrontEnd::ShowBox(const std::u16string& text, const std::u16string& caption,
                            session::BoxIcon icon) {
    std::FILE* stream = icon == session::BoxIcon::Error ? stderr : m_Out;
    if (stream)
        PrintBox(stream, text, caption);
}

void PrintFrontEnd::Sleep(int ms) {
    if (ms > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

void InstallMessageSink() {
    SetLumoMessageSink([](const std::wstring& text, const std::wstring& caption) {
        PrintBox(stderr, std::u16string(text.begin(), text.end()),
                 std::u16string(caption.begin(), caption.end()));
    });
}

} // namespace lumo_cli
