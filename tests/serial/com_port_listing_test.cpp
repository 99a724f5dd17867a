// The COM port listing rules against a scripted registry and scripted ports.
#include <gtest/gtest.h>

#include <array>
#include <map>
#include <string>
#include <vector>

#include "serial/com_port_listing.h"
#include "serial/port_list.h"
#include "serial/usb_location_path.h"

namespace {

struct Registry_Value {
    std::string name;
    std::string data;
    std::uint32_t type = kRegSz;
};

// How a probed port answers.
struct Fake_Port {
    bool opens = true;
    std::uint32_t open_error = 0;
    bool properties_read = true;
    std::uint32_t subtype = kPstRs232;
};

class Fake_Win32 final : public Win32_Api {
  public:
    bool key_exists = true;
    std::uint32_t platform = kPlatformWin32Nt;
    std::vector<Registry_Value> values;
    std::map<std::string, Fake_Port> ports;  // by device path; absent: error 2
    std::vector<std::string> opened_paths;
    int map_opens = 0;
    int map_closes = 0;
    int port_closes = 0;

    bool Open_Serial_Map() override {
        ++map_opens;
        return key_exists;
    }
    // Behaves as RegEnumValueA does: fails at the end of the values and on a
    // name or data that does not fit buffer_size with its terminating null.
    bool Enum_Value(std::uint32_t index, std::uint32_t buffer_size, std::string& name,
                    std::uint32_t& type, std::string& data) override {
        if (index >= values.size())
            return false;
        const Registry_Value& value = values[index];
        if (value.name.size() + 1 > buffer_size || value.data.size() + 1 > buffer_size) {
            return false;
        }
        name = value.name;
        type = value.type;
        data = value.data;
        return true;
    }
    void Close_Serial_Map() override { ++map_closes; }
    std::uint32_t Platform_Id() override { return platform; }
    Probe_Open Open_Port(const std::string& path) override {
        opened_paths.push_back(path);
        const auto it = ports.find(path);
        if (it == ports.end())
            return {false, 2};  // ERROR_FILE_NOT_FOUND
        m_current = it->second;
        return {m_current.opens, m_current.opens ? 0 : m_current.open_error};
    }
    bool Get_Comm_Properties(std::uint32_t& provider_subtype) override {
        provider_subtype = 0;
        if (!m_current.properties_read)
            return false;
        provider_subtype = m_current.subtype;
        return true;
    }
    void Close_Port() override { ++port_closes; }

