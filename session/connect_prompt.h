// The serial connect's prompt test over the bytes a module sent after a
// carriage return. Plain bytes, no I/O.
#pragma once

#include <cstring>

// Scans area[0..n-1]; at each line feed puts a zero in its place and reports
// a prompt when the text from the start of the area up to the first zero
// byte holds "O.K", or the byte after the line feed is '>' or '$'. size is
// the area's size (bytes past n are part of the text until a zero, as they
// were left by earlier reads); the text never runs past size.
inline bool ScanForPrompt(unsigned char* area, int n, int size) {
    if (n > size)
        n = size;
    for (int i = 0; i < n; ++i) {
        if (area[i] != 0x0A)
            continue;
        area[i] = 0;
        const void* zero = std::memchr(area, 0, static_cast<size_t>(size));
        const size_t len = zero ? static_cast<size_t>(static_cast<const unsigned char*>(zero) - area)
                                : static_cast<size_t>(size);
        for (size_t k = 0; k + 3 <= len; ++k)
            if (area[k] == 'O' && area[k + 1] == '.' && area[k + 2] == 'K')
                return true;
        if (i + 1 < size && (area[i + 1] == '>' || area[i + 1] == '$'))
            return true;
    }
    return false;
}
