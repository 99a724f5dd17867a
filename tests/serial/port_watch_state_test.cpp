// What counts as an arrival and a departure between two looks at the ports,
// and which of two names of one device is reported. Plain code: runs on
// every platform.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "serial/port_watch_state.h"

namespace {

using Kind = Port_Event::Kind;

Port_Presence Port(const std::string& path, const std::string& key, std::uint64_t device = 0,
                   bool named = false) {
    Port_Presence presence;
    presence.port = {path, path, 0};
    presence.key = key;
    presence.device = device;
    presence.named = named;
    return presence;
}

// "+path" for an arrival, "-path" for a departure, "*" marking one present at start.
std::vector<std::string> Look(Port_Watch_State& state, const std::vector<Port_Presence>& now,
                              int* identified = nullptr) {
    std::vector<Port_Event> events;
    state.Update(
        now,
        [identified](const Port_Presence& port) {
            if (identified != nullptr)
                ++*identified;
            Port_Identity identity;
            identity.driver = "cdc_acm";
            identity.usb_serial = "serial of " + port.port.device_path;
            return identity;
        },
        events);
    std::vector<std::string> texts;
    for (const Port_Event& event : events) {
        texts.push_back((event.kind == Kind::kArrived ? "+" : "-") + event.port.device_path +
                        (event.present_at_start ? "*" : ""));
        EXPECT_EQ(event.port.identity.usb_serial, "serial of " + event.port.device_path)
            << "a departure carries the identity the port arrived with";
    }
    return texts;
}

using Texts = std::vector<std::string>;

TEST(PortWatchState, ArrivalsDeparturesAndReplugs) {
    Port_Watch_State state;
    int identified = 0;
    EXPECT_EQ(Look(state, {Port("acm0", "acm0|1"), Port("acm1", "acm1|1")}, &identified),
              (Texts{"+acm0*", "+acm1*"}));
    EXPECT_EQ(Look(state, {Port("acm0", "acm0|1"), Port("acm1", "acm1|1")}, &identified), Texts{});
    EXPECT_EQ(identified, 2) << "identity is read on arrival only";
    EXPECT_TRUE(state.Knows("acm1|1"));

    // Unplugged while held, back under the next name: one departure, one arrival.
    EXPECT_EQ(Look(state, {Port("acm1", "acm1|1"), Port("acm2", "acm2|1")}),
              (Texts{"-acm0", "+acm2"}));
    // Re-plugged between two looks under its old name: a new node, a new key.
    EXPECT_EQ(Look(state, {Port("acm1", "acm1|2"), Port("acm2", "acm2|1")}),
              (Texts{"-acm1", "+acm1"}));
    EXPECT_EQ(Look(state, {}), (Texts{"-acm2", "-acm1"})) << "in the order they arrived";
    EXPECT_FALSE(state.Knows("acm1|2"));

    // Reset: the next look is a first look again.
    EXPECT_EQ(Look(state, {Port("acm0", "acm0|3")}), (Texts{"+acm0"}));
    state.Reset();
    EXPECT_EQ(Look(state, {Port("acm0", "acm0|3")}), (Texts{"+acm0*"}));
}

TEST(PortWatchState, NamedPortsWinOverTheListingsNamesOfTheSameDevice) {
    // A named link to the device the listing shows as /dev/ttyACM0, and a
    // named path that is itself listed: each device is reported once, named.
    const std::vector<Port_Presence> merged = Merge_Presences(
        {Port("/dev/serial/by-id/phone", "by-id|166:0", 0xA600, true),
         Port("/dev/ttyUSB0", "usb0|188:0", 0xBC00, true)},
        {Port("/dev/ttyACM0", "acm0|166:0", 0xA600), Port("/dev/ttyUSB0", "usb0|188:0", 0xBC00),
         Port("/dev/ttyACM1", "acm1|166:1", 0xA601), Port("COM7", "COM7", 0)});
    std::vector<std::string> paths;
    for (const Port_Presence& port : merged)
        paths.push_back(port.port.device_path + (port.named ? " named" : ""));
    EXPECT_EQ(paths, (Texts{"/dev/serial/by-id/phone named", "/dev/ttyUSB0 named", "/dev/ttyACM1",
                            "COM7"}));
}

}  // namespace
