// The station command's three outputs, fed events made here: the JSON Lines
// parse and carry everything a person sees, with outside texts escaped; the
// lines thin progress but keep every other event; the table fits its width
// and redraws in place at a bounded rate; and the exit code.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "cli/exit_codes.h"
#include "cli/station_json.h"
#include "cli/station_lines.h"
#include "cli/station_table.h"
#include "cli/station_text.h"

namespace {

using Kind = Station_Event::Kind;

std::string Read_All(std::FILE* file) {
    std::fflush(file);
    std::rewind(file);
    std::string all;
    for (int c; (c = std::fgetc(file)) != EOF;)
        all.push_back(static_cast<char>(c));
    return all;
}

std::vector<std::string> Split_Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);)
        lines.push_back(line);
    return lines;
}

// One phone's whole session: arrival, phases, a progress event for each of
// 40 blocks, a message, its end and its departure.
// Arrivals at 2026-12-10 08:15:02 UTC.
constexpr std::chrono::sys_seconds kArrivalTime{
    std::chrono::sys_days{std::chrono::year{2026} / 12 / 10} +
    std::chrono::seconds(8 * 3600 + 15 * 60 + 2)};

std::vector<Station_Event> Session(int phone, const Port_Candidate& port, bool updated) {
    std::vector<Station_Event> events;
    const auto add = [&](Kind kind, double seconds) -> Station_Event& {
        Station_Event& event = events.emplace_back();
        event.kind = kind;
        event.phone = phone;
        event.port = port;
        event.seconds = seconds;
        event.time = kArrivalTime + std::chrono::milliseconds(static_cast<int>(seconds * 1000));
        event.bytes_total = 40 * 2048;
        return event;
    };
    add(Kind::kArrived, 0);
    for (const Station_Phase phase : {Station_Phase::kHandshake, Station_Phase::kCheckingVersion,
                                      Station_Phase::kWritingRecord, Station_Phase::kRewriting})
        add(Kind::kPhase, 0.5).phase = phase;
    for (int block = 1; block <= 40; ++block)
        add(Kind::kProgress, 1.0 + block * 0.1).bytes_done = block * 2048;
    add(Kind::kLine, 5).text = "Download start at 12:00:01";
    Station_Event& finished = add(Kind::kFinished, 5.5);
    finished.bytes_done = updated ? 40 * 2048 : 12 * 2048;
    finished.outcome = updated ? Download_Outcome::kUpdated : Download_Outcome::kProgrammingFailed;
    finished.code = updated ? 0 : 6;
    finished.phone_touched = true;
    finished.log_file = "/logs/phone-" + std::to_string(phone) + ".log";
    add(Kind::kPhase, 5.5).phase = Station_Phase::kWaitingForUnplug;
    add(Kind::kDeparted, 9);
    return events;
}

Port_Candidate Usb_Port(std::string name) {
    Port_Candidate port;
    port.device_path = name;
    port.display_name = std::move(name);
    port.identity.usb_vendor_id = "1d6b";
    port.identity.usb_product_id = "0104";
    port.identity.usb_serial = "M418-0001";
    port.identity.driver = "cdc_acm";
    return port;
}

