// Text conversions of the command-line front end: UTF-8 arguments and files
// to the UTF-16 texts the session takes, and the session's texts and bytes
// back out for a terminal (one line each), JSON, XML and CSV. Plain
// functions, no I/O; any thread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "utf8.h"

namespace lumo_cli {

// UTF-8 to UTF-16; a byte that starts no valid sequence stands for itself
// (as Latin-1), so any file yields a command.
using lumo::FromUtf8OrLatin1;
// UTF-16 to UTF-8; an unpaired surrogate becomes U+FFFD.
using lumo::ToUtf8;

// A text on one line: \r, \n, \t, \\ and other control characters as \xNN;
// the rest as UTF-8.
std::string OneLine(std::u16string_view s);

// OneLine without the line ending (CR, LF) that closed the text: what a
// person reads of a module's line. Reports keep the bytes themselves.
std::string ReadableLine(std::u16string_view s);

// A UTF-8 (else Latin-1) text for a message: OneLine, and cut short after
// 60 characters.
std::string Excerpt(std::string_view text);

// A JSON string literal, quotes included.
std::string JsonString(std::u16string_view s);
// Escapes &, <, >, " and ' for XML text and attribute values.
std::string XmlEscape(std::string_view s);

} // namespace lumo_cli
