// The real flashtool-cli program, run as a user would run it, against the
// virtual phone on a pseudo-terminal: exit codes, what it prints, what ends up
// in the phone's flash, the trace file, the stop signals, and the last line
// that says why an update did not complete.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "cli_against_phone.h"
#include "journal/journal_store.h"
#include "journal/sha256.h"
#include "tests/support/postgres_server.h"

using namespace cli_suite;

namespace {

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
    EXPECT_EQ(Last_Line(run.err).rfind("flashtool-cli: 映像檔不符(不是本機型的映像檔)", 0), 0u)
        << run.err;
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
    // block's bytes, the refusal byte, each under its operation (a block's
    // under its number).
    const std::string trace = Read_Text(trace_path);
    EXPECT_TRUE(Contains(trace, ">           [Sync_Boot_Loader] 58")) << trace.substr(0, 2000);
    EXPECT_TRUE(Contains(trace, "<           [Sync_Boot_Loader] AA"));
    EXPECT_TRUE(Contains(trace, ">           [Read_Phone_Version] E0"));
    EXPECT_TRUE(Contains(trace, ">           [block 1] 32768 bytes"));
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
    EXPECT_TRUE(Contains(trace, "<           [block 2] 06"));
    EXPECT_TRUE(Contains(trace, "exit code 5"));
}

TEST_F(CliAgainstPhone, AnUnpluggedPhoneIsNamedInTheChosenLanguage) {
    Start_Phone({"--fault", "block@2:hangup"});
    Temp_Image_File file(Sound_Image().Build());

    const Cli_Run run = Flash(file, {"--lang", "en"});
    EXPECT_EQ(run.exit_code, 5) << run.out << run.err;
    EXPECT_TRUE(Contains(run.out, "Download regions failed,error is ")) << run.out;
    EXPECT_TRUE(Contains(run.out, "The phone was disconnected.")) << run.out;
}

TEST_F(CliAgainstPhone, ReadVersionShowsTheRecordAndEndsTheLink) {
    Start_Phone({"--record-text", kImageVersion});
    const Cli_Run run = Run_Cli({"read-version", "--port", phone.device_path()});
    EXPECT_EQ(run.exit_code, 0) << run.out << run.err;
    EXPECT_TRUE(Contains(run.out, std::string("Text: ") + kImageVersion + "\n")) << run.out;
    EXPECT_TRUE(Contains(run.out, "Hex:  43 56 4C 62")) << run.out;
    EXPECT_TRUE(Wait_For_Log(files.log, "link-closed", 2000));
    EXPECT_FALSE(Log_Contains(files.log, "record-written"));
}

// Every way an update stops short ends the output with one line of the
// tool's own, after the command's lines, in the chosen language: what
// happened and what to do next. The version check's stops leave the phone's
// record and flash untouched.
TEST_F(CliAgainstPhone, EveryStopOfFlashEndsWithALineThatSaysWhyAndWhatNext) {
    struct Row {
        const char* name;
        std::vector<std::string> phone;  // the phone's switches
        const char* lang;
        int exit_code;
        const char* out_has;    // the command's own line (unchanged)
        const char* last_line;  // the beginning of the tool's last line
        bool record_kept;       // the phone's version record is not written
    };
    const std::string ours = "CVLbootloaderVC_M418";
    const Row rows[] = {
        {"version read unanswered",
         {"--fault", "e0-ack:silent"},
         "zh",
         4,
         "Read boot loader failed,error is 2",
         "無法讀取手機版本(錯誤 2),手機未更動。",
         true},
        {"another model",
         {"--record-text", "CVLbootloaderVC_M419ZHTWA00100"},
         "en",
         4,
         "手機版本比對錯誤",
         "the image is for another phone model",
         true},
        {"another language",
         {"--record-text", ours + "ENUSA00100"},
         "zh",
         4,
         "手機語言別與下載版本不同",
         "映像檔的語言別與手機不同,手機未更動。",
         true},
        {"another variant",
         {"--record-text", ours + "ZHTWB00100"},
         "en",
         4,
         "準備開始更新",
         "the image's version does not fit the phone's",
         true},
        {"first run, no record in the dump",
         {"--marker-offset", "5000"},
         "en",
         4,
         "第一次執行Vantrel",
         "the phone's boot loader holds no version this program knows",
         true},
        {"first run, dump unanswered",
         {"--fault", "d6-ack:silent"},
         "zh",
         4,
         "Back up boot loader failed,error is 2",
         "無法備份手機的開機程式(錯誤 2)",
         true},
        {"record write unanswered",
         {"--record-text", ours + "ZHTWA00100", "--fault", "e1-ack:silent"},
         "en",
         4,
         "Write version failed,error is 2",
         "writing the image's version into the phone failed (error 2); the phone cannot start",
         false},
        {"block refused",
         {"--fault", "block@2:refuse:0x06"},
         "zh",
         5,
         "Download regions failed,error is 10",
         "燒錄手機失敗(錯誤 10);手機在更新完成前無法開機。",
         false},
    };
    Temp_Image_File file(Sound_Image().Build());
    int row_number = 0;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        // A dump a stopped first run leaves behind is no business of the next row.
        const std::string own_folder =
            files.folder.string() + "/row" + std::to_string(++row_number);
        ASSERT_EQ(mkdir(own_folder.c_str(), 0700), 0);
        phone.stop();
        std::remove(files.log.c_str());
        std::remove(files.state.c_str());
        std::remove(files.flash.c_str());
        std::string error;
        std::vector<std::string> args = files.args();
        args.insert(args.end(), row.phone.begin(), row.phone.end());
        ASSERT_TRUE(phone.start(args, &error)) << error;

        const Cli_Run run = Flash(file, {"--lang", row.lang}, Options_In(own_folder));
        EXPECT_EQ(run.exit_code, row.exit_code) << run.out << run.err;
        EXPECT_TRUE(Contains(run.out, row.out_has)) << run.out;
        EXPECT_EQ(Last_Line(run.err).rfind(std::string("flashtool-cli: ") + row.last_line, 0), 0u)
            << run.err;
        EXPECT_FALSE(Contains(run.out, "flashtool-cli:")) << "the window's lines stay its own";
        if (row.record_kept) {
            EXPECT_FALSE(Log_Contains(files.log, "record-written"));
            EXPECT_FALSE(Log_Contains(files.log, "regions-announced"));
        }
    }
}