TEST(StationJson, EveryEventIsALineThatParsesAndCarriesWhatAPersonSees) {
    // A port name and a serial number as hostile as a device can make them.
    Port_Candidate hostile = Usb_Port("/dev/tty\x1b[2JACM0\n\"x\"");
    hostile.identity.usb_serial = "S\xff\xfe\x7f\xc2\x9b\xe2\x80\xa8中";
    std::vector<Station_Event> events = Session(1, hostile, true);
    const std::vector<Station_Event> second = Session(2, Usb_Port("/dev/ttyACM1"), false);
    events.insert(events.end(), second.begin(), second.end());
    events.emplace_back().kind = Kind::kEnded;

    std::FILE* out = std::tmpfile();
    cli::Station_Json json(out, Language::kEnglish);
    for (const Station_Event& event : events)
        json.Show(event);
    Station_Summary summary;
    summary.phones.push_back({.phone = 1,
                              .port = hostile,
                              .outcome = Download_Outcome::kUpdated,
                              .bytes = 81920,
                              .seconds = 5.5,
                              .log_file = "a"});
    summary.phones.push_back({.phone = 2,
                              .port = Usb_Port("/dev/ttyACM1"),
                              .outcome = Download_Outcome::kProgrammingFailed,
                              .failure = {.step = Download_Step::kDownloadRegions, .code = 6},
                              .code = 6,
                              .bytes = 24576,
                              .seconds = 5.5,
                              .log_file = "b",
                              .phone_touched = true});
    summary.updated = 1;
    summary.failed = 1;
    json.End(summary, 1, "", 1800);
    const std::string text = Read_All(out);
    std::fclose(out);

    // No raw control byte anywhere: the stream is one object a line.
    for (const char c : text)
        EXPECT_FALSE(static_cast<unsigned char>(c) < 0x20 && c != '\n') << int(c);
    const std::vector<std::string> lines = Split_Lines(text);
    ASSERT_EQ(lines.size(), events.size() + 1);
    int progress = 0;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const nlohmann::json object = nlohmann::json::parse(lines[i]);  // throws if not JSON
        EXPECT_EQ(object.at("v"), 1);
        for (const char* field : {"event", "phone", "port", "t"})
            EXPECT_TRUE(object.contains(field)) << field << ": " << lines[i];
        if (i == lines.size() - 1) {
            EXPECT_EQ(object.at("event"), "summary");
            EXPECT_EQ(object.at("updated"), 1);
            EXPECT_EQ(object.at("failed"), 1);
            EXPECT_EQ(object.at("exit_code"), 1);
            ASSERT_EQ(object.at("phones").size(), 2u);
            EXPECT_EQ(object.at("phones")[1].at("advice_id"), "programming_failed");
            // One updated in half an hour, one of two, in 5.5 s.
            EXPECT_DOUBLE_EQ(object.at("phones_per_hour").get<double>(), 2.0);
            EXPECT_DOUBLE_EQ(object.at("yield").get<double>(), 0.5);
            EXPECT_DOUBLE_EQ(object.at("mean_seconds").get<double>(), 5.5);
            continue;
        }
        const Station_Event& event = events[i];
        EXPECT_EQ(object.at("phone"), event.phone);
        const std::string kind = object.at("event");
        if (kind == "progress") {
            ++progress;
            EXPECT_EQ(object.at("bytes_done"), event.bytes_done);
            EXPECT_EQ(object.at("bytes_total"), event.bytes_total);
        } else if (kind == "arrived") {
            EXPECT_EQ(object.at("identity").at("vid"), "1d6b");
            EXPECT_EQ(object.at("identity").at("driver"), "cdc_acm");
        } else if (kind == "phase") {
            EXPECT_EQ(object.at("phase"), Station_Phase_Name(event.phase));
        } else if (kind == "line") {
            EXPECT_EQ(object.at("text"), event.text);
        } else if (kind == "finished") {
            EXPECT_EQ(object.at("t"), "2026-12-10T08:15:07.500Z");
            EXPECT_EQ(object.at("result"), event.phone == 1 ? "updated" : "programming_failed");
            EXPECT_EQ(object.at("advice_id"), event.phone == 1 ? "updated" : "programming_failed");
            EXPECT_EQ(object.at("updated"), event.phone == 1);
            EXPECT_EQ(object.at("code"), event.code);
            EXPECT_EQ(object.at("bytes"), event.bytes_done);
            EXPECT_EQ(object.at("log_file"), event.log_file);
            EXPECT_TRUE(object.contains("dump_file"));
            EXPECT_DOUBLE_EQ(object.at("seconds").get<double>(), 5.5);
        } else {
            EXPECT_TRUE(kind == "departed" || kind == "ended") << kind;
        }
    }
    EXPECT_EQ(progress, 80);  // none dropped, none merged

    // Valid UTF-8 comes back as it was, control characters and all; bytes
    // that are no UTF-8 come back as their escapes.
    const nlohmann::json arrived = nlohmann::json::parse(lines[0]);
    EXPECT_EQ(arrived.at("port"), hostile.display_name);
    EXPECT_EQ(arrived.at("identity").at("serial"), "S\\xff\\xfe\x7f\xc2\x9b\xe2\x80\xa8中");
}

