// Application object of the console: folders and settings path at start-up,
// the main dialog run modally, the fixed exit code. UI thread only.
#pragma once

#include <QString>

inline constexpr int kCmdoraExitCode = 0x22222; // 139810, however the dialog closed
inline constexpr const char* kAppTitle = "Morrack";

class CMorrackApp {
public:
    // Makes "Norvane_Lumo/" and "Norvane_Lumo/Temporary/" under the settings
    // root, fixes g_SettingsPath, runs D_CMDORA modally and destroys it.
    // Returns false, as the framework hook does.
    bool InitInstance();
    // The process exit code.
    int ExitInstance();
    // InitInstance then ExitInstance: the whole program run; needs a QApplication.
    int Run();
};

// Root standing in for the system drive: $XDG_CONFIG_HOME, else ~/.config.
QString SettingsRoot();

// The About box's text: the console's version, the Qt version it runs on
// (and was built with, when they differ) and the date it was built.
QString AboutText();

// Routes the device link's message boxes to consoleUi(): shown at once on
// the UI thread, posted to it from any other thread. Also installs the
// device link's wait hook, which keeps the window painting while the link
// waits on the UI thread.
void InstallLumoMessageSink();
