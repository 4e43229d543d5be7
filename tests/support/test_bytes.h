// Byte-string helpers for tests: hex text to bytes and back.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace lumo_test {

using Bytes = std::vector<unsigned char>;

// "55 AA F8" (spaces optional) -> {0x55, 0xAA, 0xF8}.
inline Bytes Hex(const char* text) {
    Bytes out;
    unsigned v = 0;
    int n = 0;
    while (std::sscanf(text, " %2x%n", &v, &n) == 1) {
        out.push_back(static_cast<unsigned char>(v));
        text += n;
    }
    return out;
}

// {0x55, 0xAA} -> "55 AA", for readable assertion messages.
inline std::string ToHex(const Bytes& bytes) {
    std::string out;
    char cell[4];
    for (unsigned char b : bytes) {
        std::snprintf(cell, sizeof cell, out.empty() ? "%02X" : " %02X", b);
        out += cell;
    }
    return out;
}

inline Bytes TextBytes(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

} // namespace lumo_test