TEST(StationJson, StringsAreEscapedByteForByte) {
    struct Row {
        std::string in;
        std::string out;
    };
    const Row rows[] = {
        {"plain /dev/ttyACM0", "\"plain /dev/ttyACM0\""},
        {"a\"b\\c", "\"a\\\"b\\\\c\""},
        {"\n\t\r\x1b\x7f", "\"\\n\\t\\u000d\\u001b\\u007f\""},
        {std::string("a\0b", 3), "\"a\\u0000b\""},
        {"\xc2\x9b", "\"\\u009b\""},                         // a C1 control
        {"\xe2\x80\xa8\xe2\x80\xa9", "\"\\u2028\\u2029\""},  // line and paragraph separators
        {"中文 é", "\"中文 é\""},
        {"\xc0\x80", "\"\\\\xc0\\\\x80\""},                        // an overlong zero
        {"\xed\xa0\x80", "\"\\\\xed\\\\xa0\\\\x80\""},             // a surrogate
        {"\xe4\xb8", "\"\\\\xe4\\\\xb8\""},                        // cut short
        {"\xf4\x90\x80\x80", "\"\\\\xf4\\\\x90\\\\x80\\\\x80\""},  // beyond U+10FFFF
    };
    for (const Row& row : rows) {
        EXPECT_EQ(cli::Json_String(row.in), row.out) << row.in;
        EXPECT_TRUE(nlohmann::json::accept(cli::Json_String(row.in))) << row.in;
    }
}

TEST(StationLines, ProgressIsThinnedToTenthsAndEveryOtherEventKeptInEitherLanguage) {
    struct Row {
        Language language;
        std::string prefix;
        std::vector<std::string> shown;
        std::vector<std::string> absent;  // the other language's words
    };
    const Row rows[] = {
        {Language::kEnglish,
         "phone 3 /dev/tty\\x1b]0;x\\x07USB0: ",
         {"arrived (USB 1d6b:0104, serial M418-0001", ": checking version\n", ": rewriting\n",
          "Download start at 12:00:01",
          "finished: programming failed, code 6, 24576 of 81920 bytes in 5.5 s",
          "; Rewriting its flash failed: it will not start until it is updated.",
          "another cable or socket.; log /logs/phone-3.log", ": unplugged\n"},
         {"手機", "燒錄"}},
        {Language::kChinese,
         "手機 3 /dev/tty\\x1b]0;x\\x07USB0: ",
         {"已連接 (USB 1d6b:0104, serial M418-0001", ": 檢查版本\n", ": 燒錄中\n",
          "Download start at 12:00:01", "已結束: 燒錄失敗,代碼 6,5.5 秒內送出 24576 / 81920 位元組",
          ";燒錄失敗:更新完成前手機無法開機。", "插座。;記錄 /logs/phone-3.log", ": 已拔除\n"},
         {"phone 3", "finished", "code", "rewriting", "unplugged", " of "}},
    };
    for (const Row& row : rows) {
        std::FILE* out = std::tmpfile();
        cli::Station_Lines lines(out, row.language);
        const std::vector<Station_Event> events =
            Session(3, Usb_Port("/dev/tty\x1b]0;x\aUSB0"), false);
        for (const Station_Event& event : events)
            lines.Show(event);
        const std::string text = Read_All(out);
        std::fclose(out);
        const std::vector<std::string> shown = Split_Lines(text);
        std::size_t progress = 0;
        for (const std::string& line : shown) {
            EXPECT_EQ(line.rfind(row.prefix, 0), 0u) << line;
            progress += line.find(" bytes  ") != std::string::npos ? 1 : 0;
        }
        // 40 blocks: the first, then one line at each new tenth.
        EXPECT_EQ(progress, 11u) << text;
        EXPECT_EQ(shown.size(), events.size() - 40 + progress);
        for (const std::string& words : row.shown)
            EXPECT_NE(text.find(words), std::string::npos) << words << " in\n" << text;
        for (const std::string& words : row.absent)
            EXPECT_EQ(text.find(words), std::string::npos) << words << " in\n" << text;
    }
}

// The table's frames as the terminal gets them.
std::vector<std::string> Frames(const std::string& text) {
    std::vector<std::string> frames;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find("\x1b[J", start)) != std::string::npos;) {
        frames.push_back(text.substr(start, end - start));
        start = end + 3;
    }
    return frames;
}

