// What the simulated controller module answers to which bytes. Plain
// functions and a stream cutter, no I/O: the socket and pty code in
// sim_main.cpp feeds received bytes in and queues the answers it gets back.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace modsim {

using Bytes = std::vector<uint8_t>;

// Deliberate faults, combinable (--misbehave, repeatable).
enum Misbehave : unsigned {
    MIS_SILENT = 1u << 0,         // read everything, answer nothing, greet nothing
    MIS_X14 = 1u << 1,            // 14-byte greeting
    MIS_FFFF = 1u << 2,           // greeting bytes 0 and 1 are FF FF
    MIS_EMPTY_GREETING = 1u << 3, // accept, then close without a greeting
    MIS_CHUNKS = 1u << 4,         // every reply in pieces of `chunk` bytes with pauses
    MIS_RESET = 1u << 5,          // TCP: reset the connection on the first command
    MIS_NOLF = 1u << 6,           // text answers carry no line feed
    MIS_OVERSIZE = 1u << 7,       // text commands get 40000 bytes of text, no ack
};

// Misbehaviour from its command-line name ("silent", "x14", ...); 0 when unknown.
unsigned MisbehaveFromName(std::string_view name);

struct SimConfig {
    int id = 1;                           // module identifier
    int style = 17;                       // module style
    bool xMode = false;                   // 17-byte X greeting instead of the 7-byte one
    int socketId = 0;                     // X greeting byte 16
    char modeChar = 'z';                  // ModeQueryReply byte 6
    uint8_t deviceInfo[2] = {0x12, 0x34}; // D0 D1 of the DeviceInfoReply
    unsigned misbehave = 0;               // Misbehave bits
    int chunk = 2;                        // piece size for MIS_CHUNKS

    bool Has(unsigned m) const { return (misbehave & m) != 0; }
    // Style 17 in mode 'z': query answers to text frames end with 00 FF 5A A5 01.
    bool EndMarkMode() const { return style == 17 && modeChar == 'z'; }
};

inline constexpr size_t OVERSIZE_LEN = 40000;
inline constexpr size_t ECHO_MAX = 256;        // command text echoed in the ack line, at most
inline constexpr size_t LINE_MAX_BYTES = 8192; // an unterminated text line longer than this is dropped

// Query command: first char z/Z and second h/H/s/S, or w/W with chars 4..9 all '0'.
bool IsQueryCommand(std::string_view text);
// The query letter in lower case ('h', 's' or 'w'), or 0 for a normal command.
char QueryLetter(std::string_view text);

// "OK: command <text> done\r\n"; control bytes of the text shown as '.', at most ECHO_MAX of them.
std::string AckLine(std::string_view text);
// Data of a query answer, without line end:
//   h: "Device ID <id> Style <style> Ver 1.00"
//   s: "Signal 1920x1080 60Hz"
//   w: "Position 0 0 1920 1080"
std::string DataLine(char letter, const SimConfig &cfg);

// Connect greeting for the module port (7 or 17 bytes, 14 with MIS_X14);
// empty when the module greets nothing (silent, empty-greeting).
Bytes Greeting(const SimConfig &cfg);
// 55 AA A ~A 01 FE mode 00 00 00 00 00 00 with A the module's binary address.
Bytes ModeQueryReply(const SimConfig &cfg);
// D0 D1 00 FF 5A A5 01
Bytes DeviceInfoReply(const SimConfig &cfg);
// 00 FF 5A A5 01
Bytes AckOk();

// One thing the module received on a byte stream (TCP or serial).
struct Unit {
    enum Kind {
        DEVICE_CMD,  // 55 AA A ~A 01 FE code 00
        Z_TEXT,      // 55 AA A ~A L ~L 07 text 00 00
        X_TEXT,      // 55 AA 5A A5 T16 ... text checksum
        OTHER_FRAME, // any other well-formed 55 AA A ~A L ~L body 00
        LINE,        // text up to a carriage return (without it)
    };
    Kind kind = LINE;
    uint8_t address = 0;    // binary and Z frames
    uint8_t code = 0;       // DEVICE_CMD, OTHER_FRAME: first body byte
    bool checksumOk = true; // X_TEXT
    std::string text;       // Z_TEXT, X_TEXT, LINE (Z text up to its end-of-text zero)
    Bytes raw;              // the bytes the unit was cut from
};

// Cuts a byte stream into frames and carriage-return lines. A frame is looked
// for only at the start of a line; stray line feeds and zero bytes between
// units are skipped. Incomplete frames and lines wait for more bytes.
class StreamCutter {
public:
    void Feed(const uint8_t *data, size_t n);
    // Takes the next complete unit; false when more bytes are needed.
    bool Next(Unit *out);
    size_t Pending() const { return m_Buf.size(); }

private:
    Bytes m_Buf;
};

// What the module sends back for one received unit; empty for nothing.
// Lines also cover the serial console strings: a bare CR gives "\r\n>",
// "ze 0000 0", "ze 0000 1" and "*0" give "O.K\r\n>", "exit" gives "O.K\r\n".
Bytes Answer(const Unit &unit, const SimConfig &cfg);
// Answer to one UDP datagram (text up to its first zero byte): text lines only.
Bytes DatagramAnswer(const uint8_t *data, size_t n, const SimConfig &cfg);

// Splits a reply into the pieces it is written in (one piece unless MIS_CHUNKS).
std::vector<Bytes> Pieces(const Bytes &reply, const SimConfig &cfg);

// "55 AA 01" style rendering for the verbose log.
std::string Hex(const uint8_t *data, size_t n);

} // namespace modsim
