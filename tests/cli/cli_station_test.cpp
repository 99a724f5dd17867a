// flashtool-cli station against several virtual phones at once, each on a
// pseudo-terminal reached through a link of its own: every phone updated in
// one run, one failing among them, the JSON Lines of a whole run, the two
// Ctrl-Cs of a phone being rewritten, a Ctrl-Z then, and a reader that hangs.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <fcntl.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "bootloader/phone_model.h"
#include "cli/exit_codes.h"
#include "cli_against_phone.h"

using namespace cli_suite;

namespace {

class CliStation : public ::testing::Test {
  protected:
    void TearDown() override {
        for (std::size_t i = 0; i < phones.size(); ++i) {
            if (!started[i])
                continue;
            phones[i].stop();
            EXPECT_EQ(Host_Deviations(files[i].deviations), "") << "phone " << i + 1;
        }
    }
    std::string Link(std::size_t i) const { return (files[i].folder / "phone-link").string(); }
    void Start_Phone(std::size_t i, std::initializer_list<std::string> extra = {}) {
        std::vector<std::string> args = files[i].args(extra);
        args.insert(args.end(), {"--link", Link(i)});
        std::string error;
        ASSERT_TRUE(phones[i].start(args, &error)) << error;
        started[i] = true;
    }
    // The station on both phones' links; more: the options after them.
    Cli_Run Station(const Temp_Image_File& image, std::vector<std::string> more,
                    const Cli_Options& options) {
        std::vector<std::string> args{"station", image.Path(), "--port", Link(0),
                                      "--port",  Link(1),      "--lang", "en"};
        args.insert(args.end(), more.begin(), more.end());
        return Run_Cli(args, options);
    }
    Cli_Options Options() const {
        Cli_Options options;
        const std::string folder = own.Path().string();
        options.environment = {"TMPDIR=" + folder, "XDG_RUNTIME_DIR=" + folder,
                               "XDG_CACHE_HOME=" + folder, "HOME=" + folder};
        return options;
    }
    void Expect_Flash_Equals(std::size_t i, const Image_Builder& image) {
        phones[i].stop();
        const auto regions = Read_Flash_File(files[i].flash);
        ASSERT_TRUE(regions.has_value()) << "phone " << i + 1;
        ASSERT_EQ(regions->size(), 2u);
        EXPECT_TRUE((*regions)[0].bytes == image.first.data) << "phone " << i + 1;
        EXPECT_TRUE((*regions)[1].bytes == image.second.data) << "phone " << i + 1;
    }

    std::array<Virtual_Phone_Files, 2> files;
    std::array<Virtual_Phone_Process, 2> phones;
    std::array<bool, 2> started{};
    test_support::Temp_Directory own{"station-cli"};
};

std::vector<nlohmann::json> Json_Lines(const std::string& text) {
    std::vector<nlohmann::json> objects;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);)
        objects.push_back(nlohmann::json::parse(line));
    return objects;
}

TEST_F(CliStation, TwoPhonesAreUpdatedInOneRunWithTheirLogs) {
    Start_Phone(0);
    Start_Phone(1);
    const Image_Builder image = Sound_Image();
    Temp_Image_File file(image.Build());
    const std::string logs = (own.Path() / "logs").string();
    const Cli_Run run = Station(file, {"--count", "2", "--log-dir", logs}, Options());
    EXPECT_EQ(run.exit_code, 0) << run.out << run.err;
    // Lines, as the output is no terminal: each phone's arrival, rewrite and end.
    for (std::size_t i = 0; i < 2; ++i) {
        EXPECT_TRUE(Contains(run.out, Link(i) + ": arrived")) << run.out;
        EXPECT_TRUE(Contains(run.out, Link(i) + ": rewriting")) << run.out;
        EXPECT_TRUE(Contains(run.out, Link(i) + ": finished: updated")) << run.out;
    }
    EXPECT_FALSE(Contains(run.out, "\x1b[")) << "no cursor moves into a pipe";
    EXPECT_EQ(Last_Line(run.err), "flashtool-cli: 2 updated, 0 failed") << run.err;
    EXPECT_FALSE(std::filesystem::is_empty(logs));
    Expect_Flash_Equals(0, image);
    Expect_Flash_Equals(1, image);
}

