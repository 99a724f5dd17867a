// The real flashtool-cli program given files and texts that are not what they
// should be: a FIFO, a directory or a device as the image, the image (or
// another name of it) as the trace, a trace that cannot be written, an image
// whose header claims 4 GiB, and control characters in the image, the path,
// the phone's record and the command line.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

#include "cli_against_phone.h"
#include "terminal_safety.h"

using namespace cli_suite;

namespace {

const std::string kNoPort = "--port=/dev/flashtool-no-such-port";

// A FIFO, a directory or a device is refused at once, by info and flash
// alike, without being opened for reading (a FIFO would wait for a writer).
TEST(CliFiles, AnImageThatIsNoFileIsRefusedAtOnceWithTheReason) {
    Virtual_Phone_Files folder;
    const std::string fifo = folder.folder.string() + "/image.fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    struct Row {
        std::string path;
        std::string reason;
    };
    const Row rows[] = {
        {fifo, "it is a FIFO, not a file"},
        {folder.folder.string(), "it is a directory"},
        {"/dev/zero", "it is a device, not a file"},
    };
    Cli_Options quick;
    quick.time_limit_ms = 20000;  // a hang is killed and fails the row
    for (const Row& row : rows) {
        for (const std::vector<std::string>& args :
             {std::vector<std::string>{"info", row.path},
              std::vector<std::string>{"flash", row.path, kNoPort, "--lang=en"}}) {
            SCOPED_TRACE(args[0] + " " + row.path);
            const Cli_Run run = Run_Cli(args, quick);
            EXPECT_EQ(run.exit_code, 2) << run.err;
            EXPECT_EQ(run.err.rfind(
                          "flashtool-cli: cannot open " + row.path + ": " + row.reason + "\n", 0),
                      0u)
                << run.err;
            EXPECT_TRUE(run.out.empty()) << run.out;
        }
    }
}

// The trace is refused before any port is touched (the search of a missing
// port would end with 3) when it would destroy the image or write into a
// device; the image is intact. Links, FIFOs, directories and the image's
// other names are rows of TraceFile's own test.
TEST(CliFiles, ATraceThatWouldReplaceTheImageOrIsADeviceIsRefusedAtOnce) {
    const std::vector<std::uint8_t> bytes = Sound_Image(1000, 100).Build();
    Temp_Image_File image(bytes);
    struct Row {
        std::string trace;
        std::string reason;
    };
    const Row rows[] = {
        {image.Path(), "it is the image file"},
        {"/dev/full", "it is a device, not a file"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.trace);
        const Cli_Run run = Run_Cli({"flash", image.Path(), kNoPort, "--trace", row.trace});
        EXPECT_EQ(run.exit_code, 1) << run.err;
        EXPECT_EQ(run.err, "flashtool-cli: cannot use " + row.trace + " as the trace file: " +
                               row.reason + "; name a new file for --trace.\n");
        EXPECT_TRUE(run.out.empty()) << run.out;
    }
    const std::string kept = Read_Text(image.Path());
    EXPECT_TRUE(std::vector<std::uint8_t>(kept.begin(), kept.end()) == bytes) << "image intact";
}

// The trace's file system fills up during the transfer (a file size limit
// stands in for it): the update completes, the exit code is the update's,
// and the end of the output says that the trace is incomplete and why.
TEST_F(CliAgainstPhone, ATraceThatCannotBeWrittenIsReportedAndTheUpdateGoesOn) {
    Start_Phone({"--record-text", "CVLbootloaderVC_M418ZHTWA00100"});  // no dump to write
    const Image_Builder image = Sound_Image();
    Temp_Image_File file(image.Build());
    const std::string trace = files.folder.string() + "/trace.txt";

    Cli_Options limited = Options();
    limited.file_size_limit = 16384;
    // No journal: its database cannot live under a 16 KiB file size limit,
    // and this is about the trace alone.
    const Cli_Run run = Flash(file, {"--trace", trace, "--lang", "en", "--no-journal"}, limited);
    EXPECT_EQ(run.killed_by, 0) << "killed by signal " << run.killed_by;
    EXPECT_EQ(run.exit_code, 0) << run.out << run.err;
    EXPECT_TRUE(Contains(run.out, "Update OK!")) << run.out;
    EXPECT_EQ(run.err,
              "flashtool-cli: the trace file " + trace + " is incomplete: File too large\n");
    Expect_Flash_Equals(image);
}

