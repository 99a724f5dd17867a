// The system port lister under Wine: the real registry calls over the
// serial-port map, the NT value-name rule, and the COM1/COM2 probe against a
// mapped pseudo-terminal (COM1) and an unmapped name (COM2). And the port
// watcher over the same map: ports mapped and unmapped after it started,
// found by the slow listing alone and through the map's change notification.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "serial/port_event_queue.h"
#include "serial/port_list.h"
#include "serial/port_watcher.h"
#include "serial/win32_port_identity.h"
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

// A device instance ID as the configuration manager gives it: a USB
// device's numbers and serial number, none for a composite device's
// interface or a generated instance, nothing for a built-in port.
TEST(Win32PortList, UsbInstanceIdsGiveNumbersAndSerialNumbers) {
    struct Row {
        const char* id;
        const char* vid;
        const char* pid;
        const char* serial;
    };
    const Row rows[] = {
        {"USB\\VID_1D6B&PID_0104\\M418-0001", "1d6b", "0104", "M418-0001"},
        {"usb\\vid_0483&pid_5740\\6&2c9a1b3&0&2", "0483", "5740", ""},
        {"USB\\VID_1D6B&PID_0104&MI_00\\7&1f2e&0&0000", "1d6b", "0104", ""},
        {"ACPI\\PNP0501\\0", "", "", ""},
        {"USB\\VID_XYZW&PID_0104\\S1", "", "", ""},
    };
    for (const Row& row : rows) {
        Port_Identity identity;
        serial::Read_Usb_Instance_Id(row.id, identity);
        EXPECT_EQ(identity.usb_vendor_id, row.vid) << row.id;
        EXPECT_EQ(identity.usb_product_id, row.pid) << row.id;
        EXPECT_EQ(identity.usb_serial, row.serial) << row.id;
    }
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

using std::chrono::milliseconds;
using Kind = Port_Event::Kind;

// The slow listing's interval and a margin for a loaded machine; a change
// notification comes well within the second.
constexpr milliseconds kListingLimit = kMinimumPollInterval + milliseconds(3000);
constexpr milliseconds kNotifyLimit{1000};

// The next event within limit, or an event with an empty path.
Port_Event Next_Event(Port_Event_Queue& events, milliseconds limit) {
    Port_Event event;
    if (!events.Next(event, limit))
        event.port.device_path.clear();
    return event;
}

TEST(Win32PortWatcher, ListingAloneSeesPortsMappedAfterItStarted) {
    Serial_Map_Sandbox map;
    ASSERT_TRUE(map.ok());
    ASSERT_TRUE(map.Set_Text("\\Device\\USBSER000", "COM7"));
    Port_Watch_Options options;
    options.source = Port_Watch_Source::kPollOnly;
    Port_Event_Queue events;
    Port_Watcher watcher(options);
    ASSERT_TRUE(watcher.Start(events.Sink()));
    Port_Event event = Next_Event(events, milliseconds(2000));
    EXPECT_EQ(event.port.display_name, "COM7");
    EXPECT_TRUE(event.present_at_start);
    EXPECT_EQ(watcher.Source(), Port_Watch_Source::kPollOnly);

    ASSERT_TRUE(map.Set_Text("\\Device\\USBSER001", "COM12"));
    event = Next_Event(events, kListingLimit);
    EXPECT_EQ(event.kind, Kind::kArrived);
    EXPECT_EQ(event.port.device_path, "\\\\.\\COM12");
    EXPECT_EQ(event.port.number, 12);
    EXPECT_FALSE(event.present_at_start);

    ASSERT_TRUE(map.Set_Text("\\Device\\USBSER000", "COM8"));  // COM7 renamed COM8
    std::vector<std::string> seen;
    for (int i = 0; i < 2; ++i) {
        event = Next_Event(events, kListingLimit);
        seen.push_back((event.kind == Kind::kArrived ? "+" : "-") + event.port.display_name);
    }
    EXPECT_EQ(seen, (std::vector<std::string>{"-COM7", "+COM8"}));
    watcher.Stop();
}

TEST(Win32PortWatcher, MapChangesWakeItAndNamedPortsMayComeLater) {
    Serial_Map_Sandbox map;
    ASSERT_TRUE(map.ok());
    Port_Watch_Options options;
    options.named_ports = {"com9"};  // as --port takes it, in any case
    options.system_ports = false;
    Port_Event_Queue events;
    Port_Watcher watcher(options);
    ASSERT_TRUE(watcher.Start(events.Sink()));
    // Wine has no CM_Register_Notification; the map's own notification stands in.
    Port_Event event = Next_Event(events, milliseconds(300));
    EXPECT_TRUE(event.port.device_path.empty()) << "nothing is named COM9 yet";
    const Port_Watch_Source source = watcher.Source();
    EXPECT_TRUE(source == Port_Watch_Source::kDeviceNotify ||
                source == Port_Watch_Source::kSerialMapNotify)
        << Port_Watch_Source_Name(source);

    ASSERT_TRUE(map.Set_Text("\\Device\\USBSER002", "COM4"));  // not named: not reported
    ASSERT_TRUE(map.Set_Text("\\Device\\USBSER003", "COM9"));
    const auto mapped = std::chrono::steady_clock::now();
    event = Next_Event(events, kListingLimit);
    EXPECT_EQ(event.port.display_name, "COM9");
    EXPECT_TRUE(event.named);
    if (source == Port_Watch_Source::kSerialMapNotify) {
        EXPECT_LT(std::chrono::steady_clock::now() - mapped, kNotifyLimit)
            << "the change notification did not wake the watcher";
    }
    ASSERT_TRUE(map.Set_Text("\\Device\\USBSER003", "COM10"));
    event = Next_Event(events, kListingLimit);
    EXPECT_EQ(event.kind, Kind::kDeparted);
    EXPECT_EQ(event.port.display_name, "COM9");
    watcher.Stop();
}

}  // namespace