TEST_F(CliStation, OneFailingPhoneIsCountedAndNamedAndTheOtherIsUpdated) {
    Start_Phone(0);
    Start_Phone(1, {"--fault", "block@2:refuse:0x06"});
    const Image_Builder image = Sound_Image();
    Temp_Image_File file(image.Build());
    const Cli_Run run = Station(file, {"--count", "2", "--json"}, Options());
    EXPECT_EQ(run.exit_code, cli::kExitPhonesNotUpdated) << run.out << run.err;
    EXPECT_TRUE(Contains(Last_Line(run.err), "1 updated, 1 failed: phone ")) << run.err;
    EXPECT_TRUE(Contains(Last_Line(run.err), "(" + Link(1) + ") programming failed")) << run.err;

    // The JSON Lines: every line an object of the schema, a progress line for
    // each block, one end for each phone, the summary last.
    const std::vector<nlohmann::json> events = Json_Lines(run.out);
    ASSERT_FALSE(events.empty()) << run.err;
    std::map<std::string, int> progress;
    std::map<std::string, std::uint64_t> done;
    std::map<std::string, std::string> results;
    for (const nlohmann::json& event : events) {
        ASSERT_EQ(event.at("v"), 1) << event;
        const std::string port = event.at("port");
        if (event.at("event") == "progress") {
            ++progress[port];
            EXPECT_GE(event.at("bytes_done").get<std::uint64_t>(), done[port]);
            done[port] = event.at("bytes_done");
        }
        if (event.at("event") == "finished")
            results[port] = event.at("result");
    }
    // 70000 and 3000 bytes: 3 blocks and 1; the failing phone got as far as its first.
    const auto blocks = [](std::uint64_t bytes) {
        return (bytes + kPhoneModel.block_size - 1) / kPhoneModel.block_size;
    };
    EXPECT_GE(static_cast<std::uint64_t>(progress[Link(0)]), blocks(70000) + blocks(3000))
        << run.out;
    EXPECT_EQ(done[Link(0)], 73000u);
    EXPECT_GE(progress[Link(1)], 1) << run.out;
    EXPECT_EQ(done[Link(1)], kPhoneModel.block_size);
    EXPECT_EQ(results[Link(0)], "updated");
    EXPECT_EQ(results[Link(1)], "programming_failed");
    const nlohmann::json& summary = events.back();
    EXPECT_EQ(summary.at("event"), "summary");
    EXPECT_EQ(summary.at("updated"), 1);
    EXPECT_EQ(summary.at("failed"), 1);
    EXPECT_EQ(summary.at("exit_code"), cli::kExitPhonesNotUpdated);
    Expect_Flash_Equals(0, image);
}

TEST_F(CliStation, CtrlCDuringTheRewriteNamesThePhoneAndASecondStopsIt) {
    // Paced so that the rewrite takes seconds; the other link is never there.
    Start_Phone(0, {"--baud", "115200", "--idle-reset-ms", "300"});
    Temp_Image_File file(Sound_Image(100000, 1000).Build());
    Cli_Options interrupt = Options();
    interrupt.interrupt_when_out_contains = Link(0) + ": rewriting";
    interrupt.interrupt_again_when = [](const Cli_Run& run) {
        return Contains(run.err, "press Ctrl-C again");
    };
    const Cli_Run run = Station(file, {}, interrupt);
    ASSERT_GE(run.interrupted_after, 0) << run.out << run.err;
    ASSERT_GE(run.interrupted_again_after, 0) << run.out << run.err;
    EXPECT_EQ(run.killed_by, 0);
    EXPECT_EQ(run.exit_code, 130) << run.out << run.err;
    EXPECT_TRUE(Contains(run.err, "flashtool-cli: phone 1 (" + Link(0) +
                                      ") is being rewritten: stopping now leaves phones that "
                                      "cannot start"))
        << run.err;
    EXPECT_TRUE(Contains(run.out, Link(0) + ": finished: stopped")) << run.out;
    EXPECT_TRUE(Contains(run.out,
                         "; Stopped while it was being rewritten: it will not start "
                         "until it is updated."))
        << run.out;
    EXPECT_TRUE(Contains(Last_Line(run.err), "stopped by Ctrl-C; 0 updated, 1 failed")) << run.err;
    // The second Ctrl-C ends it at once, not after the transfer.
    EXPECT_LT(run.seconds - run.interrupted_again_after, 2.0);
}

