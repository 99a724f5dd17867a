// A station inside the USB guest (scripts/test-usb): three gadget phones
// plugged in at once, as on a hub, named by the by-id links udev makes for
// them (the system's own ports include the guest's console, which no test
// may write to) and updated in parallel through cdc_acm; each phone's flash
// is then the image, and each finished row carries its own serial number.
// And a station on the system's own ports, the guest's console UART among
// them: only the gadget phones are taken, each labelled by its socket from a
// slots file written from what `flashtool-cli slots` printed, and the UART
// is skipped without ever being opened.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "download/image_loader.h"
#include "station/station.h"
#include "tests/cli/cli_process.h"
#include "tests/support/host_deviations.h"
#include "tests/support/image_builder.h"
#include "tests/support/recording_view.h"
#include "tests/support/temp_directory.h"
#include "tests/support/virtual_phone_process.h"
#include "udev_daemon.h"
#include "usb_gadget.h"

namespace {

using std::chrono::milliseconds;
using test_support::Bytes;
using test_support::Random_Bytes;
using usb_rig::Gadget_Spec;
using usb_rig::Usb_Gadget;

// The phones hold a record one number lower than the image's: no first-run
// dump, so the three sessions are alike.
constexpr const char* kPhoneRecord = "CVLbootloaderVC_M418ZHTWA00100";
constexpr const char* kImageVersion = "CVLbootloaderVC_M418ZHTWA00101";
// Three updates of 100 KB at once under the emulated processor take a few
// seconds; generous for a loaded host.
constexpr milliseconds kStationLimit{120000};

// One gadget phone: the gadget and the virtual phone serving its side.
struct Gadget_Phone {
    explicit Gadget_Phone(const std::string& serial) : gadget(Gadget_Spec{.serial = serial}) {}
    Usb_Gadget gadget;
    Virtual_Phone_Files files;
    Virtual_Phone_Process phone;
};

TEST(StationGuest, ThreeGadgetPhonesPluggedAtOnceAreUpdatedInParallel) {
    usb_rig::Udev_Daemon udev;
    ASSERT_TRUE(udev.Running()) << "systemd-udevd did not start";
    test_support::Image_Builder built;
    built.version_text = Bytes(kImageVersion);
    built.first.start = 0x00010000;
    built.first.data = Random_Bytes(90000, 41);
    built.second.start = 0x02000000;
    built.second.data = Random_Bytes(10000, 42);
    test_support::Temp_Image_File file(built.Build());
    auto image = std::make_shared<Firmware_Image>();
    Recording_View loader;
    loader.file_name = file.Path();
    ASSERT_EQ(Parse_File(*image, loader, loader, Language::kEnglish), Image_Load_Result::kLoaded);

    std::vector<std::unique_ptr<Gadget_Phone>> phones;
    for (const char* serial : {"HUB-S1", "HUB-S2", "HUB-S3"}) {
        phones.push_back(std::make_unique<Gadget_Phone>(serial));
        Gadget_Phone& phone = *phones.back();
        ASSERT_TRUE(phone.gadget.Made()) << phone.gadget.Error();
        std::string error;
        ASSERT_TRUE(phone.phone.start(
            phone.files.args({"--tty", phone.gadget.Phone_Tty(), "--record-text", kPhoneRecord}),
            &error))
            << error;
    }

    std::mutex mutex;
    std::map<std::string, Station_Event> finished;  // by serial number
    Station_Options options;
    for (auto& phone : phones) {
        options.named_ports.push_back("/dev/serial/by-id/usb-Corvel_M418_boot_loader_" +
                                      phone->gadget.Spec().serial + "-if00");
    }
    options.system_ports = false;
    options.count = 3;
    options.language = Language::kEnglish;
    Station station(image, options, [&](const Station_Event& event) {
        if (event.kind == Station_Event::Kind::kFinished) {
            const std::lock_guard<std::mutex> lock(mutex);
            finished[event.port.identity.usb_serial] = event;
        }
    });
    ASSERT_TRUE(station.Start());
    for (auto& phone : phones)
        ASSERT_TRUE(phone->gadget.Plug()) << phone->gadget.Error();
    ASSERT_TRUE(station.Wait_Until_Done(kStationLimit)) << "the station did not end";

    const Station_Summary summary = station.Summary();
    EXPECT_EQ(summary.updated, 3);
    EXPECT_EQ(summary.failed, 0);
    const std::lock_guard<std::mutex> lock(mutex);
    for (auto& phone : phones) {
        const std::string& serial = phone->gadget.Spec().serial;
        ASSERT_EQ(finished.count(serial), 1u) << serial << " did not finish";
        EXPECT_EQ(finished[serial].outcome, Download_Outcome::kUpdated) << serial;
        EXPECT_EQ(finished[serial].port.identity.driver, "cdc_acm");
        phone->phone.stop();
        const auto regions = Read_Flash_File(phone->files.flash);
        ASSERT_TRUE(regions.has_value()) << serial;
        ASSERT_EQ(regions->size(), 2u);
        EXPECT_TRUE((*regions)[0].bytes == built.first.data) << serial;
        EXPECT_TRUE((*regions)[1].bytes == built.second.data) << serial;
        EXPECT_EQ(Host_Deviations(phone->files.deviations), "") << serial;
    }
}

// The image of both tests: a record one number higher than the phones'.
test_support::Image_Builder Guest_Image() {
    test_support::Image_Builder built;
    built.version_text = Bytes(kImageVersion);
    built.first.start = 0x00010000;
    built.first.data = Random_Bytes(90000, 41);
    built.second.start = 0x02000000;
    built.second.data = Random_Bytes(10000, 42);
    return built;
}

TEST(StationGuest, WithoutNamedPortsOnlyTheGadgetPhonesAreTakenEachByItsSlot) {
    usb_rig::Udev_Daemon udev;
    ASSERT_TRUE(udev.Running()) << "systemd-udevd did not start";
    const test_support::Image_Builder built = Guest_Image();
    test_support::Temp_Image_File file(built.Build());
    auto image = std::make_shared<Firmware_Image>();
    Recording_View loader;
    loader.file_name = file.Path();
    ASSERT_EQ(Parse_File(*image, loader, loader, Language::kEnglish), Image_Load_Result::kLoaded);

    // The phones plugged in first; `flashtool-cli slots` then prints each
    // one's place on the bus, the start of a slots file's line, and the shop
    // writes the label in: "B1" for SLOT-S1, ...
    std::vector<std::unique_ptr<Gadget_Phone>> phones;
    std::map<std::string, std::string> usb_paths;  // by serial number, as sysfs says
    for (const char* serial : {"SLOT-S1", "SLOT-S2", "SLOT-S3"}) {
        phones.push_back(std::make_unique<Gadget_Phone>(serial));
        Gadget_Phone& phone = *phones.back();
        ASSERT_TRUE(phone.gadget.Made()) << phone.gadget.Error();
        std::string error;
        ASSERT_TRUE(phone.phone.start(
            phone.files.args({"--tty", phone.gadget.Phone_Tty(), "--record-text", kPhoneRecord}),
            &error))
            << error;
        ASSERT_TRUE(phone.gadget.Plug()) << phone.gadget.Error();
        const std::string tty = phone.gadget.Wait_For_Host_Tty();
        ASSERT_FALSE(tty.empty()) << serial;
        const Port_Identity identity = serial::Port_Identity_Of(tty);
        ASSERT_FALSE(identity.usb_path.empty()) << tty;
        usb_paths[serial] = Usb_Device_Path(identity.usb_path);
    }
    Cli_Options slots_options;
    slots_options.time_limit_ms = 60000;
    const Cli_Run listed = Run_Cli({"slots", "--count", "3"}, slots_options);
    ASSERT_EQ(listed.exit_code, 0) << listed.err;
    test_support::Temp_Directory folder("flashtool-slots");
    const std::string slots_path = folder.File("bench.txt");
    std::ofstream slots(slots_path);
    slots << "# the guest's bench\n";
    std::map<std::string, std::string> labels;  // by serial number
    std::size_t from = 0;
    while (from < listed.out.size()) {
        const std::size_t end = listed.out.find('\n', from);
        ASSERT_NE(end, std::string::npos) << listed.out;
        std::string line = listed.out.substr(from, end - from);
        from = end + 1;
        // "1-1.3 =   # 1d6b:0104 serial SLOT-S1 /dev/ttyACM0"
        const std::size_t serial_at = line.find("serial SLOT-S");
        ASSERT_NE(serial_at, std::string::npos) << line;
        const std::string serial = line.substr(serial_at + 7, 7);
        ASSERT_EQ(line.rfind(usb_paths[serial] + " =   # ", 0), 0u) << line;
        ASSERT_EQ(labels.count(serial), 0u) << "listed twice: " << line;
        labels[serial] = std::string("B") + serial[6];
        line.insert(line.find('=') + 1, " " + labels[serial]);
        slots << line << "\n";
    }
    EXPECT_EQ(labels.size(), 3u) << listed.out;
    slots.close();
    const Slots_Parse bench = Read_Slots_File(slots_path);
    ASSERT_TRUE(bench.Ok()) << bench.error << " at line " << bench.bad_line;

    std::mutex mutex;
    std::condition_variable changed;
    std::map<std::string, Station_Event> finished;  // by serial number
    std::vector<Station_Event> skipped;
    std::vector<std::string> arrived;
    bool uart_skipped = false;
    // No count: the console's UART, there before udev started, is reported
    // only once udev's settling time has passed, which may be after the
    // phones are done; the station is stopped once both have happened.
    Station_Options options;
    options.filter.sockets = bench.sockets;
    options.language = Language::kEnglish;
    Station station(image, options, [&](const Station_Event& event) {
        const std::lock_guard<std::mutex> lock(mutex);
        if (event.kind == Station_Event::Kind::kFinished)
            finished[event.port.identity.usb_serial] = event;
        if (event.kind == Station_Event::Kind::kSkipped) {
            skipped.push_back(event);
            uart_skipped = uart_skipped || event.port.device_path == "/dev/ttyS0";
        }
        if (event.kind == Station_Event::Kind::kArrived)
            arrived.push_back(event.port.device_path);
        changed.notify_all();
    });
    ASSERT_TRUE(station.Start());
    {
        std::unique_lock<std::mutex> lock(mutex);
        EXPECT_TRUE(changed.wait_for(lock, kStationLimit,
                                     [&] { return finished.size() == 3 && uart_skipped; }))
            << finished.size() << " finished; the console's UART " << (uart_skipped ? "" : "not ")
            << "said skipped";
    }
    station.Stop();
    ASSERT_TRUE(station.Wait_Until_Done(kStationLimit)) << "the station did not end";

    const Station_Summary summary = station.Summary();
    EXPECT_EQ(summary.updated, 3);
    EXPECT_EQ(summary.failed, 0);
    EXPECT_EQ(summary.no_phone, 0);
    const std::lock_guard<std::mutex> lock(mutex);
    EXPECT_EQ(arrived.size(), 3u) << "only the gadgets are sessions";
    for (const Station_Event& event : skipped) {
        EXPECT_NE(event.port.identity.driver, "cdc_acm") << event.port.device_path;
        EXPECT_EQ(event.skip, Port_Skip::kNotUsb) << event.port.device_path;
    }
    for (auto& phone : phones) {
        const std::string& serial = phone->gadget.Spec().serial;
        ASSERT_EQ(finished.count(serial), 1u) << serial << " did not finish";
        EXPECT_EQ(finished[serial].outcome, Download_Outcome::kUpdated) << serial;
        EXPECT_EQ(finished[serial].slot, labels[serial]) << serial;
        phone->phone.stop();
        const auto regions = Read_Flash_File(phone->files.flash);
        ASSERT_TRUE(regions.has_value()) << serial;
        ASSERT_EQ(regions->size(), 2u);
        EXPECT_TRUE((*regions)[0].bytes == built.first.data) << serial;
        EXPECT_EQ(Host_Deviations(phone->files.deviations), "") << serial;
    }
}

}  // namespace
