// The real USB path: flashtool against the kernel's cdc_acm driver, inside
// the USB guest (scripts/test-usb runs this program there; it needs root,
// configfs and the dummy controller, so it is not a ctest entry). A gadget
// made through configfs is the phone's cable; the virtual phone serves its
// side (/dev/ttyGS0), flashtool opens the PC's side (/dev/ttyACM0).
//
// What the driver does that a pseudo-terminal does not: the device node is
// made when the phone is plugged in and removed at once when it is unplugged;
// an open descriptor then reads end-of-file for ever, and writes and line
// settings fail with EIO; a phone plugged in again while the old descriptor
// is still open comes back under the next name (ttyACM1); the device has a
// USB identity in sysfs; the modem lines and line settings go to a device.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "bootloader/comport.h"
#include "platform/processes.h"
#include "serial/port_list.h"
#include "tests/cli/cli_against_phone.h"
#include "usb_gadget.h"

namespace {

using namespace cli_suite;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;
using usb_rig::Gadget_Spec;
using usb_rig::Usb_Gadget;

// A phone's disconnect must be reported this soon after the cable is pulled.
constexpr double kDisconnectLimitS = 1.0;
// While the program waits on a silent phone it may use at most this share
// of the time on the processor (a loop polling a dead descriptor uses all).
constexpr double kIdleCpuShare = 0.1;

double Seconds_Since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

int Open_Descriptors() {
    int count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd"))
        ++count;
    return count;
}

// This process's descriptor of the device, found the way a debugger would.
int Descriptor_Of(const std::string& device) {
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        std::error_code error;
        if (std::filesystem::read_symlink(entry.path(), error) == device)
            return std::stoi(entry.path().filename().string());
    }
    return -1;
}

// CPU seconds the process has used (its own /proc/<pid>/stat ticks).
double Cpu_Seconds_Of(const std::string& pid) {
    std::ifstream stat("/proc/" + pid + "/stat");
    const std::string text((std::istreambuf_iterator<char>(stat)), {});
    const std::size_t end_of_name = text.rfind(')');
    if (end_of_name == std::string::npos)
        return -1;
    std::istringstream fields(text.substr(end_of_name + 2));
    std::string field;
    double ticks = 0;
    for (int index = 0; fields >> field; ++index) {
        if (index == 11 || index == 12)  // utime, stime
            ticks += std::stod(field);
    }
    return ticks / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// Opens the device as user and group nobody in a child: 0 when it opened,
// else the error.
int Open_As_Other_User(const std::string& device) {
    const pid_t child = fork();
    if (child == 0) {
        if (setgid(65534) != 0 || setuid(65534) != 0)
            _exit(255);
        const int fd = open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        _exit(fd >= 0 ? 0 : errno);
    }
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

std::vector<std::string> Lines_With(const std::string& text, const std::string& part) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (Contains(line, part))
            lines.push_back(line);
    }
    return lines;
}

// The phone plugged in: a gadget bound to a dummy controller, its PC side
// made by cdc_acm, and the virtual phone serving its gadget side.
class UsbPhone : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(gadget.Made()) << gadget.Error();
        Plug_And_Wait();
        Start_Phone();
    }
    void TearDown() override {
        phone.stop();
        EXPECT_EQ(Host_Deviations(files.deviations), "");
    }

    void Plug_And_Wait() {
        ASSERT_TRUE(gadget.Plug()) << gadget.Error();
        host_tty = gadget.Wait_For_Host_Tty();
        ASSERT_FALSE(host_tty.empty()) << "cdc_acm made no tty for the gadget";
    }
    void Unplug_And_Wait() {
        ASSERT_TRUE(gadget.Unplug()) << gadget.Error();
        EXPECT_TRUE(usb_rig::Wait_Until_Gone(host_tty)) << host_tty << " stayed";
    }
    void Start_Phone(std::vector<std::string> extra = {}) {
        phone.stop();
        std::vector<std::string> args = files.args({"--tty", gadget.Phone_Tty()});
        args.insert(args.end(), extra.begin(), extra.end());
        std::string error;
        ASSERT_TRUE(phone.start(args, &error)) << error;
    }
    // The program's files (a first run's dump) go to the test's folder.
    Cli_Options Options() const {
        const std::string folder = files.folder.string();
        Cli_Options options;
        options.environment = {"TMPDIR=" + folder, "XDG_RUNTIME_DIR=" + folder,
                               "XDG_CACHE_HOME=" + folder, "HOME=" + folder};
        return options;
    }
    std::vector<std::string> Dump_Files() const {
        std::vector<std::string> names;
        std::error_code error;
        for (const auto& entry :
             std::filesystem::directory_iterator(files.folder / "flashtool", error))
            names.push_back(entry.path().filename().string());
        return names;
    }
    void Expect_Flash_Equals(const Image_Builder& image) {
        phone.stop();
        const auto regions = Read_Flash_File(files.flash);
        ASSERT_TRUE(regions.has_value());
        ASSERT_EQ(regions->size(), 2u);
        EXPECT_TRUE((*regions)[0].bytes == image.first.data);
        EXPECT_TRUE((*regions)[1].bytes == image.second.data);
    }

    Usb_Gadget gadget{Gadget_Spec{}};
    Virtual_Phone_Files files;
    Virtual_Phone_Process phone;
    std::string host_tty;
};

