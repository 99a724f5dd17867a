// The download command from click to idle: its lines in order and in the right
// language, the buttons, Timer1 and the progress bar, the port, the dump file,
// and what reaches the phone, for every way the command can end.
#include "download/download_command.h"
#include "download/image_loader.h"
#include "download/message_renderer.h"
#include "download/notice_texts.h"
#include "download/phone_update.h"
#include "download/update_runner.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "download/texts.h"
#include "tests/support/host_deviations.h"
#include "tests/support/image_builder.h"
#include "tests/support/phone_backend.h"
#include "tests/support/recording_view.h"
#include "tests/support/scripted_port.h"
#include "tests/support/temp_directory.h"

namespace {

using test_support::Bytes;
using test_support::Image_Builder;
using test_support::Random_Bytes;
using test_support::Runtime_Directory;
using test_support::Temp_Image_File;

// An image with the given version text and two regions of pseudo-random bytes.
std::vector<std::uint8_t> Image_File(std::vector<std::uint8_t> version_text,
                                     std::size_t first_length, std::size_t second_length) {
    Image_Builder builder;
    builder.version_text = std::move(version_text);
    builder.first.start = 0x00010000;
    builder.first.data = Random_Bytes(first_length, 11);
    builder.second.start = 0x00200000;
    builder.second.data = Random_Bytes(second_length, 12);
    return builder.Build();
}

boot::Time_Limits Fast_Limits() {
    boot::Time_Limits limits;
    limits.search_pause = 1;
    return limits;
}

// ---------------------------------------------------------------------------
// Ends before any phone is found

TEST(DownloadCommandEarlyEnd, NoImageChosenLeavesAnEmptyMemoAndAnIdleWindow) {
    Runtime_Directory temp;
    ScriptedPort scripted;
    CComport port(scripted.Backend(), Make_Fixed_Port_Lister({"/dev/phone"}));
    Recording_View view;
    Download_Command command(port, view);

    EXPECT_EQ(command.Run(), Download_Outcome::kImageNotLoaded);
    EXPECT_EQ(command.Last_Failure().step, Download_Step::kImage);
    EXPECT_EQ(command.Last_Failure().image, Image_Load_Result::kNotOpened);

    EXPECT_TRUE(view.memo.empty());
    EXPECT_TRUE(view.buttons_enabled);
    EXPECT_EQ(view.Find("elapsed 0"), 0) << "Elapsed_Seconds is reset first";
    EXPECT_EQ(view.log[1], "buttons off");
    EXPECT_EQ(view.log.back(), "buttons on");
    EXPECT_EQ(view.Count("timer1"), 0);
    EXPECT_EQ(view.Count("bar"), 0) << "the progress bar is not touched";
    EXPECT_TRUE(scripted.events().empty()) << "no port is opened";
}

TEST(DownloadCommandEarlyEnd, PhoneNotFoundFollowsTheLanguageButSearchLinesStayChinese) {
    Runtime_Directory temp;
    Temp_Image_File image(Image_File(Bytes("V1"), 10, 10));
    for (const Language language : {Language::kEnglish, Language::kChinese}) {
        ScriptedPort scripted;
        scripted.open_rule = [](const std::string&, int) {
            return ScriptedPort::Open_Outcome::kFails;
        };
        CComport port(scripted.Backend(), Make_Fixed_Port_Lister({"/dev/phone"}));
        port.Set_Time_Limits(Fast_Limits());
        Recording_View view;
        view.language = language;
        view.file_name = image.Path();
        Download_Command command(port, view);

        EXPECT_EQ(command.Run(), Download_Outcome::kPhoneNotFound);
        const std::string not_found(language == Language::kEnglish ? text::kNotFoundEn
                                                                   : text::kNotFoundZh);
        EXPECT_EQ(view.memo, (std::vector<std::string>{std::string(text::kSearching),
                                                       std::string(text::kPleaseWait), not_found}));
        EXPECT_EQ(view.new_version, "V1");
        EXPECT_TRUE(view.buttons_enabled);
        EXPECT_EQ(view.Count("bar"), 0);
        EXPECT_FALSE(command.Image().Loaded()) << "the image's blocks are released";
    }
}

// A port listing that breaks ends the search at once (no further pass would
// mend it), and the line after the not-found line says what broke.
TEST(DownloadCommandEarlyEnd, ABrokenPortListingIsNamedAfterTheNotFoundLine) {
    struct Broken_Lister final : PortLister {
        explicit Broken_Lister(int code) : result(code) {}
        int list(std::vector<Port_Candidate>& ports) override {
            ports.clear();
            return result;
        }
        int result;
    };
    Runtime_Directory temp;
    Temp_Image_File image(Image_File(Bytes("V1"), 10, 10));
    const std::pair<int, std::string> rows[] = {
        {kPortListMapUnreadable,
         "The serial ports cannot be listed: the system's list of them cannot be read (listing "
         "error 4)"},
        {kPortListTooMany,
         "The serial ports cannot be listed: there are more of them than the search can take "
         "(listing error 3)"},
    };
    for (const auto& [code, line] : rows) {
        SCOPED_TRACE(code);
        ScriptedPort scripted;
        CComport port(scripted.Backend(), std::make_unique<Broken_Lister>(code));
        port.Set_Time_Limits(Fast_Limits());
        Recording_View view;
        view.language = Language::kEnglish;
        view.file_name = image.Path();
        Download_Command command(port, view);

        EXPECT_EQ(command.Run(), Download_Outcome::kPhoneNotFound);
        EXPECT_EQ(view.memo, (std::vector<std::string>{std::string(text::kSearching),
                                                       std::string(text::kPleaseWait),
                                                       std::string(text::kNotFoundEn), line}));
        EXPECT_TRUE(scripted.events().empty()) << "no port is opened";
    }
}

TEST(DownloadCommandEarlyEnd, PortRefusedForLackOfPermissionIsNamedWithTheFix) {
    Runtime_Directory temp;
    Temp_Image_File image(Image_File(Bytes("V1"), 10, 10));
    ScriptedPort scripted;
    scripted.open_rule = [](const std::string& name, int) {
        return name == "/dev/ttyACM0" ? ScriptedPort::Open_Outcome::kRefused
                                      : ScriptedPort::Open_Outcome::kFails;
    };
    CComport port(scripted.Backend(), Make_Fixed_Port_Lister({"/dev/ttyS0", "/dev/ttyACM0"}));
    port.Set_Time_Limits(Fast_Limits());
    Recording_View view;
    view.language = Language::kEnglish;
    view.file_name = image.Path();
    Download_Command command(port, view);

    EXPECT_EQ(command.Run(), Download_Outcome::kPhoneNotFound);
    ASSERT_EQ(view.memo.size(), 4u);
    EXPECT_EQ(view.memo[2], text::kNotFoundEn);
    EXPECT_TRUE(
        view.memo[3].starts_with("No permission to open /dev/ttyACM0: add your user to "
                                 "the group "))
        << view.memo[3];
    EXPECT_NE(view.memo[3].find("sudo usermod -aG "), std::string::npos);
    EXPECT_EQ(view.memo[3].find("ttyS0"), std::string::npos) << "only refused ports are named";
}

Refused_Port Refused(const std::string& path, Open_Refusal reason) {
    Refused_Port port;
    port.device_path = port.display_name = path;
    port.reason = reason;
    return port;
}

// One line for the ports the user may not open, first, then one for each
// port that is in use, no serial port, or the user's own terminal.
TEST(DownloadCommandEarlyEnd, RefusedPortsLinesNameEveryPortOnceWithItsReason) {
    EXPECT_TRUE(Refused_Ports_Lines({}).empty());
    const std::vector<std::string> lines = Refused_Ports_Lines({
        Refused(".", Open_Refusal::kNotASerialPort),
        Refused("/nonexistent/ttyACM0", Open_Refusal::kNoPermission),
        Refused("/nonexistent/ttyACM1", Open_Refusal::kInUse),
        Refused("/dev/tty", Open_Refusal::kOwnTerminal),
        Refused("/dev/ttyUSB1", Open_Refusal::kNoPermission),
    });
    EXPECT_EQ(lines, (std::vector<std::string>{
                         "No permission to open /nonexistent/ttyACM0, /dev/ttyUSB1: add your "
                         "user to the group dialout (sudo usermod -aG dialout $USER), then log "
                         "in again",
                         ". is not a serial port",
                         "/nonexistent/ttyACM1 is in use by another program; close it and try "
                         "again",
                         "/dev/tty is the terminal this program runs in, not the phone's port"}));

    // A port's name is text from outside: a line feed in it forges no line,
    // in the window or the terminal.
    EXPECT_EQ(Refused_Ports_Lines({Refused("/dev/x\nUpdate OK!\x1b[2J", Open_Refusal::kInUse),
                                   Refused("/dev/y\n", Open_Refusal::kNoPermission)}),
              (std::vector<std::string>{
                  "No permission to open /dev/y\\x0a: add your user to the group dialout (sudo "
                  "usermod -aG dialout $USER), then log in again",
                  "/dev/x\\x0aUpdate OK!\\x1b[2J is in use by another program; close it and "
                  "try again"}));
}

// Every notice of the report, as the catalogue words it in each language:
// the lines the windows and the command line have always shown.
TEST(NoticeCatalogue, EveryNoticeReadsAsItAlwaysHasInBothLanguages) {
    using report::Notice;
    using report::Notice_Event;
    std::tm christmas{};
    christmas.tm_year = 2026 - 1900;
    christmas.tm_mon = 11;
    christmas.tm_mday = 25;
    christmas.tm_hour = 8;
    christmas.tm_min = 5;
    christmas.tm_sec = 9;
    christmas.tm_isdst = -1;
    const auto at = std::chrono::system_clock::from_time_t(std::mktime(&christmas));
    Notice_Event start{Notice::kStartAt};
    start.time = at;
    Notice_Event end{Notice::kEndAt};
    end.time = at;
    struct Row {
        Notice_Event notice;
        std::string english, chinese;
        bool follows_language;
    };
    const auto same = [](Notice_Event notice, std::string line) {
        return Row{std::move(notice), line, line, false};
    };
    const std::vector<Row> rows = {
        same({Notice::kFirstRun}, "第一次執行Vantrel,備份手機版本中請稍待一會兒"),
        same({Notice::kVersionMismatch}, "手機版本比對錯誤"),
        same({Notice::kLanguageMismatch}, "手機語言別與下載版本不同"),
        same({Notice::kPhoneNewer}, "手機版本比下載版本新"),
        same({Notice::kSameVersion}, "手機版本與下載版本相同"),
        same({Notice::kSearching}, "尋找通訊埠中...."),
        same({Notice::kPleaseWait}, "請耐心等候!"),
        {{Notice::kNotFound}, "can not find the comport", "無法找到通訊埠", true},
        same({Notice::kPortListFailed, {}, {4}},
             "The serial ports cannot be listed: the system's list of them cannot be read "
             "(listing error 4)"),
        same({Notice::kPortListFailed, {}, {3}},
             "The serial ports cannot be listed: there are more of them than the search can "
             "take (listing error 3)"),
        same({Notice::kPortListFailed, {}, {7}},
             "The serial ports cannot be listed: the listing failed (listing error 7)"),
        same({Notice::kPortsNoPermission, {"/dev/ttyACM0", "/dev/ttyACM1", "dialout"}},
             "No permission to open /dev/ttyACM0, /dev/ttyACM1: add your user to the group "
             "dialout (sudo usermod -aG dialout $USER), then log in again"),
        same({Notice::kPortInUse, {"COM5", "minicom (pid 42)", "screen (pid 7)"}},
             "COM5 is in use by minicom (pid 42), screen (pid 7); close it and try again"),
        same({Notice::kPortInUse, {"COM5"}},
             "COM5 is in use by another program; close it and try again"),
        same({Notice::kNotASerialPort, {"/tmp"}}, "/tmp is not a serial port"),
        same({Notice::kOwnTerminal, {"/dev/tty"}},
             "/dev/tty is the terminal this program runs in, not the phone's port"),
        same({Notice::kFoundPort, {"COM5"}}, "找到通訊埠 COM5"),
        same({Notice::kReadyToUpdate}, "準備開始更新"),
        same({Notice::kWrongBin}, "You choose the wrong bin!"),
        same({Notice::kReopenFailed}, "fail to open the file, retry please !"),
        {{Notice::kRegionsOverlap, {}, {0x10000, 0x1FFFF, 0x18000, 0x27FFF}},
         "The image's two flash regions overlap, so one flash address would get two bytes: "
         "0x00010000-0x0001FFFF, 0x00018000-0x00027FFF",
         "映像檔的兩個燒錄區域互相重疊,同一個快閃記憶體位址會被寫入兩次: "
         "0x00010000-0x0001FFFF, 0x00018000-0x00027FFF",
         true},
        {{Notice::kNoRegionData},
         "Both flash regions of the image are empty: it holds nothing to write to the phone.",
         "映像檔的兩個燒錄區域都是空的,沒有可寫入手機的資料。",
         true},
        {{Notice::kImageTooLarge, {}, {1073741824, 134217728}},
         "The image's flash regions hold 1073741824 bytes, more than the phone's flash can take "
         "(134217728 bytes).",
         "映像檔的燒錄區域共 1073741824 位元組,超過手機快閃記憶體可容納的 134217728 位元組。",
         true},
        {{Notice::kImageHasHoles, {}, {67104768}},
         "The image file has holes: 67104768 bytes of its flash regions are not on the disk. Copy "
         "the file whole, then choose it again.",
         "映像檔含有空洞:燒錄區域中有 67104768 位元組不在磁碟上。請完整複製檔案後再選擇一次。",
         true},
        same({Notice::kReadVersionFailed, {}, {4}}, "Read boot loader failed,error is 4"),
        same({Notice::kDumpFailed, {}, {21}}, "Back up boot loader failed,error is 21"),
        same({Notice::kWriteVersionFailed, {}, {3}}, "Write version failed,error is 3"),
        same({Notice::kSetRegionsFailed, {}, {9}}, "Set regions failed,error is 9"),
        same({Notice::kDownloadFailed, {}, {10}}, "Download regions failed,error is 10"),
        {{Notice::kDisconnected},
         "The phone was disconnected. Plug it in again with key 1 held, then press Download.",
         "手機連線已中斷。請按住按鍵1重新連接手機,再按更新韌體。",
         true},
        {{Notice::kWriteStuck},
         "The phone stopped taking data. Unplug it, plug it in again with key 1 held, then "
         "press Download.",
         "手機停止接收資料。請拔下手機,按住按鍵1重新連接,再按更新韌體。",
         true},
        {{Notice::kDumpMoved, {"/run/VANTREL.1"}},
         "An earlier dump is kept as /run/VANTREL.1",
         "先前的備份已改存為 /run/VANTREL.1",
         true},
        {{Notice::kDumpKept, {"/run/VANTREL"}},
         "The phone's boot loader dump is kept in /run/VANTREL",
         "手機開機程式的備份保留於 /run/VANTREL",
         true},
        {start, "Download start at: Fri Dec 25 08:05:09 2026\n.",
         "下載開始時間: Fri Dec 25 08:05:09 2026\n.", true},
        {end, "Download end at: Fri Dec 25 08:05:09 2026\n.",
         "下載結束時間: Fri Dec 25 08:05:09 2026\n.", true},
        {{Notice::kUpdateOk}, "Update OK!", "更新完成!", true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.english);
        const text::Bilingual text = text::Notice_Text(row.notice);
        EXPECT_EQ(text.english, row.english);
        EXPECT_EQ(text.chinese, row.chinese);
        EXPECT_EQ(text::Follows_Language(row.notice.id), row.follows_language);
    }
    // Every notice has its row.
    std::set<Notice> covered;
    for (const Row& row : rows)
        covered.insert(row.notice.id);
    EXPECT_EQ(covered.size(), static_cast<std::size_t>(Notice::kUpdateOk) + 1);
}

// ---------------------------------------------------------------------------
// Against the phone's boot-loader model, on a simulated line

constexpr std::string_view kMarker = "CVLbootloaderVC_";
// What the phone's boot loader carries after the marker: model M418, language
// ZHTW, byte 24 'A', version 00100.
constexpr std::string_view kPhoneTail = "M418ZHTWA00100";
// The image: same model and language, version 00101.
constexpr std::string_view kImageText = "CVLbootloaderVC_M418ZHTWA00101";
constexpr std::uint32_t kFirstLength = 40000;  // two blocks
constexpr std::uint32_t kSecondLength = 300;

Version_Record Record_Of(std::string_view text) {
    Version_Record record{};
    std::copy_n(text.begin(), std::min(text.size(), record.size()), record.begin());
    return record;
}

// A phone whose record is record_text (erased, all 0xFF, when empty) and
// whose boot loader carries tail_text after the marker.
vphone::Phone_Config Phone(std::string_view record_text = {},
                           std::string_view tail_text = kPhoneTail) {
    vphone::Phone_Config config = vphone::Default_Config();
    if (!record_text.empty())
        config.record = Record_Of(record_text);
    config.original_record_tail.fill(0);
    std::copy(tail_text.begin(), tail_text.end(), config.original_record_tail.begin());
    return config;
}

vphone::Fault_Rule Fault(vphone::Exchange exchange, vphone::Fault_Kind kind,
                         std::optional<std::uint32_t> arg = {}) {
    vphone::Fault_Rule rule;
    rule.exchange = exchange;
    rule.kind = kind;
    rule.arg = arg;
    return rule;
}

// One update bench: a private temporary directory, an image file, the phone
// model on a simulated line, the port, the window and the command.
struct Bench {
    explicit Bench(vphone::Phone_Config config)
        : image_file(Image_File(Bytes(kImageText), kFirstLength, kSecondLength)),
          phone(std::move(config)),
          line(phone),
          port(line.make_backend(), Make_Fixed_Port_Lister({line.port_name()})),
          command(port, view) {
        view.file_name = image_file.Path();
    }
    ~Bench() { EXPECT_EQ(Host_Deviations(phone), ""); }

