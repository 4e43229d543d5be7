// lumo: speaks to a controller module as the Cmdora console does, for
// scripts and build servers. See `lumo --help` and lumo(1).
#include <csignal>
#include <cstdio>

#include "cli.h"
#include "lumo_version.h"
#include "posix_file.h"
#include "run.h"

int main(int argc, char** argv) {
    using namespace lumo_cli;
    const Parsed parsed = ParseArguments(argc, argv);
    const Invocation& inv = parsed.inv;
    if (!parsed.error.empty()) {
        const std::string more =
            inv.command == Command::None ? "" : std::string(CommandName(inv.command)) + " ";
        std::fprintf(stderr, "lumo: %s\nTry 'lumo %s--help'.\n", parsed.error.c_str(), more.c_str());
        return kExitUsage;
    }
    if (inv.version) {
        std::printf("lumo %s\n", LUMO_VERSION);
        return kExitOk;
    }
    if (inv.help) {
        std::fputs(UsageText(inv.command).c_str(), stdout);
        return kExitOk;
    }
    // A reader that goes away (| head) must not kill the link's closing.
    // (Windows has no such signal: a write to a closed pipe just fails.)
#if defined(SIGPIPE)
    std::signal(SIGPIPE, SIG_IGN);
#endif
    posix::RaiseOpenFilesLimit();
    return Execute(inv);
}