TEST_F(UsbPhone, PortsAndDoctorNameEachDeviceWithItsUsbIdentityEscaped) {
    // A second phone at once, whose serial number would act on a terminal.
    Usb_Gadget other({.product_id = 0x0105, .serial = "\x1b[2J\xe2\x80\xaeX", .product = "Other"});
    ASSERT_TRUE(other.Made() && other.Plug()) << other.Error();
    const std::string other_tty = other.Wait_For_Host_Tty();
    ASSERT_FALSE(other_tty.empty());

    const Cli_Run ports = Run_Cli({"ports"}, Options());
    EXPECT_EQ(ports.exit_code, 0) << ports.err;
    const auto ours = Lines_With(ports.out, host_tty + "\t");
    ASSERT_EQ(ours.size(), 1u) << ports.out;
    for (const char* part : {"USB 1d6b:0104", "serial M418-0001", "Corvel M418 boot loader",
                             "driver cdc_acm", "at usb "})
        EXPECT_TRUE(Contains(ours[0], part)) << part << " in " << ours[0];
    const auto theirs = Lines_With(ports.out, other_tty + "\t");
    ASSERT_EQ(theirs.size(), 1u) << ports.out;
    EXPECT_TRUE(Contains(theirs[0], "USB 1d6b:0105, serial \\x1b[2J\\u202eX, Corvel Other"))
        << theirs[0];
    EXPECT_EQ(ports.out.find('\x1b'), std::string::npos);
    // The USB ports come first, by number; the gadgets' own ends are no ports.
    EXPECT_LT(ports.out.find(std::min(host_tty, other_tty)),
              ports.out.find(std::max(host_tty, other_tty)));
    EXPECT_FALSE(Contains(ports.out, "ttyGS"));

    const Cli_Run doctor = Run_Cli({"doctor", "--port", host_tty}, Options());
    EXPECT_EQ(doctor.exit_code, 0) << doctor.out << doctor.err;
    EXPECT_TRUE(Contains(doctor.out, "  USB 1d6b:0104, serial M418-0001")) << doctor.out;
    EXPECT_TRUE(Contains(doctor.out, "opens and takes the line settings")) << doctor.out;
}

TEST_F(UsbPhone, FirstRunDumpsThenASecondUpdateAndTheFlashHoldsTheImage) {
    const Image_Builder image = Sound_Image();
    Temp_Image_File file(image.Build());
    // No --port: the search finds the phone through the system's listing.
    const Cli_Run first = Run_Cli({"flash", file.Path()}, Options());
    EXPECT_EQ(first.exit_code, 0) << first.out << first.err;
    EXPECT_TRUE(Contains(first.out, "找到通訊埠 " + host_tty)) << first.out;
    EXPECT_TRUE(Contains(first.out, "第一次執行Vantrel")) << first.out;
    EXPECT_TRUE(Contains(first.out, "更新完成!")) << first.out;
    EXPECT_TRUE(Dump_Files().empty());
    Expect_Flash_Equals(image);

    Start_Phone();
    const Cli_Run second = Run_Cli({"flash", file.Path(), "--lang", "en"}, Options());
    EXPECT_EQ(second.exit_code, 0) << second.out << second.err;
    EXPECT_FALSE(Contains(second.out, "第一次執行Vantrel")) << second.out;
    EXPECT_TRUE(Contains(second.out, "Update OK!")) << second.out;
    EXPECT_TRUE(Dump_Files().empty());
    Expect_Flash_Equals(image);
}

