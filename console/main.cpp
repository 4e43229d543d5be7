// Cmdora: engineering console for the modules of a video-wall controller.
//
// The console takes no options for its work. It answers --help and
// --version before any window or folder exists (so both work without a
// display and touch no settings), refuses anything else that is not one of
// Qt's own options, and hands those on to QApplication.
#include <QApplication>

#include <cstdio>
#include <cstdlib>
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
// *screenChosen: a -platform or -display option was given.
int HandleArguments(int argc, char** argv, bool* screenChosen) {
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
            *screenChosen = *screenChosen || name == "platform" || name == "display";
            if (++i == argc)
                return Refuse("option needs a value", argv[i - 1]);
        } else if (!OneOf(kQtFlags, name)) {
            return Refuse("unknown option", argv[i]);
        }
    }
    return -1;
}

constexpr char kHowToRun[] =
    "run it in a desktop session, or without one as 'xvfb-run Cmdora' or 'Cmdora -platform offscreen'";

// Qt's default platform without any display stops with a message about its
// plug-in only; say what is missing and how to run the console instead.
bool NoDisplay(bool screenChosen) {
    if (screenChosen)
        return false;
    for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"})
        if (const char* value = std::getenv(name); value && *value)
            return false;
    const char* session = std::getenv("XDG_SESSION_TYPE"); // Wayland finds its default display itself
    return !session || std::string_view(session) != "wayland";
}

// When no platform plug-in starts after all (a display that cannot be
// reached), Qt aborts with advice to reinstall: say what failed instead and
// end with status 1. Set only while QApplication is being made.
QtMessageHandler g_QtHandler = nullptr;
void PlatformFailureHandler(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (type == QtFatalMsg && message.contains(QLatin1String("platform plugin"))) {
        const char* display = std::getenv("DISPLAY");
        std::fprintf(stderr, "Cmdora: the display%s%s could not be opened; %s\n", display ? " " : "",
                     display ? display : "", kHowToRun);
        std::fflush(stderr);
        std::_Exit(1);
    }
    if (g_QtHandler)
        g_QtHandler(type, context, message);
}

} // namespace

int main(int argc, char** argv) {
    bool screenChosen = false;
    if (const int rc = HandleArguments(argc, argv, &screenChosen); rc >= 0)
        return rc;
    if (NoDisplay(screenChosen)) {
        std::fprintf(stderr, "Cmdora: no display found (DISPLAY and WAYLAND_DISPLAY are unset); %s\n",
                     kHowToRun);
        return 1;
    }
    g_QtHandler = qInstallMessageHandler(PlatformFailureHandler);
    QApplication qapp(argc, argv);
    qInstallMessageHandler(g_QtHandler);
    QApplication::setApplicationName(QString::fromLatin1(kAppTitle));
    QApplication::setApplicationVersion(QStringLiteral(LUMO_VERSION));
    QGuiApplication::setDesktopFileName(QStringLiteral("com.norvane.Cmdora")); // packaging/*.desktop
    InstallLumoMessageSink();
    CMorrackApp app;
    return app.Run();
}