// An image that cannot be opened is named with the reason, and the tool's
// last line follows, before any port is touched.
TEST(CliWithoutPhone, AnImageThatCannotBeOpenedIsNamedWithTheReason) {
    const std::string nowhere = "--port=/dev/flashtool-no-such-port";
    const Cli_Run missing = Run_Cli({"flash", "/nonexistent/image.bin", nowhere, "--lang=en"});
    EXPECT_EQ(missing.exit_code, 2);
    EXPECT_TRUE(missing.out.empty()) << missing.out;
    EXPECT_EQ(missing.err,
              "flashtool-cli: cannot open /nonexistent/image.bin: No such file or directory\n"
              "flashtool-cli: the image was not loaded, the phone was not changed. Name a "
              "readable image file and run flash again.\n");
}

// Each stop signal, sent while the blocks flow: the port is closed at once,
// the signal is named as itself and is the exit code (128 + N), the only line
// after the command's is the stop line, and the next update finds the port
// free and completes.
TEST_F(CliAgainstPhone, StopSignalsDuringTheTransferCloseThePortEachNamedAsItself) {
    // Paced so that the transfer takes several seconds.
    // It forgets a half-received block after 300 ms of silence, as a boot
    // loader does before it can be spoken to again.
    Start_Phone({"--baud", "230400", "--idle-reset-ms", "300"});
    const Image_Builder image = Sound_Image(100000, 1000);
    Temp_Image_File file(image.Build());

    struct Row {
        int signal;
        const char* lang;
        const char* named;
    };
    for (const Row& row : {Row{SIGINT, "en", "interrupted by Ctrl-C, the port is closed"},
                           Row{SIGTERM, "zh", "已被 SIGTERM 中斷,通訊埠已關閉"},
                           Row{SIGHUP, "en", "interrupted by SIGHUP, the port is closed"}}) {
        SCOPED_TRACE(row.named);
        Cli_Options interrupt = Options();
        interrupt.interrupt_when_out_contains = row.lang == std::string("en")
                                                    ? "Download start at"
                                                    : "下載開始時間";  // the transfer has begun
        interrupt.signal = row.signal;
        const Cli_Run run = Run_Cli(
            {"flash", file.Path(), "--port", phone.device_path(), "--lang", row.lang}, interrupt);
        ASSERT_GE(run.interrupted_after, 0) << run.out << run.err;
        EXPECT_EQ(run.killed_by, 0);
        EXPECT_EQ(run.exit_code, 128 + row.signal) << run.out << run.err;
        EXPECT_EQ(Last_Line(run.err).find(std::string("flashtool-cli: ") + row.named), 0u)
            << run.err;
        EXPECT_EQ(Line_Count(run.err), 1u) << run.err;
        EXPECT_FALSE(Contains(run.out, "error is")) << "a stop prints only its own line";
        // A blocked port read gives up at once rather than after its limit (10 s
        // for a block reply): 200 ms is the goal, the margin is for a loaded
        // machine (the figure includes the program's exit).
        const double latency = run.seconds - run.interrupted_after;
        std::printf("signal %d to exit: %.0f ms\n", row.signal, latency * 1000);
        EXPECT_LT(latency, 0.2 + 1.5);
        // Once the phone has given up on the block the stop cut short.
        std::this_thread::sleep_for(std::chrono::seconds(1));
    }

    // The port was released every time: the next update finds the phone.
    const Cli_Run again = Flash(file);
    EXPECT_EQ(again.exit_code, 0) << again.out << again.err;
    Expect_Flash_Equals(image);
}

// Started under nohup (SIGHUP ignored) or in the background of a script
// (SIGINT ignored), the program leaves those signals ignored: the terminal
// going away in the middle of the transfer does not stop the update.
TEST_F(CliAgainstPhone, SignalsIgnoredAtStartStayIgnoredThroughTheUpdate) {
    const Image_Builder image = Sound_Image(40000, 1000);
    Temp_Image_File file(image.Build());
    for (const int ignored : {SIGHUP, SIGINT}) {
        SCOPED_TRACE(ignored);
        Start_Phone({"--baud", "230400"});  // so that the transfer takes a while
        Cli_Options nohup = Options();
        nohup.ignored_signals = {ignored};
        nohup.signal = ignored;
        nohup.interrupt_when_out_contains = "Download start at";
        const Cli_Run run = Flash(file, {"--lang", "en"}, nohup);
        ASSERT_GE(run.interrupted_after, 0) << run.out << run.err;
        EXPECT_EQ(run.killed_by, 0);
        EXPECT_EQ(run.exit_code, 0) << run.out << run.err;
        EXPECT_TRUE(Contains(run.out, "Update OK!")) << run.out;
        Expect_Flash_Equals(image);
    }
}