    std::string Dump_File() const {
        return (temp.Path() / "flashtool" / "VANTREL-ttyVPHONE0").string();
    }
    bool Flash_Holds_The_Image() const {
        const auto& flash = phone.flash();
        return flash.size() == 2 && flash[0].start == 0x00010000 &&
               flash[0].bytes == Random_Bytes(kFirstLength, 11) && flash[1].start == 0x00200000 &&
               flash[1].bytes == Random_Bytes(kSecondLength, 12);
    }
    // The window after a stop before programming: idle buttons, the bar shown
    // at 0, Timer1 never started, the port left open, the image released.
    void Expect_Stopped_Before_Programming() const {
        EXPECT_TRUE(view.buttons_enabled);
        EXPECT_TRUE(view.bar_visible);
        EXPECT_EQ(view.bar_position, 0);
        EXPECT_EQ(view.Count("timer1"), 0);
        EXPECT_TRUE(port.Is_Open());
        EXPECT_FALSE(command.Image().Loaded());
        EXPECT_EQ(line.count(vphone::Event_Kind::regions_announced), 0u);
        EXPECT_EQ(view.log.back(), "buttons on");
    }
    // The first lines of every command that found the phone.
    std::vector<std::string> Found_Lines() const {
        return {std::string(text::kSearching),
                std::string(text::kPleaseWait),
                "",
                std::string(text::kFoundPort) + line.port_name(),
                std::string(text::kReadyToUpdate),
                ""};
    }

