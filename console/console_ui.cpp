#include "console_ui.h"

// stub until the real seam lands
ConsoleUi& consoleUi() { static ConsoleUi* none = nullptr; return *none; }
ConsoleUi* setConsoleUi(ConsoleUi*) { return nullptr; }
