// Texts across the C interface: UTF-8 in and out, UTF-16 inside (the
// console's text), dotted IPv4 addresses. Plain functions without I/O.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "utf8.h"

namespace capi {

// UTF-16 of well-formed UTF-8 (nullopt for anything else), and UTF-8 of
// UTF-16 or wide text.
using lumo::FromUtf8;
using lumo::ToUtf8;

// The four parts of a dotted IPv4 address "a.b.c.d" (each 0 to 255, one to
// three digits), the first in the top byte; nullopt for anything else.
std::optional<uint32_t> ParseDotted(std::string_view text);

} // namespace capi