  private:
    Fake_Port m_current;
};

Registry_Value Nt(std::string data, std::string name = "\\Device\\USBSER000") {
    return {std::move(name), std::move(data), kRegSz};
}

// Runs Find_Com_Ports with a full-size array; returns the result code.
struct Listing {
    int code = -1;
    std::uint16_t count = 255;
    std::array<std::uint16_t, 255> ports{};
    std::vector<std::uint16_t> Found() const {
        return std::vector<std::uint16_t>(ports.begin(), ports.begin() + count);
    }
};

Listing List(Fake_Win32& api) {
    Listing listing;
    listing.code = Find_Com_Ports(api, listing.ports.data(), &listing.count);
    return listing;
}

TEST(ComPortName, AcceptsComAndDigitsOnly) {
    for (const char* good : {"COM1", "com12", "CoM0", "COM007", "COM65535"}) {
        EXPECT_TRUE(Is_Com_Port_Name(good)) << good;
    }
    for (const char* bad :
         {"", "COM", "COMA", "COM1A", "COM 1", " COM1", "CON1", "LPT1", "COM-1"}) {
        EXPECT_FALSE(Is_Com_Port_Name(bad)) << bad;
    }
}

// Every spelling a user may type, for flash, station and the port watcher
// alike, is one port: opened in the device namespace, shown as COMn.
TEST(ComPortName, EverySpellingOfAPortIsOnePort) {
    for (const char* typed : {"COM7", "COM07", "com7", "cOm007", "\\\\.\\COM7", "\\\\.\\com07"}) {
        const std::optional<Port_Candidate> port = Com_Port_From_Name(typed);
        ASSERT_TRUE(port.has_value()) << typed;
        EXPECT_EQ(port->display_name, "COM7") << typed;
        EXPECT_EQ(port->device_path, "\\\\.\\COM7") << typed;
        EXPECT_EQ(port->number, 7) << typed;
    }
    EXPECT_EQ(Com_Port_From_Name("COM0")->display_name, "COM0");
    EXPECT_EQ(Com_Port_From_Name("COM000")->display_name, "COM0");
    EXPECT_FALSE(Com_Port_From_Name("\\\\.\\COM").has_value());
}

TEST(FindComPorts, ArgumentAndMapFailuresLeaveTheCallersArrayAlone) {
    Fake_Win32 api;
    api.values = {Nt("COM7")};
    std::array<std::uint16_t, 4> ports{9, 9, 9, 9};
    std::uint16_t count = 4;
    EXPECT_EQ(Find_Com_Ports(api, nullptr, &count), kPortListBadArguments);
    EXPECT_EQ(Find_Com_Ports(api, ports.data(), nullptr), kPortListBadArguments);
    std::uint16_t zero = 0;
    EXPECT_EQ(Find_Com_Ports(api, ports.data(), &zero), kPortListBadArguments);
    EXPECT_EQ(api.map_opens, 0);

    // A missing serial map is its own failure, not "no port yet".
    api.key_exists = false;
    EXPECT_EQ(Find_Com_Ports(api, ports.data(), &count), kPortListMapUnreadable);
    EXPECT_EQ(count, 4);
    EXPECT_EQ(ports, (std::array<std::uint16_t, 4>{9, 9, 9, 9}));
}

TEST(FindComPorts, NothingUsableIsResultTwoWithCountUnchanged) {
    Fake_Win32 api;
    api.values = {
        {"\\Device\\USBSER000", "COM7", 4},     // not REG_SZ
        {"Device\\USBSER000", "COM7", kRegSz},  // no leading backslash
        {"\\Devic", "COM7", kRegSz},            // shorter than the prefix
        Nt("COM"),
        Nt("COMA"),
        Nt("COM1A"),
        Nt("COM 1"),  // not port names
    };
    std::array<std::uint16_t, 3> ports{5, 5, 5};
    std::uint16_t count = 3;
    EXPECT_EQ(Find_Com_Ports(api, ports.data(), &count), kPortListNothingFound);
    EXPECT_EQ(count, 3);
    EXPECT_EQ(ports, (std::array<std::uint16_t, 3>{5, 5, 5}));
    EXPECT_EQ(api.map_closes, 1);
    EXPECT_TRUE(api.opened_paths.empty());
}

TEST(FindComPorts, NtTrustsTheMapInOrderWithDuplicatesAndProbesNothingAboveTwo) {
    Fake_Win32 api;
    api.values = {Nt("COM7"), Nt("com12", "\\DEVICE\\usbser001"), Nt("COM3"),
                  Nt("COM0"), Nt("COM7", "\\device\\Serial9"),    Nt("COM65539")};
    const Listing listing = List(api);
    ASSERT_EQ(listing.code, kPortListOk);
    // 65539 keeps its low 16 bits: port 3.
    EXPECT_EQ(listing.Found(), (std::vector<std::uint16_t>{7, 12, 3, 0, 7, 3}));
    EXPECT_TRUE(api.opened_paths.empty());
    EXPECT_EQ(api.map_closes, 1);
}

TEST(FindComPorts, ResultArrayRulesAtCapacityOneAndFull) {
    Fake_Win32 api;
    api.values = {Nt("COM7"), Nt("COM3")};

    std::uint16_t one_port = 0xFFFF;
    std::uint16_t count = 1;
    EXPECT_EQ(Find_Com_Ports(api, &one_port, &count), kPortListTooMany);
    EXPECT_EQ(count, 2);
    EXPECT_EQ(one_port, 0xFFFF);

    std::array<std::uint16_t, 255> ports;
    ports.fill(0xFFFF);
    count = 255;
    EXPECT_EQ(Find_Com_Ports(api, ports.data(), &count), kPortListOk);
    EXPECT_EQ(count, 2);
    EXPECT_EQ(ports[0], 7);
    EXPECT_EQ(ports[1], 3);
    for (std::size_t i = 2; i < ports.size(); ++i)
        ASSERT_EQ(ports[i], 0) << i;
}

TEST(FindComPorts, AValueTooLongForTheBuffersEndsTheWalk) {
    Fake_Win32 api;
    // 511 characters and the null fill the 512-byte buffer exactly.
    const std::string longest_name = "\\Device\\" + std::string(511 - 8, 'x');
    api.values = {Nt("COM3"), Nt("COM5", longest_name), Nt("COM6", longest_name + "y"), Nt("COM4")};
    const Listing listing = List(api);
    ASSERT_EQ(listing.code, kPortListOk);
    EXPECT_EQ(listing.Found(), (std::vector<std::uint16_t>{3, 5}));
    EXPECT_EQ(api.map_closes, 1);
}

TEST(FindComPorts, NtProbesComOneAndTwoByOutcome) {
    struct Case {
        const char* what;
        Fake_Port port;
        bool present_in_map;
        bool listed;
    };
    const Case cases[] = {
        {"RS-232 port", {true, 0, true, kPstRs232}, true, true},
        {"held by another program", {false, kErrorAccessDenied, true, 0}, true, true},
        {"attached but failing", {false, kErrorGenFailure, true, 0}, true, true},
        {"properties unreadable", {true, 0, false, 0}, true, true},
        {"a modem's subtype", {true, 0, true, 6}, true, false},
        {"other open error", {false, 32, true, 0}, true, false},
        {"no such device", {}, false, false},
    };
    for (const Case& c : cases) {
        Fake_Win32 api;
        api.values = {Nt("COM1", "\\Device\\Serial0"), Nt("COM2", "\\Device\\Serial1"), Nt("COM9")};
        if (c.present_in_map) {
            api.ports["\\\\.\\COM1"] = c.port;
            api.ports["\\\\.\\COM2"] = c.port;
        }
        const Listing listing = List(api);
        ASSERT_EQ(listing.code, kPortListOk) << c.what;
        const std::vector<std::uint16_t> expected =
            c.listed ? std::vector<std::uint16_t>{1, 2, 9} : std::vector<std::uint16_t>{9};
        EXPECT_EQ(listing.Found(), expected) << c.what;
        EXPECT_EQ(api.opened_paths, (std::vector<std::string>{"\\\\.\\COM1", "\\\\.\\COM2"}))
            << c.what;
        // Every port that opened is closed again.
        const int opened = (c.present_in_map && c.port.opens) ? 2 : 0;
        EXPECT_EQ(api.port_closes, opened) << c.what;
    }
}

TEST(FindComPorts, OutsideNtEveryPortIsProbedAndNamesBeginWithCom) {
    Fake_Win32 api;
    api.platform = kPlatformWin32Windows;
    api.values = {{"COM7", "COM7", kRegSz},
                  {"\\Device\\Serial0", "COM8", kRegSz},  // NT-style name: skipped
                  {"com12", "COM12", kRegSz},
                  {"COM3", "COM3", kRegSz}};
    api.ports["\\\\.\\COM7"] = {};
    api.ports["\\\\.\\COM3"] = {false, kErrorAccessDenied, true, 0};
    const Listing listing = List(api);
    ASSERT_EQ(listing.code, kPortListOk);
    EXPECT_EQ(listing.Found(), (std::vector<std::uint16_t>{7, 3}));
    EXPECT_EQ(api.opened_paths,
              (std::vector<std::string>{"\\\\.\\COM7", "\\\\.\\COM12", "\\\\.\\COM3"}));

    // Nothing passes the probe: no port yet.
    api.ports.clear();
    EXPECT_EQ(List(api).code, kPortListNothingFound);
}

}  // namespace