// Ctrl-Z (SIGTSTP) while the blocks flow: the program is not suspended, as
// the phone's boot loader would give up on a silent host; it says why, and
// the update completes.
TEST_F(CliAgainstPhone, CtrlZDuringTheTransferIsRefusedAndTheUpdateCompletes) {
    const Image_Builder image = Sound_Image(40000, 1000);
    Temp_Image_File file(image.Build());
    for (const char* lang : {"en", "zh"}) {
        SCOPED_TRACE(lang);
        Start_Phone({"--baud", "230400"});  // so that the transfer takes a while
        Cli_Options suspend = Options();
        suspend.signal = SIGTSTP;
        suspend.interrupt_when_out_contains =
            lang == std::string("en") ? "Download start at" : "下載開始時間";
        suspend.time_limit_ms = 60000;
        const Cli_Run run = Flash(file, {"--lang", lang}, suspend);
        ASSERT_GE(run.interrupted_after, 0) << run.out << run.err;
        EXPECT_EQ(run.killed_by, 0);
        EXPECT_EQ(run.exit_code, 0) << run.out << run.err;
        EXPECT_TRUE(Contains(run.err, lang == std::string("en")
                                          ? "cannot be suspended while a phone is being rewritten"
                                          : "正在寫入手機,無法暫停"))
            << run.err;
        Expect_Flash_Equals(image);
    }
}

// Started with standard streams closed (a careless script, a service), the
// program keeps its own descriptors off 0 to 2: the stop pipe there would take
// every line of output for a stop, the port there would be taken for the
// program's own terminal. The update completes, and no wait spins.
TEST_F(CliAgainstPhone, ClosedStandardStreamsAreTakenNeitherByTheStopPipeNorByThePort) {
    const Image_Builder image = Sound_Image();
    Temp_Image_File file(image.Build());
    for (const std::vector<int>& closed : {std::vector<int>{0, 1}, std::vector<int>{0, 1, 2}}) {
        SCOPED_TRACE(closed.size());
        Start_Phone();
        Cli_Options options = Options();
        options.closed_streams = closed;
        const Cli_Run run = Flash(file, {"--lang", "en"}, options);
        EXPECT_EQ(run.exit_code, 0) << run.err;
        std::printf("%zu streams closed: %.2f s, %.2f s of CPU\n", closed.size(), run.seconds,
                    run.cpu_seconds);
        EXPECT_LT(run.cpu_seconds, 0.5 * run.seconds) << "a wait spun";
        Expect_Flash_Equals(image);
    }
}

// The phone's last acknowledgement is late: Ctrl-C in that wait ends the
// program with the stop line alone, not with a failure of the wait first.
TEST_F(CliAgainstPhone, CtrlCInTheFinalWaitPrintsOnlyItsOwnLine) {
    Start_Phone({"--fault", "final:delay:8000"});
    Temp_Image_File file(Sound_Image().Build());

    Cli_Options interrupt = Options();
    const std::string log = files.log;
    interrupt.interrupt_when = [&log](const Cli_Run&) {
        return Log_Contains(log, "fault exchange=final");  // every block is in
    };
    const Cli_Run run =
        Run_Cli({"flash", file.Path(), "--port", phone.device_path(), "--lang", "en"}, interrupt);
    ASSERT_GE(run.interrupted_after, 0) << run.out << run.err;
    EXPECT_EQ(run.exit_code, 130) << run.out << run.err;
    EXPECT_FALSE(Contains(run.out, "error is")) << run.out;
    EXPECT_FALSE(Contains(run.out, "Update OK!")) << run.out;
    EXPECT_EQ(Line_Count(run.err), 1u) << run.err;
    EXPECT_TRUE(Contains(run.err, "interrupted by Ctrl-C")) << run.err;
}

// read-version stopped while the phone's record is on its way: named as
// itself, and the line says that nothing was written.
TEST_F(CliAgainstPhone, ReadVersionStoppedBySigtermSaysNothingWasWritten) {
    Start_Phone({"--fault", "e0-record:delay:8000"});
    Cli_Options interrupt = Options();
    const std::string log = files.log;
    interrupt.interrupt_when = [&log](const Cli_Run&) {
        return Log_Contains(log, "fault exchange=e0-record");
    };
    interrupt.signal = SIGTERM;
    const Cli_Run run = Run_Cli({"read-version", "--port", phone.device_path()}, interrupt);
    ASSERT_GE(run.interrupted_after, 0) << run.out << run.err;
    EXPECT_EQ(run.exit_code, 128 + SIGTERM) << run.out << run.err;
    EXPECT_EQ(Last_Line(run.err),
              "flashtool-cli: interrupted by SIGTERM, the port is closed; nothing was written to "
              "the phone.");
    EXPECT_TRUE(run.out.empty()) << run.out;
}

