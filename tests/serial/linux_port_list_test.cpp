// The /dev scan over a directory of the test's own: which names count, their
// order, symbolic links and the result codes. The "devices" are links to the
// system's own character devices, each a distinct device.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "serial/linux_port_scan.h"
#include "tests/support/temp_directory.h"

namespace {

class DevScan : public ::testing::Test {
  protected:
    void Link(const std::string& name, const std::string& target) {
        ASSERT_EQ(symlink(target.c_str(), (dir + "/" + name).c_str()), 0) << name;
    }

    std::vector<std::string> Scan(int expected_code) {
        std::vector<Port_Candidate> ports{{"stale", "stale", 0}};
        const int code = serial::Scan_Serial_Devices(
            dir,
            [this](const std::string& path) {
                uart_checked.insert(path.substr(dir.size() + 1));
                return fitted_uarts.contains(path.substr(dir.size() + 1));
            },
            ports);
        EXPECT_EQ(code, expected_code);
        std::vector<std::string> names;
        for (const Port_Candidate& port : ports) {
            EXPECT_EQ(port.display_name, port.device_path);
            names.push_back(port.device_path.substr(dir.size() + 1));
        }
        return names;
    }

    test_support::Temp_Directory scratch{"dev-scan"};
    std::string dir = scratch.Path().string();
    std::set<std::string> fitted_uarts;
    std::set<std::string> uart_checked;
};

TEST_F(DevScan, UsbPortsFirstByNumberThenFittedUarts) {
    Link("ttyS1", "/dev/urandom");
    Link("ttyUSB10", "/dev/zero");
    Link("ttyS0", "/dev/random");
    Link("ttyUSB2", "/dev/full");
    Link("ttyACM1", "/dev/null");
    fitted_uarts = {"ttyS0"};
    EXPECT_EQ(Scan(kPortListOk),
              (std::vector<std::string>{"ttyACM1", "ttyUSB2", "ttyUSB10", "ttyS0"}));
    // Only UARTs are checked; USB ports are trusted as found.
    EXPECT_EQ(uart_checked, (std::set<std::string>{"ttyS0", "ttyS1"}));
}

TEST_F(DevScan, OnlyCharacterDevicesWithPortNamesCount) {
    Link("ttyACM0", "/dev/null");
    Link("ttyACM6", dir + "/nowhere");  // dangling
    Link("ttyUSB3", "/tmp");            // a directory
    { std::ofstream(dir + "/ttyACM5") << "x"; }
    for (const char* name : {"ttyS", "ttyUSB", "ttyUSBa", "ttyACM1x", "ttySAC0", "tty0"}) {
        Link(name, "/dev/zero");
    }
    EXPECT_EQ(Scan(kPortListOk), (std::vector<std::string>{"ttyACM0"}));
    EXPECT_TRUE(uart_checked.empty());
}

TEST_F(DevScan, EachDeviceIsListedOnce) {
    // Two links to one device: the first in order stands for it.
    Link("ttyUSB4", "/dev/zero");
    Link("ttyACM9", "/dev/zero");
    Link("ttyUSB1", "/dev/null");
    EXPECT_EQ(Scan(kPortListOk), (std::vector<std::string>{"ttyACM9", "ttyUSB1"}));
}

TEST_F(DevScan, DeviceNodeIsPreferredOverALinkToIt) {
    const std::string node = dir + "/ttyUSB5";
    if (mknod(node.c_str(), S_IFCHR | 0600, makedev(1, 3)) != 0) {
        GTEST_SKIP() << "cannot make a device node here";
    }
    Link("ttyACM0", "ttyUSB5");  // a udev-style alias that sorts first
    EXPECT_EQ(Scan(kPortListOk), (std::vector<std::string>{"ttyUSB5"}));
}

TEST_F(DevScan, ResultCodesKeepTheirMeaning) {
    // Nothing there: no port yet (and no stale entries left behind).
    EXPECT_TRUE(Scan(kPortListNothingFound).empty());
    Link("ttyS0", "/dev/null");  // a UART slot with nothing fitted
    EXPECT_TRUE(Scan(kPortListNothingFound).empty());

    // The directory itself unreadable: the map could not be read.
    std::vector<Port_Candidate> ports;
    EXPECT_EQ(serial::Scan_Serial_Devices(dir + "/missing", serial::Uart_Check(), ports),
              kPortListMapUnreadable);
}

}  // namespace