TEST(StationTable, FitsItsWidthRedrawsInPlaceAtMostTenTimesASecondInEitherLanguage) {
    using Clock = cli::Station_Table::Clock;
    struct Language_Row {
        Language language;
        std::vector<std::string> wide_shows;  // at 132 columns
    };
    const Language_Row languages[] = {
        {Language::kEnglish, {"PHASE", "updated", "programming failed (code 6): Rewriting its"}},
        {Language::kChinese, {"通訊埠", "經過時間", "更新完成", "燒錄失敗 (代碼 6):燒錄失敗:"}},
    };
    for (const Language_Row& language : languages)
        for (const int width : {40, 80, 132}) {
            std::FILE* out = std::tmpfile();
            cli::Station_Table table(out, language.language, width);
            Port_Candidate wide = Usb_Port("/dev/serial/by-id/usb-Corvel_M418_boot_loader-if00");
            std::vector<Station_Event> events = Session(1, wide, true);
            const std::vector<Station_Event> second = Session(2, Usb_Port("/dev/ttyACM1"), false);
            events.insert(events.end(), second.begin(), second.end() - 2);  // still running
            events[events.size() - 3].text =
                "中文訊息很長很長很長很長很長很長很長很長很長很長很長很長";
            // The events over 2 s, the table asked to redraw after each.
            Clock::time_point now{};
            for (const Station_Event& event : events) {
                table.Show(event);
                now += std::chrono::milliseconds(2000) / static_cast<int>(events.size());
                table.Redraw_If_Due(now);
            }
            table.Notice(
                "flashtool-cli: phone 2 (/dev/ttyACM1) is being rewritten: press Ctrl-C "
                "again to stop it now.");
            table.Finish(now);
            const std::string text = Read_All(out);
            std::fclose(out);

            const std::vector<std::string> frames = Frames(text);
            ASSERT_GE(frames.size(), 2u);
            EXPECT_LE(frames.size(), 2 * 10 + 2u) << width;  // 2 s at 10 a second, and Finish
            std::size_t lines_before = 0;
            for (std::size_t i = 0; i < frames.size(); ++i) {
                std::string frame = frames[i];
                // Each frame but the first starts by going back over the last one.
                const std::string up = "\r\x1b[" + std::to_string(lines_before) + "A";
                if (i > 0) {
                    ASSERT_EQ(frame.rfind(up, 0), 0u) << i;
                    frame.erase(0, up.size());
                }
                const std::vector<std::string> lines = Split_Lines(frame);
                for (std::string line : lines) {
                    ASSERT_GE(line.size(), 3u);
                    EXPECT_EQ(line.substr(line.size() - 3), "\x1b[K");
                    line.resize(line.size() - 3);
                    EXPECT_LT(cli::Display_Columns(line), static_cast<std::size_t>(width)) << line;
                }
                lines_before = lines.size();
            }
            // The last table stays: both phones, the first's result, the notice.
            const std::string& last = frames.back();
            EXPECT_NE(last.find("\n1 "), std::string::npos) << last;
            EXPECT_NE(last.find("\n2 "), std::string::npos) << last;
            if (width >= 132) {
                for (const std::string& words : language.wide_shows)
                    EXPECT_NE(last.find(words), std::string::npos) << words << " in\n" << last;
                EXPECT_NE(last.find("1d6b:0104 M418-0001"), std::string::npos) << last;
            }
            EXPECT_NE(last.find("flashtool-cli: phone 2"), std::string::npos) << last;
        }
    // Taller than the terminal: the updated phones' rows give way, oldest
    // first, and the failed first phone stays in sight above the newest, so
    // that the redraw still reaches the table's top; the throughput and the
    // notice stay under them. Colours only when asked for.
    std::FILE* out = std::tmpfile();
    cli::Station_Table short_table(out, Language::kEnglish, 80, 8);
    for (int phone = 1; phone <= 20; ++phone) {
        for (Station_Event event :
             Session(phone, Usb_Port("/dev/ttyACM" + std::to_string(phone)), phone != 1)) {
            short_table.Show(event);
        }
    }
    short_table.Notice("flashtool-cli: a notice");
    std::vector<std::string> lines = short_table.Lines(Clock::now());
    ASSERT_EQ(lines.size(), 7u);
    EXPECT_EQ(lines[1], "(not shown: 17 updated)");
    EXPECT_EQ(lines[2].rfind("1 ", 0), 0u) << lines[2];
    EXPECT_EQ(lines[3].rfind("19 ", 0), 0u) << lines[3];
    EXPECT_EQ(lines[4].rfind("20 ", 0), 0u) << lines[4];
    EXPECT_NE(lines[5].find("phones/h, yield 95% (19 of 20), 9 s a phone"), std::string::npos)
        << lines[5];
    EXPECT_EQ(lines[6], "flashtool-cli: a notice");
    for (const std::string& line : lines)
        EXPECT_EQ(line.find('\x1b'), std::string::npos) << line;
    short_table.Use_Colour(true);
    lines = short_table.Lines(Clock::now());
    EXPECT_EQ(lines[2].rfind("\x1b[31m1 ", 0), 0u) << lines[2];
    EXPECT_EQ(lines[4].rfind("\x1b[32m20 ", 0), 0u) << lines[4];
    // A resize clears the screen and draws from its top.
    short_table.Resize(60, 8);
    short_table.Finish(Clock::now());
    const std::string drawn = Read_All(out);
    std::fclose(out);
    EXPECT_NE(drawn.find("\x1b[H\x1b[2J"), std::string::npos);
    EXPECT_EQ(cli::Cut_To_Columns("ab中文", 3), "ab");
    EXPECT_EQ(cli::Display_Columns("ab中文"), 6u);
}

