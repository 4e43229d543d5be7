#include "hex_notation.h"

namespace {
constexpr char kHexDigits[] = "0123456789ABCDEF";
}

QByteArray RenderHex(const unsigned char *bytes, size_t count, int notation) {
    QByteArray out;
    if (bytes == nullptr || count == 0)
        return out;
    out.reserve(static_cast<qsizetype>(count) * 5);
    for (size_t i = 0; i < count; ++i) {
        const unsigned char b = bytes[i];
        if (notation == 1)
            out.append("0x");
        else if (notation == 2)
            out.append('$');
        out.append(kHexDigits[b >> 4]);
        out.append(kHexDigits[b & 0x0F]);
        if (notation != 2)
            out.append(' ');
    }
    return out;
}
