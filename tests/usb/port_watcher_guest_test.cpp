// The port watcher against real USB devices, inside the USB guest
// (scripts/test-usb): gadgets plugged, unplugged and re-plugged on the dummy
// controllers, the PC's side made by cdc_acm. First through the kernel's
// uevents (the guest runs no udev daemon), then through udev: the test
// starts systemd-udevd from the shared /usr, and the watcher must announce
// each port only once udev has given it its group and its by-id link.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fcntl.h>
#include <chrono>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "serial/port_event_queue.h"
#include "serial/port_watcher.h"
#include "udev_daemon.h"
#include "usb_gadget.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;
using usb_rig::Gadget_Spec;
using usb_rig::Usb_Gadget;
using Kind = Port_Event::Kind;

// Enumeration under the emulated processor takes up to a few hundred ms; the
// watcher adds little to it. Generous: the guest is slow and the host loaded.
constexpr milliseconds kEventLimit{5000};
constexpr gid_t kDialout = 20;  // Debian's base-passwd

// The next event for a path that starts with prefix (the system's other
// ports, such as the console's ttyS0, are passed over).
bool Next_For(Port_Event_Queue& events, const std::string& prefix, Kind kind, Port_Event& event,
              milliseconds limit = kEventLimit) {
    const auto deadline = Clock::now() + limit;
    while (Clock::now() < deadline) {
        const auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now());
        if (!events.Next(event, left))
            return false;
        if (event.kind == kind && event.port.device_path.rfind(prefix, 0) == 0)
            return true;
    }
    return false;
}

std::string Describe(const Port_Event& event) {
    const Port_Identity& id = event.port.identity;
    return std::string(event.kind == Kind::kArrived ? "+" : "-") + event.port.device_path + " " +
           id.usb_vendor_id + ":" + id.usb_product_id + " " + id.usb_serial + " at " + id.usb_path;
}

class Watched : public ::testing::Test {
  protected:
    void Start(Port_Watch_Options options = {}) {
        watcher = std::make_unique<Port_Watcher>(std::move(options));
        ASSERT_TRUE(watcher->Start(events.Sink()));
    }
    void TearDown() override {
        if (watcher)
            watcher->Stop();
    }
    Port_Event_Queue events;
    std::unique_ptr<Port_Watcher> watcher;
};

using KernelUevents = Watched;

TEST_F(KernelUevents, SeveralGadgetsAtOnceEachWithItsIdentity) {
    Start();
    EXPECT_EQ(watcher->Source(), Port_Watch_Source::kKernelUevents);
    Usb_Gadget one({.serial = "WATCH-1"});
    Usb_Gadget two({.serial = "WATCH-2", .acm_functions = 2});
    Usb_Gadget three({.product_id = 0x0105, .serial = "WATCH-3"});
    for (Usb_Gadget* gadget : {&one, &two, &three}) {
        ASSERT_TRUE(gadget->Made()) << gadget->Error();
        ASSERT_TRUE(gadget->Plug()) << gadget->Error();
    }
    std::map<std::string, Port_Event> arrived;  // by serial and interface
    for (int i = 0; i < 4; ++i) {
        Port_Event event;
        ASSERT_TRUE(Next_For(events, "/dev/ttyACM", Kind::kArrived, event)) << "arrival " << i;
        const Port_Identity& id = event.port.identity;
        EXPECT_EQ(id.driver, "cdc_acm") << Describe(event);
        EXPECT_EQ(id.usb_vendor_id, "1d6b");
        arrived[id.usb_serial + " " + id.usb_path.substr(id.usb_path.find(':'))] = event;
    }
    ASSERT_EQ(arrived.size(), 4u);
    EXPECT_EQ(arrived.at("WATCH-2 :1.0").port.device_path, two.Host_Tty(0));
    EXPECT_EQ(arrived.at("WATCH-2 :1.2").port.device_path, two.Host_Tty(1));
    EXPECT_EQ(arrived.at("WATCH-3 :1.0").port.identity.usb_product_id, "0105");
    EXPECT_FALSE(arrived.at("WATCH-1 :1.0").present_at_start);

    // One pulled: its two ports go, named as they arrived; the others stay.
    const std::string first = two.Host_Tty(0);
    ASSERT_TRUE(two.Unplug());
    std::vector<std::string> gone;
    for (int i = 0; i < 2; ++i) {
        Port_Event event;
        ASSERT_TRUE(Next_For(events, "/dev/ttyACM", Kind::kDeparted, event));
        EXPECT_EQ(event.port.identity.usb_serial, "WATCH-2") << Describe(event);
        gone.push_back(event.port.device_path);
    }
    EXPECT_TRUE(gone[0] == first || gone[1] == first);
    Port_Event stray;
    EXPECT_FALSE(Next_For(events, "/dev/ttyACM", Kind::kDeparted, stray, milliseconds(500)))
        << Describe(stray);
}