    Runtime_Directory temp;
    Temp_Image_File image_file;
    vphone::Phone_Model phone;
    Simulated_Phone_Line line;
    CComport port;
    Recording_View view;
    Download_Command command;
};

bool Is_Time_Line(const std::string& line, std::string_view prefix) {
    // "<prefix>Www Mmm dd hh:mm:ss yyyy\n."
    return line.starts_with(prefix) && line.size() == prefix.size() + 26 &&
           line[line.size() - 2] == '\n' && line.back() == '.';
}

TEST(DownloadCommandUpdate, FirstRunTakesTheRecordFromTheDumpThenTheNextRunIsNotFirst) {
    Bench bench(Phone());  // erased record: first run

    EXPECT_EQ(bench.command.Run(), Download_Outcome::kUpdated);

    std::vector<std::string> expected = bench.Found_Lines();
    expected.emplace_back(notice::kFirstRun);
    ASSERT_EQ(bench.view.memo.size(), expected.size() + 2)
        << testing::PrintToString(bench.view.memo);
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), bench.view.memo.begin()));
    EXPECT_TRUE(Is_Time_Line(bench.view.memo[7], text::kStartAtZh)) << bench.view.memo[7];
    EXPECT_TRUE(Is_Time_Line(bench.view.memo[8], text::kEndAtZh)) << bench.view.memo[8];
    EXPECT_EQ(bench.view.Find("box"), bench.view.Find("memo " + std::string(text::kEndAtZh)) + 1);
    EXPECT_EQ(bench.view.log[bench.view.Find("box")], "box " + std::string(text::kUpdateOkZh));

    // The record came out of the dump, was shown, and passed the second check.
    EXPECT_EQ(bench.line.count(vphone::Event_Kind::dump_sent), 1u);
    const Version_Record from_dump = Record_Of(std::string(kMarker) + std::string(kPhoneTail));
    EXPECT_EQ(bench.command.Phone_Version(), from_dump);
    EXPECT_EQ(bench.view.old_version, std::string(kMarker) + std::string(kPhoneTail));
    EXPECT_EQ(bench.view.Count("clean old"), 2);
    EXPECT_EQ(bench.command.Dump_Path(), bench.Dump_File());
    EXPECT_FALSE(std::filesystem::exists(bench.Dump_File())) << "the dump is deleted";

    // The phone now holds the image's record and its flash.
    EXPECT_EQ(bench.phone.record(), Record_Of(kImageText));
    EXPECT_TRUE(bench.Flash_Holds_The_Image());
    EXPECT_TRUE(bench.line.every_read_within_limit());

    // Idle again: port closed, bar hidden with its range set, timer stopped.
    EXPECT_FALSE(bench.port.Is_Open());
    EXPECT_FALSE(bench.view.bar_visible);
    EXPECT_EQ(bench.view.bar_min, 0);
    EXPECT_EQ(bench.view.bar_max, static_cast<int>(kFirstLength + kSecondLength));
    EXPECT_EQ(bench.view.bar_position, 0) << "the last block sets the bar back to 0";
    EXPECT_FALSE(bench.view.timer1_on);
    EXPECT_FALSE(bench.command.Image().Loaded());

    // The order of the window's steps.
    const Recording_View& v = bench.view;
    EXPECT_EQ(v.log[0], "elapsed 0");
    EXPECT_EQ(v.log[1], "buttons off");
    EXPECT_LT(v.Find("memo " + std::string(text::kReadyToUpdate)), v.Find("bar at 0"));
    EXPECT_EQ(v.Find("bar shown"), v.Find("bar at 0") + 1);
    EXPECT_LT(v.Find("memo " + std::string(notice::kFirstRun)), v.Find("timer1 on"));
    EXPECT_LT(v.Find("timer1 on"), v.Find("memo " + std::string(text::kStartAtZh)));
    EXPECT_LT(v.Find("bar hidden"), v.Find("memo " + std::string(text::kEndAtZh)));
    EXPECT_EQ(v.Find("timer1 off"), v.Find("box") + 1);
    EXPECT_EQ(v.log.back(), "buttons on");
    EXPECT_EQ(v.Count("buttons"), 2);

    // Second run, now in English: the phone holds the image's record.
    bench.view.language = Language::kEnglish;
    bench.view.log.clear();
    EXPECT_EQ(bench.command.Run(), Download_Outcome::kUpdated);
    expected = bench.Found_Lines();  // still Chinese
    expected.emplace_back(notice::kSameVersion);
    ASSERT_EQ(bench.view.memo.size(), expected.size() + 2)
        << testing::PrintToString(bench.view.memo);
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), bench.view.memo.begin()));
    EXPECT_TRUE(Is_Time_Line(bench.view.memo[7], text::kStartAtEn));
    EXPECT_TRUE(Is_Time_Line(bench.view.memo[8], text::kEndAtEn));
    EXPECT_EQ(bench.view.Count("box " + std::string(text::kUpdateOkEn)), 1);
    EXPECT_EQ(bench.line.count(vphone::Event_Kind::dump_sent), 1u) << "no second dump";
    EXPECT_EQ(bench.view.old_version, std::string(kImageText));
    EXPECT_TRUE(bench.Flash_Holds_The_Image());
}

