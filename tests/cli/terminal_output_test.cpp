// What the terminal shows: memo lines and version fields on standard output,
// the progress line on standard error only when drawing is on, the filter
// that every outside text passes, the endings' texts, the trace file's
// records and its refusals, and how the flash command ends.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "cli/flash_command.h"
#include "cli/flash_ending.h"
#include "cli/port_diagnosis.h"
#include "cli/terminal_view.h"
#include "cli/text_format.h"
#include "cli/trace_file.h"
#include "platform/files.h"
#include "platform/stop_signals.h"
#include "serial/stop_signal.h"
#include "terminal_safety.h"
#include "tests/support/image_builder.h"
#include "tests/support/phone_backend.h"
#include "tests/support/temp_directory.h"

namespace {

// A C stream whose text the test can read back.
class Captured_Stream {
  public:
    Captured_Stream() : m_file(std::tmpfile()) {}
    ~Captured_Stream() { std::fclose(m_file); }
    Captured_Stream(const Captured_Stream&) = delete;
    Captured_Stream& operator=(const Captured_Stream&) = delete;
    std::FILE* get() { return m_file; }
    std::string text() {
        std::fflush(m_file);
        std::rewind(m_file);
        std::string all;
        for (int c; (c = std::fgetc(m_file)) != EOF;)
            all.push_back(static_cast<char>(c));
        return all;
    }

