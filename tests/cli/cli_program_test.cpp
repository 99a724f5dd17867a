// The real flashtool-cli program, run as a user would run it, against the
// virtual phone on a pseudo-terminal: exit codes, what it prints, what ends up
// in the phone's flash, the trace file, and Ctrl-C.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "cli_process.h"
#include "tests/support/image_builder.h"
#include "tests/support/virtual_phone_process.h"

using test_support::Bytes;
using test_support::Image_Builder;
using test_support::Random_Bytes;
using test_support::Temp_Image_File;

namespace {

// The virtual phone's boot loader carries the record tail "M418ZHTWA00100";
// an image for the same code and language with a higher number passes the check.
constexpr const char* kImageVersion = "CVLbootloaderVC_M418ZHTWA00101";

Image_Builder Sound_Image(std::size_t first_bytes = 70000, std::size_t second_bytes = 3000) {
    Image_Builder image;
    image.version_text = Bytes(kImageVersion);
    image.first.start = 0x00010000;
    image.first.data = Random_Bytes(first_bytes, 11);
    image.second.start = 0x00200000;
    image.second.data = Random_Bytes(second_bytes, 12);
    return image;
}

std::string Read_Text(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), {}};
}

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

class CliAgainstPhone : public ::testing::Test {
  protected:
    // The program dumps the boot loader into $TMPDIR/VANTREL: a folder of the
    // test's own, or two tests running at once (or any other run on the
    // machine) append to and delete one shared file.
    void SetUp() override {
        if (const char* old = std::getenv("TMPDIR"))
            m_old_tmpdir = old;
        setenv("TMPDIR", files.folder.c_str(), 1);
    }
    void TearDown() override {
        phone.stop();
        EXPECT_EQ(Host_Deviations(files.deviations, known_host_deviations), "");
        if (m_old_tmpdir)
            setenv("TMPDIR", m_old_tmpdir->c_str(), 1);
        else
            unsetenv("TMPDIR");
    }
    // Starts the phone with extra switches; false (with the reason) on failure.
    void Start_Phone(std::initializer_list<std::string> extra = {}) {
        std::string error;
        ASSERT_TRUE(phone.start(files.args(extra), &error)) << error;
    }
    Cli_Run Flash(const Temp_Image_File& image, std::vector<std::string> more = {}) {
        std::vector<std::string> args{"flash", image.Path(), "--port", phone.device_path()};
        args.insert(args.end(), more.begin(), more.end());
        return Run_Cli(args);
    }
    // The flash the phone holds, compared region by region with the image.
    // The phone is stopped first: it may still be writing its flash file
    // when the program has already ended.
    void Expect_Flash_Equals(const Image_Builder& image) {
        phone.stop();
        const auto regions = Read_Flash_File(files.flash);
        ASSERT_TRUE(regions.has_value());
        ASSERT_EQ(regions->size(), 2u);
        EXPECT_EQ((*regions)[0].start, image.first.start);
        EXPECT_EQ((*regions)[1].start, image.second.start);
        EXPECT_TRUE((*regions)[0].bytes == image.first.data);
        EXPECT_TRUE((*regions)[1].bytes == image.second.data);
    }

    Virtual_Phone_Files files;
    Virtual_Phone_Process phone;
    Known_Deviations known_host_deviations;  // each with its TODO in the test

  private:
    std::optional<std::string> m_old_tmpdir;
};

TEST_F(CliAgainstPhone, UpdatesOnFirstRunWithDumpThenAgainWithoutIt) {
    Start_Phone();
    const Image_Builder image = Sound_Image();
    Temp_Image_File file(image.Build());

    const Cli_Run first = Flash(file);
    EXPECT_EQ(first.exit_code, 0) << first.out << first.err;
    EXPECT_TRUE(Contains(first.out, "第一次執行Vantrel")) << first.out;  // dump taken
    EXPECT_TRUE(Contains(first.out, "更新完成!")) << first.out;
    EXPECT_TRUE(Contains(first.out, "Elapsed time: ")) << first.out;
    Expect_Flash_Equals(image);

    // The phone (plugged in again) now holds the image's record: no dump,
    // same version noticed, and English where the language setting chooses.
    Start_Phone();
    const Cli_Run second = Flash(file, {"--lang", "en"});
    EXPECT_EQ(second.exit_code, 0) << second.out << second.err;
    EXPECT_FALSE(Contains(second.out, "第一次執行Vantrel")) << second.out;
    EXPECT_TRUE(Contains(second.out, "手機版本與下載版本相同")) << second.out;
    EXPECT_TRUE(Contains(second.out, "Update OK!")) << second.out;
    EXPECT_TRUE(Contains(second.out, "尋找通訊埠中....")) << "always Chinese";
    Expect_Flash_Equals(image);
}

