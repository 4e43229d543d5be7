// Windows side of the serial device list (see serial_devices.h): the ports
// the system lists under HKEY_LOCAL_MACHINE\HARDWARE\DEVICEMAP\SERIALCOMM.
// The scan roots are Linux folders and do not apply.
#include "serial_devices.h"

#include "utf8.h"

#include <algorithm>
#include <string>

#include <windows.h>

namespace session {
namespace {

int ComNumber(const std::wstring& name) {
    if (name.size() < 4 || name.compare(0, 3, L"COM") != 0)
        return 0;
    int n = 0;
    for (size_t i = 3; i < name.size(); ++i) {
        if (name[i] < L'0' || name[i] > L'9' || n > 9999)
            return 0;
        n = n * 10 + (name[i] - L'0');
    }
    return n;
}

std::string Utf8(const std::wstring& text) {
    return lumo::ToUtf8(std::wstring_view(text));
}

} // namespace

std::vector<SerialDevice> ListSerialDevices(const SerialScanRoots&) {
    std::vector<std::pair<int, SerialDevice>> found;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) != ERROR_SUCCESS)
        return {};
    for (DWORD i = 0;; ++i) {
        wchar_t device[256];
        wchar_t port[64];
        DWORD deviceLen = 256, portBytes = sizeof port - sizeof(wchar_t), type = 0;
        const LONG rc = RegEnumValueW(key, i, device, &deviceLen, nullptr, &type, reinterpret_cast<BYTE*>(port),
                                      &portBytes);
        if (rc == ERROR_MORE_DATA)
            continue;
        if (rc != ERROR_SUCCESS)
            break;
        if (type != REG_SZ)
            continue;
        port[portBytes / sizeof(wchar_t)] = L'\0';
        const std::wstring name = port;
        const int number = ComNumber(name);
        if (number == 0)
            continue;
        SerialDevice d;
        d.kernelName = Utf8(name);
        d.path = number > 9 ? "\\\\.\\" + d.kernelName : d.kernelName;
        d.description = Utf8(device);
        found.emplace_back(number, std::move(d));
    }
    RegCloseKey(key);
    std::sort(found.begin(), found.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<SerialDevice> out;
    for (auto& f : found)
        out.push_back(std::move(f.second));
    return out;
}

std::string DeviceNode(const SerialDevice& device) {
    return device.path;
}

} // namespace session