// flashtool-cli flash ... | head -1: the reader leaves after the first line.
// The rest of the output is dropped, the update goes on to the end and the
// exit code says how it went.
TEST_F(CliAgainstPhone, AReaderThatLeavesEarlyDoesNotEndTheUpdate) {
    Start_Phone();
    const Image_Builder image = Sound_Image();
    Temp_Image_File file(image.Build());

    Cli_Options head = Options();
    head.close_out_after_first_line = true;
    const Cli_Run run = Run_Cli({"flash", file.Path(), "--port", phone.device_path()}, head);
    EXPECT_EQ(run.killed_by, 0) << "killed by signal " << run.killed_by;
    EXPECT_EQ(run.exit_code, 0) << run.out << run.err;
    EXPECT_EQ(run.out.rfind("新版本: ", 0), 0u) << run.out;
    Expect_Flash_Equals(image);
}

TEST(CliWithoutPhone, AMissingPortEndsWithCode3AfterAllPassesAndIsNamedAsMissing) {
    Temp_Image_File file(Sound_Image(100, 100).Build());
    const std::string missing = "/dev/flashtool-no-such-port";

    const Cli_Run chinese = Run_Cli({"flash", file.Path(), "--port", missing});
    EXPECT_EQ(chinese.exit_code, 3) << chinese.out << chinese.err;
    EXPECT_TRUE(Contains(chinese.out, "無法找到通訊埠")) << chinese.out;
    EXPECT_EQ(Last_Line(chinese.err), "flashtool-cli: 通訊埠 " + missing +
                                          " 不存在,手機未更動。請檢查名稱('flashtool-cli ports' "
                                          "可列出序列埠),或按住按鍵1插上手機後再執行 flash。")
        << chinese.err;
    // 21 passes, each opened by a 100 ms pause: never sooner.
    EXPECT_GE(chinese.seconds, 2.0);

    const Cli_Run english = Run_Cli({"flash", file.Path(), "--port", missing, "--lang=en"});
    EXPECT_EQ(english.exit_code, 3);
    EXPECT_TRUE(Contains(english.out, "can not find the comport\n")) << english.out;
    EXPECT_EQ(Last_Line(english.err),
              "flashtool-cli: " + missing +
                  " does not exist, the phone was not changed. Check the name ('flashtool-cli "
                  "ports' lists the serial ports), or plug the phone in with key 1 held, and run "
                  "flash again.")
        << english.err;

    const Cli_Run read = Run_Cli({"read-version", "--port", missing});
    EXPECT_EQ(read.exit_code, 3) << read.out << read.err;
    EXPECT_TRUE(Contains(read.err, missing + " does not exist.\n")) << read.err;
}