// Every outcome of the version check, on a phone that already holds a record.
struct Check_Case {
    const char* phone_record;
    std::string_view notice;  // empty: none
    bool goes_on;
};

class DownloadCommandVersionCheck : public testing::TestWithParam<Check_Case> {};

TEST_P(DownloadCommandVersionCheck, PrintsItsNoticeAndStopsOrGoesOn) {
    const Check_Case& c = GetParam();
    Bench bench(Phone(c.phone_record));

    const Download_Outcome outcome = bench.command.Run();

    std::vector<std::string> expected = bench.Found_Lines();
    if (!c.notice.empty())
        expected.emplace_back(c.notice);
    if (!c.goes_on) {
        EXPECT_EQ(outcome, Download_Outcome::kFailedBeforeProgramming);
        EXPECT_EQ(bench.view.memo, expected);
        bench.Expect_Stopped_Before_Programming();
        EXPECT_EQ(bench.phone.record(), Record_Of(c.phone_record)) << "record not written";
        return;
    }
    EXPECT_EQ(outcome, Download_Outcome::kUpdated);
    ASSERT_EQ(bench.view.memo.size(), expected.size() + 2);
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), bench.view.memo.begin()));
    EXPECT_TRUE(bench.Flash_Holds_The_Image());
    EXPECT_EQ(bench.phone.record(), Record_Of(kImageText));
    EXPECT_EQ(bench.line.count(vphone::Event_Kind::dump_sent), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Outcomes, DownloadCommandVersionCheck,
    testing::Values(Check_Case{"CVLbootloaderVC_M419ZHTWA00101", notice::kVersionMismatch, false},
                    Check_Case{"CVLbootloaderVC_M418ENUSA00101", notice::kLanguageMismatch, false},
                    Check_Case{"CVLbootloaderVC_M418ZHTWB00101", "", false},
                    Check_Case{"CVLbootloaderVC_M418ZHTWA00102", notice::kPhoneNewer, true},
                    Check_Case{"CVLbootloaderVC_M418ZHTWA00101", notice::kSameVersion, true},
                    Check_Case{"CVLbootloaderVC_M418ZHTWA00100", "", true},
                    Check_Case{"CVLbootloaderVC_M418ZHTWA00101XY", notice::kSameVersion, true}));