TEST_F(KernelUevents, ReplugWhileHeldIsANewArrivalUnderTheNextName) {
    Usb_Gadget phone({.serial = "WATCH-R"});
    ASSERT_TRUE(phone.Made()) << phone.Error();
    ASSERT_TRUE(phone.Plug()) << phone.Error();
    const std::string old_tty = phone.Wait_For_Host_Tty();
    ASSERT_FALSE(old_tty.empty());
    Start({.named_ports = {"/dev/ttyACM1"}});  // the name it will come back under
    Port_Event event;
    ASSERT_TRUE(Next_For(events, old_tty, Kind::kArrived, event));
    EXPECT_TRUE(event.present_at_start);
    EXPECT_FALSE(event.named);

    const int held = open(old_tty.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(held, 0);
    ASSERT_TRUE(phone.Unplug());
    ASSERT_TRUE(Next_For(events, old_tty, Kind::kDeparted, event));
    EXPECT_EQ(event.port.identity.usb_serial, "WATCH-R");
    ASSERT_TRUE(phone.Plug());
    ASSERT_TRUE(Next_For(events, "/dev/ttyACM", Kind::kArrived, event));
    EXPECT_EQ(event.port.device_path, "/dev/ttyACM1") << "held: it comes back under the next name";
    EXPECT_TRUE(event.named) << "reported by the name it was watched under";
    EXPECT_EQ(event.port.identity.usb_serial, "WATCH-R");
    close(held);

    // Unplugged and re-plugged with nothing held: back as ttyACM0, a new arrival.
    ASSERT_TRUE(phone.Unplug());
    ASSERT_TRUE(Next_For(events, "/dev/ttyACM1", Kind::kDeparted, event));
    ASSERT_TRUE(phone.Plug());
    ASSERT_TRUE(Next_For(events, old_tty, Kind::kArrived, event));
}

// udev for the whole suite (udev_daemon.h).
class Udev : public Watched {
  protected:
    static void SetUpTestSuite() { daemon = std::make_unique<usb_rig::Udev_Daemon>(); }
    static void TearDownTestSuite() { daemon.reset(); }
    void SetUp() override {
        ASSERT_TRUE(usb_rig::Udev_Daemon::Running()) << "systemd-udevd did not start";
    }
    static std::unique_ptr<usb_rig::Udev_Daemon> daemon;
};
std::unique_ptr<usb_rig::Udev_Daemon> Udev::daemon;

TEST_F(Udev, AnnouncedOnceItsRulesGaveThePortItsGroupAndLinks) {
    const std::string by_id = "/dev/serial/by-id/usb-Corvel_M418_boot_loader_WATCH-U-if00";
    Start({.named_ports = {by_id}});
    EXPECT_EQ(watcher->Source(), Port_Watch_Source::kUdev);
    Usb_Gadget phone({.serial = "WATCH-U"});
    ASSERT_TRUE(phone.Made()) << phone.Error();
    ASSERT_TRUE(phone.Plug()) << phone.Error();
    // The link is one of udev's rules: the port is reported once udev is
    // done, by the name it was watched under (not also as the listing's
    // /dev/ttyACM0, which is the same device).
    Port_Event event;
    ASSERT_TRUE(Next_For(events, "/dev/serial/", Kind::kArrived, event));
    EXPECT_TRUE(event.named);
    EXPECT_EQ(event.port.device_path, by_id);
    EXPECT_EQ(event.port.identity.usb_serial, "WATCH-U");
    struct stat status {};
    ASSERT_EQ(stat(by_id.c_str(), &status), 0) << Describe(event);
    EXPECT_EQ(status.st_gid, kDialout) << Describe(event) << ": announced before udev's rules";
    EXPECT_EQ(status.st_mode & 0777, 0660u) << Describe(event);
    Port_Event twice;
    EXPECT_FALSE(Next_For(events, "/dev/ttyACM", Kind::kArrived, twice, milliseconds(1000)))
        << Describe(twice);

    ASSERT_TRUE(phone.Unplug());
    EXPECT_TRUE(Next_For(events, "/dev/serial/", Kind::kDeparted, event));
}

TEST_F(Udev, SeveralGadgetsPluggedUnpluggedAndReplugged) {
    Start({.system_ports = true});
    Usb_Gadget one({.serial = "WATCH-U1"});
    Usb_Gadget two({.serial = "WATCH-U2", .acm_functions = 2});
    for (int round = 0; round < 2; ++round) {
        for (Usb_Gadget* gadget : {&one, &two})
            ASSERT_TRUE(gadget->Plug()) << gadget->Error();
        for (int i = 0; i < 3; ++i) {
            Port_Event event;
            ASSERT_TRUE(Next_For(events, "/dev/ttyACM", Kind::kArrived, event))
                << "round " << round << ", arrival " << i;
            struct stat status {};
            ASSERT_EQ(stat(event.port.device_path.c_str(), &status), 0);
            EXPECT_EQ(status.st_gid, kDialout) << Describe(event);
        }
        for (Usb_Gadget* gadget : {&one, &two})
            ASSERT_TRUE(gadget->Unplug());
        for (int i = 0; i < 3; ++i) {
            Port_Event event;
            ASSERT_TRUE(Next_For(events, "/dev/ttyACM", Kind::kDeparted, event));
        }
    }
}

// Three phones plugged at once, as from a hub; one of them pulled and put
// back: it comes back as a new arrival with the same serial number, and the
// other two see nothing of it.
TEST_F(Udev, ThreeAtOnceOnePulledAndPutBackKeepsItsSerialNumber) {
    Start();
    std::vector<std::unique_ptr<Usb_Gadget>> phones;
    for (const char* serial : {"HUB-1", "HUB-2", "HUB-3"}) {
        phones.push_back(std::make_unique<Usb_Gadget>(Gadget_Spec{.serial = serial}));
        ASSERT_TRUE(phones.back()->Made()) << phones.back()->Error();
    }
    for (auto& phone : phones)
        ASSERT_TRUE(phone->Plug()) << phone->Error();
    std::map<std::string, std::string> tty_of;  // serial number: the port it came as
    for (int i = 0; i < 3; ++i) {
        Port_Event event;
        ASSERT_TRUE(Next_For(events, "/dev/ttyACM", Kind::kArrived, event)) << "arrival " << i;
        EXPECT_FALSE(event.present_at_start);
        tty_of[event.port.identity.usb_serial] = event.port.device_path;
    }
    ASSERT_EQ(tty_of.size(), 3u) << "three phones, three serial numbers";
    for (auto& phone : phones)
        EXPECT_EQ(tty_of[phone->Spec().serial], phone->Host_Tty());

    ASSERT_TRUE(phones[1]->Unplug());
    Port_Event event;
    ASSERT_TRUE(Next_For(events, "/dev/ttyACM", Kind::kDeparted, event));
    EXPECT_EQ(event.port.identity.usb_serial, "HUB-2") << Describe(event);
    EXPECT_EQ(event.port.device_path, tty_of["HUB-2"]);
    ASSERT_TRUE(phones[1]->Plug()) << phones[1]->Error();
    ASSERT_TRUE(Next_For(events, "/dev/ttyACM", Kind::kArrived, event));
    EXPECT_EQ(event.port.identity.usb_serial, "HUB-2") << Describe(event);
    EXPECT_FALSE(event.present_at_start);
    struct stat status {};
    ASSERT_EQ(stat(event.port.device_path.c_str(), &status), 0);
    EXPECT_EQ(status.st_gid, kDialout) << Describe(event) << ": announced before udev's rules";
    Port_Event stray;
    EXPECT_FALSE(Next_For(events, "/dev/ttyACM", Kind::kArrived, stray, milliseconds(1000)))
        << Describe(stray);
}

}  // namespace
