#include "sim_range.h"

namespace modsim {

namespace {

// Takes a decimal number of at most `digits` digits from the front of s.
bool TakeNumber(std::string_view& s, size_t digits, uint32_t* out) {
    size_t n = 0;
    uint32_t v = 0;
    while (n < s.size() && n < digits && s[n] >= '0' && s[n] <= '9')
        v = v * 10 + uint32_t(s[n++] - '0');
    if (n == 0 || (n < s.size() && s[n] >= '0' && s[n] <= '9'))
        return false;
    s.remove_prefix(n);
    *out = v;
    return true;
}

bool ParseAddress(std::string_view s, uint32_t* out) {
    uint32_t a = 0;
    for (int i = 0; i < 4; ++i) {
        uint32_t part = 0;
        if (i > 0) {
            if (s.empty() || s.front() != '.')
                return false;
            s.remove_prefix(1);
        }
        if (!TakeNumber(s, 3, &part) || part > 255)
            return false;
        a = a << 8 | part;
    }
    *out = a;
    return s.empty();
}

} // namespace

bool ParseAddressRange(std::string_view text, AddressRange* out, std::string* why) {
    const size_t dash = text.find('-');
    const size_t slash = text.find('/');
    const std::string_view head = text.substr(0, dash != text.npos ? dash : slash);
    uint32_t first = 0;
    if (!ParseAddress(head, &first)) {
        *why = std::string(head) + " is not an IPv4 address";
        return false;
    }
    uint32_t last = first;
    if (dash != text.npos) {
        const std::string_view tail = text.substr(dash + 1);
        if (!ParseAddress(tail, &last)) {
            *why = std::string(tail) + " is not an IPv4 address";
            return false;
        }
        if (last < first) {
            *why = "the range ends before it starts";
            return false;
        }
    } else if (slash != text.npos) {
        std::string_view bits = text.substr(slash + 1);
        uint32_t n = 0;
        if (!TakeNumber(bits, 2, &n) || !bits.empty() || n > 32) {
            *why = "the prefix length is not 0 to 32";
            return false;
        }
        const uint32_t hostMask = n == 0 ? 0xFFFFFFFFu : (1u << (32 - n)) - 1;
        first &= ~hostMask;
        last = first | hostMask;
    }
    out->first = first;
    out->last = last;
    return true;
}

std::string AddressText(uint32_t a) {
    return std::to_string(a >> 24) + "." + std::to_string(a >> 16 & 0xFF) + "." +
           std::to_string(a >> 8 & 0xFF) + "." + std::to_string(a & 0xFF);
}

} // namespace modsim
