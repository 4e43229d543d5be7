// Byte layouts of the module protocol: command frames the system sends and
// the replies it recognises. Plain functions on caller buffers, no I/O.
//
// Text travels one byte per character: the low 8 bits of each UTF-16 code
// unit. Builders clear the frame area they write, return the frame length,
// and return 0 without writing anything when the frame does not fit the
// caller's capacity (or, for a Z frame, when the text exceeds 253 bytes).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace lumo {

inline constexpr unsigned char CMD_TEXT = 0x07;
inline constexpr unsigned char CMD_DISCONNECT = 0x17;
inline constexpr unsigned char CMD_DEVICE_QUERY = 0x19;
inline constexpr unsigned char CMD_MODE_QUERY = 0x6D;

inline constexpr int DEVICE_FRAME_LEN = 8;
inline constexpr int Z_FRAME_OVERHEAD = 9;   // n + 9 bytes
inline constexpr int X_FRAME_OVERHEAD = 15;  // n + 15 bytes
inline constexpr int Z_FRAME_MAX_TEXT = 253; // the one-byte length counts n + 2
inline constexpr int X_FRAME_MAX_TEXT = 0xFFFF - X_FRAME_OVERHEAD;
inline constexpr int ACK_FRAME_LEN = 5;
inline constexpr int DEVICE_INFO_LEN = 7;
inline constexpr int MODE_QUERY_REPLY_LEN = 13;
inline constexpr int GREETING_LEN = 7;
inline constexpr int X_GREETING_LEN = 17;
inline constexpr unsigned char ACK_HEADER[4] = {0x00, 0xFF, 0x5A, 0xA5};
inline constexpr unsigned char ACK_OK[5] = {0x00, 0xFF, 0x5A, 0xA5, 0x01};

// Address byte: module ID (low 4 bits) in the high nibble, frame class low.
inline unsigned char DeviceAddress(int id, unsigned char frameClass) {
    return static_cast<unsigned char>(((id & 0x0F) << 4) | (frameClass & 0x0F));
}

// Byte n-1 becomes the 8-bit sum of bytes 0..n-2. n >= 1.
void AddChecksum(unsigned char* buf, size_t n);

// 55 AA A ~A 01 FE code 00 with A = (id << 4) | 0x0F.
size_t DeviceCommandFrame(unsigned char* out, size_t cap, int id, unsigned char code);
// Same with a ready address byte (the device query uses 0xFF).
size_t DeviceCommandFrameAt(unsigned char* out, size_t cap, unsigned char address, unsigned char code);
// 55 AA A ~A L ~L 07 text 00 00 with A = (id << 4) | 0x08, L = n + 2.
size_t ZCommandFrame(unsigned char* out, size_t cap, int id, std::u16string_view text);
// 55 AA 5A A5 T(16-bit LE) 00 02 13 00 FF 01 FE 00 text checksum, T = n + 15.
size_t XCommandFrame(unsigned char* out, size_t cap, std::u16string_view text);
// text 0D
size_t CrTextLine(unsigned char* out, size_t cap, std::u16string_view text);
// text 00
size_t UdpTextDatagram(unsigned char* out, size_t cap, std::u16string_view text);
// Writes the low byte of each code unit; returns n (no bound check: callers).
size_t TextBytes(unsigned char* out, std::u16string_view text);

// Whether the four bytes at p are 00 FF 5A A5.
bool AckHeader(const unsigned char* p);
// Whether the n bytes at p (0 < n < 5) can still grow into an AckFrame: they
// are the first n bytes of 00 FF 5A A5 (n 4: the status is yet to come).
bool AckFramePrefix(const unsigned char* p, int n);
// Status byte of a 5-byte AckFrame, or -1 when the header is wrong or n < 5.
int AckFrame(const unsigned char* p, size_t n);
// D0 D1 00 FF 5A A5 S: true and the two data bytes when bytes 2..5 are the header.
bool DeviceInfoReply(const unsigned char* p, size_t n, unsigned char data[2]);

struct Greeting {
    int id = 0;                   // module identifier
    int style = 0;                // module style (X mode: byte 14 + 26, may exceed 255)
    unsigned char styleIndex = 0; // m_DevStyle entry the style is recorded under
    unsigned char socketId = 0;   // X mode only
};
// Reads a ConnectGreeting of either variant. False for an empty one, for
// bytes 0 and 1 both 0xFF, for an X greeting of exactly 14 bytes, and for one
// too short to hold the bytes it is read from.
bool ConnectGreeting(const unsigned char* p, size_t n, bool xMode, Greeting* out);
// Valid when 55 AA, bytes 2+3 = 255 and bytes 4+5 = 255; mode char is byte 6.
bool ModeQueryReply(const unsigned char* p, size_t n, unsigned char* modeChar);

} // namespace lumo
