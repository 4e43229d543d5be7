// The command text as the frame builders take it: UTF-16 code units.
#pragma once

#include <QString>
#include <string_view>

inline std::u16string_view commandUnits(const QString& text) {
    return {reinterpret_cast<const char16_t*>(text.utf16()), static_cast<size_t>(text.size())};
}
