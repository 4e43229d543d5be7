// The serial device list on a made-up device, sysfs and udev tree.
#include "serial_devices.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include <unistd.h>

namespace fs = std::filesystem;

namespace {

void Write(const fs::path& p, const std::string& text) {
    fs::create_directories(p.parent_path());
    std::ofstream(p) << text;
}

void Link(const fs::path& p, const fs::path& target) {
    fs::create_directories(p.parent_path());
    fs::create_symlink(target, p);
}

struct Tree {
    fs::path root = fs::temp_directory_path() / ("lumo-ports-" + std::to_string(::getpid()));
    session::SerialScanRoots roots{(root / "dev").string(), (root / "sys").string(),
                                   (root / "udev").string()};
    Tree() { fs::remove_all(root); }
    ~Tree() { fs::remove_all(root); }
};

} // namespace

TEST(SerialDevices, ListsWhatExistsWithStableNamesAndDescriptions) {
    Tree t;
    const fs::path dev = t.roots.dev, sys = t.roots.sys;
    for (const char* name : {"ttyUSB0", "ttyUSB2", "ttyUSB10", "ttyS0", "ttyS1", "ttyprintk"})
        Write(dev / name, "");
    Link(dev / "ttyACM0", "gone"); // dangling: left out
    Link(dev / "serial/by-id/usb-FTDI_FT232R_A50285BI-if00-port0", "../../ttyUSB0");
    Link(dev / "lumo-module0", "ttyUSB0");                     // a udev alias
    Link(dev / "serial/by-id/usb-Gone-if00", "../../ttyUSB7"); // its device is gone
    // ttyUSB0: an FTDI adapter, driver on the tty's device, names on the USB device
    const fs::path usb = sys / "devices/usb1/1-1";
    Write(usb / "manufacturer", "FTDI\n");
    Write(usb / "product", "FT232R USB UART\n");
    Write(usb / "idVendor", "0403\n");
    Write(usb / "1-1:1.0/ttyUSB0/uevent", "");
    Link(usb / "1-1:1.0/ttyUSB0/driver", "../../../../../bus/usb-serial/drivers/ftdi_sio");
    Link(sys / "class/tty/ttyUSB0/device", "../../../devices/usb1/1-1/1-1:1.0/ttyUSB0");
    // ttyUSB2: names from the udev database only
    Write(sys / "class/tty/ttyUSB2/dev", "188:2\n");
    Write(t.root / "udev/c188:2", "E:ID_VENDOR=Prolific_Technology_Inc.\nE:ID_MODEL=USB-Serial_Controller\n"
                                  "E:ID_VENDOR_FROM_DATABASE=Prolific Technology, Inc.\n");
    // ttyS0 has a 16550A; ttyS1 is one of the 8250 driver's placeholders
    Write(sys / "class/tty/ttyS0/type", "4\n");
    Write(sys / "class/tty/ttyS1/type", "0\n");

    std::vector<std::string> got;
    for (const session::SerialDevice& d : session::ListSerialDevices(t.roots))
        got.push_back(fs::path(d.path).lexically_relative(dev).string() + " | " + d.kernelName + " | " +
                      d.description);
    const std::string ftdi = " | ttyUSB0 | FTDI FT232R USB UART, driver ftdi_sio";
    EXPECT_EQ(got, (std::vector<std::string>{
                       "lumo-module0" + ftdi,
                       "serial/by-id/usb-FTDI_FT232R_A50285BI-if00-port0" + ftdi,
                       "ttyUSB0" + ftdi,
                       "ttyUSB2 | ttyUSB2 | Prolific Technology, Inc. USB-Serial Controller",
                       "ttyUSB10 | ttyUSB10 | ",
                       "ttyS0 | ttyS0 | 16550A UART",
                   }));
    EXPECT_TRUE(session::ListSerialDevices({"/nonexistent/dev", "/nonexistent/sys", ""}).empty());
}