// A search that finds no phone on a port that is there ends with a last line
// that says why: a path that is no serial port, or a port where no phone
// answered the handshake.
TEST_F(CliAgainstPhone, ASearchThatFindsNoPhoneOnAPresentPortSaysWhy) {
    Start_Phone({"--fault", "sync-echo:wrong"});
    Temp_Image_File file(Sound_Image(100, 100).Build());
    struct Row {
        std::string port;
        std::string memo_line;  // after the not-found line
        std::string last_line;
    };
    const Row rows[] = {
        {"/dev/null", "/dev/null is not a serial port",
         "/dev/null is not the phone's port (see the line above), the phone was not changed."},
        {phone.device_path(), "",
         "no phone answered, the phone was not changed. Switch the phone off, hold key 1"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.port);
        const Cli_Run run =
            Run_Cli({"flash", file.Path(), "--port", row.port, "--lang", "en"}, Options());
        EXPECT_EQ(run.exit_code, 3) << run.out << run.err;
        EXPECT_TRUE(Contains(run.out, "can not find the comport\n" + row.memo_line)) << run.out;
        EXPECT_EQ(Last_Line(run.err).rfind("flashtool-cli: " + row.last_line, 0), 0u) << run.err;
    }
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
    EXPECT_EQ(missing.err,
              "flashtool-cli: cannot open /nonexistent/image.bin: No such file or directory\n");
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
        {"support", "--phone", "0"},
        {"support", "--phone", "2", "--last"},
        {"support", "--out"},
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

// A port that refuses the user is named with the fix, and the last line says
// to apply it rather than to plug the phone in. Root opens any device, so
// when the tests run as root the program runs as the user nobody.
TEST(CliWithoutPhone, RefusedPortIsNamedWithItsFix) {
    Virtual_Phone_Files files;
    ASSERT_EQ(chmod(files.folder.c_str(), 0755), 0);  // nobody may look in
    const std::string locked = files.folder.string() + "/ttyLOCKED";
    std::ofstream(locked).put('x');
    ASSERT_EQ(chmod(locked.c_str(), 0), 0);
    Temp_Image_File file(Sound_Image(100, 100).Build());
    Cli_Options nobody;
    nobody.as_nobody = true;

    const Cli_Run flash = Run_Cli({"flash", file.Path(), "--port", locked, "--lang", "en"}, nobody);
    EXPECT_EQ(flash.exit_code, 3) << flash.out << flash.err;
    const std::size_t not_found = flash.out.find("can not find the comport\n");
    ASSERT_NE(not_found, std::string::npos) << flash.out;
    EXPECT_NE(flash.out.find(locked, not_found), std::string::npos) << "the next line names it";
    EXPECT_EQ(Last_Line(flash.err),
              "flashtool-cli: a serial port refused you, the phone was not changed. Do what the "
              "line above says (your user in the port's group, then a new login) and run flash "
              "again; 'flashtool-cli doctor --port " +
                  locked + "' explains it in full.")
        << flash.err;

    const Cli_Run doctor = Run_Cli({"doctor", "--port", locked}, nobody);
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

// doctor names ModemManager only when it is the system's service: a program
// that merely calls itself so is no reason to stop a service.
TEST(CliWithoutPhone, DoctorTellsTheModemManagerServiceFromALookAlike) {
    Virtual_Phone_Files folder;
    const std::string look_alike = folder.folder.string() + "/ModemManager";
    std::filesystem::copy_file("/bin/sleep", look_alike);
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        execl(look_alike.c_str(), look_alike.c_str(), "60", static_cast<char*>(nullptr));
        _exit(127);
    }
    const std::string comm = "/proc/" + std::to_string(pid) + "/comm";
    for (int i = 0; i < 500 && Read_Text(comm) != "ModemManager\n"; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    const Cli_Run doctor = Run_Cli({"doctor", "--port", "/dev/flashtool-no-such-port"});
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);

    const std::string number = std::to_string(pid);
    EXPECT_FALSE(Contains(doctor.out, "running (pid " + number + ")")) << doctor.out;
    EXPECT_TRUE(Contains(doctor.out, "pid " + number + " is named ModemManager but runs " +
                                         look_alike + ", not the system's service"))
        << doctor.out;
}

// The journal's records of one file, as 'journal --json' lists them.
std::vector<nlohmann::json> Journal_Records(const std::string& journal,
                                            std::vector<std::string> more = {}) {
    std::vector<std::string> args{"journal", "--journal", journal, "--json"};
    args.insert(args.end(), more.begin(), more.end());
    const Cli_Run run = Run_Cli(args);
    EXPECT_EQ(run.exit_code, 0) << run.err;
    std::vector<nlohmann::json> records;
    std::istringstream lines(run.out);
    for (std::string line; std::getline(lines, line);)
        records.push_back(nlohmann::json::parse(line));
    return records;
}

// flash keeps a record of its phone: begun before the phone is touched, so
// that a flash killed in the middle of the rewrite leaves one, marked
// "interrupted" by the next program that opens the journal; completed with
// every field once the update ends.
TEST_F(CliAgainstPhone, FlashKeepsAJournalRecordThatAKillLeavesInterrupted) {
    Start_Phone({"--baud", "230400", "--idle-reset-ms", "300"});
    const Image_Builder image = Sound_Image(100000, 1000);
    Temp_Image_File file(image.Build());
    const std::string journal = files.folder.string() + "/journal.sqlite";
    const std::vector<std::string> named = {"--journal",  journal, "--station-name", "bench-7",
                                            "--operator", "ann",   "--lang",         "en"};

    Cli_Options kill = Options();
    kill.interrupt_when_out_contains = "Download start at";  // the phone is being rewritten
    kill.signal = SIGKILL;
    const Cli_Run killed = Flash(file, named, kill);
    ASSERT_GE(killed.interrupted_after, 0) << killed.out << killed.err;
    EXPECT_EQ(killed.killed_by, SIGKILL);
    std::vector<nlohmann::json> records = Journal_Records(journal);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0]["result"], "interrupted");
    EXPECT_EQ(records[0]["ended"], "");
    EXPECT_EQ(records[0]["station"], "bench-7");
    // A killed program leaves its port's exclusive hold on the pseudo-terminal
    // (as a phone unplugged and plugged in again would not): a new phone line.
    phone.stop();
    Start_Phone({"--baud", "230400", "--idle-reset-ms", "300"});

    const Cli_Run updated = Flash(file, named);
    ASSERT_EQ(updated.exit_code, 0) << updated.out << updated.err;
    EXPECT_FALSE(Contains(updated.err, "journal")) << updated.err;
    records = Journal_Records(journal, {"--result", "updated"});
    ASSERT_EQ(records.size(), 1u);
    const nlohmann::json& record = records[0];
    EXPECT_EQ(record["operator"], "ann");
    EXPECT_EQ(record["image_path"], file.Path());
    EXPECT_EQ(record["image_size"], std::filesystem::file_size(file.Path()));
    EXPECT_EQ(record["image_sha256"], Sha256_Of_File(file.Path()));
    EXPECT_EQ(record["image_version"], kImageVersion);
    EXPECT_EQ(record["version_after"], kImageVersion);
    EXPECT_EQ(record["version_before"], kImageVersion) << "the killed run wrote it already";
    EXPECT_EQ(record["port"], phone.device_path());
    EXPECT_EQ(record["failed_step"], "");
    EXPECT_EQ(record["code"], 0);
    EXPECT_EQ(record["advice"], "updated");
    EXPECT_EQ(record["bytes"], 101000);
    EXPECT_GT(record["seconds"].get<double>(), 0);
    EXPECT_NE(record["ended"], "");
    EXPECT_NE(record["id"], records.empty() ? "" : Journal_Records(journal)[0]["id"]);
    Expect_Flash_Equals(image);
}