TEST_F(CliStation, CtrlCWithNoPhoneAtRiskStopsAtOnce) {
    Temp_Image_File file(Sound_Image().Build());
    Cli_Options interrupt = Options();
    const auto start = std::chrono::steady_clock::now();
    interrupt.interrupt_when = [start](const Cli_Run&) {
        return std::chrono::steady_clock::now() - start > std::chrono::seconds(1);
    };
    const Cli_Run run = Station(file, {"--json"}, interrupt);
    ASSERT_GE(run.interrupted_after, 0);
    EXPECT_EQ(run.exit_code, 130) << run.out << run.err;
    EXPECT_LT(run.seconds - run.interrupted_after, 2.0);
    EXPECT_EQ(Last_Line(run.err), "flashtool-cli: stopped by Ctrl-C; no phone finished") << run.err;
    const std::vector<nlohmann::json> events = Json_Lines(run.out);
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events.back().at("event"), "summary");
    EXPECT_EQ(events.back().at("stopped"), true);
    EXPECT_EQ(events.back().at("signal"), "Ctrl-C");
}

// Ctrl-Z while a phone is being rewritten would leave its boot loader
// waiting for a silent host: refused with a line, and the update completes.
TEST_F(CliStation, CtrlZDuringTheRewriteIsRefusedAndThePhoneIsUpdated) {
    Start_Phone(0, {"--baud", "115200", "--idle-reset-ms", "300"});
    const Image_Builder image = Sound_Image(100000, 1000);
    Temp_Image_File file(image.Build());
    Cli_Options suspend = Options();
    suspend.signal = SIGTSTP;
    suspend.interrupt_when_out_contains = Link(0) + ": rewriting";
    suspend.time_limit_ms = 60000;
    const Cli_Run run = Station(file, {"--count", "1"}, suspend);
    ASSERT_GE(run.interrupted_after, 0) << run.out << run.err;
    EXPECT_EQ(run.exit_code, 0) << run.out << run.err;
    EXPECT_TRUE(
        Contains(run.err, "flashtool-cli: cannot be suspended while a phone is being rewritten"))
        << run.err;
    EXPECT_EQ(Last_Line(run.err), "flashtool-cli: 1 updated, 0 failed") << run.err;
    Expect_Flash_Equals(0, image);
}

// A reader of the JSON Lines that hangs fills the pipe; SIGTERM still ends
// the station at once: the rest of the output is dropped as for a reader
// that went away, and the summary files are written as on any stop.
TEST_F(CliStation, SigtermEndsTheStationWhileItsOutputPipeIsFull) {
    Start_Phone(0);
    const Image_Builder image = Sound_Image();
    Temp_Image_File file(image.Build());
    const std::string logs = (own.Path() / "logs").string();
    Cli_Options hung = Options();
    hung.never_read_out = true;
    hung.out_pipe_bytes = 4096;  // filled by the one phone's progress lines
    hung.signal = SIGTERM;
    const auto start = std::chrono::steady_clock::now();
    hung.interrupt_when = [start](const Cli_Run&) {
        return std::chrono::steady_clock::now() - start > std::chrono::seconds(4);
    };
    hung.time_limit_ms = 30000;
    const Cli_Run run = Station(file, {"--json", "--log-dir", logs}, hung);
    ASSERT_GE(run.interrupted_after, 0) << run.err;
    EXPECT_EQ(run.killed_by, 0);
    EXPECT_NE(run.exit_code, -1) << run.err;
    EXPECT_LT(run.seconds - run.interrupted_after, 1.5) << run.err;
    EXPECT_TRUE(Contains(Last_Line(run.err), "stopped by SIGTERM; 1 updated, 0 failed")) << run.err;
    bool summary = false;
    for (const auto& entry : std::filesystem::directory_iterator(logs)) {
        const std::string name = entry.path().filename().string();
        summary = summary || (name.rfind("summary", 0) == 0 && entry.path().extension() == ".json");
    }
    EXPECT_TRUE(summary) << "the summary is written whatever the output does";
    Expect_Flash_Equals(0, image);
}

TEST_F(CliStation, TimeoutWithoutAPhoneAndARefusedImageHaveTheirCodes) {
    Temp_Image_File file(Sound_Image().Build());
    const Cli_Run idle = Station(file, {"--timeout", "0.5"}, Options());
    EXPECT_EQ(idle.exit_code, 101) << idle.out << idle.err;
    EXPECT_EQ(Last_Line(idle.err), "flashtool-cli: no phone finished: none arrived for 1 s")
        << idle.err;

    Image_Builder broken = Sound_Image();
    broken.second.start = broken.first.start;  // the regions overlap
    Temp_Image_File refused(broken.Build());
    const Cli_Run run = Station(refused, {"--timeout", "5"}, Options());
    EXPECT_EQ(run.exit_code, 2) << run.out << run.err;
    EXPECT_TRUE(Contains(run.err, "You choose the wrong bin!")) << run.err;
    EXPECT_TRUE(Contains(Last_Line(run.err), "run station again")) << run.err;
    EXPECT_LT(run.seconds, 4.0) << "refused before any port is watched";
}

