// Linux side of the serial device list (see serial_devices.h): the device
// folder for what exists, sysfs and the udev database for what it is.
#include "serial_devices.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

namespace fs = std::filesystem;

namespace session {
namespace {

// The kernel name families listed, in the order shown.
constexpr const char* kFamilies[] = {"ttyUSB", "ttyACM", "ttyS"};
constexpr int kFamilyS = 2;
// How far up from a tty's device sysfs is searched for a driver and names.
constexpr int kSysfsLevels = 4;

// Calls f for each entry of dir; an unreadable folder or entry ends the walk
// (the range form of the iterator would throw).
template <class F> void ForEachEntry(const fs::path& dir, F f) {
    std::error_code ec;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec))
        f(*it);
}

struct KernelName {
    int family = -1; // index into kFamilies, -1 for a name that is not listed
    long number = -1;
};

KernelName ParseKernelName(const std::string& name) {
    for (int f = 0; f < 3; ++f) {
        const std::string prefix = kFamilies[f];
        if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0)
            continue;
        const std::string digits = name.substr(prefix.size());
        if (digits.size() > 6 ||
            !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
            return {};
        return {f, std::stol(digits)};
    }
    return {};
}

// First line of a small file (a sysfs attribute), without trailing blanks;
// empty when it cannot be read.
std::string ReadLine(const fs::path& path) {
    std::ifstream in(path);
    std::string line;
    if (!in || !std::getline(in, line))
        return {};
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t'))
        line.pop_back();
    return line;
}

// The 8250 driver's UART types that PCs carry.
std::string UartName(const std::string& type) {
    static const char* const names[] = {nullptr,  "8250",    "16450",     "16550",  "16550A",
                                        "Cirrus", "ST16650", "ST16650V2", "TI16750"};
    const int n = type.empty() ? 0 : std::atoi(type.c_str());
    return n > 0 && n < int(std::size(names)) ? std::string(names[n]) + " UART" : "UART";
}

struct SysInfo {
    bool present = true;
    std::string vendor, product, driver;
    std::string devNumber; // "188:0", the key of the udev database
};

SysInfo ReadSysfs(const SerialScanRoots& roots, const std::string& name, int family) {
    SysInfo info;
    const fs::path tty = fs::path(roots.sys) / "class" / "tty" / name;
    info.devNumber = ReadLine(tty / "dev");
    if (family == kFamilyS) {
        // The 8250 driver makes ttyS placeholders for ports no machine has;
        // their UART type is 0 ("unknown").
        const std::string type = ReadLine(tty / "type");
        info.present = !type.empty() && type != "0";
        if (!info.present)
            return info;
        info.product = UartName(type);
    }
    std::error_code ec;
    fs::path dir = fs::canonical(tty / "device", ec);
    for (int level = 0; !ec && level < kSysfsLevels && dir.has_relative_path(); ++level) {
        if (info.driver.empty()) {
            // serial_base's own "port" and "ctrl" devices say nothing of the hardware
            const std::string driver = fs::read_symlink(dir / "driver", ec).filename().string();
            if (!ec && driver != "port" && driver != "ctrl")
                info.driver = driver;
            ec.clear();
        }
        if (info.vendor.empty())
            info.vendor = ReadLine(dir / "manufacturer");
        if (family != kFamilyS && info.product.empty())
            info.product = ReadLine(dir / "product");
        if (fs::exists(dir / "idVendor", ec)) // the USB device itself: above it are hubs
            break;
        dir = dir.parent_path();
    }
    return info;
}

// Names that the udev database keeps for the device, where sysfs has none
// (a PCI card's names come from the hardware database).
void ReadUdev(const SerialScanRoots& roots, SysInfo& info) {
    if (info.devNumber.empty() || (!info.vendor.empty() && !info.product.empty()))
        return;
    std::ifstream in(fs::path(roots.udevData) / ("c" + info.devNumber));
    std::string vendor, product, vendorDb, productDb, line;
    while (std::getline(in, line)) {
        auto take = [&line](const char* key, std::string& into) {
            const std::string prefix = std::string("E:") + key + "=";
            if (line.compare(0, prefix.size(), prefix) == 0)
                into = line.substr(prefix.size());
        };
        take("ID_VENDOR", vendor);
        take("ID_MODEL", product);
        take("ID_VENDOR_FROM_DATABASE", vendorDb);
        take("ID_MODEL_FROM_DATABASE", productDb);
    }
    std::replace(vendor.begin(), vendor.end(), '_', ' ');
    std::replace(product.begin(), product.end(), '_', ' ');
    if (info.vendor.empty())
        info.vendor = vendorDb.empty() ? vendor : vendorDb;
    if (info.product.empty())
        info.product = productDb.empty() ? product : productDb;
}

std::string Describe(const SysInfo& info) {
    std::string text = info.vendor;
    if (!info.product.empty()) {
        if (text.empty() || info.product.compare(0, text.size(), text) == 0)
            text = info.product; // the product already names its maker
        else
            text += " " + info.product;
    }
    if (!info.driver.empty())
        text += (text.empty() ? "driver " : ", driver ") + info.driver;
    return text;
}

struct Found {
    KernelName key;
    std::string name;
    fs::path node;   // <dev>/<name>
    fs::path target; // where node leads in the end
    std::string description, driver;
    std::vector<std::string> stable; // aliases and by-id links that lead to target
};

// Symbolic links in dir, sorted, that lead to a found device other than by
// its kernel name.
void AddStableNames(const fs::path& dir, std::vector<Found>& found) {
    std::error_code ec;
    std::vector<fs::path> links;
    ForEachEntry(dir, [&](const fs::directory_entry& e) {
        if (e.is_symlink(ec) && ParseKernelName(e.path().filename().string()).family < 0)
            links.push_back(e.path());
    });
    std::sort(links.begin(), links.end());
    for (const fs::path& link : links) {
        const fs::path target = fs::canonical(link, ec);
        if (ec)
            continue; // its device is gone
        for (Found& f : found)
            if (f.target == target)
                f.stable.push_back(link.string());
    }
}

} // namespace

std::vector<SerialDevice> ListSerialDevices(const SerialScanRoots& roots) {
    std::vector<Found> found;
    ForEachEntry(roots.dev, [&](const fs::directory_entry& e) {
        Found f;
        f.name = e.path().filename().string();
        f.key = ParseKernelName(f.name);
        if (f.key.family < 0)
            return;
        std::error_code ec;
        f.node = e.path();
        f.target = fs::canonical(f.node, ec);
        if (ec)
            return; // a link whose device is gone
        SysInfo info = ReadSysfs(roots, f.name, f.key.family);
        if (!info.present)
            return;
        ReadUdev(roots, info);
        f.description = Describe(info);
        f.driver = info.driver;
        found.push_back(std::move(f));
    });
    std::sort(found.begin(), found.end(), [](const Found& a, const Found& b) {
        return a.key.family != b.key.family ? a.key.family < b.key.family : a.key.number < b.key.number;
    });
    AddStableNames(roots.dev, found);
    AddStableNames(fs::path(roots.dev) / "serial" / "by-id", found);

    std::vector<SerialDevice> out;
    for (const Found& f : found) {
        for (const std::string& path : f.stable)
            out.push_back({path, f.name, f.description, f.driver});
        out.push_back({f.node.string(), f.name, f.description, f.driver});
    }
    return out;
}

std::string DeviceNode(const SerialDevice& device) {
    return "/dev/" + device.kernelName;
}

} // namespace session
