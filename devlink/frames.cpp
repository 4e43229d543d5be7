#include "frames.h"

namespace lumo {
// stubs until the frame module lands
void AddChecksum(unsigned char*, size_t) {}
size_t DeviceCommandFrame(unsigned char*, size_t, int, unsigned char) { return 0; }
size_t DeviceCommandFrameAt(unsigned char*, size_t, unsigned char, unsigned char) { return 0; }
size_t ZCommandFrame(unsigned char*, size_t, int, std::u16string_view) { return 0; }
size_t XCommandFrame(unsigned char*, size_t, std::u16string_view) { return 0; }
size_t CrTextLine(unsigned char*, size_t, std::u16string_view) { return 0; }
size_t UdpTextDatagram(unsigned char*, size_t, std::u16string_view) { return 0; }
size_t TextBytes(unsigned char*, std::u16string_view) { return 0; }
bool AckHeader(const unsigned char*) { return false; }
int AckFrame(const unsigned char*, size_t) { return -1; }
bool DeviceInfoReply(const unsigned char*, size_t, unsigned char[2]) { return false; }
bool ConnectGreeting(const unsigned char*, size_t, bool, Greeting*) { return false; }
bool ModeQueryReply(const unsigned char*, size_t, unsigned char*) { return false; }
} // namespace lumo