// A journal that cannot be kept (a path in no folder, a link, a FIFO): said
// once and the update goes on; with --journal-required no phone is started,
// by flash or by the station, and the code is that of bad usage.
TEST_F(CliAgainstPhone, AJournalThatCannotBeKeptIsSaidOrWithRequiredStartsNoPhone) {
    Start_Phone();
    Temp_Image_File file(Sound_Image(1000, 100).Build());
    const std::string folder = files.folder.string();
    std::ofstream(folder + "/plain") << "x";
    std::filesystem::create_symlink(folder + "/plain", folder + "/link.sqlite");
    ASSERT_EQ(mkfifo((folder + "/fifo.sqlite").c_str(), 0600), 0);
    struct Row {
        std::string path;
        const char* why;
    };
    const Row rows[] = {{folder + "/plain/journal.sqlite", "the journal cannot be used: "},
                        {folder + "/link.sqlite", "it is a symbolic link"},
                        {folder + "/fifo.sqlite", "it is a FIFO, not a file"}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.path);
        const Cli_Run refused = Flash(file, {"--journal", row.path, "--journal-required"});
        EXPECT_EQ(refused.exit_code, 1) << refused.err;
        EXPECT_EQ(refused.out, "") << "no phone search began";
        EXPECT_TRUE(Contains(refused.err, row.why)) << refused.err;
        EXPECT_TRUE(Contains(refused.err, "--journal-required: no phone is started"))
            << refused.err;
        const Cli_Run station =
            Run_Cli({"station", file.Path(), "--port", phone.device_path(), "--count", "1",
                     "--journal", row.path, "--journal-required"},
                    Options());
        EXPECT_EQ(station.exit_code, 1) << station.err;
        EXPECT_TRUE(Contains(station.err, row.why)) << station.err;

        const Cli_Run goes_on = Flash(file, {"--journal", row.path});
        EXPECT_EQ(goes_on.exit_code, 0) << goes_on.err;
        EXPECT_EQ(std::count(goes_on.err.begin(), goes_on.err.end(), '\n'), 1) << goes_on.err;
        EXPECT_TRUE(Contains(goes_on.err, "the update goes on without it")) << goes_on.err;
    }
    EXPECT_EQ(Read_Text(folder + "/plain"), "x");
}

