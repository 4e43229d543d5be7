#include "text.h"

#include "utf8.h"

#include <cstdio>

namespace lumo_cli {

namespace {

std::string HexByte(unsigned v, const char* format) {
    char buf[16];
    std::snprintf(buf, sizeof buf, format, v);
    return buf;
}

} // namespace

std::string OneLine(std::u16string_view s) {
    std::string out;
    lumo::ForEachCodePoint(s, [&](char32_t c) {
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
                lumo::AppendUtf8(out, c);
        }
    });
    return out;
}

std::string ReadableLine(std::u16string_view s) {
    const size_t end = s.find_last_not_of(u"\r\n");
    return OneLine(s.substr(0, end == std::u16string_view::npos ? 0 : end + 1));
}

std::string Excerpt(std::string_view text) {
    constexpr size_t kMaxShown = 60;
    const std::u16string t = FromUtf8OrLatin1(text);
    return t.size() <= kMaxShown ? OneLine(t) : OneLine(std::u16string_view(t).substr(0, kMaxShown)) + "...";
}

std::string JsonString(std::u16string_view s) {
    std::string out = "\"";
    lumo::ForEachCodePoint(s, [&](char32_t c) {
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
                lumo::AppendUtf8(out, c);
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

} // namespace lumo_cli