  private:
    std::FILE* m_file;
};

TEST(TextFormat, ElapsedAndProgressTexts) {
    EXPECT_EQ(cli::Elapsed_Text(65), "0:1:5");
    EXPECT_EQ(cli::Elapsed_Text(3599), "0:59:59");
    EXPECT_EQ(cli::Elapsed_Text(3661), "1:1:1");

    // 64 KiB of 128 KiB in 2 s: 32 KiB/s, 2 s left.
    EXPECT_EQ(cli::Progress_Text(65536, 131072, 2.0),
              "65536/131072 bytes  50%  32.0 KiB/s  0:0:2 left");
    // No rate before any time or any byte has passed (no division by zero).
    EXPECT_EQ(cli::Progress_Text(0, 131072, 5.0), "0/131072 bytes  0%  -- KiB/s  -- left");
    EXPECT_EQ(cli::Progress_Text(10, 100, 0.0), "10/100 bytes  10%  -- KiB/s  -- left");
    // Percent of totals beyond 32 bits does not overflow; done is capped at total.
    EXPECT_EQ(cli::Progress_Text(3000000000ULL, 4000000000ULL, 0.0).substr(0, 32),
              "3000000000/4000000000 bytes  75%");
    EXPECT_EQ(cli::Progress_Text(200, 100, 0.0).substr(0, 19), "100/100 bytes  100%");
}

TEST(TextFormat, ControlsAndBrokenUtf8AreShownAsEscapes) {
    struct Row {
        std::string text;
        std::string shown;
    };
    const Row rows[] = {
        {"版本 V1 😀", "版本 V1 😀"},                                 // whole characters stay
        {"\x1b[2J\x1b]0;title\x07", "\\x1b[2J\\x1b]0;title\\x07"},  // C0: CSI, OSC, BEL
        {std::string("a\0b\tc\r\n", 7), "a\\x00b\\x09c\\x0d\\x0a"},
        {"\x7f", "\\x7f"},
        {"\xc2\x9b"
         "31m",
         "\\u009b31m"},  // C1: the 8-bit CSI
        {"\xc2\x85\xc2\x80\xc2\x9f", "\\u0085\\u0080\\u009f"},
        {"\xc2\xa0\xc3\xa9", "\xc2\xa0\xc3\xa9"},  // no-break space and é are text
        {"abc\xe2\x80\xae"
         "cba",
         "abc\\u202ecba"},  // right-to-left override
        {"\xe2\x80\xaa\xe2\x80\xac", "\\u202a\\u202c"},
        {"\xe2\x81\xa6x\xe2\x81\xa9", "\\u2066x\\u2069"},               // isolates
        {"\xe2\x80\x8e\xe2\x80\x8f\xd8\x9c", "\\u200e\\u200f\\u061c"},  // directional marks
        {"\xe2\x80\xa8\xe2\x80\xa9", "\\u2028\\u2029"},  // line and paragraph separators
        {"\xff\xfe", "\\xff\\xfe"},                      // erased flash, stray bytes
        {"\xe7\x89", "\\xe7\\x89"},                      // cut short
        {"\xc0\xaf", "\\xc0\\xaf"},                      // overlong '/'
        {"\xed\xa0\x80", "\\xed\\xa0\\x80"},             // surrogate
        {"\xf4\x90\x80\x80", "\\xf4\\x90\\x80\\x80"},    // beyond U+10FFFF
        {"\\\\.\\COM5", "\\\\.\\COM5"},                  // backslashes are text
    };
    for (const Row& row : rows) {
        EXPECT_EQ(cli::Displayable_Text(row.text), row.shown) << row.shown;
        EXPECT_EQ(cli::Displayable_Text(row.shown), row.shown) << "escapes are plain text";
    }
    // The program's own line breaks (the time text's) stay line breaks; a
    // carriage return still does not.
    EXPECT_EQ(cli::Displayable_Text("end at: Mon\n.", cli::Line_Breaks::kKept), "end at: Mon\n.");
    EXPECT_EQ(cli::Displayable_Text("a\rb\x1b", cli::Line_Breaks::kKept), "a\\x0db\\x1b");
}

TEST(TextFormat, NoInputOfUpToThreeBytesGetsAControlThrough) {
    std::string text;
    for (unsigned first = 0; first < 256; ++first) {
        for (unsigned second = 0; second < 256; ++second) {
            text.assign({static_cast<char>(first), static_cast<char>(second)});
            ASSERT_EQ(Raw_Control_At(cli::Displayable_Text(text)), std::string::npos) << text;
            if (first != 0xC2 && first != 0xD8 && first != 0xE2)
                continue;
            for (unsigned third = 0; third < 256; ++third) {
                text.assign({static_cast<char>(first), static_cast<char>(second),
                             static_cast<char>(third)});
                ASSERT_EQ(Raw_Control_At(cli::Displayable_Text(text)), std::string::npos) << text;
            }
        }
    }
}

TEST(TextFormat, RecordsAreShownAsTextWithoutTheirPaddingAndAsHex) {
    const std::uint8_t record[] = {'V', '1', 0x00, 0xFF, 0x1B, '~', 0xC2, 0x9B, 0x00, 0x00};
    EXPECT_EQ(cli::Record_Text(record), "V1\\x00\\xff\\x1b~\\u009b");
    EXPECT_EQ(cli::Hex_Text(record), "56 31 00 FF 1B 7E C2 9B 00 00");
    const std::uint8_t empty[] = {0, 0, 0};
    EXPECT_EQ(cli::Record_Text(empty), "");
}

// Every ending has both languages, and its detail where the text takes one.
TEST(FlashEnding, EveryEndingSaysWhatHappenedInBothLanguages) {
    std::vector<std::string> seen;
    for (int i = 0; i <= static_cast<int>(cli::Flash_Ending::kLast); ++i) {
        const auto ending = static_cast<cli::Flash_Ending>(i);
        for (const Language language : {Language::kEnglish, Language::kChinese}) {
            const std::string line = cli::Ending_Text(ending, language, "<detail>");
            SCOPED_TRACE(line);
            EXPECT_GT(line.size(), 40u);
            EXPECT_EQ(line.find("{}"), std::string::npos);
            EXPECT_EQ(line.find('\n'), std::string::npos);
            EXPECT_EQ(line.back() == '.' || line.substr(line.size() - 3) == "。", true);
            EXPECT_EQ(std::count(seen.begin(), seen.end(), line), 0);
            seen.push_back(line);
        }
    }
    EXPECT_NE(cli::Ending_Text(cli::Flash_Ending::kStoppedPhoneAtRisk, Language::kEnglish, "SIGHUP")
                  .find("interrupted by SIGHUP"),
              std::string::npos);
}

// The last line comes from the command's results, not from its printed
// lines: an image that could not be read against one that is no image, and
// the failed step with its code.
TEST(FlashEnding, TheCommandsResultsNameTheEnding) {
    struct Row {
        Download_Outcome outcome;
        Download_Failure failure;
        cli::Flash_Ending ending;
        std::string detail;
    };
    const auto image = [](Image_Load_Result result) {
        Download_Failure failure;
        failure.step = Download_Step::kImage;
        failure.image = result;
        return failure;
    };
    const auto step = [](Download_Step at, int code, int dump_code = 0,
                         boot::Compare_Result verdict = boot::Compare_Result::kGoOn) {
        Download_Failure failure;
        failure.step = at;
        failure.code = code;
        failure.dump_code = dump_code;
        failure.verdict = verdict;
        return failure;
    };
    using E = cli::Flash_Ending;
    const Download_Outcome kImage = Download_Outcome::kImageNotLoaded;
    const Download_Outcome kCheck = Download_Outcome::kFailedBeforeProgramming;
    const Row rows[] = {
        {kImage, image(Image_Load_Result::kNotOpened), E::kImageUnreadable, ""},
        {kImage, image(Image_Load_Result::kNotReopened), E::kImageUnreadable, ""},
        {kImage, image(Image_Load_Result::kWrongBin), E::kImageRefused, ""},
        {kImage, image(Image_Load_Result::kBadVersionLength), E::kImageRefused, ""},
        {kCheck, step(Download_Step::kReadVersion, 4), E::kVersionReadFailed, "4"},
        {kCheck, step(Download_Step::kWriteVersion, 21), E::kVersionWriteFailed, "21"},
        {kCheck, step(Download_Step::kCompare, 1, 6, boot::Compare_Result::kFirstRun),
         E::kDumpFailed, "6"},
        {kCheck, step(Download_Step::kCompare, 1, 0, boot::Compare_Result::kFirstRun),
         E::kNoRecordInDump, ""},
        {kCheck, step(Download_Step::kCompare, 3, 0, boot::Compare_Result::kLanguageDiffers),
         E::kLanguageDiffers, ""},
        {Download_Outcome::kProgrammingFailed, step(Download_Step::kDownloadRegions, 9),
         E::kProgrammingFailed, "9"},
    };
    for (const Row& row : rows) {
        cli::Flash_Result result;
        result.outcome = row.outcome;
        result.failure = row.failure;
        const cli::Ending ending = cli::Ending_Of(result);
        EXPECT_EQ(ending.kind, row.ending) << static_cast<int>(row.ending);
        EXPECT_EQ(ending.detail, row.detail) << static_cast<int>(row.ending);
    }
}

TEST(TerminalView, MemoLinesAndVersionFieldsGoToStandardOutputInOrder) {
    Captured_Stream out, err;
    cli::TerminalView view("image.bin", Language::kChinese, out.get(), err.get(), false);
    view.Print_Str_to_Tedit("V1");
    view.Print_Str_to_Tedit(std::string_view("0\0ignored", 9));
    view.Print_Str_to_Memo("first");
    view.Print_Str_to_OldTedit("V0");
    view.Print_Str_to_Memo(std::string_view("cut\0here", 8));
    view.Clean_OldTedit();  // an emptied field shows nothing
    view.Print_Str_to_Memo("");
    view.Flush_Fields();
    EXPECT_EQ(out.text(), "新版本: V10\nfirst\n舊版本: V0\ncut\n\n");
    EXPECT_EQ(view.Memo_Lines(), (std::vector<std::string>{"first", "cut", ""}));
    EXPECT_EQ(err.text(), "");
    EXPECT_EQ(view.Image_Dialog().Choose_File(), "image.bin");

    Captured_Stream english_out, english_err;
    cli::TerminalView english("x", Language::kEnglish, english_out.get(), english_err.get(), false);
    english.Print_Str_to_OldTedit("V0");
    english.Show_Message_Box({"Update OK!", "更新完成!"});
    english.Print_Bilingual_to_Memo({"can find the comport", "無法找到通訊埠"});
    EXPECT_EQ(english_out.text(), "Old version: V0\nUpdate OK!\ncan find the comport\n");
    view.Show_Message_Box({"Update OK!", "更新完成!"});
    EXPECT_EQ(view.Memo_Lines().back(), "更新完成!");
}

// The image's version (sent a byte at a time), the phone's record and a
// port's name inside a memo line reach the terminal escaped; the time line
// keeps its own line break.
TEST(TerminalView, TextsFromOutsideAreEscapedWhereverTheyAreShown) {
    Captured_Stream out, err;
    cli::TerminalView view("x", Language::kEnglish, out.get(), err.get(), false);
    for (const char byte : std::string("V1\xc2\x9b\xe2\x80\xae"))
        view.Print_Str_to_Tedit(std::string_view(&byte, 1));
    view.Print_Str_to_OldTedit("V0\x1b[2J");
    view.Print_Str_to_Memo("找到通訊埠 /dev/tty\x1b]0;x\x07\n");
    view.Print_Str_to_Memo("Download end at: Mon Dec 07 23:59:19 2026\n.");
    EXPECT_EQ(out.text(),
              "New version: V1\\u009b\\u202e\nOld version: V0\\x1b[2J\n"
              "找到通訊埠 /dev/tty\\x1b]0;x\\x07\n\n"
              "Download end at: Mon Dec 07 23:59:19 2026\n.\n");
}

TEST(TerminalView, ProgressLineOnlyWhenDrawingAndShownFullAfterTheBarWraps) {
    Captured_Stream quiet_out, quiet_err;
    cli::TerminalView quiet("x", Language::kChinese, quiet_out.get(), quiet_err.get(), false);
    quiet.Set_Progress_Visible(true);
    quiet.Progress_Bar().Set_Range(0, 100);
    quiet.Progress_Bar().Set_Position(50);
    quiet.Set_Progress_Visible(false);
    EXPECT_EQ(quiet_err.text(), "");
    EXPECT_EQ(quiet_out.text(), "");

    Captured_Stream out, err;
    cli::TerminalView view("x", Language::kChinese, out.get(), err.get(), true);
    ProgressBar& bar = view.Progress_Bar();
    view.Set_Progress_Visible(true);
    bar.Set_Range(0, 1000);
    bar.Set_Position(0);
    bar.Set_Position(1000);
    bar.Set_Position(0);  // the bar goes back to 0 when the last block is accepted
    view.Print_Str_to_Memo("done");
    const std::string progress = err.text();
    EXPECT_EQ(progress.substr(0, 15), "\r0/1000 bytes  ") << progress;
    EXPECT_NE(progress.find("\r1000/1000 bytes  100%"), std::string::npos) << progress;
    EXPECT_EQ(progress.find("\r0/1000", 1), std::string::npos) << progress;
    // The progress line is ended before the memo line is written.
    EXPECT_EQ(progress.back(), '\n');
    EXPECT_EQ(out.text(), "done\n");
}

TEST(TerminalView, ElapsedTimeOnlyWhenTimer1Ran) {
    Captured_Stream out, err;
    cli::TerminalView view("x", Language::kChinese, out.get(), err.get(), false);
    view.Set_Elapsed_Seconds(0);
    EXPECT_FALSE(view.Elapsed_Seconds().has_value());
    view.Set_Timer1_Enabled(true);
    view.Set_Timer1_Enabled(false);
    ASSERT_TRUE(view.Elapsed_Seconds().has_value());
    EXPECT_EQ(*view.Elapsed_Seconds(), 0);
}

TEST(TraceFile, RecordsBytesWithOperationDirectionAndOffsets) {
    const std::string path = ::testing::TempDir() + "cli-trace-test.txt";
    {
        std::string problem;
        auto trace = cli::TraceFile::Create(path, std::nullopt, problem);
        ASSERT_TRUE(trace) << problem;
        const std::uint8_t sync[] = {0x58};
        trace->bytes("Sync_Boot_Loader", Trace_Direction::kToPhone, sync);
        trace->bytes("Read_Phone_Version", Trace_Direction::kFromPhone, {});
        std::vector<std::uint8_t> block(40);
        for (std::size_t i = 0; i < block.size(); ++i)
            block[i] = static_cast<std::uint8_t>(i);
        trace->bytes("Download_Regions", Trace_Direction::kToPhone, block);
        trace->event("Find_Phone", Trace_Event::kOpenFailed, "/dev/pts/9");
        trace->event("Find_Phone", Trace_Event::kOpenFailed, "/dev/x\n1.000 forged");
        EXPECT_EQ(trace->Finish(), "");
    }
    std::ifstream file(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(file, line);)
        lines.push_back(line);
    std::remove(path.c_str());
    ASSERT_EQ(lines.size(), 3u + 1 + 1 + 3 + 2) << "three header lines, then the records";
    EXPECT_EQ(lines[0], "flashtool-trace 2");
    EXPECT_EQ(lines[1].rfind("# flashtool-cli trace, started ", 0), 0u);
    EXPECT_NE(lines[3].find(">           [Sync_Boot_Loader] 58"), std::string::npos) << lines[3];
    EXPECT_NE(lines[4].find("<           [Read_Phone_Version]"), std::string::npos) << lines[4];
    EXPECT_NE(lines[5].find(">           [Download_Regions] 40 bytes"), std::string::npos)
        << lines[5];
    EXPECT_NE(lines[6].find("+000000 00 01 02"), std::string::npos) << lines[6];
    EXPECT_NE(lines[7].find("+000020 20 21 22 23 24 25 26 27"), std::string::npos) << lines[7];
    EXPECT_NE(lines[8].find("open-failed [Find_Phone] /dev/pts/9"), std::string::npos) << lines[8];
    EXPECT_NE(lines[9].find("open-failed [Find_Phone] /dev/x\\x0a1.000 forged"), std::string::npos)
        << lines[9];
    // Every record starts with its time stamp in microseconds.
    for (std::size_t i : {3u, 4u, 5u, 8u, 9u}) {
        EXPECT_TRUE(std::isdigit(static_cast<unsigned char>(lines[i].at(11)))) << lines[i];
    }
    std::string problem;
    EXPECT_FALSE(cli::TraceFile::Create("/nonexistent-dir/trace.txt", std::nullopt, problem));
    EXPECT_EQ(problem, "No such file or directory");
}

// The trace replaces a regular file's contents and nothing else: not the
// image (by any of its names), not a link's target, FIFO, directory or device,
// not another user's file or one of several names, not a file of the running
// system. It holds the phone's boot loader, so only its owner may read it.
TEST(TraceFile, OnlyANewOrRegularFileThatIsNotTheImageBecomesTheTrace) {
    const test_support::Temp_Directory scratch("cli-trace-refusals");
    const std::string folder = scratch.Path().string();
    const std::string image = folder + "/image.bin";
    std::ofstream(image) << "IMAGE";
    platform::File_Identity image_identity;
    ASSERT_EQ(platform::Regular_File_Problem(image, image_identity), "");
    ASSERT_EQ(link(image.c_str(), (folder + "/hard").c_str()), 0);
    ASSERT_EQ(symlink("image.bin", (folder + "/to-image").c_str()), 0);
    ASSERT_EQ(symlink("new.txt", (folder + "/to-new").c_str()), 0);
    ASSERT_EQ(mkfifo((folder + "/fifo").c_str(), 0600), 0);
    std::ofstream(folder + "/old.txt") << "old trace";
    ASSERT_EQ(chmod((folder + "/old.txt").c_str(), 0644), 0);
    std::ofstream(folder + "/linked.txt") << "a file of two names";
    ASSERT_EQ(link((folder + "/linked.txt").c_str(), (folder + "/other-name").c_str()), 0);
    // Another user's file (only root can plant one) is never reused.
    const bool root = geteuid() == 0;
    std::ofstream(folder + "/theirs.txt") << "their file";
    if (root) {
        ASSERT_EQ(chown((folder + "/theirs.txt").c_str(), 65534, 65534), 0);
    }
    const std::string kernel_files =
        "it is a file of the running system (/proc or /sys), not a place for a trace";

    struct Row {
        std::string path;
        std::string problem;  // empty: accepted
    };
    const Row rows[] = {
        {image, "it is the image file"},
        {folder + "/hard", "it is the image file"},
        {folder + "/../" + folder.substr(folder.rfind('/') + 1) + "/image.bin",
         "it is the image file"},
        {folder + "/to-image", "it is a symbolic link"},
        {folder + "/to-new", "it is a symbolic link"},
        {folder + "/fifo", "it is a FIFO, not a file"},
        {folder, "it is a directory"},
        {"/dev/full", "it is a device, not a file"},
        {folder + "/linked.txt", "it has other names (hard links)"},
        {"/proc/self/comm", kernel_files},
        {"/proc/self/new-trace.txt", kernel_files},
        {"/sys/kernel/new-trace.txt", kernel_files},
        {folder + "/theirs.txt", root ? "it belongs to another user" : ""},
        {folder + "/old.txt", ""},
        {folder + "/new.txt", ""},
    };
    for (const Row& row : rows) {
        std::string problem;
        auto trace = cli::TraceFile::Create(row.path, image_identity, problem);
        EXPECT_EQ(problem, row.problem) << row.path;
        EXPECT_EQ(trace != nullptr, row.problem.empty()) << row.path;
        if (trace) {
            // The trace holds the phone's boot loader: for its owner's eyes only.
            struct stat status {};
            ASSERT_EQ(stat(row.path.c_str(), &status), 0);
            EXPECT_EQ(status.st_mode & 0777, 0600u) << row.path;
        }
    }

    std::ifstream kept(image);
    std::string contents;
    std::getline(kept, contents);
    EXPECT_EQ(contents, "IMAGE") << "the image is untouched";
    if (root) {
        std::ifstream theirs(folder + "/theirs.txt");
        std::getline(theirs, contents);
        EXPECT_EQ(contents, "their file");
    }
    std::ifstream emptied(folder + "/old.txt");
    std::getline(emptied, contents);
    EXPECT_EQ(contents, "flashtool-trace 2") << "an old trace is replaced";
}

}  // namespace

