// The /dev scan over a directory of the test's own: which names count, their
// order, symbolic links and the result codes. The "devices" are links to the
// system's own character devices, each a distinct device.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "serial/linux_port_scan.h"

namespace {

class DevScan : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/dev-scan-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
    }
    void TearDown() override {
        for (const std::string& name : made)
            unlink((dir + "/" + name).c_str());
        rmdir(dir.c_str());
    }

    void Link(const std::string& name, const std::string& target) {
        ASSERT_EQ(symlink(target.c_str(), (dir + "/" + name).c_str()), 0) << name;
        made.push_back(name);
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

    std::string dir;
    std::vector<std::string> made;
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
    made.push_back("ttyACM5");
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
    made.push_back("ttyUSB5");
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