TEST(DownloadCommandStops, UnreadablePhoneVersionIsReportedWithItsCode) {
    vphone::Phone_Config config = Phone(kImageText);
    config.faults.push_back(Fault(vphone::Exchange::e0_ack, vphone::Fault_Kind::silent));
    Bench bench(std::move(config));
    bench.view.language = Language::kEnglish;  // the line is English whatever the setting

    EXPECT_EQ(bench.command.Run(), Download_Outcome::kFailedBeforeProgramming);
    std::vector<std::string> expected = bench.Found_Lines();
    expected.emplace_back("Read boot loader failed,error is 2");
    EXPECT_EQ(bench.view.memo, expected);
    bench.Expect_Stopped_Before_Programming();
}

TEST(DownloadCommandStops, RefusedVersionWriteIsNamedWithItsCode) {
    vphone::Phone_Config config = Phone("CVLbootloaderVC_M418ZHTWA00100");
    config.faults.push_back(Fault(vphone::Exchange::e1_ack, vphone::Fault_Kind::wrong));
    Bench bench(std::move(config));

    EXPECT_EQ(bench.command.Run(), Download_Outcome::kFailedBeforeProgramming);
    std::vector<std::string> expected = bench.Found_Lines();
    expected.push_back(std::string(text::kWriteVersionFailed) + "3");
    EXPECT_EQ(bench.view.memo, expected);
    bench.Expect_Stopped_Before_Programming();
}

TEST(DownloadCommandStops, SecondCheckAfterTheDumpDecidesAndTheDumpOutlivesTheStop) {
    // First run, but the boot loader's record is for another language.
    Bench bench(Phone({}, "M418ENUSA00100"));

    EXPECT_EQ(bench.command.Run(), Download_Outcome::kFailedBeforeProgramming);
    std::vector<std::string> expected = bench.Found_Lines();
    expected.emplace_back(notice::kFirstRun);
    expected.emplace_back(notice::kLanguageMismatch);
    expected.push_back(std::string(text::kDumpKeptZh) + bench.Dump_File());  // named once
    EXPECT_EQ(bench.view.memo, expected);
    bench.Expect_Stopped_Before_Programming();
    EXPECT_EQ(bench.view.old_version, "CVLbootloaderVC_M418ENUSA00100");
    ASSERT_TRUE(std::filesystem::exists(bench.Dump_File()));
    EXPECT_EQ(std::filesystem::file_size(bench.Dump_File()), bench.phone.dump_image().size());
}

// A dump that fails is named with its code; the second comparison, on the
// record read before, then stops the command with the first-run notice again.
TEST(DownloadCommandStops, FailedDumpIsNamedAndTheSecondCheckStops) {
    {
        vphone::Phone_Config config = Phone();
        config.faults.push_back(Fault(vphone::Exchange::d6_ack, vphone::Fault_Kind::silent));
        Bench bench(std::move(config));
        bench.port.Set_Time_Limits([] {
            boot::Time_Limits limits;
            limits.version_ack = 50;
            return limits;
        }());
        EXPECT_EQ(bench.command.Run(), Download_Outcome::kFailedBeforeProgramming);
        std::vector<std::string> expected = bench.Found_Lines();
        expected.emplace_back(notice::kFirstRun);
        expected.emplace_back("Back up boot loader failed,error is 2");
        expected.emplace_back(notice::kFirstRun);
        EXPECT_EQ(bench.view.memo, expected);
        bench.Expect_Stopped_Before_Programming();
    }
    {
        // The dump file cannot be created at all: the user's directories
        // are where not even root may create one.
        Bench bench(Phone());
        const std::string cache = getenv("XDG_CACHE_HOME") ? getenv("XDG_CACHE_HOME") : "";
        setenv("XDG_RUNTIME_DIR", "/proc", 1);
        setenv("XDG_CACHE_HOME", "/proc", 1);
        const Download_Outcome outcome = bench.command.Run();
        if (cache.empty())
            unsetenv("XDG_CACHE_HOME");
        else
            setenv("XDG_CACHE_HOME", cache.c_str(), 1);
        EXPECT_EQ(outcome, Download_Outcome::kFailedBeforeProgramming);
        std::vector<std::string> expected = bench.Found_Lines();
        expected.emplace_back(notice::kFirstRun);
        expected.emplace_back("Back up boot loader failed,error is 6");
        expected.emplace_back(notice::kFirstRun);
        EXPECT_EQ(bench.view.memo, expected);
        bench.Expect_Stopped_Before_Programming();
    }
}