// Windows' LocationPaths of USB serial devices read as Linux's sysfs paths,
// so that a slots file written on one reads the same on the other. The
// values were recorded on Windows: Wine's devices have no location, so this
// runs natively.
TEST(UsbLocationPath, WindowsPlacesReadAsLinuxPaths) {
    struct Row {
        const char* location;
        const char* linux_path;  // null: not a USB place
    };
    const Row rows[] = {
        // Root ports and hubs.
        {"PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(1)", "1-1"},
        {"PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(1)#USB(3)", "1-1.3"},
        {"PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(3)#USB(2)", "1-3.2"},
        {"PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(2)#USB(4)#USB(7)#USB(12)", "1-2.4.7.12"},
        {"PCIROOT(0)#PCI(0801)#PCI(0003)#USBROOT(1)#USB(5)", "2-5"},
        {"pciroot(0)#pci(1400)#usbroot(0)#usb(1)#usb(3)", "1-1.3"},
        // A composite device: its interface as Linux names it.
        {"PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(1)#USB(3)#USBMI(0)", "1-1.3:1.0"},
        {"PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(4)#USBMI(2)", "1-4:1.2"},
        // Junk: no root hub, no port, port 0, odd numbers, trailing parts.
        {"ACPI(_SB_)#ACPI(PCI0)#ACPI(XHC_)#ACPI(RHUB)#ACPI(HS03)", nullptr},
        {"PCIROOT(0)#PCI(1400)#USBROOT(0)", nullptr},
        {"PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(0)", nullptr},
        {"PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(x)", nullptr},
        {"PCIROOT(0)#PCI(1400)#USBROOT(0)#USB()", nullptr},
        {"PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(1234)", nullptr},
        {"PCIROOT(0)#PCI(1400)#USBROOT(-1)#USB(1)", nullptr},
        {"PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(1)#USBMI(0)#USB(2)", nullptr},
        {"PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(1)#PCI(0)", nullptr},
        {"PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(1", nullptr},
        {"", nullptr},
        {"#", nullptr},
    };
    for (const Row& row : rows) {
        const std::optional<std::string> path = serial::Linux_Usb_Path(row.location);
        if (row.linux_path == nullptr)
            EXPECT_FALSE(path.has_value()) << row.location << " -> " << path.value_or("");
        else
            EXPECT_EQ(path.value_or("<none>"), row.linux_path) << row.location;
    }
}