// A bench with a slots file: the PC's own UART skipped, a phone in socket
// A3 deep in a hub. Every output says the UART was skipped and why, puts the
// label first, and the table never cuts where on the bus the phone is.
std::vector<Station_Event> Bench_Events() {
    Port_Candidate uart;
    uart.device_path = uart.display_name = "/dev/ttyS0";
    uart.identity.driver = "serial";
    Station_Event skipped;
    skipped.kind = Kind::kSkipped;
    skipped.port = uart;
    skipped.skip = Port_Skip::kNotUsb;
    skipped.text = "not a USB device";
    Port_Candidate deep = Usb_Port("/dev/ttyACM7");
    deep.identity.usb_path = "3-1.4.2.3.1:1.0";
    deep.identity.usb_serial = "M418-000000000042";
    std::vector<Station_Event> events = Session(1, deep, true);
    for (Station_Event& event : events)
        event.slot = "A3";
    events.insert(events.begin() + 1, skipped);
    return events;
}

TEST(StationOutputs, ASkippedPortAndASlotAreShownByEveryOutput) {
    const std::vector<Station_Event> events = Bench_Events();
    {
        std::FILE* out = std::tmpfile();
        cli::Station_Json json(out, Language::kEnglish);
        for (const Station_Event& event : events)
            json.Show(event);
        const std::vector<std::string> lines = Split_Lines(Read_All(out));
        std::fclose(out);
        ASSERT_EQ(lines.size(), events.size());
        const nlohmann::json skipped = nlohmann::json::parse(lines[1]);
        EXPECT_EQ(skipped.at("event"), "skipped");
        EXPECT_EQ(skipped.at("phone"), 0);
        EXPECT_EQ(skipped.at("port"), "/dev/ttyS0");
        EXPECT_EQ(skipped.at("reason"), "not_usb");
        EXPECT_EQ(skipped.at("text"), "not a USB device");
        EXPECT_EQ(skipped.at("identity").at("driver"), "serial");
        EXPECT_EQ(nlohmann::json::parse(lines[0]).at("slot"), "A3");
        EXPECT_EQ(nlohmann::json::parse(lines.back()).at("slot"), "A3");
    }
    {
        std::FILE* out = std::tmpfile();
        cli::Station_Lines lines(out, Language::kEnglish);
        for (const Station_Event& event : events)
            lines.Show(event);
        const std::vector<std::string> shown = Split_Lines(Read_All(out));
        std::fclose(out);
        ASSERT_GE(shown.size(), 2u);
        EXPECT_EQ(shown[1], "/dev/ttyS0: skipped: not a phone port (not a USB device)");
        EXPECT_EQ(shown[0].rfind("A3 phone 1 /dev/ttyACM7: arrived", 0), 0u) << shown[0];
        EXPECT_EQ(shown.back(), "A3 phone 1 /dev/ttyACM7: unplugged");
    }
    // The table at every width: the UART's row says skipped, the phone's
    // row starts with its slot, and its USB path is whole wherever the
    // terminal leaves room for it (80 columns and more).
    for (const int width : {60, 80, 132, 200}) {
        SCOPED_TRACE(width);
        std::FILE* out = std::tmpfile();
        cli::Station_Table table(out, Language::kEnglish, width);
        for (const Station_Event& event : events)
            table.Show(event);
        const std::vector<std::string> lines = table.Lines(cli::Station_Table::Clock::now());
        std::fclose(out);
        ASSERT_EQ(lines.size(), 4u);  // the last: the footer
        EXPECT_EQ(lines[0].rfind("SLOT", 0), 0u) << lines[0];
        EXPECT_EQ(lines[1].rfind("A3", 0), 0u) << lines[1];
        EXPECT_NE(lines[1].find("@3-1.4.2.3.1:1.0"), std::string::npos) << lines[1];
        if (width >= 132) {
            EXPECT_NE(lines[1].find("1d6b:0104 M418-0"), std::string::npos) << lines[1];
        }
        EXPECT_NE(lines[2].find("/dev/ttyS0"), std::string::npos) << lines[2];
        EXPECT_NE(lines[2].find(width >= 132  ? "skipped: not a phone port (not a USB device)"
                                : width >= 80 ? "skipped: not a phone port"
                                              : "skipped"),
                  std::string::npos)
            << lines[2];
        for (const std::string& line : lines)
            EXPECT_LT(cli::Display_Columns(line), static_cast<std::size_t>(width)) << line;
    }
}