// The steps after the search, run by another caller: two phones at once, each
// on its own thread, port, view and dump name, with one image loaded once and
// only read. Both end updated, the image is still whole, and a port where no
// boot loader answers ends its own update alone.
TEST(PhoneUpdate, TwoPhonesAtOnceShareOneImageEachWithItsOwnPortViewAndDump) {
    Runtime_Directory temp;
    Temp_Image_File file(Image_File(Bytes(kImageText), kFirstLength, kSecondLength));
    Firmware_Image image;
    Recording_View loader;
    loader.file_name = file.Path();
    ASSERT_EQ(Parse_File(image, loader, loader), Image_Load_Result::kLoaded);
    const Firmware_Image& shared = image;

    struct Station_Row {
        explicit Station_Row(const Firmware_Image& image, std::string port_name,
                             std::string dump_name)
            : phone(Phone()),  // erased records: both are first runs
              line(phone, std::move(port_name)),
              port(line.make_backend(), Make_Fixed_Port_Lister({})),
              update(port, renderer, image, std::move(dump_name)) {}
        vphone::Phone_Model phone;
        Simulated_Phone_Line line;
        CComport port;
        Recording_View view;
        Message_Renderer renderer{view};
        Phone_Update update;
        Download_Outcome outcome = Download_Outcome::kAlreadyRunning;
    };
    Station_Row first(shared, "/dev/ttyVPHONE1", {});
    Station_Row second(shared, "/dev/ttyVPHONE2", "VANTREL-station-2");
    std::vector<std::thread> threads;
    for (Station_Row* row : {&first, &second}) {
        threads.emplace_back([row] {
            const Port_Candidate port{row->line.port_name(), row->line.port_name(), 0, {}};
            row->outcome = row->update.Update_On(port);
        });
    }
    for (std::thread& thread : threads)
        thread.join();

    for (Station_Row* row : {&first, &second}) {
        SCOPED_TRACE(row->line.port_name());
        EXPECT_EQ(row->outcome, Download_Outcome::kUpdated) << row->view.Memo_Text();
        EXPECT_EQ(row->update.Phase(), Update_Phase::kIdle);
        EXPECT_EQ(row->view.memo.at(1), std::string(text::kFoundPort) + row->line.port_name());
        EXPECT_EQ(row->line.count(vphone::Event_Kind::dump_sent), 1u);
        EXPECT_EQ(row->phone.record(), Record_Of(kImageText));
        const auto& flash = row->phone.flash();
        ASSERT_EQ(flash.size(), 2u);
        EXPECT_EQ(flash[0].bytes, Random_Bytes(kFirstLength, 11));
        EXPECT_EQ(flash[1].bytes, Random_Bytes(kSecondLength, 12));
        EXPECT_FALSE(row->port.Is_Open());
        EXPECT_FALSE(std::filesystem::exists(row->update.Dump_Path()));
        EXPECT_EQ(Host_Deviations(row->phone), "");
    }
    EXPECT_EQ(first.update.Dump_Path(),
              (temp.Path() / "flashtool" / "VANTREL-ttyVPHONE1").string());
    EXPECT_EQ(second.update.Dump_Path(),
              (temp.Path() / "flashtool" / "VANTREL-station-2").string());
    EXPECT_TRUE(shared.Loaded()) << "the shared image is only read";

    // No boot loader on the port given: that update alone ends, not found.
    Station_Row absent(shared, "/dev/ttyVPHONE3", {});
    absent.line.set_appear_at_ms(1'000'000);
    EXPECT_EQ(absent.update.Update_On({"/dev/ttyVPHONE3", "/dev/ttyVPHONE3", 0, {}}),
              Download_Outcome::kPhoneNotFound);
    EXPECT_EQ(absent.update.Failure().step, Download_Step::kSearch);
    EXPECT_TRUE(absent.view.memo.empty());
}

// A dump left by an earlier stopped command holds a phone's boot loader: an
// update that needs no dump leaves it alone.
TEST(DownloadCommandUpdate, DumpLeftByAnEarlierStoppedCommandIsKept) {
    Bench bench(Phone("CVLbootloaderVC_M418ZHTWA00100"));  // not a first run
    std::filesystem::create_directory(std::filesystem::path(bench.Dump_File()).parent_path());
    std::ofstream(bench.Dump_File(), std::ios::binary) << "an older dump";

    EXPECT_EQ(bench.command.Run(), Download_Outcome::kUpdated);
    EXPECT_EQ(bench.line.count(vphone::Event_Kind::dump_sent), 0u);
    EXPECT_EQ(std::filesystem::file_size(bench.Dump_File()), 13u);
}

// A region of length 0 (End = Start - 1) is announced as it stands and sends
// no block; the transfer goes on with the other region.
TEST(DownloadCommandUpdate, AnEmptyRegionSendsNoBlockAndTheOtherIsWritten) {
    for (const bool first_empty : {true, false}) {
        SCOPED_TRACE(first_empty ? "first region empty" : "second region empty");
        Bench bench(Phone("CVLbootloaderVC_M418ZHTWA00100"));
        const Temp_Image_File image(Image_File(Bytes(kImageText), first_empty ? 0 : kFirstLength,
                                               first_empty ? kSecondLength : 0));
        bench.view.file_name = image.Path();

        EXPECT_EQ(bench.command.Run(), Download_Outcome::kUpdated)
            << testing::PrintToString(bench.view.memo);
        const auto& flash = bench.phone.flash();
        ASSERT_EQ(flash.size(), 2u);
        EXPECT_EQ(flash[0].start, 0x00010000u);
        EXPECT_EQ(flash[1].start, 0x00200000u);
        EXPECT_EQ(flash[0].length, first_empty ? 0u : kFirstLength);
        EXPECT_EQ(flash[1].length, first_empty ? kSecondLength : 0u);
        EXPECT_EQ(flash[0].bytes,
                  first_empty ? std::vector<std::uint8_t>{} : Random_Bytes(kFirstLength, 11));
        EXPECT_EQ(flash[1].bytes,
                  first_empty ? Random_Bytes(kSecondLength, 12) : std::vector<std::uint8_t>{});
        EXPECT_EQ(bench.line.count(vphone::Event_Kind::block_accepted), first_empty ? 1u : 2u);
        EXPECT_EQ(bench.view.Count("box " + std::string(text::kUpdateOkZh)), 1);
    }
}

// A failed region announcement or transfer: one English line with the code,
// no success box, and the command still finishes (link closed, port closed,
// bar hidden, end line, timer stopped, buttons enabled).
struct Programming_Fault {
    vphone::Fault_Rule fault;
    std::string_view failure_line;
    bool programming_started;
};

class DownloadCommandProgramming : public testing::TestWithParam<Programming_Fault> {};

