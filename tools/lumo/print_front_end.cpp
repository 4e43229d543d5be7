#include "print_front_end.h"

#include "lumo_net.h"
#include "text.h"

namespace lumo_cli {

void PrintBox(Out& out, const std::u16string& text, const std::u16string& caption) {
    out.Printf("caption: %s\nbox: %s\n", OneLine(caption).c_str(), ReadableLine(text).c_str());
}

void PrintFrontEnd::ShowStatus(const std::u16string& text) {
    // the console clears its status line before each send: nothing to print
    if (m_Out && !text.empty())
        m_Out->Printf("status: %s\n", ReadableLine(text).c_str());
}

void PrintFrontEnd::ShowBox(const std::u16string& text, const std::u16string& caption,
                            session::BoxIcon icon) {
    if (Out* out = icon == session::BoxIcon::Error ? m_Errors : m_Out)
        PrintBox(*out, text, caption);
}

void InstallMessageSink() {
    SetLumoMessageSink([](const std::wstring& text, const std::wstring& caption) {
        if (session::Runner::OnWorkerThread())
            return;
        FileOut err(stderr);
        PrintBox(err, std::u16string(text.begin(), text.end()),
                 std::u16string(caption.begin(), caption.end()));
    });
}

} // namespace lumo_cli
