// A port's identity from sysfs. /sys/dev/char/<major>:<minor> leads to the
// tty's class directory; its "device" is what the driver bound (for cdc_acm
// the USB interface, for a USB serial converter its port), and the first
// directory above that with an idVendor file is the USB device itself.
//
// A device may go while it is read (the phone unplugged): whatever could not
// be read stays empty.
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <fstream>
#include <string>

#include "serial/linux_port_scan.h"

namespace serial {
namespace {

// How far above the tty's device the USB device may be (interface, then device;
// a converter's port adds one level).
constexpr int kUsbDeviceLevels = 3;
// The serial core's port and controller devices above a UART's tty.
constexpr int kSerialCoreLevels = 3;

std::string Real_Path(const std::string& path) {
    char resolved[PATH_MAX];
    return ::realpath(path.c_str(), resolved) != nullptr ? std::string(resolved) : std::string();
}

std::string Read_Attribute(const std::string& path) {
    std::ifstream file(path);
    std::string line;
    std::getline(file, line);
    return line;
}

std::string Base_Name(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string Parent(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos || slash == 0 ? std::string() : path.substr(0, slash);
}

bool Exists(const std::string& path) {
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0;
}

}  // namespace

Port_Identity Read_Port_Identity(const std::string& sys_root, dev_t device) {
    Port_Identity identity;
    const std::string tty = Real_Path(sys_root + "/dev/char/" + std::to_string(major(device)) +
                                      ":" + std::to_string(minor(device)));
    if (tty.empty())
        return identity;
    const std::string bound = Real_Path(tty + "/device");
    if (bound.empty())
        return identity;  // a virtual tty: no device behind it
    // Newer kernels put the serial core's own port and controller devices
    // between a UART's tty and its driver: the driver named is the UART's.
    std::string driven = bound;
    for (int level = 0; level < kSerialCoreLevels && !driven.empty(); ++level) {
        identity.driver = Base_Name(Real_Path(driven + "/driver"));
        if (identity.driver != "port" && identity.driver != "ctrl")
            break;
        driven = Parent(driven);
    }

    const std::string devices = Real_Path(sys_root + "/devices");
    std::string below = bound;
    std::string usb_device = bound;
    for (int level = 0; level <= kUsbDeviceLevels && !usb_device.empty(); ++level) {
        if (usb_device.size() <= devices.size() || usb_device.rfind(devices, 0) != 0)
            return identity;  // left the device tree: not a USB device
        if (Exists(usb_device + "/idVendor"))
            break;
        below = usb_device;
        usb_device = Parent(usb_device);
    }
    if (usb_device.empty() || !Exists(usb_device + "/idVendor"))
        return identity;
    identity.usb_vendor_id = Read_Attribute(usb_device + "/idVendor");
    identity.usb_product_id = Read_Attribute(usb_device + "/idProduct");
    identity.usb_serial = Read_Attribute(usb_device + "/serial");
    identity.manufacturer = Read_Attribute(usb_device + "/manufacturer");
    identity.product = Read_Attribute(usb_device + "/product");
    // The interface's name says the device's place and the interface: "1-1:1.0".
    identity.usb_path = Base_Name(below == usb_device ? usb_device : below);
    return identity;
}

Port_Identity Port_Identity_Of(const std::string& device_path) {
    struct stat status {};
    if (::stat(device_path.c_str(), &status) != 0 || !S_ISCHR(status.st_mode))
        return {};
    return Read_Port_Identity("/sys", status.st_rdev);
}

}  // namespace serial