TEST_F(UsbPhone, UnplugMidTransferIsADisconnectWithinASecondWithoutSpinningOrLeftovers) {
    struct Row {
        const char* moment;
        std::vector<std::string> phone;  // how the phone makes the program wait
        const char* waiting_once_logged;
    };
    const Row rows[] = {
        // The first run: the boot loader is dumped, then a block's answer is late.
        {"waiting for a block's answer",
         {"--fault", "block@3:delay:8000"},
         "fault exchange=block kind=delay"},
        // The phone takes the bytes at 115200 baud: the program's write of
        // a 32 KiB block waits for room in the driver's queue.
        {"in the middle of writing a block", {"--baud", "115200"}, "transfer-started"},
    };
    const Image_Builder image = Sound_Image(200000, 3000);
    Temp_Image_File file(image.Build());
    for (const Row& row : rows) {
        SCOPED_TRACE(row.moment);
        Start_Phone(row.phone);
        auto update = std::async(std::launch::async, [&] {
            return Run_Cli({"flash", file.Path(), "--port", host_tty, "--lang", "en"}, Options());
        });
        ASSERT_TRUE(Wait_For_Log(files.log, row.waiting_once_logged, 30000));
        const std::vector<std::string> pids = platform::Processes_Named("flashtool-cli");
        ASSERT_EQ(pids.size(), 1u);
        const double cpu_before = Cpu_Seconds_Of(pids[0]);
        const auto wait_start = Clock::now();
        std::this_thread::sleep_for(milliseconds(1000));
        const double share = (Cpu_Seconds_Of(pids[0]) - cpu_before) / Seconds_Since(wait_start);
        EXPECT_LT(share, kIdleCpuShare) << "the program spins while it waits for the phone";

        const auto unplugged = Clock::now();
        ASSERT_TRUE(gadget.Unplug()) << gadget.Error();
        ASSERT_EQ(update.wait_for(std::chrono::seconds(30)), std::future_status::ready);
        const double reported_after = Seconds_Since(unplugged);
        const Cli_Run run = update.get();
        EXPECT_EQ(run.exit_code, 5) << run.out << run.err;
        EXPECT_LT(reported_after, kDisconnectLimitS) << run.out;
        EXPECT_TRUE(Contains(run.out, "The phone was disconnected.")) << run.out;
        EXPECT_TRUE(Contains(Last_Line(run.err), "programming the phone's flash failed"))
            << run.err;
        // The record was written before the transfer: the dump went with it.
        EXPECT_TRUE(Dump_Files().empty());
        EXPECT_TRUE(usb_rig::Wait_Until_Gone(host_tty));

        // Plugged in again, the port is free for the next run: nothing was
        // left locked or held.
        Plug_And_Wait();
        Start_Phone();
        const Cli_Run again = Run_Cli({"flash", file.Path(), "--port", host_tty}, Options());
        EXPECT_EQ(again.exit_code, 0) << again.out << again.err;
        Expect_Flash_Equals(image);
    }
}

TEST_F(UsbPhone, ReadVersionUnpluggedMidReadSaysThePhoneWasDisconnected) {
    Start_Phone({"--fault", "e0-record:delay:8000"});
    auto reading = std::async(std::launch::async, [&] {
        return Run_Cli({"read-version", "--port", host_tty}, Options());
    });
    ASSERT_TRUE(Wait_For_Log(files.log, "fault exchange=e0-record", 30000));
    const auto unplugged = Clock::now();
    ASSERT_TRUE(gadget.Unplug()) << gadget.Error();
    ASSERT_EQ(reading.wait_for(std::chrono::seconds(30)), std::future_status::ready);
    EXPECT_LT(Seconds_Since(unplugged), kDisconnectLimitS);
    const Cli_Run run = reading.get();
    EXPECT_EQ(run.exit_code, 4) << run.err;
    EXPECT_TRUE(Contains(run.err, "The phone was disconnected.")) << run.err;
}