TEST_P(DownloadCommandProgramming, FailureIsNamedAndTheCommandStillFinishes) {
    const Programming_Fault& p = GetParam();
    vphone::Phone_Config config = Phone("CVLbootloaderVC_M418ZHTWA00100");
    config.faults.push_back(p.fault);
    Bench bench(std::move(config));

    EXPECT_EQ(bench.command.Run(), Download_Outcome::kProgrammingFailed);

    const std::vector<std::string>& memo = bench.view.memo;
    const std::vector<std::string> found = bench.Found_Lines();
    ASSERT_EQ(memo.size(), found.size() + (p.programming_started ? 3 : 2))
        << testing::PrintToString(memo);
    EXPECT_TRUE(std::equal(found.begin(), found.end(), memo.begin()));
    std::size_t at = found.size();
    if (p.programming_started) {
        EXPECT_TRUE(Is_Time_Line(memo[at++], text::kStartAtZh));
    }
    EXPECT_EQ(memo[at++], p.failure_line);
    EXPECT_TRUE(Is_Time_Line(memo[at], text::kEndAtZh));

    const Recording_View& v = bench.view;
    EXPECT_EQ(v.Count("box"), 0);
    EXPECT_EQ(v.Count("timer1 on"), 1);
    EXPECT_FALSE(v.timer1_on);
    EXPECT_FALSE(v.bar_visible);
    EXPECT_TRUE(v.buttons_enabled);
    EXPECT_EQ(v.log.back(), "buttons on");
    EXPECT_FALSE(bench.port.Is_Open());
    EXPECT_FALSE(bench.command.Image().Loaded());
    EXPECT_EQ(bench.line.count(vphone::Event_Kind::link_closed), 1u);
    EXPECT_EQ(bench.line.count(vphone::Event_Kind::transfer_started),
              p.programming_started ? 1u : 0u);
    if (!p.programming_started) {
        EXPECT_EQ(v.bar_max, 100) << "no progress set-up without an accepted announcement";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Faults, DownloadCommandProgramming,
    testing::Values(Programming_Fault{Fault(vphone::Exchange::dd_ack, vphone::Fault_Kind::wrong),
                                      "Set regions failed,error is 9", false},
                    Programming_Fault{
                        Fault(vphone::Exchange::block, vphone::Fault_Kind::refuse, 0x06),
                        "Download regions failed,error is 10", true}));

// A second click that slips through while a command runs (here: from inside
// one of its own view calls) must not start a nested command.
TEST(DownloadCommandUpdate, RunFromInsideARunningCommandIsRefused) {
    Bench bench(Phone("CVLbootloaderVC_M418ZHTWA00100"));
    std::vector<Download_Outcome> nested;
    bench.view.on_memo_line = [&](const std::string&) {
        if (nested.size() < 3)
            nested.push_back(bench.command.Run());
    };

    EXPECT_EQ(bench.command.Run(), Download_Outcome::kUpdated);
    EXPECT_EQ(nested, std::vector<Download_Outcome>(3, Download_Outcome::kAlreadyRunning));
    EXPECT_EQ(bench.view.Count("buttons"), 2);
    EXPECT_EQ(bench.view.Count("elapsed"), 1);
    EXPECT_TRUE(bench.Flash_Holds_The_Image());
    // Once finished, the command runs again.
    bench.view.on_memo_line = {};
    EXPECT_EQ(bench.command.Run(), Download_Outcome::kUpdated);
}

// When the port knows why an exchange broke off, the user is told in the
// window's language what to do, after the line with the step's code.
TEST(DownloadCommandStops, AnUnpluggedOrStuckPhoneIsNamedAfterTheFailureLine) {
    struct Case {
        const char* name;
        std::optional<vphone::Fault_Rule> fault;
        std::optional<std::size_t> stall_after_bytes;
        Language language;
        std::string_view failure_line;
        std::string_view cause_line;
    };
    const std::vector<Case> cases = {
        {"unplugged during a block",
         Fault(vphone::Exchange::block, vphone::Fault_Kind::hang_up),
         {},
         Language::kEnglish,
         "Download regions failed,error is 8",
         text::kDisconnectedEn},
        {"unplugged during the dump",
         Fault(vphone::Exchange::dump_block, vphone::Fault_Kind::hang_up),
         {},
         Language::kChinese,
         "Back up boot loader failed,error is 1",
         text::kDisconnectedZh},
        {"stops taking the blocks",
         {},
         2000,
         Language::kEnglish,
         "Download regions failed,error is 21",
         text::kWriteStuckEn},
        {"stops taking the record",
         {},
         100,
         Language::kChinese,
         "Write version failed,error is 21",
         text::kWriteStuckZh},
        // 137 bytes before the first block: the handshake, 0xE0, 0xE1 and the
        // record, the announcement, 0xDE and the block size.
        {"stops taking the sum of the first block",
         {},
         137 + 32768,
         Language::kEnglish,
         "Download regions failed,error is 21",
         text::kWriteStuckEn},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // A first run when the dump is to fail, else an ordinary one.
        const bool in_dump = c.fault && c.fault->exchange == vphone::Exchange::dump_block;
        vphone::Phone_Config config = Phone(in_dump ? "" : "CVLbootloaderVC_M418ZHTWA00100");
        if (c.fault)
            config.faults.push_back(*c.fault);
        Bench bench(std::move(config));
        bench.view.language = c.language;
        bench.line.set_stall_after_bytes(c.stall_after_bytes);
        EXPECT_NE(bench.command.Run(), Download_Outcome::kUpdated);
        const std::vector<std::string>& memo = bench.view.memo;
        const auto failure = std::find(memo.begin(), memo.end(), c.failure_line);
        ASSERT_NE(failure, memo.end()) << testing::PrintToString(memo);
        ASSERT_NE(failure + 1, memo.end());
        EXPECT_EQ(failure[1], c.cause_line);
    }
}

// A stop (the window closing, Ctrl-C) ends the command at the next port call
// without a failure line of its own, whatever step it comes in: before the
// phone's record is replaced the window may stop at once; after that only a
// confirmed stop does. Every stop that found the phone closes the port; the
// link is ended with 0x60 when the stop came between exchanges, and nothing
// is written when it cut one short (the phone takes no byte as its end).
TEST(DownloadCommandStops, AStopEndsTheCommandAtTheNextPortCallWithoutAFailureLine) {
    enum class Where { kMemoLine, kFirstBlockAccepted };
    struct Case {
        const char* name;
        std::string_view record;  // the phone's; empty: erased (a first run)
        Where where;
        std::string_view memo_prefix;
        bool harmless;  // Stop_If_Harmless stops it
        bool phone_found;
        bool link_ended;  // 0x60 is the host's last byte
        bool record_replaced;
    };
    const std::vector<Case> cases = {
        {"before the search", "CVLbootloaderVC_M418ZHTWA00100", Where::kMemoLine, text::kSearching,
         true, false, false, false},
        {"phone found", "CVLbootloaderVC_M418ZHTWA00100", Where::kMemoLine, text::kReadyToUpdate,
         true, true, true, false},
        {"first run, before the dump",
         {},
         Where::kMemoLine,
         notice::kFirstRun,
         true,
         true,
         true,
         false},
        {"record replaced, transfer not begun", "CVLbootloaderVC_M418ZHTWA00100", Where::kMemoLine,
         text::kStartAtZh, false, true, true, true},
        {"blocks on their way",
         "CVLbootloaderVC_M418ZHTWA00100",
         Where::kFirstBlockAccepted,
         {},
         false,
         true,
         false,
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bench bench(Phone(c.record));
        std::optional<bool> stopped_harmlessly;
        const auto stop = [&] {
            if (stopped_harmlessly)
                return;
            stopped_harmlessly = bench.command.Stop_If_Harmless();
            if (!*stopped_harmlessly)
                bench.command.Stop();  // the user confirmed
        };
        if (c.where == Where::kMemoLine) {
            bench.view.on_memo_line = [&](const std::string& line) {
                if (line.starts_with(c.memo_prefix))
                    stop();
            };
        } else {
            bench.view.on_position = [&](int position) {
                if (position > 0)
                    stop();
            };
        }

        EXPECT_EQ(bench.command.Run(), Download_Outcome::kStopped);
        ASSERT_TRUE(stopped_harmlessly.has_value());
        EXPECT_EQ(*stopped_harmlessly, c.harmless);
        EXPECT_EQ(bench.command.Phone_Touched(), c.record_replaced);
        const Recording_View& v = bench.view;
        for (const std::string& line : v.memo)
            EXPECT_EQ(line.find("error is"), std::string::npos) << line;
        EXPECT_EQ(v.Count("box"), 0);
        EXPECT_TRUE(v.buttons_enabled);
        EXPECT_FALSE(v.timer1_on);
        EXPECT_FALSE(bench.port.Is_Open());
        EXPECT_FALSE(bench.command.Image().Loaded());
        EXPECT_EQ(bench.command.Phase(), Update_Phase::kIdle);
        const std::vector<std::uint8_t>& sent = bench.line.host_bytes();
        EXPECT_EQ(sent.empty(), !c.phone_found);
        if (!sent.empty()) {
            EXPECT_EQ(sent.back() == 0x60, c.link_ended);
        }
        EXPECT_EQ(bench.port.Exchange_Cut(), !c.link_ended && c.phone_found);
        EXPECT_EQ(bench.line.count(vphone::Event_Kind::record_written),
                  c.record_replaced ? 1u : 0u);
        EXPECT_FALSE(bench.Flash_Holds_The_Image());
    }
}

// The windows run the command on a worker thread: every view call reaches the
// view on the thread that made it, in the order a plain Run makes them.
TEST(UpdateRunner, EveryViewCallArrivesOnTheWindowsThreadInTheCommandsOrder) {
    // Time lines differ from run to run; their words do not.
    const auto without_times = [](std::vector<std::string> log) {
        for (std::string& entry : log) {
            for (std::string_view prefix : {text::kStartAtZh, text::kEndAtZh}) {
                if (entry.starts_with("memo " + std::string(prefix)))
                    entry = "memo " + std::string(prefix);
            }
        }
        return log;
    };
    Bench plain(Phone());  // a first run: the dump, the second check, a box
    ASSERT_EQ(plain.command.Run(), Download_Outcome::kUpdated);

    Bench threaded(Phone());
    bool woken = false;
    Update_Runner runner(
        threaded.view, [&] { woken = true; },
        std::make_unique<CComport>(threaded.line.make_backend(),
                                   Make_Fixed_Port_Lister({threaded.line.port_name()})));
    ASSERT_TRUE(runner.Start());
    EXPECT_FALSE(runner.Start()) << "a second click while it runs is refused";
    EXPECT_EQ(runner.Wait(), Download_Outcome::kUpdated);
    EXPECT_FALSE(runner.Running());
    EXPECT_TRUE(woken);
    EXPECT_EQ(threaded.view.calls_on_other_threads, 0);
    EXPECT_EQ(without_times(threaded.view.log), without_times(plain.view.log));
    EXPECT_EQ(threaded.view.old_version, plain.view.old_version);
    EXPECT_TRUE(threaded.Flash_Holds_The_Image());
    // The runner starts again once the last call has run.
    EXPECT_TRUE(runner.Start());
    EXPECT_EQ(runner.Wait(), Download_Outcome::kUpdated);
}

// A stop asked for before the run starts (Ctrl-C between the command line's
// set-up and the start) stops that run at once; it is forgotten when the run
// ends, so that the next run goes ahead.
TEST(UpdateRunner, AStopBeforeTheStartStopsThatRunAndEndsWithIt) {
    Bench bench(Phone());
    Update_Runner runner(
        bench.view, {},
        std::make_unique<CComport>(bench.line.make_backend(),
                                   Make_Fixed_Port_Lister({bench.line.port_name()})));
    runner.Port().Request_Stop();
    ASSERT_TRUE(runner.Start());
    EXPECT_EQ(runner.Wait(), Download_Outcome::kStopped);
    EXPECT_EQ(bench.line.opens(), 0u);
    EXPECT_FALSE(runner.Port().Stop_Requested()) << "the stop ends with its run";

    ASSERT_TRUE(runner.Start());
    EXPECT_EQ(runner.Wait(), Download_Outcome::kUpdated);
    EXPECT_TRUE(bench.Flash_Holds_The_Image());
}

// A window that closes while the worker waits for its answer (the file
// dialog) lets the worker go on without one and end.
TEST(UpdateRunner, AClosingWindowLeavesNoWorkerWaitingForIt) {
    Bench bench(Phone());
    Update_Runner runner(
        bench.view, {},
        std::make_unique<CComport>(bench.line.make_backend(),
                                   Make_Fixed_Port_Lister({bench.line.port_name()})));
    ASSERT_TRUE(runner.Start());
    // The worker now waits for the dialog's answer, which never comes.
    runner.Stop_If_Harmless();
    runner.Finish_Before_Exit();
    EXPECT_FALSE(runner.Running());
    EXPECT_EQ(bench.line.opens(), 0u);
}

}  // namespace