// info shows the header of an image that claims a 4 GiB region without
// reading the region: a sparse file, and the program's peak memory far below
// what reading it would take.
TEST(CliFiles, InfoReadsOnlyTheHeaderOfAnImageThatClaims4GiB) {
    Image_Builder header = Sound_Image(0, 0);
    header.first.start = 0;
    header.first.end = 0xFFFFFFFE;     // 4 GiB - 1 bytes
    header.second.start = 0xFFFFFFFF;  // the one address left
    header.second.end = 0xFFFFFFFF;
    const std::vector<std::uint8_t> bytes = header.Build();
    Temp_Image_File file(bytes);
    ASSERT_TRUE(file.Ok());
    ASSERT_EQ(truncate(file.Path().c_str(), static_cast<off_t>(bytes.size() + 0xFFFFFFFFULL + 16)),
              0);

    const Cli_Run run = Run_Cli({"info", file.Path()});
    EXPECT_EQ(run.exit_code, 0) << run.err;
    EXPECT_TRUE(Contains(run.out, "length 0xFFFFFFFF (4294967295)")) << run.out;
    EXPECT_TRUE(Contains(run.out, "Total bytes:    4294967296 (0x100000000)")) << run.out;
    std::printf("info peak memory: %ld KiB\n", run.peak_memory_kib);
    EXPECT_LT(run.peak_memory_kib, 256 * 1024);
}

// A 4 KiB file truncated longer, its regions all holes: two 512 MiB regions
// are more than the phone's flash takes, two 32 MiB ones are bytes the file
// does not hold. flash refuses both with the reason before it asks for the
// memory the claim would take; info shows the header and says why flash
// refuses it, with as little memory.
TEST(CliFiles, ASparseImageIsRefusedByFlashBeforeItTakesTheMemory) {
    struct Row {
        std::string command;
        std::uint32_t region;
        std::string why;
    };
    const std::string too_large =
        "The image's flash regions hold 1073741824 bytes, more than the phone's flash can take "
        "(134217728 bytes).";
    const Row rows[] = {
        {"flash", 512u << 20, too_large},
        {"flash", 32u << 20, "The image file has holes: "},
        {"info", 512u << 20, "flashtool-cli: flash refuses this image: " + too_large},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.command + " " + std::to_string(row.region));
        Image_Builder header = Sound_Image(0, 0);
        header.first = {0, {}, row.region - 1};
        header.second = {0x40000000, {}, 0x40000000 + row.region - 1};
        std::vector<std::uint8_t> bytes = header.Build();
        bytes.resize(4096, 0x5A);
        Temp_Image_File file(bytes);
        ASSERT_TRUE(file.Ok());
        ASSERT_EQ(truncate(file.Path().c_str(), static_cast<off_t>(header.Data_Offset() +
                                                                   2 * std::uint64_t{row.region})),
                  0);
        const Cli_Run run = row.command == "info"
                                ? Run_Cli({"info", file.Path()})
                                : Run_Cli({"flash", file.Path(), kNoPort, "--lang=en"});
        EXPECT_EQ(run.exit_code, row.command == "info" ? 0 : 2) << run.err;
        EXPECT_TRUE(Contains(run.out + run.err, row.why)) << run.out << run.err;
        EXPECT_LT(run.peak_memory_kib, 256 * 1024);
    }
}

// info reads what it shows through one open of the image, so a file renamed
// over meanwhile cannot give it the header of one file and the words of
// another. The system counts the opens.
TEST(CliFiles, InfoOpensTheImageOnce) {
    Temp_Image_File file(Sound_Image(100, 10).Build());
    const int watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(watch, 0);
    // Closes too: the system merges events that follow one another unread.
    ASSERT_GE(inotify_add_watch(watch, file.Path().c_str(), IN_OPEN | IN_CLOSE), 0);
    const Cli_Run run = Run_Cli({"info", file.Path()});
    EXPECT_EQ(run.exit_code, 0) << run.err;
    EXPECT_TRUE(Contains(run.out, std::string("Version text:   ") + kImageVersion)) << run.out;
    int opens = 0;
    alignas(inotify_event) char events[4096];
    for (ssize_t got; (got = read(watch, events, sizeof events)) > 0;) {
        for (char* at = events; at < events + got;) {
            const auto* event = reinterpret_cast<const inotify_event*>(at);
            opens += (event->mask & IN_OPEN) != 0;
            at += sizeof(inotify_event) + event->len;
        }
    }
    close(watch);
    EXPECT_EQ(opens, 1);
}