TEST_F(CliAgainstPhone, RefusedImageEndsWithCode2BeforeAnyPortIsTouched) {
    Start_Phone();
    Image_Builder image = Sound_Image();
    image.header_length = 0x8039;
    Temp_Image_File file(image.Build());

    const Cli_Run run = Flash(file);
    EXPECT_EQ(run.exit_code, 2);
    EXPECT_TRUE(Contains(run.out, "You choose the wrong bin!")) << run.out;
    EXPECT_FALSE(Contains(run.out, "尋找通訊埠中")) << run.out;
    EXPECT_FALSE(Log_Contains(files.log, "handshake-cycle"));
}

TEST_F(CliAgainstPhone, VersionCheckStopsWithCode4AndLeavesFlashUntouched) {
    // The phone already holds a record of ours, but for another language.
    Start_Phone({"--record-text", "CVLbootloaderVC_M418ENUSA00100"});
    Temp_Image_File file(Sound_Image().Build());

    const Cli_Run run = Flash(file);
    EXPECT_EQ(run.exit_code, 4) << run.out << run.err;
    EXPECT_TRUE(Contains(run.out, "手機語言別與下載版本不同")) << run.out;
    EXPECT_FALSE(Contains(run.out, "更新完成!"));
    EXPECT_FALSE(Log_Contains(files.log, "regions-announced"));
    EXPECT_FALSE(Log_Contains(files.log, "record-written"));
}

TEST_F(CliAgainstPhone, UnansweredVersionReadStopsWithCode4AndItsErrorCode) {
    Start_Phone({"--fault", "e0-ack:silent"});
    Temp_Image_File file(Sound_Image().Build());

    const Cli_Run run = Flash(file);
    EXPECT_EQ(run.exit_code, 4) << run.out << run.err;
    EXPECT_TRUE(Contains(run.out, "Read boot loader failed,error is 2")) << run.out;
}

TEST_F(CliAgainstPhone, RefusedBlockEndsWithCode5AndTheTraceShowsTheRefusal) {
    Start_Phone({"--fault", "block@2:refuse:0x06"});
    const Image_Builder image = Sound_Image();
    Temp_Image_File file(image.Build());
    const std::string trace_path = files.folder.string() + "/trace.txt";

    const Cli_Run run = Flash(file, {"--trace", trace_path});
    EXPECT_EQ(run.exit_code, 5) << run.out << run.err;
    EXPECT_TRUE(Contains(run.out, "Download regions failed,error is 10")) << run.out;
    EXPECT_FALSE(Contains(run.out, "更新完成!"));

    // From the trace alone: the handshake, the version exchange, the first
    // block's bytes, the refusal byte, each under its operation.
    const std::string trace = Read_Text(trace_path);
    EXPECT_TRUE(Contains(trace, "Sync_Boot_Loader         >phone 1 58")) << trace.substr(0, 2000);
    EXPECT_TRUE(Contains(trace, "Sync_Boot_Loader         <phone 1 AA"));
    EXPECT_TRUE(Contains(trace, "Read_Phone_Version       >phone 1 E0"));
    EXPECT_TRUE(Contains(trace, "Download_Regions         >phone 32768"));
    const std::vector<std::uint8_t> head(image.first.data.begin(), image.first.data.begin() + 8);
    std::string head_hex;
    for (const std::uint8_t byte : head) {
        static constexpr char kDigits[] = "0123456789ABCDEF";
        if (!head_hex.empty())
            head_hex += ' ';
        head_hex += kDigits[byte >> 4];
        head_hex += kDigits[byte & 0x0F];
    }
    EXPECT_TRUE(Contains(trace, "+000000 " + head_hex));
    EXPECT_TRUE(Contains(trace, "Download_Regions         <phone 1 06"));
    EXPECT_TRUE(Contains(trace, "exit code 5"));
}

TEST_F(CliAgainstPhone, ReadVersionShowsTheRecordAndEndsTheLink) {
    Start_Phone({"--record-text", kImageVersion});
    const Cli_Run run = Run_Cli({"read-version", "--port", phone.device_path()});
    EXPECT_EQ(run.exit_code, 0) << run.out << run.err;
    EXPECT_TRUE(Contains(run.out, std::string("Text: ") + kImageVersion + "..")) << run.out;
    EXPECT_TRUE(Contains(run.out, "Hex:  43 56 4C 62")) << run.out;
    EXPECT_TRUE(Wait_For_Log(files.log, "link-closed", 2000));
    EXPECT_FALSE(Log_Contains(files.log, "record-written"));
}

