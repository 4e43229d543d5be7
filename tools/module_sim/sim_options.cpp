#include "sim_options.h"

#include <getopt.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "lumo_version.h"

namespace modsim {

namespace {

const char USAGE[] = R"(usage: lumo-module-sim [--address A] [--tcp] [--converter] [--udp] [--serial]
        [--serial-link PATH] [--id N] [--id-step N] [--style N] [--xmode]
        [--socket-id N] [--mode-char C] [--device-info HHHH] [--misbehave WHAT]...
        [--chunk N] [--chunk-pause MS] [--verbose] [--help] [--version]

Plays one controller module on the loopback address A (default 127.0.0.1;
only 127.0.0.0/8 is accepted). A may also be a range A-B or a block A/N
(such as 127.0.92.0/22, 1024 addresses, the first and last included): then
one process plays one module on every address of it, each with its own
listeners, connections and state, and every other option applies to each
module (--serial needs a single address). Prints "serial: <pty path>" (with
--serial) and then "ready" on standard output once every listener is up.
SIGINT or SIGTERM ends it cleanly. The open-files limit is raised to its
hard limit; a range needing more descriptors than that (one per side and
one per module, plus a few) is refused.

Sides (any combination, at least one):
  --tcp         module link on A:20036; every connection is greeted with
                7 bytes: id, style, 0 0 0 0 0; with --xmode 17 bytes:
                byte 0 = id, byte 12 = id, byte 14 = (style - 26) mod 256,
                byte 16 = socket id, the rest 0.
  --converter   IP converter on A:1024: greets nothing, answers like the
                serial console below.
  --udp         text link on A:20037: one datagram answers each datagram
                (text up to its first zero byte).
  --serial      pseudo-terminal (raw); the slave path is printed.
  --serial-link PATH  also a symlink PATH -> slave (replaced; removed on
                exit); implies --serial.

Module: --id N (default 1), --style N (default 17), --socket-id N (0),
  --mode-char C (default z), --device-info HHHH (D0 D1, default 1234).
  --id-step N (default 0): the module on the k-th address of a range
  (counted from 0) has id (N + k * step) mod 256, so --id-step 1 numbers
  the modules one by one.

Answers (same on every side unless noted; <text> is the command text with
control bytes shown as '.', at most 256 characters):
  normal command      "OK: command <text> done\r\n"
  query command       data line + "\r\n" + "OK: command <text> done\r\n"
    (z/Z then h/H, s/S, or w/W with characters 4..9 all '0')
    data line  h: "Device ID <id> Style <style> Ver 1.00"
               s: "Signal 1920x1080 60Hz"
               w: "Position 0 0 1920 1080"
  mode 'z' (style 17, mode char z), query in a Z or X frame:
                      data line followed by 00 FF 5A A5 01 (no line end)
  DeviceCommandFrame 55 AA A ~A 01 FE code 00:
    0x6D mode query (style 17)  55 AA A ~A 01 FE <mode char> 00 00 00 00 00 00
    0x19 device query           D0 D1 00 FF 5A A5 01
    0x17 disconnect, any other  00 FF 5A A5 01 (the connection stays open)
  Carriage-return lines (serial, converter, also accepted on the module port):
    bare CR            "\r\n>"
    "ze 0000 0", "ze 0000 1", "*0"   "O.K\r\n>"
    "exit"             "O.K\r\n"
    other text         as a text command above

Misbehaviours (--misbehave WHAT, repeatable or comma-separated):
  silent          read everything, answer nothing, no greeting (every side)
  x14             14-byte greeting (first 14 bytes of the X greeting)
  ffff            greeting bytes 0 and 1 are FF FF
  empty-greeting  accept, then close without a greeting
  chunks          every reply in pieces of --chunk N bytes (default 2),
                  --chunk-pause MS apart (default 20); UDP: one datagram each
  reset           TCP: reset the connection (linger 0) on the first command
  nolf            text answers carry no line feed (every side)
  oversize        text commands get 40000 bytes of text without ack

--verbose logs every received and sent unit in hex on standard error (with a
range, each line led by the module's address).
)";

constexpr int USAGE_ERROR = 2;

// Long options without a short form get values past any character.
enum : int {
    OPT_ADDRESS = 256,
    OPT_TCP,
    OPT_CONVERTER,
    OPT_UDP,
    OPT_SERIAL,
    OPT_SERIAL_LINK,
    OPT_ID,
    OPT_ID_STEP,
    OPT_STYLE,
    OPT_SOCKET_ID,
    OPT_CHUNK,
    OPT_CHUNK_PAUSE,
    OPT_XMODE,
    OPT_VERBOSE,
    OPT_MODE_CHAR,
    OPT_DEVICE_INFO,
    OPT_MISBEHAVE,
    OPT_VERSION,
};

const option LONG_OPTIONS[] = {
    {"help", no_argument, nullptr, 'h'},
    {"version", no_argument, nullptr, OPT_VERSION},
    {"address", required_argument, nullptr, OPT_ADDRESS},
    {"tcp", no_argument, nullptr, OPT_TCP},
    {"converter", no_argument, nullptr, OPT_CONVERTER},
    {"udp", no_argument, nullptr, OPT_UDP},
    {"serial", no_argument, nullptr, OPT_SERIAL},
    {"serial-link", required_argument, nullptr, OPT_SERIAL_LINK},
    {"id", required_argument, nullptr, OPT_ID},
    {"id-step", required_argument, nullptr, OPT_ID_STEP},
    {"style", required_argument, nullptr, OPT_STYLE},
    {"socket-id", required_argument, nullptr, OPT_SOCKET_ID},
    {"chunk", required_argument, nullptr, OPT_CHUNK},
    {"chunk-pause", required_argument, nullptr, OPT_CHUNK_PAUSE},
    {"xmode", no_argument, nullptr, OPT_XMODE},
    {"verbose", no_argument, nullptr, OPT_VERBOSE},
    {"mode-char", required_argument, nullptr, OPT_MODE_CHAR},
    {"device-info", required_argument, nullptr, OPT_DEVICE_INFO},
    {"misbehave", required_argument, nullptr, OPT_MISBEHAVE},
    {nullptr, 0, nullptr, 0},
};

bool ParseInt(const char* s, int lo, int hi, int* out) {
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(s, &end, 0);
    if (errno || end == s || *end || v < lo || v > hi)
        return false;
    *out = static_cast<int>(v);
    return true;
}

// The option getopt_long has just refused, as written ("--id" of "--id=x").
std::string_view OptionText(char** argv) {
    const std::string_view text = argv[optind - 1];
    return text.substr(0, text.find('='));
}

// Adds every name of a comma-separated list of misbehaviours; false at an unknown one.
bool AddMisbehaviours(std::string_view list, unsigned* bits) {
    for (;;) {
        const size_t comma = list.find(',');
        const std::string name(list.substr(0, comma));
        const unsigned bit = MisbehaveFromName(name);
        if (!bit) {
            std::fprintf(stderr, "lumo-module-sim: unknown misbehaviour: %s\n", name.c_str());
            return false;
        }
        *bits |= bit;
        if (comma == std::string_view::npos)
            return true;
        list.remove_prefix(comma + 1);
    }
}

// Takes --address: one loopback address, a range or a block; false (told) when it is not one.
bool TakeAddresses(const char* v, Options* o) {
    std::string why;
    if (!ParseAddressRange(v, &o->addresses, &why)) {
        std::fprintf(stderr, "lumo-module-sim: bad address %s: %s\n", v, why.c_str());
        return false;
    }
    if (o->addresses.first >> 24 != 127 || o->addresses.last >> 24 != 127) {
        std::fprintf(stderr, "lumo-module-sim: %s %s (127.0.0.0/8)\n", v,
                     o->addresses.Count() > 1 ? "reaches beyond loopback" : "is not a loopback address");
        return false;
    }
    return true;
}

// Takes the value of option `opt` into o; false (told) when it is not one.
bool TakeValue(int opt, const char* v, std::string_view name, Options* o) {
    auto intValue = [&](int lo, int hi, int* out) {
        if (ParseInt(v, lo, hi, out))
            return true;
        std::fprintf(stderr, "lumo-module-sim: bad value for %.*s: %s\n", int(name.size()), name.data(), v);
        return false;
    };
    switch (opt) {
    case OPT_ADDRESS:
        return TakeAddresses(v, o);
    case OPT_SERIAL_LINK:
        o->serialLink = v;
        o->serial = true;
        return true;
    case OPT_ID:
        return intValue(0, 255, &o->cfg.id);
    case OPT_ID_STEP:
        return intValue(0, 255, &o->idStep);
    case OPT_STYLE:
        return intValue(0, 281, &o->cfg.style);
    case OPT_SOCKET_ID:
        return intValue(0, 255, &o->cfg.socketId);
    case OPT_CHUNK:
        return intValue(1, 65536, &o->cfg.chunk);
    case OPT_CHUNK_PAUSE:
        return intValue(0, 10000, &o->chunkPauseMs);
    case OPT_MODE_CHAR:
        if (std::strlen(v) != 1) {
            std::fprintf(stderr, "lumo-module-sim: --mode-char takes one character\n");
            return false;
        }
        o->cfg.modeChar = v[0];
        return true;
    case OPT_DEVICE_INFO: {
        int d = 0;
        if (std::strlen(v) != 4 || !ParseInt((std::string("0x") + v).c_str(), 0, 0xFFFF, &d)) {
            std::fprintf(stderr, "lumo-module-sim: --device-info takes four hex digits\n");
            return false;
        }
        o->cfg.deviceInfo[0] = static_cast<uint8_t>(d >> 8);
        o->cfg.deviceInfo[1] = static_cast<uint8_t>(d);
        return true;
    }
    case OPT_MISBEHAVE:
        return AddMisbehaviours(v, &o->cfg.misbehave);
    }
    return false;
}

} // namespace

int ParseArgs(int argc, char** argv, Options* o) {
    opterr = 0; // the messages below name the option as it was written
    int index = 0;
    for (int opt; (opt = getopt_long(argc, argv, ":h", LONG_OPTIONS, &index)) != -1;) {
        switch (opt) {
        case 'h':
            std::fputs(USAGE, stdout);
            return 0;
        case OPT_VERSION:
            std::printf("lumo-module-sim %s\n", LUMO_VERSION);
            return 0;
        case OPT_TCP:
            o->tcp = true;
            break;
        case OPT_CONVERTER:
            o->converter = true;
            break;
        case OPT_UDP:
            o->udp = true;
            break;
        case OPT_SERIAL:
            o->serial = true;
            break;
        case OPT_XMODE:
            o->cfg.xMode = true;
            break;
        case OPT_VERBOSE:
            o->verbose = true;
            break;
        case ':': {
            const std::string_view name = OptionText(argv);
            std::fprintf(stderr, "lumo-module-sim: %.*s needs a value\n", int(name.size()), name.data());
            return USAGE_ERROR;
        }
        case '?':
            if (optopt != 0 && OptionText(argv).substr(0, 2) == "--") { // a value it does not take
                const std::string_view name = OptionText(argv);
                std::fprintf(stderr, "lumo-module-sim: %.*s takes no value\n", int(name.size()), name.data());
            } else if (optopt > 0) {
                std::fprintf(stderr, "lumo-module-sim: unknown option -%c (see --help)\n", optopt);
            } else {
                std::fprintf(stderr, "lumo-module-sim: unknown option %s (see --help)\n", argv[optind - 1]);
            }
            return USAGE_ERROR;
        default:
            if (!TakeValue(opt, optarg, std::string("--") + LONG_OPTIONS[index].name, o))
                return USAGE_ERROR;
            break;
        }
    }
    if (optind < argc) {
        std::fprintf(stderr, "lumo-module-sim: unexpected argument %s (see --help)\n", argv[optind]);
        return USAGE_ERROR;
    }
    if (!o->tcp && !o->converter && !o->udp && !o->serial) {
        std::fprintf(stderr,
                     "lumo-module-sim: nothing to serve: give --tcp, --converter, --udp or --serial\n");
        return USAGE_ERROR;
    }
    if (o->serial && o->addresses.Count() > 1) {
        std::fprintf(stderr, "lumo-module-sim: a pseudo-terminal plays one module: --serial needs a single "
                             "--address, not a range\n");
        return USAGE_ERROR;
    }
    return -1;
}

SimConfig ModuleConfig(const Options& o, uint64_t k) {
    SimConfig cfg = o.cfg;
    cfg.id = static_cast<int>((uint64_t(cfg.id) + k * uint64_t(o.idStep)) % 256);
    return cfg;
}

} // namespace modsim