// A line feed in the dump's directory (XDG_RUNTIME_DIR comes from outside)
// reaches the terminal as an escape: the kept dump's line cannot forge an
// "Update OK!" line on a run that stopped.
TEST_F(CliAgainstPhone, ALineFeedInTheDumpPathForgesNoLine) {
    Start_Phone({"--marker-offset", "5000"});  // a first run that stops after its dump
    Temp_Image_File file(Sound_Image().Build());
    const std::string runtime = files.folder.string() + "/run\nUpdate OK!\n";
    ASSERT_EQ(mkdir(runtime.c_str(), 0700), 0);
    Cli_Options options = Options();
    options.environment.push_back("XDG_RUNTIME_DIR=" + runtime);
    const Cli_Run run = Flash(file, {"--lang", "en"}, options);
    EXPECT_EQ(run.exit_code, 4) << run.out << run.err;
    EXPECT_TRUE(Contains(run.out, "The phone's boot loader dump is kept in " +
                                      files.folder.string() + "/run\\x0aUpdate OK!\\x0a/"))
        << run.out;
    EXPECT_FALSE(Contains(run.out, "\nUpdate OK!")) << run.out;
}

// Control characters from every source reach the terminal as escapes: the
// image's version (an 8-bit CSI), the path (ESC sequences and a bidi
// override), the phone's record (ESC and a stray C1 byte), a port name and a
// command word. The update itself is unaffected.
TEST_F(CliAgainstPhone, ControlCharactersFromOutsideReachTheTerminalOnlyAsEscapes) {
    std::string record_hex;
    for (const unsigned char c : std::string("CVLbootloaderVC_M418ZHTWA00100\x1b\x9b")) {
        char digits[3];
        std::snprintf(digits, sizeof digits, "%02X", c);
        record_hex += digits;
    }
    Start_Phone({"--record-hex", record_hex});
    Image_Builder image = Sound_Image();
    image.version_text = Bytes(std::string(kImageVersion) + "\xc2\x9b");
    Temp_Image_File original(image.Build());
    const std::string hostile_path = files.folder.string() +
                                     "/img\x1b[31m\xe2\x80\xae"
                                     "nib.bin";
    std::filesystem::copy_file(original.Path(), hostile_path);
    const std::string shown_path = files.folder.string() + "/img\\x1b[31m\\u202enib.bin";

    const Cli_Run flash =
        Run_Cli({"flash", hostile_path, "--port", phone.device_path()}, Options());
    EXPECT_EQ(flash.exit_code, 0) << flash.out << flash.err;
    EXPECT_TRUE(Contains(flash.out, std::string("新版本: ") + kImageVersion + "\\u009b\n"))
        << flash.out;
    EXPECT_TRUE(Contains(flash.out, "舊版本: CVLbootloaderVC_M418ZHTWA00100\\x1b\\x9b\n"))
        << flash.out;

    const Cli_Run info = Run_Cli({"info", hostile_path});
    EXPECT_EQ(info.exit_code, 0) << info.err;
    EXPECT_TRUE(Contains(info.out, "Image:          " + shown_path + "\n")) << info.out;
    EXPECT_TRUE(Contains(info.out, std::string("Version text:   ") + kImageVersion + "\\u009b\n"))
        << info.out;

    Start_Phone();  // plugged in again, holding the image's record now
    const Cli_Run read = Run_Cli({"read-version", "--port", phone.device_path()});
    EXPECT_EQ(read.exit_code, 0) << read.err;
    EXPECT_TRUE(Contains(read.out, std::string("Text: ") + kImageVersion + "\\u009b\n"))
        << read.out;

    const Cli_Run missing = Run_Cli({"info", files.folder.string() + "/\x1b]0;owned\x07"});
    EXPECT_TRUE(Contains(missing.err, "/\\x1b]0;owned\\x07: No such file")) << missing.err;
    const Cli_Run doctor = Run_Cli({"doctor", "--port", "/dev/none\x1b[2J"});
    EXPECT_TRUE(Contains(doctor.out, "/dev/none\\x1b[2J\n  not present")) << doctor.out;
    const Cli_Run usage =
        Run_Cli({"\xe2\x80\xae"
                 "hsalf"});
    EXPECT_TRUE(Contains(usage.err, "unknown command '\\u202ehsalf'")) << usage.err;

    for (const Cli_Run* run : {&flash, &info, &read, &missing, &doctor, &usage}) {
        EXPECT_EQ(Raw_Control_At(run->out), std::string::npos) << run->out;
        EXPECT_EQ(Raw_Control_At(run->err), std::string::npos) << run->err;
    }
}

}  // namespace
