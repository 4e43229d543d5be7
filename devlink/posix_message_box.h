// Where a device-link message box goes when the program installed no sink
// (SetLumoMessageSink). One declaration for both systems:
// posix_message_box.cpp hands it to the program's Lumo_MessageSink, else to
// standard error; win32_message_box.cpp to the program's exported
// Lumo_MessageSink, else to a real MessageBoxW (or to standard error when
// LUMO_NO_MESSAGE_BOXES is set, for unattended runs).
#pragma once

#include <string>

namespace lumo {

// Shows the box; any thread; returns when it is closed.
void ShowDefaultMessage(const std::wstring& text, const std::wstring& caption);

// "caption: text" and a line feed on standard error, in UTF-8.
void WriteMessageToStderr(const std::wstring& text, const std::wstring& caption);

} // namespace lumo
