// The console's settings file: INI text with one section "CMDORA" holding
// decimal values. Read when the main dialog opens, written one key at a time
// as the operator changes a choice. UI thread only.
#pragma once

#include <QString>
#include <array>
#include <cstdint>

// Full path of the settings file, fixed at start-up.
extern QString g_SettingsPath;

inline constexpr const char* kSettingsSection = "CMDORA";
// Shown when no address has been stored (or 0.0.0.0 was).
inline constexpr std::array<uint8_t, 4> kDefaultModuleAddress = {127, 0, 0, 1};

// Reads key of section "CMDORA" in g_SettingsPath into value (at most 255
// characters). Returns the number of characters read; 0 when the file, the
// section or the key is missing or the value is empty.
int ReadSetting(const QString& key, QString& value);

// Writes key=value ("%d") into section "CMDORA" of g_SettingsPath, keeping
// every other line; the file and the section are made when missing. Replaces
// the file as a whole (temporary file and rename). Failures are ignored.
void WriteSetting(const QString& key, int value);

// Decimal conversion like the C library's wide string-to-long in base 10:
// leading white space and a sign, stops at the first non-digit, no digits
// gives 0; clamps to the 32-bit range.
long SettingToLong(const QString& text);

// The stored module address: "IPAddressField0".."3", low 8 bits each; all
// zero (or nothing stored) gives kDefaultModuleAddress.
std::array<uint8_t, 4> ReadStoredAddress();
// Writes the four address keys.
void WriteStoredAddress(const std::array<uint8_t, 4>& parts);

// The file that keeps which device each port number opens, beside the
// settings file (session/port_map.h); empty while g_SettingsPath is.
QString PortMapPath();
