// Windows side of the default message box: the program's exported
// Lumo_MessageSink, else a modal MessageBoxW with the error icon and no owner
// window; LUMO_NO_MESSAGE_BOXES (set, not "0") sends the text to standard
// error instead, for runs nobody watches.
#include "posix_message_box.h"

#include <cstdlib>
#include <cstring>

#include <windows.h>

namespace lumo {
namespace {

using ProgramSink = void (*)(const wchar_t*, const wchar_t*);

// A DLL cannot refer weakly to a function of the program that loads it: the
// program exports Lumo_MessageSink (the header declares it dllexport) and is
// looked up by name, once.
ProgramSink FindProgramSink() {
    static const ProgramSink sink = [] {
        FARPROC found = GetProcAddress(GetModuleHandleW(nullptr), "Lumo_MessageSink");
        return reinterpret_cast<ProgramSink>(reinterpret_cast<void*>(found));
    }();
    return sink;
}

bool BoxesOff() {
    const char* off = std::getenv("LUMO_NO_MESSAGE_BOXES");
    return off != nullptr && *off != '\0' && std::strcmp(off, "0") != 0;
}

} // namespace

void ShowDefaultMessage(const std::wstring& text, const std::wstring& caption) {
    if (const ProgramSink sink = FindProgramSink())
        sink(text.c_str(), caption.c_str());
    else if (BoxesOff())
        WriteMessageToStderr(text, caption);
    else
        MessageBoxW(nullptr, text.c_str(), caption.c_str(), MB_OK | MB_ICONERROR);
}

} // namespace lumo
