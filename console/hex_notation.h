// Hexadecimal renderings of frame bytes shared by the preview and the text
// frame files. Notation 0: "%.2X ", 1: "0x%.2X ", 2: "$%.2X".
#pragma once

#include <QByteArray>
#include <cstddef>

// Renders every byte in turn, joined with nothing in between; an unknown
// notation renders as notation 0. At most five characters per byte.
QByteArray RenderHex(const unsigned char *bytes, size_t count, int notation);