// Each port's identity from sysfs, over a tree of the test's own laid out as
// the kernel lays it: a cdc_acm port on a USB device (whose root hub above
// it has USB numbers too), a UART behind the serial core's port and
// controller devices, and a tty with no device behind it.
class SysfsIdentity : public DevScan {
  protected:
    void SetUp() override {
        sys = dir + "/sys";
        const std::string hub = "devices/platform/dummy_hcd.0/usb1";
        const std::string phone = hub + "/1-1";
        const std::string acm = phone + "/1-1:1.0";
        const std::string uart = "devices/platform/serial8250";
        Attribute(hub + "/idVendor", "1d6b");
        Attribute(phone + "/idVendor", "1d6b");
        Attribute(phone + "/idProduct", "0104");
        Attribute(phone + "/serial",
                  "M418-\x1b"
                  "0001");
        Attribute(phone + "/manufacturer", "Corvel");
        Attribute(phone + "/product", "M418 boot loader");
        Driver(acm, "usb", "cdc_acm");
        Tty(acm + "/tty/ttyACM0", "1:3", "../../../1-1:1.0");
        Driver(uart, "platform", "serial8250");
        Driver(uart + "/serial8250:0", "serial-base", "ctrl");
        Driver(uart + "/serial8250:0/serial8250:0.0", "serial-base", "port");
        Tty(uart + "/serial8250:0/serial8250:0.0/tty/ttyS0", "1:5", "../../../serial8250:0.0");
        Tty("devices/virtual/tty/ptmx", "1:7", "");
    }
    void Attribute(const std::string& path, const std::string& text) {
        std::filesystem::create_directories(std::filesystem::path(sys + "/" + path).parent_path());
        std::ofstream(sys + "/" + path) << text << "\n";
    }
    void Driver(const std::string& device, const std::string& bus, const std::string& name) {
        const std::string driver = sys + "/bus/" + bus + "/drivers/" + name;
        std::filesystem::create_directories(driver);
        std::filesystem::create_directories(sys + "/" + device);
        std::filesystem::create_directory_symlink(driver, sys + "/" + device + "/driver");
    }
    // The tty's class directory, its device link, and its /sys/dev/char entry.
    void Tty(const std::string& path, const std::string& numbers, const std::string& device) {
        std::filesystem::create_directories(sys + "/" + path);
        if (!device.empty())
            std::filesystem::create_directory_symlink(device, sys + "/" + path + "/device");
        std::filesystem::create_directories(sys + "/dev/char");
        std::filesystem::create_directory_symlink("../../" + path, sys + "/dev/char/" + numbers);
    }
    std::string sys;
};

TEST_F(SysfsIdentity, UsbPortsCarryTheirDeviceAndUartsTheirDriver) {
    Link("ttyACM0", "/dev/null");  // 1:3
    Link("ttyS0", "/dev/zero");    // 1:5
    Link("ttyUSB0", "/dev/full");  // 1:7, nothing behind it
    fitted_uarts = {"ttyS0"};
    std::vector<Port_Candidate> ports;
    ASSERT_EQ(serial::Scan_Serial_Devices(
                  dir, [](const std::string&) { return true; }, ports, sys),
              kPortListOk);
    ASSERT_EQ(ports.size(), 3u);
    const Port_Identity& acm = ports[0].identity;
    EXPECT_EQ(acm.driver, "cdc_acm");
    EXPECT_EQ(acm.usb_vendor_id + ":" + acm.usb_product_id, "1d6b:0104");
    EXPECT_EQ(acm.usb_serial,
              "M418-\x1b"
              "0001");  // as the device says; escaped when shown
    EXPECT_EQ(acm.manufacturer + " " + acm.product, "Corvel M418 boot loader");
    EXPECT_EQ(acm.usb_path, "1-1:1.0");
    const Port_Identity& none = ports[1].identity;  // ttyUSB0
    EXPECT_FALSE(none.Known());
    const Port_Identity& uart = ports[2].identity;  // ttyS0
    EXPECT_EQ(uart.driver, "serial8250");
    EXPECT_FALSE(uart.Is_Usb()) << "the platform bus is no USB device";
    // Without a sysfs root nothing is looked up.
    ASSERT_EQ(serial::Scan_Serial_Devices(
                  dir, [](const std::string&) { return true; }, ports),
              kPortListOk);
    EXPECT_FALSE(ports[0].identity.Known());
}
