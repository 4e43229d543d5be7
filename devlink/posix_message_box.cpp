// Linux side of the default message box: the program's weakly referenced
// Lumo_MessageSink, else standard error.
#include "posix_message_box.h"

#include "lumo_net.h"

// The program's own sink, when it defines one: a weak reference, null
// otherwise. A program linked against the shared library exports its
// definition by itself (the linker sees this reference); one that loads the
// library with dlopen exports it explicitly. Adds nothing to the library's
// exports.
extern "C" __attribute__((weak)) void Lumo_MessageSink(const wchar_t* text, const wchar_t* caption);

namespace lumo {

void ShowDefaultMessage(const std::wstring& text, const std::wstring& caption) {
    if (Lumo_MessageSink != nullptr)
        Lumo_MessageSink(text.c_str(), caption.c_str());
    else
        WriteMessageToStderr(text, caption);
}

} // namespace lumo
