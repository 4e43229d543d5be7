// Texts across the C interface: UTF-8 in and out, UTF-16 inside (the
// console's text), dotted IPv4 addresses. Plain functions without I/O.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace capi {

// UTF-16 of well-formed UTF-8 (no overlong forms, surrogates or values above
// U+10FFFF); nullopt for anything else.
std::optional<std::u16string> FromUtf8(std::string_view text);

// UTF-8 of UTF-16; a lone surrogate becomes U+FFFD.
std::string ToUtf8(std::u16string_view text);
std::string ToUtf8(std::wstring_view text);

// The four parts of a dotted IPv4 address "a.b.c.d" (each 0 to 255, one to
// three digits), the first in the top byte; nullopt for anything else.
std::optional<uint32_t> ParseDotted(std::string_view text);

} // namespace capi