// 'journal' lists what its filters take, as CSV (a header, every field) or
// JSON Lines, oldest first; 'journal stats' counts them.
TEST(CliWithoutPhone, JournalListsWhatItsFiltersTakeAsCsvOrJson) {
    Virtual_Phone_Files folder;
    const std::string journal = folder.folder.string() + "/journal.sqlite";
    {
        Journal_Store::Opened opened = Journal_Store::Open(journal);
        ASSERT_TRUE(opened.store) << opened.problem;
        struct Seed {
            const char* id;
            const char* started;
            const char* result;
            const char* slot;
            const char* serial;
        };
        for (const Seed& seed :
             {Seed{"r1", "2026-12-10T08:00:00.000Z", "updated", "A1", "S1"},
              Seed{"r2", "2026-12-10T08:30:00.000Z", "programming_failed", "A2", "S2,\"x\""},
              Seed{"r3", "2026-12-10T09:00:00.000Z", "updated", "A2", "S3"}}) {
            Journal_Record record;
            record.id = seed.id;
            record.started = seed.started;
            record.result = seed.result;
            record.slot = seed.slot;
            record.usb_serial = seed.serial;
            record.image_sha256 = seed.id == std::string("r3") ? "ff" : "ee";
            std::string problem;
            ASSERT_TRUE(opened.store->Insert(record, problem)) << problem;
        }
    }
    struct Row {
        std::vector<std::string> filters;
        std::vector<std::string> ids;
    };
    const Row rows[] = {
        {{}, {"r1", "r2", "r3"}},
        {{"--since", "2026-12-10T08:30"}, {"r2", "r3"}},
        {{"--until", "2026-12-10T08:30"}, {"r1"}},
        {{"--result", "updated"}, {"r1", "r3"}},
        {{"--slot", "A2", "--result", "updated"}, {"r3"}},
        {{"--serial", "S2,\"x\""}, {"r2"}},
        {{"--image-sha256", "FF"}, {"r3"}},
        {{"--slot", "Z9"}, {}},
    };
    for (const Row& row : rows) {
        std::string shown;
        for (const std::string& word : row.filters)
            shown += word + " ";
        SCOPED_TRACE(shown);
        std::vector<std::string> ids;
        for (const nlohmann::json& record : Journal_Records(journal, row.filters))
            ids.push_back(record["id"]);
        EXPECT_EQ(ids, row.ids);
        std::vector<std::string> args{"journal", "--journal", journal, "--csv"};
        args.insert(args.end(), row.filters.begin(), row.filters.end());
        const Cli_Run csv = Run_Cli(args);
        EXPECT_EQ(csv.exit_code, 0);
        EXPECT_EQ(csv.out.rfind("id,started,ended,", 0), 0u) << csv.out;
        EXPECT_EQ(Line_Count(csv.out), 1 + row.ids.size()) << csv.out;
        for (const std::string& id : row.ids)
            EXPECT_TRUE(Contains(csv.out, "\n" + id + ",")) << csv.out;
    }
    EXPECT_TRUE(
        Contains(Run_Cli({"journal", "--journal", journal, "--csv", "--serial", "S2,\"x\""}).out,
                 ",\"S2,\"\"x\"\"\","))
        << "a comma and quotes stay in their field";

    const Cli_Run stats = Run_Cli({"journal", "stats", "--journal", journal, "--json"});
    ASSERT_EQ(stats.exit_code, 0) << stats.err;
    const nlohmann::json counts = nlohmann::json::parse(stats.out);
    EXPECT_EQ(counts["phones"], 3);
    EXPECT_EQ(counts["updated"], 2);
    EXPECT_EQ(counts["per_hour"]["2026-12-10T08"]["phones"], 2);
    EXPECT_EQ(counts["by_slot"]["A2"]["updated"], 1);
    EXPECT_EQ(counts["failures"][0]["step"], "programming_failed");
    const Cli_Run table = Run_Cli({"journal", "--journal", journal});
    EXPECT_EQ(table.out.rfind("started ", 0), 0u) << table.out;
    EXPECT_EQ(Line_Count(table.out), 4u);
    EXPECT_EQ(Run_Cli({"journal", "--journal", journal, "--json", "--csv"}).exit_code, 1);
    EXPECT_EQ(Run_Cli({"journal", "listing", "--journal", journal}).exit_code, 1);

    // A line's server: sync sends each record once and says what waits; a
    // server it cannot use leaves them waiting, without its credentials said.
    test_support::Postgres_Server server;
    ASSERT_TRUE(server.Running()) << server.Error();
    const Cli_Run refused =
        Run_Cli({"journal", "sync", "--journal", journal, "--journal-server",
                 server.Conninfo("nodb") + " user=secretname password=hunter2"});
    EXPECT_EQ(refused.exit_code, 102) << refused.err;
    EXPECT_TRUE(Contains(refused.out, "0 sent to nodb on ") && Contains(refused.out, ", 3 waiting"))
        << refused.out;
    for (const std::string& text : {refused.out, refused.err}) {
        EXPECT_FALSE(Contains(text, "hunter2")) << text;
        EXPECT_FALSE(Contains(text, "secretname")) << text;
    }
    EXPECT_EQ(Run_Cli({"journal", "sync", "--journal", journal}).exit_code, 1) << "no server named";
    const Cli_Run made = Run_Cli({"journal", "init-server", "--journal-server", server.Conninfo()});
    EXPECT_EQ(made.exit_code, 0) << made.err;
    EXPECT_TRUE(Contains(made.out, "the journal's table is ready on postgres on ")) << made.out;
    const Cli_Run sent =
        Run_Cli({"journal", "sync", "--journal", journal, "--journal-server", server.Conninfo()});
    EXPECT_EQ(sent.exit_code, 0) << sent.err;
    EXPECT_TRUE(Contains(sent.out, "3 sent to postgres on ") && Contains(sent.out, ", 0 waiting"))
        << sent.out;
    const Cli_Run again =
        Run_Cli({"journal", "sync", "--journal", journal, "--journal-server", server.Conninfo()});
    EXPECT_TRUE(Contains(again.out, "0 sent to ")) << again.out;
}

// What a shell command prints (tar reading an archive back).
std::string Shell_Output(const std::string& command) {
    std::string out;
    if (std::FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[4096];
        for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
            out.append(buffer, got);
        pclose(pipe);
    }
    return out;
}

