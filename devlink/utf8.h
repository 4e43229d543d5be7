// UTF-8 for the texts the programs print, write and take in; the device
// link and the console work in UTF-16 (or wide) text. Plain functions, any
// thread.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace lumo {

// Appends one code point (at most U+10FFFF) as UTF-8.
void AppendUtf8(std::string& out, char32_t c);

// Calls f(code point) for each character of s; a lone surrogate as U+FFFD.
template <typename F> void ForEachCodePoint(std::u16string_view s, F f) {
    for (size_t i = 0; i < s.size(); ++i) {
        const char32_t u = s[i];
        if (u >= 0xD800 && u < 0xDC00 && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] < 0xE000) {
            f(0x10000 + ((u - 0xD800) << 10) + (char32_t(s[i + 1]) - 0xDC00));
            ++i;
        } else {
            f(u >= 0xD800 && u < 0xE000 ? char32_t(0xFFFD) : u);
        }
    }
}

// UTF-8 of UTF-16 or wide text; a lone surrogate or a value beyond U+10FFFF
// becomes U+FFFD.
std::string ToUtf8(std::u16string_view text);
std::string ToUtf8(std::wstring_view text);

// The well-formed UTF-8 sequence at text[i]: stores its code point and
// returns its length; 0 for anything else (a stray or cut-short byte, an
// overlong form, a surrogate, a value beyond U+10FFFF).
size_t DecodeUtf8(std::string_view text, size_t i, char32_t* c);

// Appends one code point as UTF-16 (a surrogate pair beyond U+FFFF).
void AppendUtf16(std::u16string& out, char32_t c);

// UTF-16 of well-formed UTF-8; nullopt for anything else.
std::optional<std::u16string> FromUtf8(std::string_view text);

// UTF-16 of any bytes: UTF-8 where they are, each other byte standing for
// itself (as Latin-1), so every file name and every file yields a text.
std::u16string FromUtf8OrLatin1(std::string_view text);

} // namespace lumo
