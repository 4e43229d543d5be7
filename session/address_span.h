// IPv4 addresses as a person writes them: a dotted address, a range A-B and
// a block A/N. Plain text handling without I/O or any other part of the
// tree, so that the programs' target lists and the simulator's --address
// read the same forms the same way.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace session {

// Every address from first to last, both included, in host byte order.
struct AddressSpan {
    uint32_t first = 0, last = 0;

    uint64_t Count() const { return uint64_t{last} - first + 1; }
    // The k-th address of the span (k < Count()).
    uint32_t At(uint64_t k) const { return first + static_cast<uint32_t>(k); }
};

// The four parts of a dotted IPv4 address "a.b.c.d" (each 0 to 255 in one
// to three decimal digits, no leading zero, which some readers take for
// octal), the first in the top byte; nullopt for anything else.
std::optional<uint32_t> ParseDottedAddress(std::string_view text);

// An address, "A-B" (B a whole address not below A, or a last part up to
// 255 that replaces A's) or "A/N" (N 0 to 32; A's host bits are dropped and
// the block's first and last addresses belong to it). False with what is
// wrong in *why for anything else.
bool ParseAddressSpan(std::string_view text, AddressSpan* span, std::string* why);

// "a.b.c.d"
std::string DottedAddress(uint32_t address);

} // namespace session