TEST_F(UsbPhone, PluggedInAgainWhileTheOldPortIsHeldItComesBackRenamedAndIsFound) {
    const std::string old_tty = host_tty;
    const int held = open(old_tty.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(held, 0);
    Unplug_And_Wait();
    Plug_And_Wait();
    EXPECT_NE(host_tty, old_tty) << "the held name was given out again";
    // The old descriptor stays dead: end-of-file, and writes fail.
    char byte = 0;
    EXPECT_EQ(read(held, &byte, 1), 0);
    EXPECT_EQ(write(held, "x", 1), -1);

    const Cli_Run ports = Run_Cli({"ports"}, Options());
    EXPECT_TRUE(Contains(ports.out, host_tty + "\t")) << ports.out;
    EXPECT_FALSE(Contains(ports.out, old_tty + "\t")) << ports.out;

    const Cli_Run found = Run_Cli({"read-version"}, Options());
    EXPECT_EQ(found.exit_code, 0) << found.out << found.err;
    EXPECT_TRUE(Contains(found.out, "Port: " + host_tty)) << found.out;

    // Asked about the old name, doctor says it is gone, who keeps it taken,
    // and where the phone is now.
    const Cli_Run doctor = Run_Cli({"doctor", "--port", old_tty}, Options());
    EXPECT_TRUE(Contains(doctor.out, "not present")) << doctor.out;
    EXPECT_TRUE(Contains(
        doctor.out, "still held open by usb_guest_test (pid " + std::to_string(getpid()) + ")"))
        << doctor.out;
    EXPECT_TRUE(Contains(doctor.out, "    " + host_tty + "  USB 1d6b:0104, serial M418-0001"))
        << doctor.out;
    close(held);
}

TEST_F(UsbPhone, TwentyUnplugsMidReadEachEndAsAHangUpAndLeakNoDescriptor) {
    // The phone sends its record late each time: the port object is waiting
    // in a read when the cable goes.
    Start_Phone({"--fault", "e0-record:delay:60000"});
    CComport port;
    const int descriptors = Open_Descriptors();
    for (int cycle = 0; cycle < 20; ++cycle) {
        SCOPED_TRACE("cycle " + std::to_string(cycle));
        Port_Candidate found;
        ASSERT_TRUE(port.Find_Phone(&found));
        // A descriptor left open by the last cycle would have pushed the
        // phone to the next name.
        EXPECT_EQ(found.device_path, host_tty);
        auto unplug = std::async(std::launch::async, [&] {
            std::this_thread::sleep_for(milliseconds(150));
            const auto at = Clock::now();
            gadget.Unplug();
            return at;
        });
        Version_Record record{};
        const auto result = port.Read_Phone_Version(record);
        const double after_unplug = Seconds_Since(unplug.get());
        EXPECT_NE(result.result, boot::Read_Version_Result::kOk);
        EXPECT_EQ(result.end, Io_End::kHungUp);
        EXPECT_LT(after_unplug, kDisconnectLimitS);
        port.Close();
        EXPECT_EQ(Open_Descriptors(), descriptors);
        ASSERT_TRUE(usb_rig::Wait_Until_Gone(host_tty));
        Plug_And_Wait();
    }
}

TEST_F(UsbPhone, LineSettingsAndModemLinesReadBackThroughTheDriver) {
    Serial_Port port;
    ASSERT_TRUE(port.Open(host_tty));
    const int fd = Descriptor_Of(host_tty);
    ASSERT_GE(fd, 0);
    termios line{};
    ASSERT_EQ(tcgetattr(fd, &line), 0);
    EXPECT_EQ(cfgetospeed(&line), static_cast<speed_t>(B115200));
    EXPECT_EQ(cfgetispeed(&line), static_cast<speed_t>(B115200));
    EXPECT_EQ(line.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(line.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
    EXPECT_EQ(line.c_cflag & (CREAD | CLOCAL), static_cast<tcflag_t>(CREAD | CLOCAL));
    EXPECT_EQ(line.c_iflag & (IXON | IXOFF | IXANY | ICRNL | ISTRIP), 0u);
    EXPECT_EQ(line.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
    EXPECT_EQ(line.c_oflag & OPOST, 0u);
    int lines = 0;
    ASSERT_EQ(ioctl(fd, TIOCMGET, &lines), 0);
    EXPECT_EQ(lines & (TIOCM_DTR | TIOCM_RTS), 0) << "DTR and RTS are to be off";

    // Held exclusively: another user is refused by the driver, and a second
    // copy of the port object (root passes TIOCEXCL) by the program's lock.
    ASSERT_EQ(chmod(host_tty.c_str(), 0666), 0);
    EXPECT_EQ(Open_As_Other_User(host_tty), EBUSY) << "another user got in";
    Serial_Port second;
    EXPECT_FALSE(second.Open(host_tty));
    EXPECT_EQ(second.Last_Open_Refusal(), Open_Refusal::kInUse);

    // Closed, the port is handed back: not exclusive any more.
    port.Close();
    EXPECT_EQ(Open_As_Other_User(host_tty), 0) << "still exclusive after Close";
}

}  // namespace