TEST_F(CliAgainstPhone, CtrlCDuringTheTransferClosesThePortAndExits130) {
    // Paced so that the transfer takes several seconds.
    // It forgets a half-received block after 300 ms of silence, as a boot
    // loader does before it can be spoken to again.
    Start_Phone({"--baud", "230400", "--idle-reset-ms", "300"});
    const Image_Builder image = Sound_Image(100000, 1000);
    Temp_Image_File file(image.Build());
    // TODO(host): stopped while it waits for a reply, the host writes at once
    // what ends a stopped update (0x60, and 0xA5 0x60 once blocks go out),
    // before the reply is read; mid-exchange the protocol allows only closing
    // the port. Seen here: "host byte 135, de-ack: expected no byte before the
    // phone's reply is read, came 0x60" (the same after the block size,
    // "size-ack"). Where the stop lands decides which, if any, shows; these
    // lines are left out until the host is mended.
    known_host_deviations = {"expected no byte before the phone's reply is read, came 0x60",
                             "expected no byte before the phone's reply is read, came 0xA5"};

    Cli_Options interrupt;
    interrupt.interrupt_when_out_contains = "下載開始時間";  // the transfer has begun
    const Cli_Run run = Run_Cli({"flash", file.Path(), "--port", phone.device_path()}, interrupt);
    ASSERT_GE(run.interrupted_after, 0) << run.out << run.err;
    EXPECT_EQ(run.exit_code, 130) << run.out << run.err;
    EXPECT_TRUE(Contains(run.err, "interrupted")) << run.err;
    EXPECT_FALSE(Contains(run.out, "更新完成!"));
    // A blocked port read gives up at once rather than after its limit (10 s
    // for a block reply); generous for a loaded machine.
    EXPECT_LT(run.seconds - run.interrupted_after, 5.0);

    // The port was released: the next update finds the phone and completes,
    // once the phone has given up on the block the interrupt cut short.
    std::this_thread::sleep_for(std::chrono::seconds(1));
    const Cli_Run again = Flash(file);
    EXPECT_EQ(again.exit_code, 0) << again.out << again.err;
    Expect_Flash_Equals(image);
}

TEST(CliWithoutPhone, NoAnsweringPortEndsWithCode3AfterAllPasses) {
    Temp_Image_File file(Sound_Image(100, 100).Build());
    const std::string missing = "/dev/flashtool-no-such-port";

    const Cli_Run chinese = Run_Cli({"flash", file.Path(), "--port", missing});
    EXPECT_EQ(chinese.exit_code, 3) << chinese.out << chinese.err;
    EXPECT_TRUE(Contains(chinese.out, "無法找到通訊埠")) << chinese.out;
    EXPECT_TRUE(Contains(chinese.err, "flashtool-cli doctor")) << chinese.err;
    // 21 passes, each opened by a 100 ms pause: never sooner.
    EXPECT_GE(chinese.seconds, 2.0);

    const Cli_Run english = Run_Cli({"flash", file.Path(), "--port", missing, "--lang=en"});
    EXPECT_EQ(english.exit_code, 3);
    EXPECT_TRUE(Contains(english.out, "can find the comport")) << english.out;

    const Cli_Run read = Run_Cli({"read-version", "--port", missing});
    EXPECT_EQ(read.exit_code, 3) << read.out << read.err;
}

TEST(CliWithoutPhone, InfoShowsASoundImageAndRefusesABrokenOne) {
    Image_Builder image = Sound_Image(65536, 16);
    image.header_length = 0x0090;  // region data after a gap
    Temp_Image_File file(image.Build());
    const Cli_Run good = Run_Cli({"info", file.Path()});
    EXPECT_EQ(good.exit_code, 0) << good.err;
    EXPECT_TRUE(Contains(good.out, std::string("Version text:   ") + kImageVersion)) << good.out;
    EXPECT_TRUE(Contains(good.out, "Header length:  144 (0x0090)")) << good.out;
    EXPECT_TRUE(Contains(good.out,
                         "start 0x00010000 (65536)  end 0x0001FFFF (131071)  length "
                         "0x00010000 (65536)"))
        << good.out;
    EXPECT_TRUE(Contains(good.out,
                         "start 0x00200000 (2097152)  end 0x0020000F (2097167)  "
                         "length 0x00000010 (16)"))
        << good.out;
    EXPECT_TRUE(Contains(good.out, "Total bytes:    65552 (0x10010)")) << good.out;

    Image_Builder broken = Sound_Image();
    broken.header_length = 0x8000;
    Temp_Image_File broken_file(broken.Build());
    const Cli_Run refused = Run_Cli({"info", broken_file.Path()});
    EXPECT_EQ(refused.exit_code, 2);
    EXPECT_TRUE(Contains(refused.err, "You choose the wrong bin!")) << refused.err;
    EXPECT_TRUE(refused.out.empty()) << refused.out;

    Image_Builder short_file = Sound_Image();
    short_file.truncate_to = 1000;  // ends inside the first region
    Temp_Image_File cut(short_file.Build());
    EXPECT_EQ(Run_Cli({"info", cut.Path()}).exit_code, 2);

    const Cli_Run missing = Run_Cli({"info", "/nonexistent/image.bin"});
    EXPECT_EQ(missing.exit_code, 2);
    EXPECT_TRUE(Contains(missing.err, "cannot be opened")) << missing.err;
}

