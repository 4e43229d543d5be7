// The serial devices present on this computer, with what the system says
// about them, for a person choosing which device a port number opens. Plain
// C++ over the file system (the device folder, sysfs and the udev database),
// so every front end can list them. Any thread; blocks for a few file reads.
#pragma once

#include <string>
#include <vector>

namespace session {

// Where a scan looks; tests point these at a tree of their own.
struct SerialScanRoots {
    std::string dev = "/dev";
    std::string sys = "/sys";
    std::string udevData = "/run/udev/data";
};

struct SerialDevice {
    // What a port number can open: a stable name first (a udev alias directly
    // under dev, a serial/by-id link), then the kernel's own device.
    std::string path;
    std::string kernelName;  // "ttyUSB0": the device the path leads to
    std::string description; // "FTDI FT232R USB UART, driver ftdi_sio"; may be empty
    std::string driver;      // "ftdi_sio": the kernel driver behind it; may be empty
};

// The ttyUSB*, ttyACM* and ttyS* devices that exist (a ttyS is listed only
// when sysfs reports a UART behind it, not the kernel's empty placeholders),
// ordered USB, ACM, S and by number; each by every path that leads to it.
// Links whose device is gone are left out.
std::vector<SerialDevice> ListSerialDevices(const SerialScanRoots& roots = {});

// The device a listed port is opened by: /dev/<kernel name> on Linux, the
// port's own name (COM3, \\.\COM10) on Windows.
std::string DeviceNode(const SerialDevice& device);

} // namespace session