// A boot loader that answers 0.8 s or 3 s after its port appears is waited
// for and updated; a port where none answers within --handshake-timeout is
// no phone (a modem, a phone without key 1 held): said so with the advice,
// not failed, and a station that ends with no phone finished has that code.
TEST_F(CliStation, ALateBootLoaderIsUpdatedAndASilentPortIsNoPhone) {
    Start_Phone(0, {"--appear-after", "800"});
    Start_Phone(1, {"--appear-after", "3000"});
    Temp_Image_File file(Sound_Image().Build());
    const Cli_Run late = Station(file, {"--count", "2"}, Options());
    EXPECT_EQ(late.exit_code, 0) << late.out << late.err;
    for (std::size_t i = 0; i < 2; ++i)
        EXPECT_TRUE(Contains(late.out, Link(i) + ": finished: updated")) << late.out;
    EXPECT_EQ(Last_Line(late.err), "flashtool-cli: 2 updated, 0 failed") << late.err;
}

TEST_F(CliStation, APortWhereNoBootLoaderAnswersIsNoPhone) {
    Temp_Image_File file(Sound_Image().Build());
    Start_Phone(0, {"--appear-after", "600000"});
    const Cli_Run run =
        Station(file, {"--handshake-timeout", "1.5", "--timeout", "0.5"}, Options());
    EXPECT_EQ(run.exit_code, 101) << run.out << run.err;
    EXPECT_TRUE(Contains(run.out, Link(0) +
                                      ": finished: no phone: no boot loader answered; if it is "
                                      "a phone: unplug it, hold key 1, plug it in again"))
        << run.out;
    EXPECT_EQ(Last_Line(run.err),
              "flashtool-cli: no phone finished: no phone: no boot loader "
              "answered on phone 1 (" +
                  Link(0) +
                  ") (if it is a phone: unplug it, hold key 1, plug it in "
                  "again)")
        << run.err;
    EXPECT_GE(run.seconds, 1.5) << "tried for its patience";
}

// A port another program holds (exclusively, as a terminal program does) is
// said in use, by whom, and tried again until it is free: then its phone is
// updated, never counted failed.
TEST_F(CliStation, APortHeldByAnotherProgramIsUpdatedOnceFree) {
    Start_Phone(0);
    Temp_Image_File file(Sound_Image().Build());
    const int held = ::open(Link(0).c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(held, 0);
    ASSERT_EQ(::ioctl(held, TIOCEXCL), 0);
    Cli_Options options = Options();
    bool released = false;
    // Once the station has said who holds it, the holder lets go.
    options.interrupt_when = [&](const Cli_Run& run) {
        if (!released && Contains(run.out, Link(0) + " is in use by ")) {
            ::ioctl(held, TIOCNXCL);
            ::close(held);
            released = true;
        }
        return false;
    };
    const Cli_Run run = Station(file, {"--count", "1"}, options);
    if (!released) {
        ::ioctl(held, TIOCNXCL);
        ::close(held);
    }
    EXPECT_TRUE(released) << run.out << run.err;
    EXPECT_EQ(run.exit_code, 0) << run.out << run.err;
    EXPECT_TRUE(Contains(run.out, "(pid " + std::to_string(::getpid()) + ")")) << run.out;
    EXPECT_TRUE(Contains(run.out, Link(0) + ": finished: updated")) << run.out;
    EXPECT_FALSE(Contains(run.out, "not found")) << run.out;
    EXPECT_EQ(Last_Line(run.err), "flashtool-cli: 1 updated, 0 failed") << run.err;
}

// A log folder that nothing can be written in, or whose entries another
// user may swap, is refused before any phone, with the usage's code; one
// that is usable but holds another user's summary.csv gets this run's
// summary under another name, and the last lines name it. With --json the
// image line is on standard error all the same.
TEST_F(CliStation, LogFoldersAreCheckedBeforeAnyPhoneAndTheSummaryWrittenIsNamed) {
    Temp_Image_File file(Sound_Image().Build());
    const std::filesystem::path theirs = own.Path() / "theirs";
    std::filesystem::create_directory(theirs);
    ASSERT_EQ(::chown(theirs.c_str(), 65534, 65534), 0);
    for (const std::string& folder : {std::string("/proc/self"), theirs.string()}) {
        SCOPED_TRACE(folder);
        const Cli_Run run = Station(file, {"--timeout", "0.5", "--log-dir", folder}, Options());
        EXPECT_EQ(run.exit_code, 1) << run.out << run.err;
        EXPECT_TRUE(Contains(run.err, "cannot use " + folder + " for the logs")) << run.err;
        EXPECT_LT(run.seconds, 0.5) << "refused before any port is watched";
    }

    const std::filesystem::path logs = own.Path() / "logs";
    std::filesystem::create_directory(logs);
    const std::filesystem::path planted = logs / "summary.csv";
    std::ofstream(planted) << "planted";
    ASSERT_EQ(::chown(planted.c_str(), 65534, 65534), 0);
    const Cli_Run run =
        Station(file, {"--timeout", "0.5", "--json", "--log-dir", logs.string()}, Options());
    EXPECT_EQ(run.exit_code, 101) << run.out << run.err;
    EXPECT_TRUE(Contains(run.err, "flashtool-cli: image ")) << run.err;
    const std::string csv = (logs / "summary-2.csv").string();
    const std::string json = (logs / "summary.json").string();
    EXPECT_TRUE(Contains(run.err, "flashtool-cli: summary in " + csv + ", " + json + "\n"))
        << run.err;
    const std::vector<nlohmann::json> events = Json_Lines(run.out);
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events.back().at("summary_files"), nlohmann::json::array({csv, json}));
    EXPECT_EQ(events.back().at("unwritten"), nlohmann::json::array());
    std::ifstream kept(planted);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(kept), {}), "planted");
}

