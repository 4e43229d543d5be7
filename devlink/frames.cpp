#include "frames.h"

#include <cstring>

namespace lumo {

namespace {

constexpr unsigned char FRAME_START[2] = {0x55, 0xAA};
constexpr unsigned char CLASS_TEXT = 0x08;
constexpr unsigned char CLASS_BINARY = 0x0F;
// Bytes 6..13 of the X frame: fixed constants the module expects as they stand.
constexpr unsigned char X_HEADER_TAIL[8] = {0x00, 0x02, 0x13, 0x00, 0xFF, 0x01, 0xFE, 0x00};
constexpr size_t X_TEXT_OFFSET = 14;
constexpr size_t Z_TEXT_OFFSET = 7;

unsigned char Complement(unsigned char b) {
    return static_cast<unsigned char>(0xFF - b);
}

} // namespace

void AddChecksum(unsigned char* buf, size_t n) {
    if (n == 0)
        return;
    unsigned char sum = 0;
    for (size_t i = 0; i + 1 < n; ++i)
        sum = static_cast<unsigned char>(sum + buf[i]);
    buf[n - 1] = sum;
}

size_t TextBytes(unsigned char* out, std::u16string_view text) {
    for (size_t i = 0; i < text.size(); ++i)
        out[i] = static_cast<unsigned char>(text[i] & 0xFF);
    return text.size();
}

size_t DeviceCommandFrameAt(unsigned char* out, size_t cap, unsigned char address, unsigned char code) {
    if (cap < DEVICE_FRAME_LEN)
        return 0;
    std::memset(out, 0, DEVICE_FRAME_LEN);
    out[0] = FRAME_START[0];
    out[1] = FRAME_START[1];
    out[2] = address;
    out[3] = Complement(address);
    out[4] = 0x01; // body: the command byte only
    out[5] = Complement(0x01);
    out[6] = code;
    out[7] = 0x00; // trailer
    return DEVICE_FRAME_LEN;
}

size_t DeviceCommandFrame(unsigned char* out, size_t cap, int id, unsigned char code) {
    return DeviceCommandFrameAt(out, cap, DeviceAddress(id, CLASS_BINARY), code);
}

size_t ZCommandFrame(unsigned char* out, size_t cap, int id, std::u16string_view text) {
    const size_t n = text.size();
    const size_t total = n + Z_FRAME_OVERHEAD;
    if (n > static_cast<size_t>(Z_FRAME_MAX_TEXT) || cap < total)
        return 0;
    std::memset(out, 0, total);
    const unsigned char address = DeviceAddress(id, CLASS_TEXT);
    out[0] = FRAME_START[0];
    out[1] = FRAME_START[1];
    out[2] = address;
    out[3] = Complement(address);
    out[6] = CMD_TEXT;
    TextBytes(out + Z_TEXT_OFFSET, text);
    // L counts the command byte, the text and the end-of-text zero; the
    // trailer after it is not counted.
    const auto len = static_cast<unsigned char>(n + 2);
    out[4] = len;
    out[5] = Complement(len);
    return total;
}

size_t XCommandFrame(unsigned char* out, size_t cap, std::u16string_view text) {
    const size_t n = text.size();
    const size_t total = n + X_FRAME_OVERHEAD;
    if (n > static_cast<size_t>(X_FRAME_MAX_TEXT) || cap < total)
        return 0;
    std::memset(out, 0, total);
    out[0] = FRAME_START[0];
    out[1] = FRAME_START[1];
    out[2] = ACK_HEADER[2];
    out[3] = ACK_HEADER[3];
    std::memcpy(out + 6, X_HEADER_TAIL, sizeof X_HEADER_TAIL);
    TextBytes(out + X_TEXT_OFFSET, text);
    out[4] = static_cast<unsigned char>(total & 0xFF); // whole length, checksum included
    out[5] = static_cast<unsigned char>(total >> 8);
    AddChecksum(out, total);
    return total;
}

namespace {

// The text bytes followed by one closing byte.
size_t TerminatedText(unsigned char* out, size_t cap, std::u16string_view text, unsigned char end) {
    const size_t total = text.size() + 1;
    if (cap < total)
        return 0;
    TextBytes(out, text);
    out[text.size()] = end;
    return total;
}

} // namespace

size_t CrTextLine(unsigned char* out, size_t cap, std::u16string_view text) {
    return TerminatedText(out, cap, text, 0x0D);
}

size_t UdpTextDatagram(unsigned char* out, size_t cap, std::u16string_view text) {
    return TerminatedText(out, cap, text, 0x00);
}

bool AckHeader(const unsigned char* p) {
    return std::memcmp(p, ACK_HEADER, sizeof ACK_HEADER) == 0;
}

bool AckFramePrefix(const unsigned char* p, int n) {
    return n > 0 && n < ACK_FRAME_LEN && std::memcmp(p, ACK_HEADER, static_cast<size_t>(n)) == 0;
}

int AckFrame(const unsigned char* p, size_t n) {
    if (n < ACK_FRAME_LEN || !AckHeader(p))
        return -1;
    return p[4];
}

bool DeviceInfoReply(const unsigned char* p, size_t n, unsigned char data[2]) {
    if (n < DEVICE_INFO_LEN || !AckHeader(p + 2))
        return false;
    data[0] = p[0];
    data[1] = p[1];
    return true;
}

bool ConnectGreeting(const unsigned char* p, size_t n, bool xMode, Greeting* out) {
    if (n == 0)
        return false;
    if (n >= 2 && p[0] == 0xFF && p[1] == 0xFF)
        return false;
    Greeting g;
    if (xMode) {
        // 17 bytes: 0 = style table index, 12 = ID, 14 = style - 26, 16 = socket.
        if (n == 14 || n < X_GREETING_LEN)
            return false;
        g.styleIndex = p[0];
        g.id = p[12];
        g.style = p[14] + 26;
        g.socketId = p[16];
    } else {
        // 7 bytes: 0 = ID, 1 = style; only those two are read.
        if (n < 2)
            return false;
        g.id = p[0];
        g.style = p[1];
        g.styleIndex = p[0];
    }
    if (out)
        *out = g;
    return true;
}

bool ModeQueryReply(const unsigned char* p, size_t n, unsigned char* modeChar) {
    if (n < 7)
        return false;
    const bool valid =
        p[0] == FRAME_START[0] && p[1] == FRAME_START[1] && p[2] + p[3] == 0xFF && p[4] + p[5] == 0xFF;
    if (valid && modeChar)
        *modeChar = p[6];
    return valid;
}

} // namespace lumo
