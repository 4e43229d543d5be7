#include "utf8.h"

namespace lumo {

void AppendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

std::string ToUtf8(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    ForEachCodePoint(text, [&out](char32_t c) { AppendUtf8(out, c); });
    return out;
}

std::string ToUtf8(std::wstring_view text) {
    if constexpr (sizeof(wchar_t) == sizeof(char16_t)) // Windows: wide text is UTF-16
        return ToUtf8(std::u16string_view(reinterpret_cast<const char16_t*>(text.data()), text.size()));
    std::string out;
    out.reserve(text.size());
    for (wchar_t w : text) {
        const auto c = static_cast<char32_t>(w);
        AppendUtf8(out, c > 0x10FFFF || (c >= 0xD800 && c < 0xE000) ? char32_t(0xFFFD) : c);
    }
    return out;
}

size_t DecodeUtf8(std::string_view text, size_t i, char32_t* c) {
    const auto lead = static_cast<unsigned char>(text[i]);
    // sequence length, and the smallest value that needs it (no overlong forms)
    size_t len = 1;
    char32_t value = lead, least = 0;
    if (lead >= 0xF0 && lead <= 0xF4) {
        len = 4, value = lead & 0x07, least = 0x10000;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        len = 3, value = lead & 0x0F, least = 0x800;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
        len = 2, value = lead & 0x1F, least = 0x80;
    } else if (lead >= 0x80) {
        return 0;
    }
    if (text.size() - i < len)
        return 0;
    for (size_t k = 1; k < len; ++k) {
        const auto next = static_cast<unsigned char>(text[i + k]);
        if ((next & 0xC0) != 0x80)
            return 0;
        value = (value << 6) | (next & 0x3F);
    }
    if (value < least || value > 0x10FFFF || (value >= 0xD800 && value < 0xE000))
        return 0;
    *c = value;
    return len;
}

void AppendUtf16(std::u16string& out, char32_t c) {
    if (c >= 0x10000) {
        c -= 0x10000;
        out += static_cast<char16_t>(0xD800 | (c >> 10));
        out += static_cast<char16_t>(0xDC00 | (c & 0x3FF));
    } else {
        out += static_cast<char16_t>(c);
    }
}

std::optional<std::u16string> FromUtf8(std::string_view text) {
    std::u16string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        char32_t c = 0;
        const size_t len = DecodeUtf8(text, i, &c);
        if (len == 0)
            return std::nullopt;
        AppendUtf16(out, c);
        i += len;
    }
    return out;
}

std::u16string FromUtf8OrLatin1(std::string_view text) {
    std::u16string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        char32_t c = 0;
        const size_t len = DecodeUtf8(text, i, &c);
        AppendUtf16(out, len ? c : static_cast<unsigned char>(text[i]));
        i += len ? len : 1;
    }
    return out;
}

} // namespace lumo