namespace {

// Raises Ctrl-C from the window's last call of an update: once the closing
// byte is out and the update has ended.
class Signal_When_Idle_Again final : public cli::TerminalView {
  public:
    using TerminalView::TerminalView;
    void Button_Control(bool enable) override {
        if (enable)
            ::raise(SIGINT);
    }
};

// The flash command on the in-process phone, in a child process that takes
// its own signals; the child's exit code is the command's (99: the phone
// does not hold the image).
int Flash_With_A_Late_Signal() {
    const pid_t child = fork();
    if (child < 0)
        return -1;
    if (child == 0) {
        std::freopen("/dev/null", "w", stdout);
        platform::Install_Stop_Handlers(&Stop_Signal::Request_On);
        test_support::Image_Builder built;
        built.version_text = test_support::Bytes("CVLbootloaderVC_M418ZHTWA00101");
        built.first.start = 0x00010000;
        built.first.data = test_support::Random_Bytes(5000, 1);
        built.second.start = 0x00200000;
        built.second.data = test_support::Random_Bytes(300, 2);
        const test_support::Temp_Image_File image(built.Build());
        vphone::Phone_Config config = vphone::Default_Config();
        const std::string record = "CVLbootloaderVC_M418ZHTWA00100";  // no first run
        std::copy(record.begin(), record.end(), config.record.begin());
        vphone::Phone_Model phone(config);
        Simulated_Phone_Line line(phone);
        auto port = std::make_unique<CComport>(line.make_backend(),
                                               Make_Fixed_Port_Lister({line.port_name()}));
        cli::Port_Session session(*port);
        cli::Arguments args;
        args.command = cli::Command::kFlash;
        args.image = image.Path();
        args.language_flag = Language::kEnglish;
        if (!session.Prepare(args))
            _exit(98);
        Signal_When_Idle_Again view(args.image, args.language_flag, stdout, stderr, false);
        const int code = cli::Run_Flash_Update(args, session, std::move(port), view);
        const auto& flash = phone.flash();
        const bool written = flash.size() == 2 && flash[0].bytes == built.first.data &&
                             flash[1].bytes == built.second.data;
        _exit(written ? code : 99);
    }
    int status = 0;
    if (waitpid(child, &status, 0) != child || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

}  // namespace

// A signal that comes after the update ended (after the closing byte) leaves
// a completed update completed: exit 0, not "interrupted" with 130.
TEST(FlashCommand, ASignalAfterTheUpdateEndedChangesNothing) {
    EXPECT_EQ(Flash_With_A_Late_Signal(), 0);
}

// Ctrl-Z with nothing at risk suspends as usual, twice over (the handler
// comes back after a continue); with a phone at risk it is refused and the
// program runs on.
TEST(SuspendGuard, CtrlZSuspendsUnlessAPhoneIsAtRisk) {
    for (const bool at_risk : {false, true}) {
        SCOPED_TRACE(at_risk);
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            // A group of its own whose parent is in another: the system
            // discards Ctrl-Z in a group no parent outside it waits for (as
            // when the tests run detached from a terminal).
            setpgid(0, 0);
            std::freopen("/dev/null", "w", stderr);
            platform::Install_Stop_Handlers(&Stop_Signal::Request_On);
            static bool risk = false;
            risk = at_risk;
            const platform::Suspend_Guard guard{[](const void*) noexcept { return risk; }, nullptr,
                                                "refused\n"};
            platform::Set_Suspend_Guard(&guard);
            raise(SIGTSTP);
            raise(SIGTSTP);
            _exit(7);
        }
        int stops = 0;
        int status = 0;
        while (waitpid(child, &status, WUNTRACED) == child && WIFSTOPPED(status)) {
            EXPECT_EQ(WSTOPSIG(status), SIGTSTP);
            ++stops;
            kill(child, SIGCONT);
        }
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 7);
        EXPECT_EQ(stops, at_risk ? 0 : 2);
    }
}