// 'support' gathers the phone a row names from a station's folders and the
// journal (its record first, then the last 50), reads back with tar, and
// leaves neither the home folder nor the user's name in any text; the dump
// goes in byte for byte, said before the archive is written. An archive
// that is there already is never written over.
TEST(CliWithoutPhone, SupportArchiveHoldsThePhonesFilesWithoutPrivatePaths) {
    Virtual_Phone_Files folder;
    const std::string home = folder.folder.string() + "/home";
    const std::string logs = home + "/logs";
    const std::string traces = home + "/traces";
    std::filesystem::create_directories(logs);
    std::filesystem::create_directories(traces);
    const std::string user = "bench_operator";
    const auto write = [](const std::string& path, const std::string& text) {
        std::ofstream(path, std::ios::binary) << text;
    };
    for (const char* phone : {"001-ttyACM0", "002-ttyACM1"}) {
        write(logs + "/phone-" + phone + ".log",
              std::string("phone ") + phone + " image " + home + "/fw.bin by " + user + "\n");
        write(traces + "/phone-" + phone + ".trace", "flashtool-trace 2\n# " + home + "\n");
    }
    write(logs + "/summary.csv",
          "arrived_utc,ended_utc,slot,phone,port,usb_path,usb_id,serial,version_before,"
          "version_after,result,code,advice,bytes,seconds,dump_file,log_file\n"
          "a,b,\"A,1\",1,ttyACM0,,,,,,updated,0,,0,0,,\n"
          "a,b,A2,2,ttyACM1,,,,,,programming_failed,5,,0,0,,\n");
    const std::string dump_bytes = std::string(1, '\0') + "\xff" + home + "\x01";
    write(home + "/dump-0002.bin", dump_bytes);
    const std::string journal = folder.folder.string() + "/journal.sqlite";
    {
        Journal_Store::Opened opened = Journal_Store::Open(journal);
        ASSERT_TRUE(opened.store) << opened.problem;
        std::string problem;
        Journal_Record failed;
        failed.id = "failed-phone";
        failed.started = "2026-12-10T07:00:00.000Z";
        failed.result = "programming_failed";
        failed.log_file = logs + "/phone-002-ttyACM1.log";
        failed.dump_file = home + "/dump-0002.bin";
        failed.operator_name = user;
        ASSERT_TRUE(opened.store->Insert(failed, problem)) << problem;
        for (int i = 0; i < 55; ++i) {
            Journal_Record record;
            record.id = "r" + std::to_string(i);
            record.started =
                "2026-12-10T08:" + std::string(i < 10 ? "0" : "") + std::to_string(i) + ":00.000Z";
            record.result = "updated";
            ASSERT_TRUE(opened.store->Insert(record, problem)) << problem;
        }
    }
    Cli_Options private_names;
    private_names.environment = {"HOME=" + home, "USER=" + user};

    struct Row {
        std::vector<std::string> choice;
        std::vector<std::string> members;  // beside README.txt, version, doctor, ports, journal
        bool dump;
    };
    const Row rows[] = {
        {{"--phone", "2"},
         {"logs/phone-002-ttyACM1.log", "traces/phone-002-ttyACM1.trace", "dump/dump-0002.bin"},
         true},
        {{"--last"},
         {"logs/phone-002-ttyACM1.log", "traces/phone-002-ttyACM1.trace", "dump/dump-0002.bin"},
         true},
        {{"--phone", "1"}, {"logs/phone-001-ttyACM0.log", "traces/phone-001-ttyACM0.trace"}, false},
        {{}, {}, false},
    };
    int number = 0;
    for (const Row& row : rows) {
        std::string shown;
        for (const std::string& word : row.choice)
            shown += word + " ";
        SCOPED_TRACE(shown);
        const std::string archive =
            folder.folder.string() + "/support-" + std::to_string(++number) + ".tar.gz";
        std::vector<std::string> args{"support",     "--out", archive,     "--log-dir", logs,
                                      "--trace-dir", traces,  "--journal", journal};
        args.insert(args.end(), row.choice.begin(), row.choice.end());
        const Cli_Run run = Run_Cli(args, private_names);
        ASSERT_EQ(run.exit_code, 0) << run.err;
        EXPECT_EQ(run.out, archive + "\n");
        EXPECT_EQ(Contains(run.err, "boot-loader dump"), row.dump) << run.err;

        std::vector<std::string> expected{"README.txt", "version.txt", "doctor.txt", "ports.txt",
                                          "journal.csv"};
        expected.insert(expected.end(), row.members.begin(), row.members.end());
        std::string listing;
        for (const std::string& member : expected)
            listing += member + "\n";
        EXPECT_EQ(Shell_Output("tar -tzf '" + archive + "'"), listing);

        const std::string unpacked = folder.folder.string() + "/unpacked-" + std::to_string(number);
        std::filesystem::create_directories(unpacked);
        ASSERT_EQ(std::system(("tar -xzf '" + archive + "' -C '" + unpacked + "'").c_str()), 0);
        const auto read = [&](const std::string& member) {
            std::ifstream in(unpacked + "/" + member, std::ios::binary);
            return std::string(std::istreambuf_iterator<char>(in), {});
        };
        EXPECT_TRUE(Contains(read("README.txt"), "Private paths were replaced"))
            << read("README.txt");
        EXPECT_TRUE(Contains(read("version.txt"), "flashtool-cli ")) << read("version.txt");
        const std::string csv = read("journal.csv");
        EXPECT_EQ(csv.rfind("id,started,ended,", 0), 0u) << csv;
        // The phone's record first, then the newest 50.
        EXPECT_EQ(Line_Count(csv), 1 + 50 + (row.dump ? 1u : 0u)) << csv;
        EXPECT_EQ(csv.find("\nfailed-phone,") != std::string::npos, row.dump) << csv;
        EXPECT_TRUE(Contains(csv, "\nr54,")) << csv;
        for (const std::string& member : expected) {
            if (member.starts_with("dump/")) {
                EXPECT_EQ(read(member), dump_bytes) << "the dump as the phone gave it";
                continue;
            }
            const std::string text = read(member);
            EXPECT_FALSE(Contains(text, home)) << member << ":\n" << text;
            EXPECT_FALSE(Contains(text, user)) << member << ":\n" << text;
        }
        if (!row.members.empty()) {
            EXPECT_TRUE(Contains(read(row.members[0]), "~/fw.bin by USER")) << read(row.members[0]);
        }
    }

    const std::string taken = folder.folder.string() + "/support-1.tar.gz";
    const auto size = std::filesystem::file_size(taken);
    const Cli_Run again = Run_Cli({"support", "--out", taken, "--journal", journal}, private_names);
    EXPECT_EQ(again.exit_code, 1);
    EXPECT_TRUE(Contains(again.err, "is there already")) << again.err;
    EXPECT_EQ(std::filesystem::file_size(taken), size) << "left as it was";
    const Cli_Run nowhere =
        Run_Cli({"support", "--out", folder.folder.string() + "/no/such/folder/a.tar.gz",
                 "--journal", journal},
                private_names);
    EXPECT_EQ(nowhere.exit_code, 102) << nowhere.err;
}

}  // namespace
