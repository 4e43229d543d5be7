// Cmdora: engineering console for the modules of a video-wall controller.
//
// The console takes no options for its work. It answers --help and
// --version before any window or folder exists (so both work without a
// display and touch no settings), refuses anything else that is not one of
// Qt's own options, and hands those on to QApplication.
#include <QApplication>

#include <cstdio>
#include <string_view>

#include "app.h"
#include "lumo_version.h"

namespace {

constexpr int kUsageExitCode = 2;

const char kUsageLines[] = "usage: Cmdora [Qt options]\n"
                           "       Cmdora --help | --version\n";

const char kHelp[] = R"(
Engineering console for the modules of a video-wall controller. It takes no
options for its work: the link, serial port, baud rate and module address are
chosen in its window and kept in $XDG_CONFIG_HOME/Norvane_Lumo/CMDORA_Unicode.bin
(XDG_CONFIG_HOME is ~/.config when unset). LUMO_COM<N> names the device that
serial port N opens (/dev/ttyS<N-1> without it).

  -h, --help     print this text and exit
  -v, --version  print the version and exit

Qt's standard options are accepted, such as -platform NAME, -style NAME and
-display DISPLAY. See Cmdora(1).
)";

// Qt's documented options (one dash or two), which QApplication takes out of
// argv: those followed by a value, those also written NAME=VALUE, and flags.
constexpr std::string_view kQtValueOptions[] = {
    "platform",        "platformpluginpath", "platformtheme", "plugin",
    "qwindowgeometry", "qwindowicon",        "qwindowtitle",  "session",
    "display",         "geometry",           "title",         "style",
    "stylesheet"};
constexpr std::string_view kQtAssignOptions[] = {"style", "stylesheet", "qmljsdebugger"};
constexpr std::string_view kQtFlags[] = {"reverse", "widgetcount", "nograb", "dograb", "sync"};

template <size_t N> bool OneOf(const std::string_view (&names)[N], std::string_view name) {
    for (std::string_view n : names)
        if (n == name)
            return true;
    return false;
}

int Refuse(const char* what, const char* arg) {
    std::fprintf(stderr, "Cmdora: %s: %s\n%sTry 'Cmdora --help'.\n", what, arg, kUsageLines);
    return kUsageExitCode;
}

// Reads argv; -1 to go on and run the console, else the exit code.
int HandleArguments(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "-h" || arg == "--help") {
            std::printf("%s%s", kUsageLines, kHelp);
            return 0;
        }
        if (arg == "-v" || arg == "--version") {
            std::printf("Cmdora %s\n", LUMO_VERSION);
            return 0;
        }
        if (arg.size() < 2 || arg[0] != '-')
            return Refuse("the console takes no arguments", argv[i]);
        std::string_view name = arg.substr(arg.starts_with("--") ? 2 : 1);
        if (const size_t eq = name.find('='); eq != std::string_view::npos) {
            if (!OneOf(kQtAssignOptions, name.substr(0, eq)))
                return Refuse("unknown option", argv[i]);
        } else if (OneOf(kQtValueOptions, name)) {
            if (++i == argc)
                return Refuse("option needs a value", argv[i - 1]);
        } else if (!OneOf(kQtFlags, name)) {
            return Refuse("unknown option", argv[i]);
        }
    }
    return -1;
}

} // namespace

int main(int argc, char** argv) {
    if (const int rc = HandleArguments(argc, argv); rc >= 0)
        return rc;
    QApplication qapp(argc, argv);
    QApplication::setApplicationName(QString::fromLatin1(kAppTitle));
    QApplication::setApplicationVersion(QStringLiteral(LUMO_VERSION));
    QGuiApplication::setDesktopFileName(QStringLiteral("com.norvane.Cmdora")); // packaging/*.desktop
    InstallLumoMessageSink();
    CMorrackApp app;
    return app.Run();
}