// doctor on Windows: the COM numbers that grow with every phone's serial
// number, the highest one now, and the registry line for each kind of phone
// listed (a port not on USB names none; one kind is named once).
TEST(DoctorPortNumbers, NamesTheHighestPortAndEachPhonesUsbNumbersOnce) {
    const auto port = [](std::uint16_t number, const char* vendor, const char* product) {
        Port_Candidate candidate;
        candidate.number = number;
        candidate.display_name = "COM" + std::to_string(number);
        candidate.identity.usb_vendor_id = vendor;
        candidate.identity.usb_product_id = product;
        return candidate;
    };
    const auto joined = [](const std::vector<std::string>& lines) {
        std::string text;
        for (const std::string& line : lines)
            text += line + "\n";
        return text;
    };
    const std::string phones =
        joined(cli::Port_Number_Lines({port(1, "", ""), port(23, "1d6b", "0104"),
                                       port(17, "1d6b", "0104"), port(9, "0a5c", "21e8")}));
    EXPECT_NE(phones.find("(the highest here now: COM23)."), std::string::npos) << phones;
    EXPECT_NE(phones.find("UsbFlags /v IgnoreHWSerNum1D6B0104 /t REG_BINARY /d 01 /f\n"),
              std::string::npos)
        << phones;
    EXPECT_EQ(phones.find("IgnoreHWSerNum1D6B0104"), phones.rfind("IgnoreHWSerNum1D6B0104"));
    EXPECT_NE(phones.find("IgnoreHWSerNum0A5C21E8"), std::string::npos) << phones;
    EXPECT_EQ(phones.find("VVVVPPPP"), std::string::npos);
    EXPECT_NE(phones.find("Show hidden devices"), std::string::npos);

    // Nothing listed: no highest number, and the line to fill in.
    const std::string none = joined(cli::Port_Number_Lines({}));
    EXPECT_EQ(none.find("highest"), std::string::npos) << none;
    EXPECT_NE(none.find("IgnoreHWSerNumVVVVPPPP"), std::string::npos) << none;
    EXPECT_NE(none.find("HKLM\\SYSTEM\\CurrentControlSet\\Control\\UsbFlags"), std::string::npos)
        << none;
}
