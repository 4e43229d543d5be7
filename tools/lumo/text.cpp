#include "text.h"

#include <cstdio>

namespace lumo_cli {

namespace {

void AppendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (c >> 6)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (c >> 12)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (c >> 18)));
        out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

// Calls f(code point) for each character of s; unpaired surrogates as U+FFFD.
template <typename F> void ForEachCodePoint(std::u16string_view s, F f) {
    for (size_t i = 0; i < s.size(); ++i) {
        const char16_t u = s[i];
        if (u >= 0xD800 && u < 0xDC00 && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] < 0xE000) {
            f(0x10000 + ((char32_t(u) - 0xD800) << 10) + (char32_t(s[i + 1]) - 0xDC00));
            ++i;
        } else if (u >= 0xD800 && u < 0xE000) {
            f(0xFFFD);
        } else {
            f(u);
        }
    }
}

std::string HexByte(unsigned v, const char* format) {
    char buf[16];
    std::snprintf(buf, sizeof buf, format, v);
    return buf;
}

} // namespace

std::u16string FromUtf8(std::string_view s) {
    std::u16string out;
    out.reserve(s.size());
    size_t i = 0;
    while (i < s.size()) {
        const auto b = static_cast<unsigned char>(s[i]);
        const int more = b >= 0xF0 && b < 0xF5 ? 3 : b >= 0xE0 ? 2 : b >= 0xC2 && b < 0xE0 ? 1 : 0;
        char32_t c = more == 3 ? b & 0x07 : more == 2 ? b & 0x0F : b & 0x1F;
        bool valid = more > 0 && i + static_cast<size_t>(more) < s.size();
        for (int k = 1; valid && k <= more; ++k) {
            if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80)
                valid = false;
            else
                c = (c << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
        }
        // overlong forms, surrogates and values past U+10FFFF are not valid
        if (valid && ((more == 2 && (c < 0x800 || (c >= 0xD800 && c < 0xE000))) ||
                      (more == 3 && (c < 0x10000 || c > 0x10FFFF))))
            valid = false;
        if (!valid) {
            out.push_back(b); // ASCII, or a stray byte taken as Latin-1
            ++i;
            continue;
        }
        if (c >= 0x10000) {
            c -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(c));
        }
        i += static_cast<size_t>(more) + 1;
    }
    return out;
}

std::string ToUtf8(std::u16string_view s) {
    std::string out;
    ForEachCodePoint(s, [&](char32_t c) { AppendUtf8(out, c); });
    return out;
}

std::string OneLine(std::u16string_view s) {
    std::string out;
    ForEachCodePoint(s, [&](char32_t c) {
        switch (c) {
        case '\r':
            out += "\\r";
            return;
        case '\n':
            out += "\\n";
            return;
        case '\t':
            out += "\\t";
            return;
        case '\\':
            out += "\\\\";
            return;
        default:
            if (c < 0x20 || c == 0x7F || (c >= 0x80 && c < 0xA0))
                out += HexByte(static_cast<unsigned>(c), "\\x%02X");
            else
                AppendUtf8(out, c);
        }
    });
    return out;
}

std::string Hex(const std::vector<uint8_t>& bytes) {
    std::string out;
    out.reserve(bytes.size() * 3);
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (i > 0)
            out.push_back(' ');
        out += HexByte(bytes[i], "%02X");
    }
    return out;
}

std::string JsonString(std::u16string_view s) {
    std::string out = "\"";
    ForEachCodePoint(s, [&](char32_t c) {
        switch (c) {
        case '"':
            out += "\\\"";
            return;
        case '\\':
            out += "\\\\";
            return;
        case '\r':
            out += "\\r";
            return;
        case '\n':
            out += "\\n";
            return;
        case '\t':
            out += "\\t";
            return;
        default:
            if (c < 0x20 || c == 0x7F)
                out += HexByte(static_cast<unsigned>(c), "\\u%04x");
            else
                AppendUtf8(out, c);
        }
    });
    return out + "\"";
}

std::string XmlEscape(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    for (char c : s) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        case '\'':
            out += "&apos;";
            break;
        default:
            out.push_back(c);
        }
    }
    return out;
}

std::string CsvField(std::string_view s) {
    if (s.find_first_of(",\"\r\n") == std::string_view::npos)
        return std::string(s);
    std::string out = "\"";
    for (char c : s) {
        if (c == '"')
            out.push_back('"');
        out.push_back(c);
    }
    return out + "\"";
}

} // namespace lumo_cli
