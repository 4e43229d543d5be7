// The addresses lumo-module-sim plays modules on: one IPv4 address, a range
// "A-B" or a block "A/N". Plain text handling, no socket headers.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace modsim {

// Every address from first to last, both included, in host byte order.
struct AddressRange {
    uint32_t first = 0x7F000001; // 127.0.0.1
    uint32_t last = 0x7F000001;

    uint64_t Count() const { return uint64_t(last) - first + 1; }
    // The k-th address of the range (k < Count()).
    uint32_t At(uint64_t k) const { return first + static_cast<uint32_t>(k); }
};

// Parses "A", "A-B" (B not below A) or "A/N" (N 0..32; the host bits of A
// are ignored, and the block's first and last addresses are included).
// Addresses are dotted quads of decimal numbers. False when the text is none
// of these, with the reason in *why.
bool ParseAddressRange(std::string_view text, AddressRange* out, std::string* why);

// "127.0.92.5" for 0x7F005C05.
std::string AddressText(uint32_t address);

} // namespace modsim