// --trace-dir: each phone's port is traced from its first open, in the form
// flash --trace writes, named as its log would be, and ended with how the
// phone ended; a folder that cannot hold them is refused before any phone.
TEST_F(CliStation, EachPhoneGetsATraceInTheTraceFolder) {
    Temp_Image_File file(Sound_Image().Build());
    {
        const Cli_Run run =
            Station(file, {"--timeout", "0.5", "--trace-dir", "/proc/self"}, Options());
        EXPECT_EQ(run.exit_code, 1) << run.out << run.err;
        EXPECT_TRUE(Contains(run.err, "cannot use /proc/self for the traces")) << run.err;
        EXPECT_TRUE(Contains(run.err, "name a folder for --trace-dir.")) << run.err;
    }
    Start_Phone(0);
    const std::filesystem::path traces = own.Path() / "traces";
    const Cli_Run run = Station(file, {"--count", "1", "--trace-dir", traces.string()}, Options());
    EXPECT_EQ(run.exit_code, 0) << run.out << run.err;
    const std::string trace = Read_Text((traces / "phone-001-phone-link.trace").string());
    EXPECT_EQ(trace.rfind("flashtool-trace 2\n", 0), 0u) << trace.substr(0, 200);
    EXPECT_TRUE(Contains(trace, "[flashtool-cli] station phone 1 port " + Link(0)));
    EXPECT_TRUE(Contains(trace, " open        [")) << "the open is in it";
    EXPECT_TRUE(Contains(trace, "[block 1] 32768 bytes"));
    EXPECT_EQ(Last_Line(trace).substr(Last_Line(trace).find('[')),
              "[flashtool-cli] finished updated");
}

// A slots file the station cannot read whole is refused before the image is
// read or any port watched, naming the line; one that is missing, too.
TEST_F(CliStation, ABadSlotsFileIsRefusedByItsLineBeforeAnything) {
    Temp_Image_File file(Sound_Image().Build());
    const std::string bench = (own.Path() / "bench.txt").string();
    std::ofstream(bench) << "# bench 1\n1-1.3 = A3\n1-1.4 A4\n";
    const std::string missing = (own.Path() / "none.txt").string();
    for (const auto& [path, said] : {std::pair{bench, " line 3: not USB-PATH = LABEL"},
                                     std::pair{missing, ": it cannot be read"}}) {
        const Cli_Run run = Station(file, {"--slots", path, "--only-slots"}, Options());
        EXPECT_EQ(run.exit_code, 1) << run.err;
        EXPECT_TRUE(Contains(run.err, "flashtool-cli: the slots file " + path + said)) << run.err;
        EXPECT_FALSE(Contains(run.err, "flashtool-cli: image ")) << run.err;
        EXPECT_TRUE(run.out.empty()) << run.out;
    }
}

}  // namespace