Station_Phone_Result Result(int phone, Download_Outcome outcome) {
    Station_Phone_Result result;
    result.phone = phone;
    result.outcome = outcome;
    return result;
}

TEST(StationExitCode, StopThenFailuresThenNoPhone) {
    Station_Summary summary;
    EXPECT_EQ(cli::Station_Exit_Code(summary, 0), cli::kExitNoPhoneFinished);
    EXPECT_EQ(cli::Station_Exit_Code(summary, SIGINT), 130);
    for (int i = 0; i < 3; ++i)
        summary.phones.push_back(Result(i + 1, Download_Outcome::kUpdated));
    EXPECT_EQ(cli::Station_Exit_Code(summary, 0), 0);
    summary.phones.push_back(Result(4, Download_Outcome::kPhoneNotFound));
    summary.phones.push_back(Result(5, Download_Outcome::kStopped));
    // Never a setup error's code, however many failed.
    for (int failed = 2; failed < 5; ++failed) {
        EXPECT_EQ(cli::Station_Exit_Code(summary, 0), cli::kExitPhonesNotUpdated);
        summary.phones.push_back(Result(4 + failed, Download_Outcome::kProgrammingFailed));
    }
    EXPECT_EQ(cli::Station_Exit_Code(summary, SIGTERM), 143);
}

// Ports where no boot loader answered are no phones: they count neither as
// failures nor as a phone finished.
TEST(StationExitCode, PortsWithNoPhoneAreNotFailuresNorFinishedPhones) {
    Station_Summary summary;
    Station_Phone_Result modem = Result(1, Download_Outcome::kPhoneNotFound);
    modem.no_phone = true;
    summary.phones.push_back(modem);
    EXPECT_EQ(cli::Station_Exit_Code(summary, 0), cli::kExitNoPhoneFinished);
    summary.phones.push_back(Result(2, Download_Outcome::kUpdated));
    EXPECT_EQ(cli::Station_Exit_Code(summary, 0), 0);
    summary.phones.push_back(Result(3, Download_Outcome::kProgrammingFailed));
    EXPECT_EQ(cli::Station_Exit_Code(summary, 0), cli::kExitPhonesNotUpdated);
}

// Records not written whole (a full disk) have a code of their own, above
// the failures' count and below a stop's, and a line before the last that
// names them; the summary files written are named too.
TEST(StationExitCode, RecordsNotWrittenWholeHaveTheirOwnCodeAndLine) {
    Station_Summary summary;
    summary.phones.push_back(Result(1, Download_Outcome::kUpdated));
    summary.phones.push_back(Result(2, Download_Outcome::kProgrammingFailed));
    summary.summary_files = {"logs/summary-2.csv", "logs/summary.json"};
    EXPECT_EQ(cli::Record_Lines(summary, Language::kEnglish),
              (std::vector<std::string>{"summary in logs/summary-2.csv, logs/summary.json"}));
    EXPECT_EQ(cli::Station_Exit_Code(summary, 0), cli::kExitPhonesNotUpdated);
    summary.unwritten = {"logs/phone-001-x\x1b.log", "logs/summary.json"};
    EXPECT_EQ(cli::Station_Exit_Code(summary, 0), cli::kExitRecordsIncomplete);
    EXPECT_EQ(cli::Station_Exit_Code(summary, SIGTERM), 143);
    const std::vector<std::string> lines = cli::Record_Lines(summary, Language::kEnglish);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1],
              "the records are incomplete: logs/phone-001-x\\x1b.log, logs/summary.json could "
              "not be written whole");
    summary.phones.clear();
    EXPECT_EQ(cli::Station_Exit_Code(summary, 0), cli::kExitRecordsIncomplete);
}

}  // namespace
