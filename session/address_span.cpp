#include "address_span.h"

#include <algorithm>
#include <cstdio>

namespace session {

namespace {

std::string Quoted(std::string_view s) {
    return "'" + std::string(s) + "'";
}

// One to three decimal digits.
std::optional<uint32_t> SmallNumber(std::string_view s) {
    if (s.empty() || s.size() > 3 || s.find_first_not_of("0123456789") != std::string_view::npos)
        return std::nullopt;
    uint32_t v = 0;
    for (char c : s)
        v = v * 10 + static_cast<uint32_t>(c - '0');
    return v;
}

} // namespace

std::optional<uint32_t> ParseDottedAddress(std::string_view text) {
    uint32_t address = 0;
    size_t i = 0;
    for (int part = 0; part < 4; ++part) {
        if (part > 0) {
            if (i >= text.size() || text[i] != '.')
                return std::nullopt;
            ++i;
        }
        const size_t first = i;
        uint32_t value = 0;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9' && i - first < 4)
            value = value * 10 + static_cast<uint32_t>(text[i++] - '0');
        const size_t digits = i - first;
        if (digits == 0 || digits > 3 || value > 255 || (digits > 1 && text[first] == '0'))
            return std::nullopt;
        address = (address << 8) | value;
    }
    if (i != text.size())
        return std::nullopt;
    return address;
}

bool ParseAddressSpan(std::string_view text, AddressSpan* span, std::string* why) {
    const size_t slash = text.find('/'), dash = text.find('-');
    const std::string_view head = text.substr(0, std::min(slash, dash));
    const std::optional<uint32_t> a = ParseDottedAddress(head);
    if (!a) {
        *why = "not an IPv4 address: " + Quoted(head);
        return false;
    }
    if (slash != std::string_view::npos && dash == std::string_view::npos) {
        const std::optional<uint32_t> n = SmallNumber(text.substr(slash + 1));
        if (!n || *n > 32) {
            *why = "a block takes 0 to 32 bits after '/': " + Quoted(text);
            return false;
        }
        const uint32_t mask = *n == 0 ? 0 : ~uint32_t{0} << (32 - *n);
        *span = {*a & mask, (*a & mask) | ~mask};
        return true;
    }
    if (dash != std::string_view::npos && slash == std::string_view::npos) {
        const std::string_view tail = text.substr(dash + 1);
        std::optional<uint32_t> b = ParseDottedAddress(tail);
        if (const std::optional<uint32_t> last = SmallNumber(tail); !b && last && *last <= 255)
            b = (*a & 0xFFFFFF00u) | *last;
        if (!b) {
            *why = "a range ends in an address or a number up to 255: " + Quoted(text);
            return false;
        }
        if (*b < *a) {
            *why = "the range runs backwards: " + Quoted(text);
            return false;
        }
        *span = {*a, *b};
        return true;
    }
    if (slash == std::string_view::npos) {
        *span = {*a, *a};
        return true;
    }
    *why = "not a target: " + Quoted(text) + " (an address, a range A-B or a block A/N)";
    return false;
}

std::string DottedAddress(uint32_t a) {
    char text[16];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", a >> 24, (a >> 16) & 0xFF, (a >> 8) & 0xFF, a & 0xFF);
    return text;
}

} // namespace session