TEST(CliWithoutPhone, BadUsageSaysWhyAndExits1) {
    const std::vector<std::vector<std::string>> bad = {
        {},
        {"frobnicate"},
        {"flash"},
        {"info"},
        {"info", "a.bin", "b.bin"},
        {"flash", "a.bin", "--port"},
        {"flash", "a.bin", "--lang", "fr"},
        {"flash", "a.bin", "--speed", "9600"},
        {"info", "a.bin", "--port", "/dev/ttyACM0"},
        {"ports", "extra"},
        {"read-version", "--lang", "en"},
    };
    for (const auto& args : bad) {
        std::string shown;
        for (const auto& arg : args)
            shown += arg + " ";
        SCOPED_TRACE(shown);
        const Cli_Run run = Run_Cli(args);
        EXPECT_EQ(run.exit_code, 1);
        EXPECT_TRUE(run.out.empty()) << run.out;
        EXPECT_EQ(run.err.rfind("flashtool-cli: ", 0), 0u) << run.err;
        EXPECT_TRUE(Contains(run.err, "--help")) << run.err;
    }
    for (const std::string command : {"info", "ports", "flash", "read-version", "doctor"}) {
        const Cli_Run help = Run_Cli({command, "--help"});
        EXPECT_EQ(help.exit_code, 0) << command;
        EXPECT_TRUE(Contains(help.out, "Usage: flashtool-cli " + command)) << help.out;
    }
    EXPECT_EQ(Run_Cli({"--help"}).exit_code, 0);
}

// Root opens any device, so the refusal can only be seen as another user.
TEST(CliWithoutPhone, RefusedPortIsNamedWithItsFix) {
    if (geteuid() == 0)
        GTEST_SKIP() << "permissions do not refuse root";
    Virtual_Phone_Files files;
    const std::string locked = files.folder.string() + "/ttyLOCKED";
    std::ofstream(locked).put('x');
    ASSERT_EQ(chmod(locked.c_str(), 0), 0);
    Temp_Image_File file(Sound_Image(100, 100).Build());

    const Cli_Run flash = Run_Cli({"flash", file.Path(), "--port", locked, "--lang", "en"});
    EXPECT_EQ(flash.exit_code, 3);
    const std::size_t not_found = flash.out.find("can find the comport\n");
    ASSERT_NE(not_found, std::string::npos) << flash.out;
    EXPECT_NE(flash.out.find(locked, not_found), std::string::npos) << "the next line names it";

    const Cli_Run doctor = Run_Cli({"doctor", "--port", locked});
    EXPECT_EQ(doctor.exit_code, 3);
    EXPECT_TRUE(Contains(doctor.out, "permission denied")) << doctor.out;
    EXPECT_TRUE(Contains(doctor.out, "the device belongs to group")) << doctor.out;
}

TEST_F(CliAgainstPhone, DoctorTellsAUsablePortFromAMissingOne) {
    Start_Phone();
    const Cli_Run usable = Run_Cli({"doctor", "--port", phone.device_path()});
    EXPECT_EQ(usable.exit_code, 0) << usable.out << usable.err;
    EXPECT_TRUE(Contains(usable.out, "the phone search can use it")) << usable.out;
    EXPECT_TRUE(Contains(usable.out, "ModemManager: ")) << usable.out;

    const Cli_Run missing = Run_Cli({"doctor", "--port", "/dev/flashtool-no-such-port"});
    EXPECT_EQ(missing.exit_code, 3) << missing.out;
    EXPECT_TRUE(Contains(missing.out, "not present")) << missing.out;
}

}  // namespace
