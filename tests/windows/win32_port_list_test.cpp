// The system port lister under Wine: the real registry calls over the
// serial-port map, the NT value-name rule, and the COM1/COM2 probe against a
// mapped pseudo-terminal (COM1) and an unmapped name (COM2).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "serial/port_list.h"
#include "serial_map_sandbox.h"
#include "wine_ports.h"

namespace {

struct Listing {
    int result = -1;
    std::vector<std::uint16_t> numbers;
};

Listing List_Ports() {
    std::vector<Port_Candidate> candidates{{"stale", "stale", 99}};
    Listing listing;
    listing.result = Make_System_Port_Lister()->list(candidates);
    for (const Port_Candidate& candidate : candidates) {
        EXPECT_EQ(candidate.display_name, "COM" + std::to_string(candidate.number));
        EXPECT_EQ(candidate.device_path, "\\\\.\\" + candidate.display_name);
        listing.numbers.push_back(candidate.number);
    }
    return listing;
}

using Numbers = std::vector<std::uint16_t>;

TEST(Win32PortList, TakesNtValuesInMapOrderWithoutOpeningThem) {
    Serial_Map_Sandbox map;
    ASSERT_TRUE(map.ok());
    // Neither COM7 nor COM3 exists: they are listed because ports other than
    // COM1 and COM2 are trusted on NT without being opened.
    ASSERT_TRUE(map.Set_Text("\\Device\\USBSER000", "COM7"));
    ASSERT_TRUE(map.Set_Text("\\Device\\USBSER001", "COM3"));
    ASSERT_TRUE(map.Set_Text("\\DEVICE\\usbser002", "com12"));  // prefix and name in any case
    ASSERT_TRUE(map.Set_Text("Serial5", "COM8"));               // not a device name
    ASSERT_TRUE(map.Set_Text("\\Device\\USBSER003", "COM1A"));
    ASSERT_TRUE(map.Set_Dword("\\Device\\USBSER004", 9));  // not a string
    const Listing listing = List_Ports();
    EXPECT_EQ(listing.result, kPortListOk);
    EXPECT_EQ(listing.numbers, (Numbers{7, 3, 12}));
}

TEST(Win32PortList, ProbesCom1AndCom2) {
    const std::uint16_t probe_port = wine_ports::Port_Number("FLASHTOOL_WINE_PROBE_PORT");
    ASSERT_EQ(probe_port, 1) << "COM1 must be the mapped pseudo-terminal";
    Serial_Map_Sandbox map;
    ASSERT_TRUE(map.ok());
    ASSERT_TRUE(map.Set_Text("\\Device\\Serial0", "COM1"));  // mapped: kept
    ASSERT_TRUE(map.Set_Text("\\Device\\Serial1", "COM2"));  // absent: dropped
    ASSERT_TRUE(map.Set_Text("\\Device\\Serial2", "COM9"));  // absent but not probed
    const Listing listing = List_Ports();
    EXPECT_EQ(listing.result, kPortListOk);
    EXPECT_EQ(listing.numbers, (Numbers{1, 9}));
}

TEST(Win32PortList, EmptyOrMissingMapAndOversizeValues) {
    Serial_Map_Sandbox map;
    ASSERT_TRUE(map.ok());
    std::vector<Port_Candidate> candidates;
    EXPECT_EQ(Make_System_Port_Lister()->list(candidates), kPortListNothingFound);

    // A value too long for the 512-byte buffer ends the enumeration; what
    // was found before it is still listed.
    ASSERT_TRUE(map.Set_Text("\\Device\\A", "COM7"));
    ASSERT_TRUE(map.Set_Text("\\Device\\B", "COM" + std::string(600, '1')));
    ASSERT_TRUE(map.Set_Text("\\Device\\C", "COM3"));
    EXPECT_EQ(List_Ports().numbers, (Numbers{7}));

    ASSERT_TRUE(map.Delete_Key());
    EXPECT_EQ(Make_System_Port_Lister()->list(candidates), kPortListMapUnreadable);
}

}  // namespace
